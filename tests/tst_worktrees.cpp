#include "gitsupport.h"
#include "platform/files.h"
#include "session/worktreeplan.h"
#include "testsupport.h"

#include <QProcess>

using namespace Qt::StringLiterals;

// A session's worktrees made, discarded and checked in real repositories by
// the real git, in a home without any git identity or settings. The
// repository's and the data folder's names hold blanks and bytes that are
// not UTF-8.

namespace {

const QStringList allTools{u"claude"_s, u"gemini"_s, u"hermes"_s};

// A repository with a stash entry, a stale worktree entry of the user's own
// (its folder deleted) and work of every kind not committed: unstaged,
// staged, untracked, and ignored files, one of them listed in
// .worktreeinclude.
struct Fixture {
    QTemporaryDir dir;
    const QByteArray root = canonical(bytes(dir.path()));
    const QByteArray top = root + "/caf\xe9 \xff repo";
    const QByteArray data = root + "/d\xfe ta";
    const QByteArray worktrees = data + "/worktrees/caf\xe9 \xff repo-";

    ~Fixture() { removeTree(root); }

    bool write(const QByteArray& relative, const QByteArray& content) const
    {
        return writeFile(top + '/' + relative, content);
    }
    bool create() const
    {
        const QByteArray stale = root + "/user tree";
        const bool made = git(root, {"init", "-q", top}) && write("a.txt", "one\n") &&
                          write("sub/dir/b.txt", "b\n") && write(".gitignore", "*.env\nbuild/\n") &&
                          write(".worktreeinclude", "*.env\n") && git(top, {"add", "-A"}) &&
                          git(top, {"commit", "-qm", "first"}) && write("a.txt", "stashed\n") &&
                          git(top, {"stash", "-q"}) &&
                          git(top, {"worktree", "add", "-q", "--detach", stale}) &&
                          write("a.txt", "unstaged\n") && write("staged.txt", "staged\n") &&
                          git(top, {"add", "staged.txt"}) && write("new file.txt", "untracked\n") &&
                          write("local.env", "TOKEN=1\n") && write("build/out.o", "object\n");
        removeTree(stale);
        return made;
    }
    // The user's repository and files; Brevane's refs only when `skipped`
    // does not name them.
    QByteArray state(const QByteArray& skipped = {}) const
    {
        return repositoryState(top, skipped) + '\n' + folderState(top);
    }
    QByteArray worktreeList() const { return gitOutput(top, {"worktree", "list", "--porcelain"}); }
    QByteArray ownRefs() const
    {
        return gitOutput(top, {"for-each-ref", "--format=%(refname)", "refs/brevane/"});
    }
    GitResult<QList<PreparedWorktree>> prepare(const QString& session,
                                               const QStringList& tools = allTools,
                                               const QByteArray& folder = {}) const
    {
        return prepareWorktrees({folder.isEmpty() ? top : folder, session, tools, data},
                                [](const QList<PlannedWorktree>&) { return true; });
    }
};

QList<QByteArray> pathsOf(const QList<PreparedWorktree>& prepared)
{
    QList<QByteArray> paths;
    for (const PreparedWorktree& made : prepared)
        paths << made.worktree.path;
    return paths;
}

} // namespace

class TestWorktrees : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        isolateGit();
        QVERIFY(!git(bytes(m_home.path()), {"config", "--global", "user.name"}, nullptr, true));
    }

    // Each tool gets a worktree at one base that holds the user's work as
    // they see it, plus the ignored files .worktreeinclude names, and runs
    // in the window's folder within it; each was on record before any was
    // made. The user's repository and files stay as they were.
    void prepare_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<bool>("linkedData");
        QTest::newRow("top") << QByteArray() << false;
        QTest::newRow("subfolder") << QByteArray("sub/dir") << false;
        QTest::newRow("folder of ignored files") << QByteArray("build") << false;
        QTest::newRow("data folder behind a link") << QByteArray("sub") << true;
    }
    void prepare()
    {
        QFETCH(QByteArray, folder);
        QFETCH(bool, linkedData);
        Fixture f;
        QVERIFY(f.create());
        const QByteArray before = f.state("refs/brevane/");
        QByteArray data = f.data;
        if (linkedData) {
            QVERIFY(::mkdir(f.data.constData(), 0700) == 0);
            data = f.root + "/link";
            QVERIFY(::symlink(f.data.constData(), data.constData()) == 0);
        }

        QList<PlannedWorktree> recorded;
        bool madeTooSoon = false;
        const auto record = [&](const QList<PlannedWorktree>& planned) {
            recorded = planned;
            for (const PlannedWorktree& worktree : planned)
                madeTooSoon = madeTooSoon || modeOf(worktree.path) != 0;
            return true;
        };
        const QByteArray window = folder.isEmpty() ? f.top : f.top + '/' + folder;
        const GitResult<QList<PreparedWorktree>> prepared =
            prepareWorktrees({window, u"s1"_s, allTools, data}, record);
        QVERIFY2(prepared.ok(), qPrintable(prepared.error()));
        QVERIFY(!madeTooSoon);
        QCOMPARE(f.ownRefs(), QByteArray("refs/brevane/s1/base"));
        const QByteArray base = gitOutput(f.top, {"rev-parse", "refs/brevane/s1/base"});
        QCOMPARE(prepared->size(), 3);
        for (int i = 0; i < 3; ++i) {
            const PreparedWorktree& made = prepared->at(i);
            const QByteArray path = f.worktrees + "s1/" + allTools[i].toUtf8();
            QVERIFY2(made.created && made.error.isEmpty(), qPrintable(made.error));
            QVERIFY(made.worktree == recorded.value(i));
            QCOMPARE(made.worktree.path, path);
            QCOMPARE(made.worktree.repositoryTop, f.top);
            QCOMPARE(made.worktree.baseCommit, base);
            QCOMPARE(made.worktree.runFolder(), folder.isEmpty() ? path : path + '/' + folder);
            QVERIFY(S_ISDIR(modeOf(made.worktree.runFolder())));
            QCOMPARE(gitOutput(path, {"rev-parse", "HEAD"}), base);
            QCOMPARE(gitOutput(path, {"status", "--porcelain", "--ignored"}),
                     QByteArray("!! local.env"));
            QCOMPARE(readFile(path + "/a.txt"), QByteArray("unstaged\n"));
            QCOMPARE(readFile(path + "/staged.txt"), QByteArray("staged\n"));
            QCOMPARE(readFile(path + "/new file.txt"), QByteArray("untracked\n"));
            QCOMPARE(readFile(path + "/local.env"), QByteArray("TOKEN=1\n"));
        }
        QCOMPARE(f.state("refs/brevane/"), before);
    }

    // A submodule is not set up in a new worktree: its folder is empty,
    // and the worktree says so.
    void submodulesAreSaid()
    {
        Fixture f;
        QVERIFY(f.create());
        GitResult<QList<PreparedWorktree>> prepared = f.prepare(u"s1"_s, {u"claude"_s});
        QVERIFY(prepared.ok() && !prepared->front().hasSubmodules);
        const QByteArray library = f.root + "/library";
        QVERIFY(git(f.root, {"init", "-q", library}) && writeFile(library + "/l.txt", "l\n") &&
                git(library, {"add", "-A"}) && git(library, {"commit", "-qm", "l"}));
        QVERIFY(git(
            f.top, {"-c", "protocol.file.allow=always", "submodule", "add", "-q", library, "lib"}));
        prepared = f.prepare(u"s2"_s, {u"claude"_s});
        QVERIFY2(prepared.ok(), qPrintable(prepared.error()));
        QVERIFY(prepared->front().hasSubmodules);
        QCOMPARE(modeOf(prepared->front().worktree.path + "/lib/l.txt"), mode_t(0));
    }

    // The space a worktree takes, as du(1) counts it: a file with two
    // links once, a symbolic link not followed.
    void diskUsageAsDuCountsIt()
    {
        Fixture f;
        const QByteArray folder = f.root + "/tree";
        const QByteArray outside = f.root + "/outside";
        QVERIFY(writeFile(folder + "/a/big", QByteArray(300000, 'x')) &&
                writeFile(folder + "/small", "s") && writeFile(outside, QByteArray(2000000, 'y')));
        QCOMPARE(::link((folder + "/a/big").constData(), (folder + "/big link").constData()), 0);
        QCOMPARE(::symlink(outside.constData(), (folder + "/to outside").constData()), 0);
        QProcess du;
        du.start(u"du"_s, {u"-s"_s, u"-B1"_s, QFile::decodeName(folder)});
        QVERIFY(du.waitForFinished(deadline) && du.exitCode() == 0);
        const qint64 expected = du.readAllStandardOutput().split('\t').front().toLongLong();
        QVERIFY(expected > 300000 && expected < 2000000);
        QCOMPARE(diskUsage(folder), std::optional<qint64>(expected));
    }

    // When the worktrees cannot be put on record, none is made, and the
    // repository is left exactly as it was, without Brevane's refs.
    void nothingMadeUnlessRecorded()
    {
        Fixture f;
        QVERIFY(f.create());
        const QByteArray before = f.state();
        const QByteArray list = f.worktreeList();
        const GitResult<QList<PreparedWorktree>> prepared =
            prepareWorktrees({f.top, u"s1"_s, allTools, f.data},
                             [](const QList<PlannedWorktree>&) { return false; });
        QVERIFY(!prepared.ok());
        QCOMPARE(f.ownRefs(), QByteArray());
        QCOMPARE(modeOf(f.worktrees + "s1"), mode_t(0));
        QCOMPARE(f.worktreeList(), list);
        QCOMPARE(f.state(), before);
    }

    // Discarding a session removes its worktrees, whatever the agents
    // changed in them, with its folder and refs, and nothing of another
    // session's. Once all are gone the repository is as it was; discarding
    // again finds nothing left to do.
    void discard()
    {
        Fixture f;
        QVERIFY(f.create());
        const QByteArray before = f.state();
        const QByteArray list = f.worktreeList();
        const GitResult<QList<PreparedWorktree>> first = f.prepare(u"s1"_s);
        const GitResult<QList<PreparedWorktree>> second = f.prepare(u"s2"_s, {u"claude"_s});
        QVERIFY(first.ok() && second.ok());
        const QList<QByteArray> paths = pathsOf(*first);
        QVERIFY(writeFile(paths[0] + "/a.txt", "the agent's\n"));
        QVERIFY(writeFile(paths[1] + "/made by the agent", "x\n"));

        DiscardedWorktrees discarded = discardWorktrees(f.top, u"s1"_s, paths);
        QVERIFY2(discarded.errors.isEmpty(), qPrintable(discarded.errors.join(u'\n')));
        QCOMPARE(discarded.removed, paths);
        QCOMPARE(modeOf(f.worktrees + "s1"), mode_t(0));
        QCOMPARE(f.ownRefs(), QByteArray("refs/brevane/s2/base"));
        QVERIFY(S_ISDIR(modeOf(second->at(0).worktree.path)));

        discarded = discardWorktrees(f.top, u"s1"_s, paths);
        QVERIFY(discarded.errors.isEmpty());
        QCOMPARE(discarded.removed, paths);
        discarded = discardWorktrees(f.top, u"s2"_s, pathsOf(*second));
        QVERIFY(discarded.errors.isEmpty());
        QCOMPARE(f.worktreeList(), list);
        QCOMPARE(f.state(), before);
    }

    // After each turn the agent's worktree is committed under the turn's
    // ref, from a private index: the agent's own index stays as the agent
    // left it. The whole session's changes are against the base, a turn's
    // against the turn before it (or the base, when that left none).
    void snapshotsAfterTurns()
    {
        Fixture f;
        QVERIFY(f.create());
        const GitResult<QList<PreparedWorktree>> prepared = f.prepare(u"s1"_s, {u"claude"_s});
        QVERIFY(prepared.ok());
        const PlannedWorktree worktree = prepared->front().worktree;
        const QByteArray& path = worktree.path;
        QVERIFY(writeFile(path + "/a.txt", "the agent's\n") && writeFile(path + "/n\nnew", "x\n"));
        QVERIFY(::unlink((path + "/sub/dir/b.txt").constData()) == 0);
        QVERIFY(git(path, {"add", "a.txt"}));
        const QByteArray agentIndex =
            readFile(gitOutput(path, {"rev-parse", "--git-path", "index"}));
        const auto names = [](const QList<GitFileChange>& changes) {
            QList<QByteArray> list;
            for (const GitFileChange& change : changes)
                list << change.oldPath + '>' + change.path;
            std::sort(list.begin(), list.end());
            return list;
        };

        // Turn 2 is the first with a snapshot: turn 1 failed before the tool ran.
        GitResult<AgentSnapshot> second = snapshotAgent(worktree, u"s1"_s, 2);
        QVERIFY2(second.ok(), qPrintable(second.error()));
        const QList<QByteArray> all{">a.txt", ">n\nnew", ">sub/dir/b.txt"};
        QCOMPARE(names(second->whole), all);
        QCOMPARE(names(second->turn), all);
        QCOMPARE(second->turnFrom, worktree.baseCommit);
        QCOMPARE(gitOutput(f.top, {"rev-parse", "refs/brevane/s1/claude/2"}), second->commit);
        QCOMPARE(readFile(gitOutput(path, {"rev-parse", "--git-path", "index"})), agentIndex);

        QVERIFY(::rename((path + "/n\nnew").constData(), (path + "/renamed").constData()) == 0);
        const GitResult<AgentSnapshot> third = snapshotAgent(worktree, u"s1"_s, 3);
        QVERIFY(third.ok());
        QCOMPARE(third->turnFrom, second->commit);
        QCOMPARE(names(third->turn), QList<QByteArray>{"n\nnew>renamed"});
        QCOMPARE(names(third->whole), (QList<QByteArray>{">a.txt", ">renamed", ">sub/dir/b.txt"}));
        QVERIFY(!snapshotAgent(worktree, u"../s1"_s, 4).ok());
    }

    // At start: a worktree made but never recorded as such is a leftover,
    // as is one in the data folder the history has no row for; a recorded
    // one whose folder is gone loses its entry, and only that one: the
    // user's own stale entry stays.
    void leftovers()
    {
        Fixture f;
        QVERIFY(f.create());
        const GitResult<QList<PreparedWorktree>> first = f.prepare(u"s1"_s);
        const GitResult<QList<PreparedWorktree>> unrecorded = f.prepare(u"s2"_s, {u"claude"_s});
        QVERIFY(first.ok() && unrecorded.ok());
        const QList<QByteArray> paths = pathsOf(*first);
        const QList<KnownWorktree> known{{u"s1"_s, f.top, paths[0], true},
                                         {u"s1"_s, f.top, paths[1], false},
                                         {u"s1"_s, f.top, paths[2], true},
                                         {u"s3"_s, f.top, f.worktrees + "s3/claude", false}};
        removeTree(paths[2]);
        const QByteArray stale = f.root + "/user tree";
        QVERIFY(f.worktreeList().contains("worktree " + stale + "\nHEAD"));

        const WorktreeCheck check = findLeftovers(known, f.data);
        QVERIFY2(check.errors.isEmpty(), qPrintable(check.errors.join(u'\n')));
        QCOMPARE(check.gone, (QList<KnownWorktree>{known[2], known[3]}));
        QCOMPARE(check.leftovers,
                 (QList<KnownWorktree>{
                     known[1], {QString(), f.top, unrecorded->at(0).worktree.path, false}}));
        const QByteArray list = f.worktreeList();
        QVERIFY(list.contains("worktree " + stale + "\nHEAD"));
        QVERIFY(!list.contains(paths[2]));
        QVERIFY(list.contains(paths[0]) && list.contains(paths[1]));
    }

private:
    FakeHome m_home;
};

QTEST_GUILESS_MAIN(TestWorktrees)
#include "tst_worktrees.moc"
