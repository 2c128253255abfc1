// Making a session's worktrees, beside git's own cost in the same run:
//   prepare   three worktrees of a repository of 5,000 files (50 MB), with an
//             uncommitted change, from the snapshot of the folder to the
//             last worktree checked out (what Preparing… lasts);
//   git       one `git worktree add --detach` of the same repository.
// Aim: prepare at most 3.5 × git.
//
//   bench_worktrees [runs]   medians of `runs` (default 3)

#include "benchsupport.h"
#include "git/git.h"
#include "session/worktreeplan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int fileCount = 5000;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    QTemporaryDir dir;
    const QByteArray repo = QFile::encodeName(dir.filePath(QStringLiteral("repo")));
    QDir().mkpath(dir.filePath(QStringLiteral("repo")));
    bool ok = benchGit(repo, {"init", "-q", "."});
    for (int i = 0; ok && i < fileCount; ++i) {
        const QString name = QStringLiteral("repo/src/d%1/file%2.txt").arg(i % 50).arg(i);
        ok = writeBenchFile(dir.filePath(name),
                            QByteArray("a line of text\n").repeated(700) + QByteArray::number(i));
    }
    ok = ok && benchGit(repo, {"add", "-A"}) && benchGit(repo, {"commit", "-qm", "files"});
    ok = ok && writeBenchFile(dir.filePath(QStringLiteral("repo/src/d0/file0.txt")), "changed\n");
    if (!ok)
        return 1;
    const QByteArray data = QFile::encodeName(dir.filePath(QStringLiteral("data")));

    QList<double> prepareMs;
    QList<double> gitMs;
    for (int run = 0; run < runs; ++run) {
        // git's own: one worktree of the same commit, then gone again.
        const QByteArray plain = QFile::encodeName(dir.filePath(QStringLiteral("plain")));
        // Each timed part starts with the disk written back: what an earlier
        // step left dirty would otherwise slow down the next one.
        ::sync();
        QElapsedTimer clock;
        clock.start();
        ok = benchGit(repo, {"worktree", "add", "-q", "--detach", plain, "HEAD"});
        gitMs << double(clock.nsecsElapsed()) / 1e6;
        ok = ok && benchGit(repo, {"worktree", "remove", "--force", plain});

        WorktreePlan plan{
            repo,
            QStringLiteral("bench-%1").arg(run),
            {QStringLiteral("claude"), QStringLiteral("gemini"), QStringLiteral("hermes")},
            data};
        ::sync();
        clock.restart();
        const GitResult<QList<PreparedWorktree>> made =
            prepareWorktrees(plan, [](const QList<PlannedWorktree>&) { return true; });
        prepareMs << double(clock.nsecsElapsed()) / 1e6;
        if (!ok || !made || std::any_of(made->begin(), made->end(), [](const PreparedWorktree& w) {
                return !w.created;
            })) {
            std::fprintf(stderr, "preparing failed: %s\n", qPrintable(made.error()));
            return 1;
        }
        QList<QByteArray> paths;
        for (const PreparedWorktree& each : *made)
            paths << each.worktree.path;
        (void)discardWorktrees(made->front().worktree.repositoryTop, plan.sessionId, paths);
    }
    std::printf("worktrees: a repository of %d files; medians of %d runs\n", fileCount, runs);
    std::printf("%-28s %10s\n", "case", "ms");
    std::printf("%-28s %10.1f\n", "git worktree add (one)", median(gitMs));
    std::printf("%-28s %10.1f\n", "prepare (snapshot + three)", median(prepareMs));
    std::printf("ratio %.2f (aim: at most 3.5)\n", median(prepareMs) / median(gitMs));
    return 0;
}
