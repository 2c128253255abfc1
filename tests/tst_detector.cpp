#include "catalog/detector.h"
#include "platform/capture.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Not in /opt/homebrew/bin or /usr/local/bin on any machine that runs this.
const QString toolName = QStringLiteral("brevane-fake-tool-xyz");

// Far below the profiles that hang (30 s), far above a healthy shell start.
constexpr std::chrono::milliseconds shortTimeout = 1s;

const QByteArray markerProfile = "print started > \"$HOME/shell-started\"\n";

QString passwdHome()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? QFile::decodeName(entry->pw_dir) : QString();
}

pid_t readPid(const FakeHome& home, const QString& relative)
{
    return static_cast<pid_t>(home.read(relative).trimmed().toInt());
}

// Dead, or killed and only waiting for its new parent to reap it.
bool isGone(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype endOfName = line.lastIndexOf(')');
    return endOfName >= 0 && line.mid(endOfName + 2, 1) == "Z";
}

// Points standard input at a pipe nobody writes to, for as long as it lives.
class StdinThatNeverEnds {
public:
    StdinThatNeverEnds()
    {
        if (makePipe(m_pipe))
            m_saved = UniqueFd(::dup(STDIN_FILENO));
        if (m_saved.valid())
            ::dup2(m_pipe.read.get(), STDIN_FILENO);
    }
    ~StdinThatNeverEnds()
    {
        if (m_saved.valid())
            ::dup2(m_saved.get(), STDIN_FILENO);
    }
    bool isValid() const { return m_saved.valid(); }

private:
    PipeFds m_pipe;
    UniqueFd m_saved;
};

} // namespace

class TestDetector : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // zsh would read its startup files from ZDOTDIR instead of the fake home.
        qunsetenv("ZDOTDIR");
    }

    void homeDirectoryFallsBackToPasswordEntry_data()
    {
        QTest::addColumn<bool>("unset");
        QTest::newRow("HOME empty") << false;
        QTest::newRow("HOME unset") << true;
    }

    void homeDirectoryFallsBackToPasswordEntry()
    {
        QFETCH(bool, unset);
        FakeHome home; // restores HOME afterwards
        if (unset)
            qunsetenv("HOME");
        else
            qputenv("HOME", QByteArray());
        QVERIFY(!passwdHome().isEmpty());
        QCOMPARE(homeDirectory(), passwdHome());
    }

    void isExecutableTestsAccessOnly_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("expected");
        QTest::newRow("executable file") << "bin/tool" << true;
        QTest::newRow("file without exec bit") << "bin/plain" << false;
        QTest::newRow("missing") << "bin/missing" << false;
        QTest::newRow("directory") << "bin" << true;
        QTest::newRow("empty path") << "" << false;
    }

    void isExecutableTestsAccessOnly()
    {
        QFETCH(QString, relative);
        QFETCH(bool, expected);
        FakeHome home;
        home.writeTool(QStringLiteral("bin/tool"), "exit 0\n");
        home.writeFile(QStringLiteral("bin/plain"), "data\n");
        QCOMPARE(isExecutable(relative.isEmpty() ? QString() : home.filePath(relative)), expected);
    }

    void searchDirsInOrder()
    {
        FakeHome home;
        const QString h = home.path();
        const QStringList expected{QStringLiteral("/opt/homebrew/bin"),
                                   QStringLiteral("/usr/local/bin"), h + "/.local/bin",
                                   h + "/.npm-global/bin", h + "/.hermes/bin"};
        QCOMPARE(Detector::searchDirs(), expected);
    }

    void foundInDirectoryStartsNoShell_data()
    {
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<QStringList>("plainFiles");
        QTest::addColumn<QString>("expected");
        const QString local = ".local/bin/" + toolName;
        const QString npm = ".npm-global/bin/" + toolName;
        const QString hermes = ".hermes/bin/" + toolName;
        QTest::newRow("only in .local/bin") << QStringList{local} << QStringList{} << local;
        QTest::newRow("only in .npm-global/bin") << QStringList{npm} << QStringList{} << npm;
        QTest::newRow("only in .hermes/bin") << QStringList{hermes} << QStringList{} << hermes;
        QTest::newRow(".local/bin first")
            << QStringList{hermes, npm, local} << QStringList{} << local;
        QTest::newRow(".npm-global/bin before .hermes/bin")
            << QStringList{hermes, npm} << QStringList{} << npm;
        QTest::newRow("not executable is skipped")
            << QStringList{hermes} << QStringList{local, npm} << hermes;
    }

    void foundInDirectoryStartsNoShell()
    {
        QFETCH(QStringList, tools);
        QFETCH(QStringList, plainFiles);
        QFETCH(QString, expected);
        FakeHome home;
        home.writeFile(QStringLiteral(".zprofile"), markerProfile);
        for (const QString& tool : tools)
            home.writeTool(tool, "exit 0\n");
        for (const QString& file : plainFiles)
            home.writeFile(file, "data\n");

        QCOMPARE(Detector::find(toolName), std::optional<QString>(home.path() + '/' + expected));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("shell-started"))));
    }

    // In the profiles, @A@ and @B@ are executables outside the five
    // directories, @MISSING@ a path that does not exist and @PLAIN@ a file
    // without an exec bit. "expected" names the one that should be found.
    void shellOutput_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("expected");
        QTest::newRow("path and line feed") << QByteArray("print -r -- '@A@'\n") << "A";
        QTest::newRow("no final line feed") << QByteArray("printf '%s' '@A@'\n") << "A";
        QTest::newRow("noise before path")
            << QByteArray("print Welcome back\nprint -r -- '  last login: today'\n"
                          "print -r -- '@A@'\n")
            << "A";
        QTest::newRow("on the login PATH")
            << QByteArray("export PATH=\"${\"$(print -r -- '@A@')\"%/*}:$PATH\"\n") << "A";
        QTest::newRow("alias only")
            << QByteArray("alias brevane-fake-tool-xyz='ls -l'\n") << QString();
        QTest::newRow("alias after path")
            << QByteArray("print -r -- '@A@'\nalias brevane-fake-tool-xyz='ls -l'\n") << "A";
        QTest::newRow("function") << QByteArray("brevane-fake-tool-xyz() { :; }\n") << QString();
        QTest::newRow("bare relative path") << QByteArray("print -r -- 'bin/tool'\n") << QString();
        QTest::newRow("blanks and tabs around") << QByteArray("printf ' \\t @A@\\t \\n'\n") << "A";
        QTest::newRow("Unicode spaces around")
            << QByteArray("print -r -- '\xc2\xa0\xe3\x80\x80@A@\xe2\x80\x83'\n") << "A";
        QTest::newRow("CR LF") << QByteArray("printf '@A@\\r\\n'\n") << "A";
        QTest::newRow("CR LF between paths") << QByteArray("printf '@A@\\r\\n@B@\\r\\n'\n") << "B";
        QTest::newRow("other line separators")
            << QByteArray("printf 'noise\\v@A@\\f'\nprint -rn -- '\xe2\x80\xa8x\xc2\x85'\n") << "A";
        QTest::newRow("two paths") << QByteArray("print -r -- '@A@'\nprint -r -- '@B@'\n") << "B";
        QTest::newRow("second path missing")
            << QByteArray("print -r -- '@A@'\nprint -r -- '@MISSING@'\n") << "A";
        QTest::newRow("second path not executable")
            << QByteArray("print -r -- '@A@'\nprint -r -- '@PLAIN@'\n") << "A";
        QTest::newRow("path then exit 1") << QByteArray("print -r -- '@A@'\nexit 1\n") << "A";
        QTest::newRow("invalid UTF-8 noise")
            << QByteArray("printf '\\377\\376 x \\303\\n\\355\\240\\200\\n@A@\\n\\300\\257\\n'\n")
            << "A";
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
        };
        for (auto it = paths.cbegin(); it != paths.cend(); ++it)
            profile.replace('@' + it.key().toUtf8() + '@', QFile::encodeName(it.value()));
        home.writeFile(QStringLiteral(".zprofile"), profile);

        const std::optional<QString> found = Detector::find(toolName);
        if (expected.isEmpty())
            QCOMPARE(found, std::nullopt);
        else
            QCOMPARE(found, std::optional<QString>(paths.value(expected)));
    }

    // A shell that read the caller's standard input would wait here forever.
    void shellInputIsNullDevice()
    {
        FakeHome home;
        const QString tool = home.writeTool("elsewhere/bin/" + toolName, "exit 0\n");
        home.writeFile(QStringLiteral(".zprofile"),
                       "cat > /dev/null\nprint -r -- '" + QFile::encodeName(tool) + "'\n");
        StdinThatNeverEnds stdinGuard;
        QVERIFY(stdinGuard.isValid());
        QCOMPARE(Detector::find(toolName, shortTimeout), std::optional<QString>(tool));
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
        QCOMPARE(Detector::find(toolName, shortTimeout), std::nullopt);
        QVERIFY2(clock.elapsed() < 15'000, qPrintable(QString::number(clock.elapsed())));

        const pid_t shell = readPid(home, QStringLiteral("shell.pid"));
        const pid_t job = readPid(home, QStringLiteral("job.pid"));
        QVERIFY(shell > 0);
        QVERIFY(job > 0);
        // Reaped before find() returned: the pid no longer exists at all.
        const int rc = ::kill(shell, 0);
        const int error = errno;
        QCOMPARE(rc, -1);
        QCOMPARE(error, ESRCH);
        // The group was killed; the orphaned job is reaped by someone else.
        QTRY_VERIFY_WITH_TIMEOUT(isGone(job), 10'000);
    }
};

QTEST_GUILESS_MAIN(TestDetector)
#include "tst_detector.moc"
