// The Changes page on the offscreen platform, each figure beside what git
// itself takes for the same data in the same run:
//   list    10,000 changed files, from setChanges() until the list is
//           painted, and the worst frame of a scroll through all of it,
//           against `git diff-tree --raw --numstat` of the same commits;
//   diff    one file's diff of about 120,000 lines, from showDiff() until
//           its first screen is painted (and until all of it is laid out),
//           against `git diff-tree -p` of that file.
//
//   bench_changes [runs]   medians of `runs` (default 3)

#include "benchsupport.h"
#include "git/changes.h"
#include "ui/changesview.h"
#include "ui/transcriptview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int fileCount = 10000;
constexpr int diffLines = 100000;

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    // Two commits: the first holds a long file and a tenth of the small ones,
    // the second changes every fifth line of the long file, changes those
    // small files and adds the rest.
    QTemporaryDir dir;
    const QByteArray repo = QFile::encodeName(dir.path());
    QByteArray longFile;
    for (int i = 0; i < diffLines; ++i)
        longFile += "line " + QByteArray::number(i) + " of a long file, as code might be\n";
    auto small = [&](int i) {
        return dir.filePath(QStringLiteral("src/part %1/file %2.txt").arg(i / 100).arg(i));
    };
    bool ok =
        benchGit(repo, {"init", "-q", "."}) && writeBenchFile(dir.filePath("long.txt"), longFile);
    for (int i = 0; ok && i < fileCount; i += 10)
        ok = writeBenchFile(small(i), "one\ntwo\n");
    ok = ok && benchGit(repo, {"add", "-A"}) && benchGit(repo, {"commit", "-qm", "from"});
    const QByteArray from = head(repo);
    QByteArray changed;
    for (int i = 0; i < diffLines; ++i)
        changed += i % 5 ? "line " + QByteArray::number(i) + " of a long file, as code might be\n"
                         : "changed " + QByteArray::number(i) + '\n';
    ok = ok && writeBenchFile(dir.filePath("long.txt"), changed);
    for (int i = 0; ok && i < fileCount - 1; ++i)
        ok = writeBenchFile(small(i), i % 10 ? QByteArray("new\nfile\nhere\n") : "one\n2\nthree\n");
    ok = ok && benchGit(repo, {"add", "-A"}) && benchGit(repo, {"commit", "-qm", "to"});
    const QByteArray to = head(repo);
    if (!ok || from.isEmpty() || to.isEmpty())
        return 1;

    QList<double> gitListMs, listMs, scrollWorstMs, gitDiffMs, diffFirstMs, diffAllMs;
    QList<GitFileChange> changes;
    QByteArray diff;
    int rows = 0;
    qsizetype lines = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        GitResult<QList<GitFileChange>> listed = Git::changes(repo, from, to);
        gitListMs << msSince(clock);
        if (!listed)
            return 1;
        changes = *listed;

        ChangesView view;
        view.resize(420, 800);
        view.show();
        QTreeView* list = view.fileList();
        PaintCounter listPaints(list->viewport());
        waitUntil([&] { return listPaints.paints > 0; });
        const int before = listPaints.paints;
        clock.start();
        view.setChanges(changes, {});
        if (!waitUntil([&] { return listPaints.paints > before; }))
            return 1;
        listMs << msSince(clock);
        rows = list->model()->rowCount();

        // A page at a time from top to bottom, each painted before the next.
        QScrollBar* bar = list->verticalScrollBar();
        double worst = 0;
        for (int value = 0; value <= bar->maximum(); value += std::max(1, bar->pageStep())) {
            clock.start();
            bar->setValue(value);
            list->viewport()->repaint();
            worst = std::max(worst, msSince(clock));
        }
        scrollWorstMs << worst;

        const auto it = std::find_if(changes.begin(), changes.end(),
                                     [](const GitFileChange& c) { return c.path == "long.txt"; });
        if (it == changes.end())
            return 1;
        clock.start();
        GitResult<QByteArray> text = Git::diffText(repo, from, to, it->path);
        gitDiffMs << msSince(clock);
        if (!text)
            return 1;
        diff = *text;

        TranscriptView* pane = view.diffView();
        PaintCounter diffPaints(pane->viewport());
        view.showDiff(view.currentTicket(), "diff --git a/x b/x\n");
        waitUntil([&] { return !pane->frameDue() && diffPaints.paints > 0; });
        const int painted = diffPaints.paints;
        clock.start();
        view.showDiff(view.currentTicket(), diff);
        if (!waitUntil([&] { return diffPaints.paints > painted; }))
            return 1;
        diffFirstMs << msSince(clock);
        if (!waitUntil([&] { return !pane->frameDue(); }))
            return 1;
        diffAllMs << msSince(clock);
        lines = pane->lineCount();
    }

    std::printf("changes: %d files listed; a diff of %lld lines (%.1f MiB); medians of %d runs\n",
                rows, static_cast<long long>(lines), diff.size() / (1024.0 * 1024.0), runs);
    std::printf("%-18s %10s %10s %8s\n", "case", "brevane_ms", "git_ms", "ratio");
    std::printf("%-18s %10.1f %10.1f %8.2f\n", "list shown", median(listMs), median(gitListMs),
                median(listMs) / median(gitListMs));
    std::printf("%-18s %10.1f %10.1f %8.2f\n", "list scroll worst", median(scrollWorstMs),
                median(gitListMs), median(scrollWorstMs) / median(gitListMs));
    std::printf("%-18s %10.1f %10.1f %8.2f\n", "diff first screen", median(diffFirstMs),
                median(gitDiffMs), median(diffFirstMs) / median(gitDiffMs));
    std::printf("%-18s %10.1f %10.1f %8.2f\n", "diff laid out", median(diffAllMs),
                median(gitDiffMs), median(diffAllMs) / median(gitDiffMs));
    return 0;
}
