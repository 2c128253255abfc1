#include "processprobe.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Quits the real application, as a user does, while three tools run: the
// app (BREVANE_APP) runs on Qt's VNC platform, and the test types into it as
// a VNC client: the task, Return, and then Ctrl+Q.
// Nothing in the app exists for the test's sake.

namespace {

constexpr int deadline = 20000; // ms
constexpr qint64 quitLimitMs = 1000;
const char* const toolNames[] = {"claude", "gemini", "hermes"};

// X keysyms, as a VNC client sends keys.
constexpr quint32 keyReturn = 0xff0d;
constexpr quint32 keyTab = 0xff09;
constexpr quint32 keyControlLeft = 0xffe3;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A TCP port nobody listens on right now.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// A minimal RFB 3.3 client (RFC 6143): no security, and keys only, sent once
// the server has described its framebuffer.
class VncKeyboard {
public:
    ~VncKeyboard() { ::close(m_fd); }

    bool connectTo(quint16 port)
    {
        ::close(m_fd);
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout{deadline / 1000, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const sockaddr_in address = loopback(port);
        // Version, security type, and the framebuffer's size and format (the
        // desktop's name after it is left unread).
        return ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
               receive(12) && send("RFB 003.003\n", 12) && receive(4) && send("\1", 1) &&
               receive(24);
    }
    // Presses the keys in order, then releases them.
    void press(std::initializer_list<quint32> keysyms)
    {
        for (const bool down : {true, false}) {
            for (const quint32 keysym : keysyms) {
                char message[8] = {4, char(down)};
                qToBigEndian(keysym, message + 4);
                send(message, sizeof message);
            }
        }
    }

private:
    bool send(const char* data, size_t size)
    {
        return ::send(m_fd, data, size, MSG_NOSIGNAL) == ssize_t(size);
    }
    bool receive(size_t size)
    {
        char buffer[64];
        return ::recv(m_fd, buffer, size, MSG_WAITALL) == ssize_t(size);
    }

    int m_fd = -1;
};

// The app on the VNC platform, with a keyboard connected to it.
struct App {
    QProcess process;
    VncKeyboard keyboard;

    bool start()
    {
        const quint16 port = freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // HOME is the fake one
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   QStringLiteral("vnc:size=1200x800:port=%1").arg(port));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(BREVANE_APP), {});
        return port != 0 && process.waitForStarted(deadline) &&
               QTest::qWaitFor([&] { return keyboard.connectTo(port); }, deadline);
    }
    // Ctrl+Q; returns how long the app took to exit, or -1.
    qint64 quit()
    {
        QElapsedTimer sinceQuit;
        sinceQuit.start();
        keyboard.press({keyControlLeft, 'q'});
        if (!process.waitForFinished(deadline) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            qWarning("%s", process.readAllStandardError().constData());
            return -1;
        }
        return sinceQuit.elapsed();
    }
    ~App()
    {
        process.kill();
        process.waitForFinished(deadline);
    }
};

// Every process in the group `group`, from /proc.
QList<pid_t> groupMembers(pid_t group)
{
    QList<pid_t> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = static_cast<pid_t>(name.toLong());
        if (pid > 0 && ::getpgid(pid) == group && !ProcessProbe::gone(pid))
            found << pid;
    }
    return found;
}

} // namespace

class TestQuit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A folder argument the tools could not work in ends the app before any
    // window, with status 2 and the reason.
    void badFolderArgument_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "no/such"
                                 << "brevane: no/such: No such file or directory\n";
        QTest::newRow("a file") << BREVANE_APP << BREVANE_APP ": Not a directory\n";
    }
    void badFolderArgument()
    {
        QFETCH(QString, folder);
        QFETCH(QString, message);
        QProcess app;
        app.start(QStringLiteral(BREVANE_APP), {folder});
        QVERIFY(app.waitForFinished(deadline));
        QCOMPARE(app.exitCode(), 2);
        QVERIFY(app.readAllStandardError().endsWith(message.toUtf8()));
    }

    // Stop means stopped: a tool that ignores SIGTERM, with a child that
    // does too, is killed when the app quits before the grace period ends.
    void quitKillsWhatTheUserStopped()
    {
        FakeHome home;
        const QString pidFile = home.filePath(QStringLiteral("pid"));
        home.writeStandin(QStringLiteral(".local/bin/claude"),
                          {u"ignore-term"_s, u"{"_s, u"pid="_s + pidFile + u"-child"_s, u"pause"_s,
                           u"}"_s, u"pid="_s + pidFile, u"pause"_s});
        App app;
        QVERIFY(app.start());
        pid_t tool = 0;
        auto cleanUp = qScopeGuard([&] {
            if (tool > 0)
                ::kill(-tool, SIGKILL);
        });
        app.keyboard.press({'g'});
        QVERIFY(QTest::qWaitFor(
            [&] {
                app.keyboard.press({keyReturn});
                return QTest::qWaitFor([&] { return !home.read(u"pid-child"_s).isEmpty(); }, 200);
            },
            deadline));
        QTRY_VERIFY(!home.read(u"pid"_s).isEmpty());
        tool = ProcessProbe::pidFrom(home.read(u"pid"_s));
        QCOMPARE(groupMembers(tool).size(), 2);

        // Tab leads from the field past the disabled Run to Stop.
        app.keyboard.press({keyTab});
        app.keyboard.press({' '});
        const qint64 quitMs = app.quit();
        QVERIFY2(quitMs >= 0 && quitMs <= quitLimitMs, qPrintable(QString::number(quitMs)));
        QTRY_VERIFY_WITH_TIMEOUT(groupMembers(tool).isEmpty(), 500);
    }

    // A login shell that hangs while the tools are looked for goes with the app.
    void quitDuringAScan()
    {
        FakeHome home;
        const QString fifo = home.makeFifo(u"fifo"_s);
        home.writeFile(u".zprofile"_s, "echo $$ > \"$HOME/sh.tmp\"; mv \"$HOME/sh.tmp\" "
                                       "\"$HOME/shell\"; read line < \"$HOME/fifo\"\n");
        App app;
        QVERIFY(app.start());
        pid_t shell = 0;
        auto cleanUp = qScopeGuard([&] {
            if (shell > 0)
                ::kill(-shell, SIGKILL);
        });
        QTRY_VERIFY_WITH_TIMEOUT(!home.read(u"shell"_s).isEmpty(), deadline);
        shell = ProcessProbe::pidFrom(home.read(u"shell"_s));
        QVERIFY(!ProcessProbe::gone(shell));
        const qint64 quitMs = app.quit();
        QVERIFY2(quitMs >= 0 && quitMs <= quitLimitMs, qPrintable(QString::number(quitMs)));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(shell), 500);
    }

    void quitLeavesToolsRunning_data()
    {
        QTest::addColumn<bool>("chatty");
        // Quiet tools wrote once and wait: they must outlive the app.
        QTest::newRow("quiet tools") << false;
        // Tools that keep printing keep the readers posting while the app
        // goes away; they themselves die of SIGPIPE afterwards.
        QTest::newRow("chatty tools") << true;
    }
    void quitLeavesToolsRunning()
    {
        QFETCH(bool, chatty);
        FakeHome home;
        for (const char* name : toolNames)
            home.writeTool(QStringLiteral(".local/bin/") + QLatin1String(name),
                           QByteArray("echo started\necho $$ > \"$HOME/pid.$$\" && "
                                      "mv \"$HOME/pid.$$\" \"$HOME/pid-$(basename \"$0\")\"\n") +
                               (chatty ? "while :; do echo tick; sleep 0.01; done\n"
                                       : "while [ ! -e \"$HOME/release\" ]; do sleep 0.1; done\n"));
        const quint16 port = freePort();
        QVERIFY(port != 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // HOME is the fake one
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   QStringLiteral("vnc:size=1200x800:port=%1").arg(port));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(BREVANE_APP), {});
        QVERIFY2(app.waitForStarted(deadline), qPrintable(app.errorString()));

        QList<pid_t> tools;
        auto cleanUp = qScopeGuard([&] {
            home.writeFile(QStringLiteral("release"), "");
            for (pid_t pid : std::as_const(tools))
                if (pid > 0) // kill(0) would hit this test's own group
                    ::kill(-pid, SIGKILL);
            app.kill();
            app.waitForFinished(deadline);
        });
        auto readPids = [&] {
            tools.clear();
            for (const char* name : toolNames)
                tools << ProcessProbe::pidFrom(home.read(QStringLiteral("pid-") + name));
            return !tools.contains(0);
        };

        VncKeyboard keyboard;
        QVERIFY(QTest::qWaitFor([&] { return keyboard.connectTo(port); }, deadline));
        // The field has the focus. Return runs the task once the scan has
        // found the tools and does nothing before, so it is repeated.
        keyboard.press({'g'});
        keyboard.press({'o'});
        QVERIFY(QTest::qWaitFor(
            [&] {
                keyboard.press({keyReturn});
                return QTest::qWaitFor(readPids, 200);
            },
            deadline));
        QCOMPARE(app.state(), QProcess::Running);

        QElapsedTimer sinceQuit;
        sinceQuit.start();
        keyboard.press({keyControlLeft, 'q'});
        QVERIFY(app.waitForFinished(deadline));
        const qint64 quitMs = sinceQuit.elapsed();
        const QByteArray errors = app.readAllStandardError();
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(quitMs <= quitLimitMs, qPrintable(QString::number(quitMs)));
        // What in the app's standard error would mean it did not end cleanly.
        for (const char* crash : {"Sanitizer", "runtime error", "terminate called", "Segmentation",
                                  "Aborted", "ASSERT", "QThread: Destroyed", "double free"})
            QVERIFY2(!errors.contains(crash), errors.constData());
        for (pid_t pid : std::as_const(tools))
            QVERIFY2(chatty || !ProcessProbe::gone(pid), qPrintable(QString::number(pid)));
    }
};

QTEST_MAIN(TestQuit)
#include "tst_ui_quit.moc"
