// Making a session's worktrees, beside git's own cost in the same run:
//   prepare   three worktrees of a repository of 5,000 files (50 MB), with an
//             uncommitted change, from the snapshot of the folder to the
//             last worktree checked out (what Preparing… lasts);
//   git       one `git worktree add --detach` of the same repository;
//   first output  from Run in a window's model to the first line of the
//             last of its three tools (each prints one at once), with the
//             same preparation on the way, and how much of it came after
//             the last tool started.
// Aims: prepare at most 3.5 × git; first output at most that + 50 ms.
//
//   bench_worktrees [runs]   medians of `runs` (default 3)

#include "benchsupport.h"
#include "git/git.h"
#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "runner/agentsession.h"
#include "session/worktreeplan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr int fileCount = 5000;

// Runs the event loop until `done` holds (looked at every 10 ms, without
// keeping a core busy: git needs both), or a minute has passed.
template <typename Condition> bool runUntil(Condition done)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > 60000)
            loop.quit();
    });
    poll.start(10);
    if (!done())
        loop.exec();
    return done();
}

// From Run in a model on `repo` with separate worktrees (each in `data`)
// to the first output of every tool, and to the last of them starting, in
// ms; none when it fails. The worktrees are discarded again.
struct FirstOutput {
    double output = -1;
    double started = -1;
};
std::optional<FirstOutput> firstOutput(const QByteArray& repo, const QByteArray& data)
{
    ProcessOwner owner;
    BrevaneModel model(owner, repo, nullptr);
    model.setPlainOutput(true);
    model.setWorktreeStorage(
        data, [](const QList<PlannedWorktree>&, std::function<void(bool)> done) { done(true); });
    model.setSeparateWorktrees(true);
    model.setTask(QStringLiteral("go"));
    model.scan();
    if (!runUntil([&] { return !model.scanning() && model.canRun(); }))
        return std::nullopt;
    QElapsedTimer clock;
    FirstOutput times;
    int printed = 0;
    for (AgentSession* agent : model.runners()) {
        QObject::connect(agent, &AgentSession::changed, &model,
                         [&, agent, running = false, seen = false]() mutable {
                             const double now = double(clock.nsecsElapsed()) / 1e6;
                             if (!running && agent->state().isRunning()) {
                                 running = true;
                                 times.started = now;
                             }
                             if (!seen && agent->output().contains(u"ready")) {
                                 seen = true;
                                 ++printed;
                                 times.output = now;
                             }
                         });
    }
    ::sync();
    clock.start();
    model.start();
    const qsizetype tools = model.runners().size();
    if (!runUntil([&] { return printed == tools; }) || !model.sessionHasWorktrees())
        return std::nullopt;
    runUntil([&] { return !model.busy() && model.canDiscardWorktrees(); });
    bool removed = false;
    QObject::connect(&model, &BrevaneModel::worktreesRemoved, [&] { removed = true; });
    model.discardWorktrees();
    runUntil([&] { return removed; });
    return times;
}

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
    // The tools the model finds: each prints a line at once.
    qputenv("HOME", QFile::encodeName(dir.path()));
    for (const char* tool : {"claude", "gemini", "hermes"}) {
        const QString path = dir.filePath(QStringLiteral(".local/bin/") + QLatin1String(tool));
        if (!writeBenchFile(path, "#!/bin/sh\necho ready\n") ||
            !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return 1;
    }

    QList<double> prepareMs;
    QList<double> gitMs;
    QList<double> firstMs;
    QList<double> afterStartMs;
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

        const std::optional<FirstOutput> first = firstOutput(repo, data);
        if (!first) {
            std::fprintf(stderr, "running the tools in worktrees failed\n");
            return 1;
        }
        firstMs << first->output;
        afterStartMs << first->output - first->started;
    }
    std::printf("worktrees: a repository of %d files; medians of %d runs\n", fileCount, runs);
    std::printf("%-28s %10s\n", "case", "ms");
    std::printf("%-28s %10.1f\n", "git worktree add (one)", median(gitMs));
    std::printf("%-28s %10.1f\n", "prepare (snapshot + three)", median(prepareMs));
    std::printf("%-28s %10.1f\n", "first output after Run", median(firstMs));
    std::printf("%-28s %10.1f\n", "  of which after the start", median(afterStartMs));
    std::printf("ratio %.2f (aim: at most 3.5)\n", median(prepareMs) / median(gitMs));
    std::printf("first output %.1f ms against 3.5 x git + 50 ms = %.1f ms; %+.1f ms against "
                "prepare (the checkouts vary by a second on a busy disk)\n",
                median(firstMs), 3.5 * median(gitMs) + 50, median(firstMs) - median(prepareMs));
    return 0;
}
