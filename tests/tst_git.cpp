#include "git/apply.h"
#include "git/changes.h"
#include "git/gitparsers.h"
#include "git/repository.h"
#include "git/worktrees.h"
#include "gitsupport.h"
#include "testsupport.h"

#include <QSet>

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

// The git layer against real repositories in temporary folders, run by the
// real git, in a home without any git identity or settings.

namespace {

using Paths = QList<QByteArray>;
using Kind = GitFileChange::Kind;

// Sets the modification time, to the second.
bool setTime(const QByteArray& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, path.constData(), times, 0) == 0;
}

// Rewrites a file in place: the same inode.
bool overwrite(const QByteArray& path, const QByteArray& content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const bool ok =
        fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// The files of `commit`, sorted.
Paths filesOf(const QByteArray& repo, const QByteArray& commit)
{
    Paths files = gitOutput(repo, {"ls-tree", "-r", "-z", "--name-only", commit}).split('\0');
    files.removeAll(QByteArray());
    std::sort(files.begin(), files.end());
    return files;
}

// Fields as git's -z output has them: each ended by a NUL.
QByteArray fields(const QList<QByteArray>& list)
{
    QByteArray out;
    for (const QByteArray& field : list)
        out += field + '\0';
    return out;
}

// A change rendered for comparison.
QByteArray describe(const GitFileChange& c)
{
    return c.path + " <- " + c.oldPath + " kind " + QByteArray::number(int(c.kind)) + " modes " +
           QByteArray::number(c.oldMode, 8) + ' ' + QByteArray::number(c.newMode, 8) +
           (c.binary ? " binary"
                     : " lines +" + QByteArray::number(c.addedLines) + " -" +
                           QByteArray::number(c.removedLines));
}

// A repository whose folder name has a blank, with three commits' worth of
// files, an ignore file and a stash entry, its work tree clean.
struct Repo {
    QTemporaryDir dir;
    QByteArray top = canonical(bytes(dir.path())) + "/my repo";
    QByteArray head;

    ~Repo() { removeTree(bytes(dir.path())); }

    QByteArray path(const QByteArray& relative) const { return top + '/' + relative; }
    bool write(const QByteArray& relative, const QByteArray& content, mode_t mode = 0644) const
    {
        return writeFile(path(relative), content, mode);
    }
    QByteArray read(const QByteArray& relative) const { return readFile(path(relative)); }
    // Somewhere outside the repository for a worktree.
    QByteArray outside(const QByteArray& name) const
    {
        return canonical(bytes(dir.path())) + '/' + name;
    }

    bool create()
    {
        QByteArray lines;
        for (int i = 1; i <= 10; ++i)
            lines += "line " + QByteArray::number(i) + '\n';
        if (!(git(canonical(bytes(dir.path())), {"init", "-q", top}) && write("a.txt", lines) &&
              write("keep.txt", "keep\n") && write("c.txt", "c\n") &&
              write("d.txt", "rename me\nwith some\nlines\n") && write("f.sh", "echo\n") &&
              write(".gitignore", "*.log\nbuild/\n") && git(top, {"add", "-A"}) &&
              git(top, {"commit", "-qm", "first"}) && write("keep.txt", "stashed\n") &&
              git(top, {"stash", "-q"})))
            return false;
        head = gitOutput(top, {"rev-parse", "HEAD"});
        return true;
    }
};

} // namespace

class TestGit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void discover_data();
    void discover();
    void gitMissing();
    void snapshot_data();
    void snapshot();
    void snapshotOfAnEmptyRepository();
    void refs();

    void parseRawNumstat_data();
    void parseRawNumstat();
    void changes_data();
    void changes();
    void diffText();

    void apply_data();
    void apply();
    void combine();

private:
    FakeHome m_home;
    // Two commits that differ in every way a change can, for the change set.
    Repo m_changes;
    QByteArray m_from;
    QByteArray m_to;
};

void TestGit::initTestCase()
{
    // No setting and no identity of the developer's may reach git.
    isolateGit();
    QVERIFY(Git::program({}).ok());
    QVERIFY(!git(bytes(m_home.path()), {"config", "--global", "user.name"}, nullptr, true));

    Repo& r = m_changes;
    QVERIFY(r.create());
    QVERIFY(r.write("image.bin", QByteArray("\0\1\2", 3)) && r.write("link", "plain\n") &&
            r.write("old name.txt", "one\ntwo\nthree\nfour\nfive\n"));
    QVERIFY(git(r.top, {"add", "-A"}) && git(r.top, {"commit", "-qm", "from"}));
    m_from = gitOutput(r.top, {"rev-parse", "HEAD"});
    QVERIFY(r.write("a.txt", "line 1\nchanged 2\nline 3\nnew\n"));
    QVERIFY(r.write("added file.txt", "x\ny\nz\n") && r.write("*.txt", "star\n"));
    QVERIFY(r.write("image.bin", QByteArray("\0\3", 2)));
    QVERIFY(::unlink(r.path("c.txt")) == 0 && ::chmod(r.path("f.sh"), 0755) == 0);
    QVERIFY(::unlink(r.path("link")) == 0 && ::symlink("a.txt", r.path("link")) == 0);
    QVERIFY(::unlink(r.path("old name.txt")) == 0 &&
            r.write("moved/new name.txt", "one\ntwo\nthree\nfour\nfive\nsix\n"));
    QVERIFY(r.write("new\nline", "n\n") && r.write("caf\xe9 \xff", "q\n") &&
            r.write("tab\t\"quoted\".txt", "t\n"));
    QVERIFY(git(r.top, {"add", "-A"}) && git(r.top, {"commit", "-qm", "to"}));
    m_to = gitOutput(r.top, {"rev-parse", "HEAD"});
}

void TestGit::discover_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("bare");
    QTest::addColumn<bool>("hasCommit");
    QTest::addColumn<int>("operation");

    const int none = int(GitRepository::Operation::None);
    QTest::newRow("top") << u"top"_s << true << false << true << none;
    QTest::newRow("subfolder") << u"subfolder"_s << true << false << true << none;
    QTest::newRow("no repository") << u"outside"_s << false << false << false << none;
    QTest::newRow("no commit yet") << u"empty"_s << true << false << false << none;
    QTest::newRow("bare") << u"bare"_s << true << true << false << none;
    QTest::newRow("linked worktree") << u"worktree"_s << true << false << true << none;
    QTest::newRow("merging") << u"merge"_s << true << false << true
                             << int(GitRepository::Operation::Merge);
    QTest::newRow("rebasing") << u"rebase"_s << true << false << true
                              << int(GitRepository::Operation::Rebase);
}

void TestGit::discover()
{
    QFETCH(QString, where);
    QFETCH(bool, found);
    QFETCH(bool, bare);
    QFETCH(bool, hasCommit);
    QFETCH(int, operation);

    Repo repo;
    QVERIFY(repo.create());
    QByteArray folder = repo.top;
    QByteArray top = repo.top;
    QByteArray gitDir = repo.top + "/.git";
    QByteArray commonDir = gitDir;
    if (where == "subfolder") {
        folder = repo.path("sub dir");
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    } else if (where == "outside") {
        folder = repo.outside("plain");
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    } else if (where == "empty" || where == "bare") {
        folder = top = repo.outside("new");
        commonDir = gitDir = top + "/.git";
        QVERIFY(git(repo.outside({}), {"init", "-q", folder}));
        if (where == "bare") {
            QVERIFY(git(repo.outside({}), {"init", "-q", "--bare", folder + ".git"}));
            folder = commonDir = gitDir = folder + ".git";
            top.clear();
        }
    } else if (where == "worktree") {
        folder = top = repo.outside("linked");
        gitDir = repo.top + "/.git/worktrees/linked";
        QVERIFY(git(repo.top, {"worktree", "add", "-q", folder}));
    } else if (where == "merge" || where == "rebase") {
        QVERIFY(git(repo.top, {"checkout", "-q", "-b", "other"}) && repo.write("c.txt", "1\n") &&
                git(repo.top, {"commit", "-qam", "1"}) &&
                git(repo.top, {"checkout", "-q", "main"}) && repo.write("c.txt", "2\n") &&
                git(repo.top, {"commit", "-qam", "2"}));
        QVERIFY(!git(repo.top, {where.toUtf8(), "-q", "other"}, nullptr, true));
    }

    const GitResult<GitRepository> result = Git::discover(folder);
    QVERIFY2(result.ok(), qPrintable(result.error()));
    QCOMPARE(result->found, found);
    if (!found)
        return;
    QCOMPARE(result->bare, bare);
    QCOMPARE(result->topLevel, top);
    QCOMPARE(result->gitDir, gitDir);
    QCOMPARE(result->commonDir, commonDir);
    QCOMPARE(result->hasCommit(), hasCommit);
    if (hasCommit)
        QCOMPARE(result->head, gitOutput(folder, {"rev-parse", "HEAD"}));
    QCOMPARE(int(result->inProgress), operation);
}

void TestGit::gitMissing()
{
    Repo repo;
    QVERIFY(repo.create());
    const GitResult<GitRepository> noProgram =
        Git::discover(repo.top, {"/nonexistent/git", GitContext::defaultTimeout, nullptr});
    QVERIFY(!noProgram.ok());
    QVERIFY2(noProgram.error().contains(u"Could not start git (/nonexistent/git)"_s),
             qPrintable(noProgram.error()));

    if (QFile::exists(u"/opt/homebrew/bin/git"_s) || QFile::exists(u"/usr/local/bin/git"_s))
        QSKIP("git is in a folder looked at besides PATH");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bytes(m_home.path()));
    const GitResult<GitRepository> notInstalled = Git::discover(repo.top);
    qputenv("PATH", path);
    QVERIFY(!notInstalled.ok());
    QVERIFY2(notInstalled.error().startsWith(u"git is not installed"_s),
             qPrintable(notInstalled.error()));
}

void TestGit::snapshot_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<Paths>("files");
    QTest::addColumn<QByteArray>("a"); // a.txt in the snapshot

    const Paths committed{".gitignore", "a.txt", "c.txt", "d.txt", "f.sh", "keep.txt"};
    const QByteArray original = "line 1\nline 2\nline 3\nline 4\nline 5\nline 6\nline 7\n"
                                "line 8\nline 9\nline 10\n";
    QTest::newRow("clean") << u"none"_s << committed << original;
    QTest::newRow("staged") << u"staged"_s << committed << QByteArray("staged\n");
    QTest::newRow("unstaged") << u"unstaged"_s << committed << QByteArray("unstaged\n");
    QTest::newRow("staged, then changed again")
        << u"staged twice"_s << committed << QByteArray("second\n");
    QTest::newRow("untracked") << u"untracked"_s << (committed + Paths{"new dir/new file.txt"})
                               << original;
    QTest::newRow("deleted") << u"deleted"_s
                             << Paths{".gitignore", "a.txt", "d.txt", "f.sh", "keep.txt"}
                             << original;
    QTest::newRow("ignored") << u"ignored"_s << committed << original;
    QTest::newRow("ignored but added")
        << u"forced"_s << (committed + Paths{"forced.log"}) << original;
    // Changed in the same tick as the index was written, at the same size:
    // only the index file's own time tells git to look at the content.
    QTest::newRow("changed as the index was written")
        << u"racy"_s << committed << QByteArray("racy 2\n");
    QTest::newRow("odd names") << u"names"_s
                               << (Paths{"*.txt", ".gitignore", "a.txt", "c.txt", "caf\xe9 \xff",
                                         "d.txt", "f.sh", "keep.txt", "new\nline",
                                         "tab\t\"quoted\".txt"})
                               << original;
}

void TestGit::snapshot()
{
    QFETCH(QString, change);
    QFETCH(Paths, files);
    QFETCH(QByteArray, a);

    Repo repo;
    QVERIFY(repo.create());
    if (change == "staged") {
        QVERIFY(repo.write("a.txt", "staged\n") && git(repo.top, {"add", "a.txt"}));
    } else if (change == "unstaged") {
        QVERIFY(repo.write("a.txt", "unstaged\n"));
    } else if (change == "staged twice") {
        QVERIFY(repo.write("a.txt", "first\n") && git(repo.top, {"add", "a.txt"}) &&
                repo.write("a.txt", "second\n"));
    } else if (change == "untracked") {
        QVERIFY(repo.write("new dir/new file.txt", "new\n"));
    } else if (change == "deleted") {
        QVERIFY(git(repo.top, {"rm", "-q", "--cached", "c.txt"}) &&
                ::unlink(repo.path("c.txt")) == 0);
    } else if (change == "ignored") {
        QVERIFY(repo.write("x.log", "log\n") && repo.write("build/out.o", "o\n"));
    } else if (change == "forced") {
        QVERIFY(repo.write("forced.log", "kept\n") && git(repo.top, {"add", "-f", "forced.log"}));
    } else if (change == "racy") {
        const time_t tick = 1'000'000'000;
        QVERIFY(git(repo.top, {"config", "core.trustctime", "false"}) &&
                overwrite(repo.path("a.txt"), "racy 1\n") && setTime(repo.path("a.txt"), tick) &&
                git(repo.top, {"add", "a.txt"}) && setTime(repo.path(".git/index"), tick) &&
                overwrite(repo.path("a.txt"), "racy 2\n") && setTime(repo.path("a.txt"), tick));
    } else if (change == "names") {
        QVERIFY(repo.write("*.txt", "s\n") && repo.write("caf\xe9 \xff", "q\n") &&
                repo.write("new\nline", "n\n") && repo.write("tab\t\"quoted\".txt", "t\n"));
    }
    const QByteArray files0 = folderState(repo.top);
    const QByteArray state0 = repositoryState(repo.top);

    const GitResult<QByteArray> commit = Git::snapshot(repo.top, repo.head);
    QVERIFY2(commit.ok(), qPrintable(commit.error()));
    std::sort(files.begin(), files.end());
    QCOMPARE(filesOf(repo.top, *commit), files);
    QCOMPARE(gitOutput(repo.top, {"cat-file", "blob", *commit + ":a.txt"}) + '\n', a);
    QCOMPARE(gitOutput(repo.top, {"rev-parse", *commit + "^@"}), repo.head);
    QCOMPARE(gitOutput(repo.top, {"log", "-1", "--format=%an <%ae> %cn", *commit}),
             QByteArray("Brevane <brevane@brevane.invalid> Brevane"));
    // Nothing of the user's moved: not the files, the index, HEAD, a ref or the stash.
    QCOMPARE(folderState(repo.top), files0);
    QCOMPARE(repositoryState(repo.top), state0);
}

void TestGit::snapshotOfAnEmptyRepository()
{
    Repo repo;
    QVERIFY(git(repo.outside({}), {"init", "-q", repo.top}) && repo.write("first.txt", "1\n"));
    const QByteArray state0 = repositoryState(repo.top);
    QVERIFY(!QFile::exists(QFile::decodeName(repo.path(".git/index"))));

    const GitResult<QByteArray> commit = Git::snapshot(repo.top, {});
    QVERIFY2(commit.ok(), qPrintable(commit.error()));
    QCOMPARE(filesOf(repo.top, *commit), Paths{"first.txt"});
    QCOMPARE(gitOutput(repo.top, {"rev-list", "--parents", *commit}), *commit);
    QCOMPARE(repositoryState(repo.top), state0);
    QVERIFY(!QFile::exists(QFile::decodeName(repo.path(".git/index"))));
}

void TestGit::refs()
{
    Repo repo;
    QVERIFY(repo.create());
    const QByteArray main0 = gitOutput(repo.top, {"rev-parse", "main"});
    const GitResult<QByteArray> snap = Git::snapshot(repo.top, repo.head);
    QVERIFY(snap.ok());

    for (const QByteArray ref :
         {"refs/brevane/s1/base", "refs/brevane/s1/claude", "refs/brevane/s10/base"}) {
        const GitResult<void> set = Git::setRef(repo.top, ref, *snap);
        QVERIFY2(set.ok(), qPrintable(set.error()));
        QCOMPARE(gitOutput(repo.top, {"rev-parse", ref}), *snap);
    }
    for (const QByteArray ref : {"refs/heads/main", "refs/brevane", "refs/brevane/", "HEAD"})
        QVERIFY(!Git::setRef(repo.top, ref, *snap).ok());
    QVERIFY(!Git::deleteRefs(repo.top, "refs/heads/").ok());
    QCOMPARE(gitOutput(repo.top, {"rev-parse", "main"}), main0);

    const GitResult<void> deleted = Git::deleteRefs(repo.top, "refs/brevane/s1");
    QVERIFY2(deleted.ok(), qPrintable(deleted.error()));
    QCOMPARE(gitOutput(repo.top, {"for-each-ref", "--format=%(refname)", "refs/brevane/"}),
             QByteArray("refs/brevane/s10/base"));
    QVERIFY(Git::deleteRefs(repo.top, "refs/brevane/none").ok());
    QCOMPARE(gitOutput(repo.top, {"for-each-ref", "--format=%(refname)", "refs/"}),
             QByteArray("refs/brevane/s10/base\nrefs/heads/main\nrefs/stash"));
}

void TestGit::parseRawNumstat_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QList<QByteArray>>("changes");

    const QByteArray z(40, '0'), a(40, 'a');
    const QByteArray modified = ":100644 100644 " + a + ' ' + a + " M";
    const QByteArray raw =
        fields({modified, "x y", ":000000 100755 " + z + ' ' + a + " A", "new\n"});
    const QByteArray xy = "x y <-  kind 1 modes 100644 100644";
    const QByteArray added = "new\n <-  kind 0 modes 0 100755";
    QTest::newRow("raw and numstat")
        << raw + fields({"3\t1\tx y", "10\t0\tnew\n"})
        << QList<QByteArray>{xy + " lines +3 -1", added + " lines +10 -0"};
    QTest::newRow("raw alone") << raw
                               << QList<QByteArray>{xy + " lines +0 -0", added + " lines +0 -0"};
    QTest::newRow("rename with counts")
        << fields({":100644 100644 " + a + ' ' + a + " R090", "o", "n", "1\t2\t", "o", "n"})
        << QList<QByteArray>{"n <- o kind 3 modes 100644 100644 lines +1 -2"};
    QTest::newRow("binary") << fields({modified, "b", "-\t-\tb"})
                            << QList<QByteArray>{"b <-  kind 1 modes 100644 100644 binary"};
    QTest::newRow("record cut short")
        << fields({modified, "x"}) + ":100644 100644 " + a
        << QList<QByteArray>{"x <-  kind 1 modes 100644 100644 lines +0 -0"};
    QTest::newRow("rename without its new path")
        << fields({":100644 100644 " + a + ' ' + a + " R100", "old"}) << QList<QByteArray>{};
    QTest::newRow("unknown status")
        << fields({":100644 100644 " + a + ' ' + a + " Q", "x"}) << QList<QByteArray>{};
    QTest::newRow("bad mode") << fields({":10064x 100644 " + a + ' ' + a + " M", "x"})
                              << QList<QByteArray>{};
    QTest::newRow("bad count") << raw + fields({"x\t1\tx y"})
                               << QList<QByteArray>{xy + " lines +0 -0", added + " lines +0 -0"};
    QTest::newRow("numstat of an unknown path")
        << fields({modified, "x", "1\t1\ty"})
        << QList<QByteArray>{"x <-  kind 1 modes 100644 100644 lines +0 -0"};
}

void TestGit::parseRawNumstat()
{
    QFETCH(QByteArray, output);
    QFETCH(QList<QByteArray>, changes);
    QList<QByteArray> parsed;
    for (const GitFileChange& change : ::parseRawNumstat(output))
        parsed << describe(change);
    QCOMPARE(parsed, changes);
}

void TestGit::changes_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("description");

    auto row = [](const QByteArray& path, const QByteArray& oldPath, Kind kind, int oldMode,
                  int newMode, const QByteArray& lines) {
        GitFileChange c;
        c.path = path;
        c.oldPath = oldPath;
        c.kind = kind;
        c.oldMode = oldMode;
        c.newMode = newMode;
        QTest::newRow(path.toPercentEncoding(" *\""))
            << path << describe(c).replace(" lines +0 -0", lines);
    };
    row("*.txt", {}, Kind::Added, 0, 0100644, " lines +1 -0");
    row("a.txt", {}, Kind::Modified, 0100644, 0100644, " lines +2 -8");
    row("added file.txt", {}, Kind::Added, 0, 0100644, " lines +3 -0");
    row("c.txt", {}, Kind::Deleted, 0100644, 0, " lines +0 -1");
    row("caf\xe9 \xff", {}, Kind::Added, 0, 0100644, " lines +1 -0");
    row("f.sh", {}, Kind::Modified, 0100644, 0100755, " lines +0 -0");
    row("image.bin", {}, Kind::Modified, 0100644, 0100644, " binary");
    row("link", {}, Kind::TypeChanged, 0100644, 0120000, " lines +1 -1");
    row("moved/new name.txt", "old name.txt", Kind::Renamed, 0100644, 0100644, " lines +1 -0");
    row("new\nline", {}, Kind::Added, 0, 0100644, " lines +1 -0");
    row("tab\t\"quoted\".txt", {}, Kind::Added, 0, 0100644, " lines +1 -0");
}

void TestGit::changes()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, description);

    const GitResult<QList<GitFileChange>> changes = Git::changes(m_changes.top, m_from, m_to);
    QVERIFY2(changes.ok(), qPrintable(changes.error()));
    QCOMPARE(changes->size(), 11);
    const auto found = std::find_if(changes->cbegin(), changes->cend(),
                                    [&](const GitFileChange& c) { return c.path == path; });
    QVERIFY(found != changes->cend());
    QCOMPARE(describe(*found), description);
    // The ids name the blobs, as git has them.
    if (found->newMode != 0)
        QCOMPARE(found->newId, gitOutput(m_changes.top, {"rev-parse", m_to + ':' + path}));
}

void TestGit::diffText()
{
    const QByteArray top = m_changes.top;
    GitResult<QByteArray> diff = Git::diffText(top, m_from, m_to, "a.txt");
    QVERIFY2(diff.ok(), qPrintable(diff.error()));
    QVERIFY(diff->startsWith("diff --git a/a.txt b/a.txt\n"));
    QVERIFY(diff->contains("\n-line 2\n+changed 2\n"));

    // A name is never a pattern: "*.txt" is that one file, not a.txt too.
    diff = Git::diffText(top, m_from, m_to, "*.txt");
    QVERIFY(diff.ok());
    QVERIFY(diff->contains("+star\n"));
    QCOMPARE(diff->count("diff --git"), 1);

    diff = Git::diffText(top, m_from, m_to, "moved/new name.txt", "old name.txt");
    QVERIFY(diff.ok());
    QVERIFY(diff->contains("rename from old name.txt\nrename to moved/new name.txt\n"));
    QVERIFY(diff->contains("\n+six\n"));

    QVERIFY(!Git::diffText(top, "--output=x", m_to, "a.txt").ok());
    QVERIFY(!Git::diffText(top, "nonexistent", m_to, "a.txt").ok());
}

void TestGit::apply_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<Paths>("paths");
    QTest::addColumn<Paths>("conflicts");
    QTest::addColumn<Paths>("written");
    QTest::addColumn<Paths>("removed");

    const Paths everything{"a.txt", "e.txt", "f.sh", "link", "new dir/b.txt"};
    QTest::newRow("clean merge") << u"clean"_s << Paths{} << Paths{} << everything
                                 << Paths{"c.txt", "d.txt"};
    QTest::newRow("picked rename")
        << u"clean"_s << Paths{"e.txt"} << Paths{} << Paths{"e.txt"} << Paths{"d.txt"};
    QTest::newRow("picked by old name") << u"clean"_s << Paths{"d.txt", "link"} << Paths{}
                                        << Paths{"e.txt", "link"} << Paths{"d.txt"};
    QTest::newRow("conflict") << u"conflict"_s << Paths{} << Paths{"a.txt"} << Paths{} << Paths{};
    QTest::newRow("conflict not picked")
        << u"conflict"_s << Paths{"new dir/b.txt"} << Paths{} << Paths{"new dir/b.txt"} << Paths{};
    QTest::newRow("ignored file in the way")
        << u"in the way"_s << Paths{} << Paths{"build/report.txt"} << Paths{} << Paths{};
    QTest::newRow("link in the way")
        << u"link in the way"_s << Paths{} << Paths{"link.log/b.txt"} << Paths{} << Paths{};
}

void TestGit::apply()
{
    QFETCH(QString, scenario);
    QFETCH(Paths, paths);
    QFETCH(Paths, conflicts);
    QFETCH(Paths, written);
    QFETCH(Paths, removed);

    Repo repo;
    QVERIFY(repo.create());
    // The session starts from the folder as it is, an unstaged change and all.
    QVERIFY(repo.write("keep.txt", "user's, before\n"));
    const GitResult<QByteArray> base = Git::snapshot(repo.top, repo.head);
    QVERIFY(base.ok());
    const QByteArray tree = repo.outside("agent");
    QVERIFY(Git::addWorktree(repo.top, tree, *base).ok());

    // What the agent does in its worktree...
    auto agentWrites = [&](const QByteArray& relative, const QByteArray& content) {
        return writeFile(tree + '/' + relative, content);
    };
    QByteArray a = repo.read("a.txt");
    if (scenario == "clean" || scenario == "conflict") {
        QVERIFY(agentWrites("a.txt", QByteArray(a).replace("line 2\n", "agent 2\n")) &&
                agentWrites("new dir/b.txt", "b\n"));
    }
    if (scenario == "clean") {
        QVERIFY(::unlink(tree + "/c.txt") == 0 && ::rename(tree + "/d.txt", tree + "/e.txt") == 0 &&
                ::chmod(tree + "/f.sh", 0755) == 0 && ::symlink("a.txt", tree + "/link") == 0);
    } else if (scenario == "in the way") {
        QVERIFY(agentWrites("build/report.txt", "agent's\n") &&
                git(tree, {"add", "-f", "build/report.txt"}));
    } else if (scenario == "link in the way") {
        QVERIFY(agentWrites("link.log/b.txt", "b\n") && git(tree, {"add", "-f", "link.log/b.txt"}));
    }
    const GitResult<QByteArray> agent = Git::snapshot(tree, *base);
    QVERIFY(agent.ok());

    // ...while the user goes on in the folder.
    if (scenario == "conflict")
        a.replace("line 2\n", "user 2\n");
    else
        a.replace("line 9\n", "user 9\n");
    QVERIFY(repo.write("a.txt", a) && repo.write("keep.txt", "user's, after\n"));
    if (scenario == "in the way")
        QVERIFY(repo.write("build/report.txt", "user's, ignored\n"));
    if (scenario == "link in the way")
        QVERIFY(::symlink(repo.outside("elsewhere"), repo.path("link.log")) == 0 &&
                ::mkdir(repo.outside("elsewhere"), 0755) == 0);

    const QByteArray files0 = folderState(repo.top);
    const QByteArray state0 = repositoryState(repo.top);
    const GitResult<GitApplyResult> result = Git::applyToFolder(repo.top, *base, *agent, paths);
    QVERIFY2(result.ok(), qPrintable(result.error()));
    QCOMPARE(result->applied, conflicts.isEmpty());
    QCOMPARE(result->conflicts, conflicts);
    QCOMPARE(result->written, written);
    QCOMPARE(result->removed, removed);
    QCOMPARE(repositoryState(repo.top), state0);
    if (!conflicts.isEmpty()) {
        QVERIFY(!result->messages.isEmpty());
        QVERIFY(result->messages.front().paths.contains(conflicts.front()));
        QCOMPARE(folderState(repo.top), files0);
        QCOMPARE(modeOf(repo.outside("elsewhere/b.txt")), mode_t(0));
        return;
    }
    // The user's later changes stay, beside the agent's.
    QCOMPARE(repo.read("keep.txt"), QByteArray("user's, after\n"));
    const bool aPicked = written.contains("a.txt");
    QCOMPARE(repo.read("a.txt").contains("agent 2\n"), aPicked);
    QVERIFY(repo.read("a.txt").contains(scenario == "conflict" ? "user 2\n" : "user 9\n"));
    for (const QByteArray& path : written) {
        if (path != "a.txt" && path != "link")
            QCOMPARE(repo.read(path), readFile(tree + '/' + path));
    }
    for (const QByteArray& path : removed)
        QCOMPARE(modeOf(repo.path(path)), mode_t(0));
    QCOMPARE(modeOf(repo.path("f.sh")) & 0111, written.contains("f.sh") ? mode_t(0111) : mode_t(0));
    if (written.contains("link"))
        QVERIFY(S_ISLNK(modeOf(repo.path("link"))));
    // Nothing else in the folder changed, and no temporary file is left.
    for (const QByteArray name : {"c.txt", "d.txt", "e.txt", "new dir/b.txt", "link"}) {
        if (!written.contains(name) && !removed.contains(name))
            QCOMPARE(modeOf(repo.path(name)) != 0, name == "c.txt" || name == "d.txt");
    }
    QVERIFY(!folderState(repo.top).contains(".brevane-"));
}

// Picks from two agents put together: one renamed d.txt away, the other
// changed it, deleted c.txt and added a file whose name holds a newline.
// Both picks of d.txt's fate stand, whatever order the paths come in.
void TestGit::combine()
{
    Repo repo;
    QVERIFY(repo.create());
    const QByteArray top = repo.top;
    const auto commitFrom = [&](const std::function<bool()>& edit) {
        if (!git(top, {"checkout", "-q", "--detach", repo.head}) || !edit() ||
            !git(top, {"add", "-A"}) || !git(top, {"commit", "-qm", "agent"}))
            return QByteArray();
        return gitOutput(top, {"rev-parse", "HEAD"});
    };
    const QByteArray renamer = commitFrom([&] { return git(top, {"mv", "d.txt", "z.txt"}); });
    const QByteArray editor = commitFrom([&] {
        return repo.write("d.txt", "edited\n") && ::unlink(repo.path("c.txt").constData()) == 0 &&
               repo.write("new\nline.txt", "n\n");
    });
    QVERIFY(!renamer.isEmpty() && !editor.isEmpty());
    const GitResult<QList<GitFileChange>> renamed = Git::changes(top, repo.head, renamer);
    const GitResult<QList<GitFileChange>> edited = Git::changes(top, repo.head, editor);
    QVERIFY(renamed && edited && renamed->size() == 1 && edited->size() == 3);
    QCOMPARE(renamed->front().kind, GitFileChange::Kind::Renamed);

    for (const bool renameFirst : {true, false}) {
        const QList<GitFileChange> picks = renameFirst ? *renamed + *edited : *edited + *renamed;
        const GitResult<QByteArray> combined = Git::combine(top, repo.head, picks);
        QVERIFY2(combined, qPrintable(combined.error()));
        const QList<QByteArray> files =
            gitOutput(top, {"ls-tree", "-r", "-z", "--name-only", *combined}).split('\0');
        QCOMPARE(files, (QList<QByteArray>{".gitignore", "a.txt", "d.txt", "f.sh", "keep.txt",
                                           "new\nline.txt", "z.txt", ""}));
        QCOMPARE(gitOutput(top, {"show", *combined + ":d.txt"}), QByteArray("edited"));
        QCOMPARE(gitOutput(top, {"show", *combined + ":z.txt"}),
                 QByteArray("rename me\nwith some\nlines"));
        QCOMPARE(gitOutput(top, {"rev-parse", *combined + "^"}), repo.head);
    }
}

QTEST_GUILESS_MAIN(TestGit)
#include "tst_git.moc"
