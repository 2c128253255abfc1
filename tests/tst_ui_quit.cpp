#include "processprobe.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRect>
#include <QScopeGuard>
#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Quits the real application, as a user does, while three tools run: the
// app (BREVANE_APP) runs on Qt's VNC platform, and the test types into it as
// a VNC client: the task, Return, and then Quit from the keyboard.
// Nothing in the app exists for the test's sake.

namespace {

constexpr int deadline = 20000; // ms
constexpr qint64 quitLimitMs = 1000;

// X keysyms, as a VNC client sends keys.
constexpr quint32 keyReturn = 0xff0d;
constexpr quint32 keyControlLeft = 0xffe3;

// The unsigned big-endian number in bytes [offset, offset + size) of `bytes`.
quint32 bigEndian(const QByteArray& bytes, qsizetype offset, qsizetype size)
{
    quint32 value = 0;
    for (qsizetype i = offset; i < offset + size; ++i)
        value = (value << 8) | uchar(bytes.at(i));
    return value;
}

// A minimal RFB 3.3 client (RFC 6143): no security, key events only.
class VncKeyboard {
public:
    ~VncKeyboard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Succeeds once the server at `port` has accepted and greeted us.
    bool connectTo(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        QByteArray version = receive(12);
        if (!version.startsWith("RFB 003."))
            return false;
        send("RFB 003.003\n");
        if (receive(4) != QByteArray("\0\0\0\1", 4)) // security type: none
            return false;
        send(QByteArray(1, '\1')); // shared session
        const QByteArray init = receive(24);
        if (init.size() != 24)
            return false;
        const quint32 nameLength = bigEndian(init, 20, 4);
        if (receive(qsizetype(nameLength)).size() != qsizetype(nameLength))
            return false;
        return true;
    }

    void key(quint32 keysym, bool down)
    {
        char message[8] = {4, char(down ? 1 : 0), 0, 0};
        qToBigEndian(keysym, message + 4);
        send(QByteArray(message, 8));
    }
    void tap(quint32 keysym)
    {
        key(keysym, true);
        key(keysym, false);
    }
    void type(const QByteArray& latin1)
    {
        for (char c : latin1)
            tap(quint32(uchar(c)));
    }

private:
    void send(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += n;
        }
    }
    QByteArray receive(qsizetype size)
    {
        QByteArray bytes;
        while (bytes.size() < size) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, deadline) <= 0)
                break;
            char buffer[256];
            const ssize_t n =
                ::recv(m_fd, buffer, size_t(std::min<qsizetype>(256, size - bytes.size())), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

    int m_fd = -1;
};

// A TCP port nobody listens on right now.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

const char* const toolNames[] = {"claude", "gemini", "hermes"};

// What in the app's standard error would mean it did not end cleanly.
const char* const crashMarkers[] = {"Sanitizer",          "runtime error", "terminate called",
                                    "Segmentation fault", "Aborted",       "ASSERT",
                                    "QThread: Destroyed", "double free",   "core dumped"};

} // namespace

class TestQuit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void quitLeavesToolsRunning_data()
    {
        QTest::addColumn<bool>("chatty");
        // Quiet tools wrote once and wait: they must outlive the app.
        QTest::newRow("quiet tools") << false;
        // Tools that keep printing keep the readers posting while the app
        // goes away; they themselves die of SIGPIPE afterwards, as any
        // program writing to a closed pipe does.
        QTest::newRow("chatty tools") << true;
    }
    void quitLeavesToolsRunning()
    {
        QFETCH(bool, chatty);
        FakeHome home;
        const QByteArray body =
            QByteArray("echo started\n"
                       "echo $$ > \"$HOME/pid.$$\" && mv \"$HOME/pid.$$\" \"$HOME/pid-$(basename "
                       "\"$0\")\"\n") +
            (chatty ? "while :; do echo tick; sleep 0.01; done\n"
                    : "while [ ! -e \"$HOME/release\" ]; do sleep 0.1; done\n");
        for (const char* name : toolNames)
            home.writeTool(QStringLiteral(".local/bin/") + QLatin1String(name), body);
        QDir().mkpath(home.filePath(QStringLiteral("run")));
        QFile::setPermissions(home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);

        const quint16 port = freePort();
        QVERIFY(port != 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   QStringLiteral("vnc:size=1200x800:port=%1").arg(port));
        env.remove(QStringLiteral("ZDOTDIR"));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(BREVANE_APP), {});
        QVERIFY2(app.waitForStarted(deadline), qPrintable(app.errorString()));

        QList<pid_t> tools;
        auto cleanUp = qScopeGuard([&] {
            home.writeFile(QStringLiteral("release"), "");
            for (pid_t pid : std::as_const(tools))
                ::kill(-pid, SIGKILL);
            if (app.state() != QProcess::NotRunning) {
                app.kill();
                app.waitForFinished(deadline);
            }
        });

        VncKeyboard keyboard;
        QVERIFY(QTest::qWaitFor([&] { return keyboard.connectTo(port); }, deadline));
        // The field has the focus. Return runs the task once the scan has
        // found the tools and does nothing before, so it is repeated.
        keyboard.type("go");
        auto allStarted = [&] {
            for (const char* name : toolNames) {
                if (ProcessProbe::pidFrom(home.read(QStringLiteral("pid-") + name)) <= 0)
                    return false;
            }
            return true;
        };
        QElapsedTimer sinceReturn;
        sinceReturn.start();
        keyboard.tap(keyReturn);
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (sinceReturn.hasExpired(200)) {
                    keyboard.tap(keyReturn);
                    sinceReturn.restart();
                }
                return allStarted();
            },
            deadline));
        for (const char* name : toolNames)
            tools << ProcessProbe::pidFrom(home.read(QStringLiteral("pid-") + name));
        QVERIFY(app.state() == QProcess::Running);

        // Quit, from the keyboard as File > Quit shows it.
        QElapsedTimer sinceQuit;
        sinceQuit.start();
        keyboard.key(keyControlLeft, true);
        keyboard.tap('q');
        keyboard.key(keyControlLeft, false);
        QVERIFY(app.waitForFinished(deadline));
        const qint64 quitMs = sinceQuit.elapsed();
        const QByteArray errors = app.readAllStandardError();
        qInfo("quit took %lld ms", quitMs);

        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(quitMs <= quitLimitMs, qPrintable(QString::number(quitMs)));
        for (const char* marker : crashMarkers)
            QVERIFY2(!errors.contains(marker), errors.constData());
        if (!chatty) {
            for (pid_t pid : std::as_const(tools))
                QVERIFY2(!ProcessProbe::gone(pid), qPrintable(QString::number(pid)));
        }
    }
};

QTEST_MAIN(TestQuit)
#include "tst_ui_quit.moc"
