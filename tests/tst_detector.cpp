#include "catalog/detector.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "processprobe.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Not in /opt/homebrew/bin or /usr/local/bin on any machine that runs this.
const QString toolName = QStringLiteral("brevane-fake-tool-xyz");

} // namespace

class TestDetector : public QObject {
    Q_OBJECT
    // Standard input of this process for the whole suite: a pipe nobody
    // writes to, so a shell that read it would never get past its profile.
    PipeFds m_stdin;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(makePipe(m_stdin));
        QVERIFY(::dup2(m_stdin.read.get(), STDIN_FILENO) == STDIN_FILENO);
    }

    // $HOME when set and not empty, else the user's entry in the password database.
    void searchDirsInOrder()
    {
        FakeHome home; // restores HOME afterwards
        const auto dirs = [](const QByteArray& h) {
            return QList<QByteArray>{"/opt/homebrew/bin", "/usr/local/bin", h + "/.local/bin",
                                     h + "/.npm-global/bin", h + "/.hermes/bin"};
        };
        // (A HOME that is no text is the model's odd-path test.)
        QCOMPARE(Detector::searchDirs(), dirs(QFile::encodeName(home.path())));
        const passwd* entry = ::getpwuid(::getuid());
        QVERIFY(entry && *entry->pw_dir);
        qputenv("HOME", QByteArray());
        QCOMPARE(Detector::searchDirs(), dirs(entry->pw_dir));
        qunsetenv("HOME");
        QCOMPARE(Detector::searchDirs(), dirs(entry->pw_dir));
    }

    // A directory of the tool's name lies in .local/bin and a file without an
    // exec bit in every other folder where no tool is written; neither counts.
    void foundInDirectoryStartsNoShell_data()
    {
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first directory wins")
            << QStringList{".hermes/bin", ".npm-global/bin"} << ".npm-global/bin";
        QTest::newRow("a folder or a plain file is skipped")
            << QStringList{".hermes/bin"} << ".hermes/bin";
    }

    void foundInDirectoryStartsNoShell()
    {
        QFETCH(QStringList, tools);
        QFETCH(QString, expected);
        FakeHome home;
        home.writeFile(QStringLiteral(".zprofile"), "print started > \"$HOME/shell-started\"\n");
        QVERIFY(QDir().mkpath(home.filePath(".local/bin/" + toolName)));
        for (const char* dir : {".npm-global/bin/", ".hermes/bin/"})
            home.writeFile(dir + toolName, "data\n");
        for (const QString& dir : tools)
            home.writeTool(dir + '/' + toolName, "exit 0\n");

        const Discovery found = Detector::find(toolName);
        QCOMPARE(found.path, QFile::encodeName(home.path() + '/' + expected + '/' + toolName));
        QCOMPARE(found.shell, Discovery::ShellAnswer::NotAsked);
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("shell-started"))));
    }

    // In the profiles, @A@ and @B@ are executables outside the five
    // directories, @MISSING@ a path that does not exist, @PLAIN@ a file
    // without an exec bit and @DIR@ the directory holding @A@. "expected"
    // names the one that should be found; empty for none.
    void shellOutput_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("expected");
        QTest::newRow("on the login PATH")
            << QByteArray("export PATH=\"${\"$(print -r -- '@A@')\"%/*}:$PATH\"\n") << "A";
        QTest::newRow("noise before path")
            << QByteArray("print Welcome back\nprint -r -- '  last login: today'\n"
                          "print -r -- '@A@'\n")
            << "A";
        QTest::newRow("alias after path")
            << QByteArray("print -r -- '@A@'\nalias brevane-fake-tool-xyz='ls -l'\n") << "A";
        QTest::newRow("blanks, tabs and Unicode spaces around")
            << QByteArray("printf ' \\t\xc2\xa0@A@\\t\xe3\x80\x80 \\n'\n") << "A";
        QTest::newRow("CR LF, last path wins")
            << QByteArray("printf '@A@\\r\\n@B@\\r\\n'\n") << "B";
        QTest::newRow("later paths missing or not executable")
            << QByteArray("print -r -- '@A@'\nprint -r -- '@MISSING@'\nprint -r -- '@PLAIN@'\n")
            << "A";
        QTest::newRow("a directory is no tool")
            << QByteArray("print -r -- '@A@'\nprint -r -- '@DIR@'\n") << "A";
        QTest::newRow("a path that is not UTF-8") << QByteArray("print -r -- '@ODD@'\n") << "ODD";
        QTest::newRow("path then exit 1") << QByteArray("print -r -- '@A@'\nexit 1\n") << "A";
        QTest::newRow("invalid UTF-8 noise")
            << QByteArray("printf '\\377\\376 x \\303\\n\\355\\240\\200\\n@A@\\n\\300\\257\\n'\n")
            << "A";
        QTest::newRow("standard input is not the caller's")
            << QByteArray("cat > /dev/null\nprint -r -- '@A@'\n") << "A";
        QTest::newRow("path on standard error only")
            << QByteArray("print -u2 -r -- '@A@'\n") << QString();
        QTest::newRow("nothing at all") << QByteArray() << QString();
    }

    void shellOutput()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QString, expected);
        FakeHome home;
        const QMap<QString, QString> paths{
            {"A", home.writeTool("elsewhere/bin/" + toolName, "exit 0\n")},
            {"B", home.writeTool("other/bin/" + toolName, "exit 0\n")},
            {"MISSING", home.filePath("missing/" + toolName)},
            {"PLAIN", home.writeFile("plain/" + toolName, "data\n")},
            {"DIR", home.filePath("elsewhere/bin")},
        };
        QMap<QString, QByteArray> bytes;
        for (auto it = paths.cbegin(); it != paths.cend(); ++it)
            bytes[it.key()] = QFile::encodeName(it.value());
        bytes["ODD"] = QFile::encodeName(home.path()) + "/\xff\xfe/" + toolName.toUtf8();
        QVERIFY(::mkdir(bytes["ODD"].chopped(toolName.size() + 1).constData(), 0700) == 0);
        QVERIFY(::symlink(bytes["A"].constData(), bytes["ODD"].constData()) == 0);
        for (auto it = bytes.cbegin(); it != bytes.cend(); ++it)
            profile.replace('@' + it.key().toUtf8() + '@', it.value());
        home.writeFile(QStringLiteral(".zprofile"), profile);

        const Discovery found = Detector::find(toolName);
        QCOMPARE(found.path,
                 expected.isEmpty() ? std::optional<QByteArray>() : bytes.value(expected));
        QCOMPARE(found.shell, expected.isEmpty() ? Discovery::ShellAnswer::NotFound
                                                 : Discovery::ShellAnswer::Answered);
    }

    // Each profile prints a usable path first: running out of time still
    // means not found. $$ is the shell itself, job.pid a process it started.
    void shellStepIsBounded_data()
    {
        QTest::addColumn<QByteArray>("profile");
        const QByteArray start = "print $$ > \"$HOME/shell.pid\"\nprint -r -- '@A@'\n";
        QTest::newRow("profile hangs")
            << start + "sleep 30 &\nprint $! > \"$HOME/job.pid\"\nwait\n";
        QTest::newRow("background job keeps the pipe")
            << start + "sleep 30 &\nprint $! > \"$HOME/job.pid\"\n";
        QTest::newRow("shell lingers after closing its output")
            << start + "exec >&-\nsleep 30 > /dev/null &\nprint $! > \"$HOME/job.pid\"\nwait\n";
    }

    void shellStepIsBounded()
    {
        QFETCH(QByteArray, profile);
        FakeHome home;
        const QString tool = home.writeTool("elsewhere/bin/" + toolName, "exit 0\n");
        home.writeFile(QStringLiteral(".zprofile"),
                       profile.replace("@A@", QFile::encodeName(tool)));

        QElapsedTimer clock;
        clock.start();
        // Far below the profiles' 30 s, far above a healthy shell start.
        QCOMPARE(Detector::find(toolName, 1s).shell, Discovery::ShellAnswer::NoAnswer);
        QVERIFY2(clock.elapsed() < 15'000, qPrintable(QString::number(clock.elapsed())));

        const pid_t shell = ProcessProbe::pidFrom(home.read(QStringLiteral("shell.pid")));
        const pid_t job = ProcessProbe::pidFrom(home.read(QStringLiteral("job.pid")));
        QVERIFY(shell > 0 && job > 0);
        // Reaped before find() returned: not even a zombie of ours is left.
        QVERIFY(ProcessProbe::gone(shell));
        // The group was killed; the orphaned job is reaped by someone else.
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(job), 10'000);
    }
};

QTEST_GUILESS_MAIN(TestDetector)
#include "tst_detector.moc"
