// The Compare window on the offscreen platform, each figure beside what git
// itself takes for the same diffs in the same run:
//   window     three agents' change sets of 2,000 files each (git: their
//              three `diff-tree --raw --numstat`), from opening the window
//              until its matrix is painted: all of it on the GUI thread;
//   side       two 50,000-line versions of one file side by side: git's
//              whole-file diff and its alignment (off the GUI thread), then
//              the rows handed to the view until they are painted (on it).
// Aims: at most 2 × git; nothing on the GUI thread over 30 ms.
//
//   bench_compare [runs]   medians of `runs` (default 3)

#include "benchsupport.h"
#include "git/changes.h"
#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "transcript/sidebyside.h"
#include "ui/comparewindow.h"
#include "ui/sidebysideview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int agentCount = 3;
constexpr int fileCount = 2000;
constexpr int versionLines = 50000;

QByteArray version(int agent)
{
    QByteArray text;
    for (int i = 0; i < versionLines; ++i)
        text += i % (7 + agent) ? "line " + QByteArray::number(i) + " of a long file\n"
                                : "agent " + QByteArray::number(agent) + " changed line " +
                                      QByteArray::number(i) + "\n";
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    // The base, then each agent's snapshot on top of it: every file
    // changed in its own way, overlapping the others'.
    QTemporaryDir dir;
    const QByteArray repo = QFile::encodeName(dir.path());
    const auto file = [&](int i) {
        return dir.filePath(QStringLiteral("src/d%1/f%2.txt").arg(i % 40).arg(i));
    };
    bool ok = benchGit(repo, {"init", "-q", "."}) &&
              writeBenchFile(dir.filePath(QStringLiteral("long.txt")), version(-6));
    for (int i = 0; ok && i < fileCount; ++i)
        ok = writeBenchFile(file(i), "one\ntwo\nthree\n");
    ok = ok && benchGit(repo, {"add", "-A"}) && benchGit(repo, {"commit", "-qm", "base"});
    const QByteArray base = head(repo);
    QList<QByteArray> snapshots;
    for (int agent = 0; ok && agent < agentCount; ++agent) {
        ok = benchGit(repo, {"checkout", "-q", "--detach", base}) &&
             writeBenchFile(dir.filePath(QStringLiteral("long.txt")), version(agent));
        for (int i = 0; ok && i < fileCount - 1; ++i)
            ok = writeBenchFile(file(i),
                                "one\n" + QByteArray::number(agent * i) + "\nthree\nfour\n");
        ok = ok && benchGit(repo, {"commit", "-qam", "agent"});
        snapshots << head(repo);
    }
    if (!ok)
        return 1;

    ProcessOwner owner;
    QList<double> gitListMs, windowMs, gitSideMs, sideMs, sideGuiMs;
    qsizetype matrixRows = 0;
    qsizetype sideRows = 0;
    for (int run = 0; run < runs; ++run) {
        BrevaneModel model(owner, repo, nullptr);
        QElapsedTimer clock;
        clock.start();
        QList<QList<GitFileChange>> changes;
        for (const QByteArray& snapshot : std::as_const(snapshots)) {
            const GitResult<QList<GitFileChange>> listed = Git::changes(repo, base, snapshot);
            if (!listed)
                return 1;
            changes << *listed;
        }
        gitListMs << msSince(clock);
        for (int agent = 0; agent < agentCount; ++agent) {
            AgentSession* runner = model.runners()[agent];
            runner->setWorktree(PlannedWorktree{runner->id(), repo, repo, base, {}});
            AgentSession::WorktreeChanges set;
            set.snapshot.commit = snapshots[agent];
            set.snapshot.whole = changes[agent];
            set.generation = 1;
            runner->setWorktreeChanges(set);
        }

        clock.start();
        CompareWindow window(&model);
        window.resize(1200, 900);
        window.show();
        PaintCounter matrixPaints(window.matrix()->viewport());
        if (!waitUntil([&] { return matrixPaints.paints > 0; }))
            return 1;
        windowMs << msSince(clock);
        matrixRows = window.matrix()->topLevelItemCount();

        // git's own whole-file diff, then Brevane's: the same diff aligned
        // off the GUI thread, then shown.
        clock.start();
        const GitResult<QByteArray> diff =
            Git::wholeFileDiff(repo, snapshots[0], snapshots[1], "long.txt");
        gitSideMs << msSince(clock);
        if (!diff)
            return 1;
        std::optional<GitResult<QList<SideBySideRow>>> rows;
        clock.start();
        model.compareVersions(
            "long.txt", snapshots[0], snapshots[1],
            [&](const GitResult<QList<SideBySideRow>>& answer) { rows = answer; });
        if (!waitUntil([&] { return rows.has_value(); }) || !*rows)
            return 1;
        SideBySideView* view = window.sideBySide();
        PaintCounter sidePaints(view->viewport());
        QElapsedTimer gui;
        gui.start();
        view->setRows(**rows);
        view->viewport()->repaint();
        sideGuiMs << msSince(gui);
        sideMs << msSince(clock);
        sideRows = view->rows().size();
    }

    std::printf("compare: %d agents x %lld files in the matrix; %lld side-by-side rows of two "
                "%d-line versions; medians of %d runs\n",
                agentCount, static_cast<long long>(matrixRows), static_cast<long long>(sideRows),
                versionLines, runs);
    std::printf("%-28s %10s %10s %8s\n", "case", "brevane_ms", "git_ms", "ratio");
    std::printf("%-28s %10.1f %10.1f %8.2f\n", "window (git + shown)",
                median(gitListMs) + median(windowMs), median(gitListMs),
                (median(gitListMs) + median(windowMs)) / median(gitListMs));
    std::printf("%-28s %10.1f\n", "  of which on the GUI thread", median(windowMs));
    std::printf("%-28s %10.1f %10.1f %8.2f\n", "side by side (diff + shown)", median(sideMs),
                median(gitSideMs), median(sideMs) / median(gitSideMs));
    std::printf("%-28s %10.1f\n", "  of which on the GUI thread", median(sideGuiMs));
    return 0;
}
