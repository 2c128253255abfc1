#include "testsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Quits the real application (BREVANE_APP) as a user does: it runs on Qt's
// VNC platform and the test types into it as a VNC client. Nothing in the
// app exists for the test's sake.

namespace {

// X keysyms, as a VNC client sends keys.
constexpr quint32 keyReturn = 0xff0d, keyTab = 0xff09, keyControl = 0xffe3;

// A minimal RFB 3.3 client (RFC 6143): no security, and keys only.
class VncKeyboard {
public:
    ~VncKeyboard() { ::close(m_fd); }
    bool connectTo(quint16 port)
    {
        ::close(m_fd);
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Version, security type, then the framebuffer's size and format.
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
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

// What the tools do, and what the user does before Ctrl+Q.
enum class Scenario { QuietTools, ChattyTools, StoppedTree, HangingScan };

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestQuit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void quit_data()
    {
        QTest::addColumn<Scenario>("scenario");
        // Tools never stopped outlive the app.
        QTest::newRow("quiet tools stay") << Scenario::QuietTools;
        // Readers keep posting while the app goes; the tools die of SIGPIPE.
        QTest::newRow("chatty tools") << Scenario::ChattyTools;
        // Stop means stopped: a tree ignoring SIGTERM dies with the app,
        // though its grace period has not run out.
        QTest::newRow("stopped tree is killed") << Scenario::StoppedTree;
        // A login shell hanging in the scan goes with the app.
        QTest::newRow("scan's shell is killed") << Scenario::HangingScan;
    }
    void quit()
    {
        QFETCH(Scenario, scenario);
        FakeHome home;
        const QString pid = home.filePath(u"pid"_s);
        const QString fifo = home.makeFifo(u"fifo"_s);
        const QStringList quiet{u"pid="_s + pid, u"wait="_s + fifo};
        const QStringList chatty{u"pid="_s + pid, u"flood=tick\\n"_s};
        const QStringList tree{u"ignore-term"_s, u"{"_s,          u"ignore-term"_s, u"pause"_s,
                               u"}"_s,           u"pid="_s + pid, u"pause"_s};
        if (scenario == Scenario::HangingScan)
            home.writeFile(u".zprofile"_s, "print $$ > \"$HOME/p\"; mv \"$HOME/p\" \"$HOME/pid\"\n"
                                           "read line < \"$HOME/fifo\"\n");
        else
            home.writeStandin(u".local/bin/claude"_s, scenario == Scenario::QuietTools    ? quiet
                                                      : scenario == Scenario::ChattyTools ? chatty
                                                                                          : tree);

        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // the fake HOME
        env.insert(u"QT_QPA_PLATFORM"_s,
                   u"vnc:size=1200x800:port=%1"_s.arg(ntohs(address.sin_port)));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(BREVANE_APP), {});
        pid_t group = 0;
        auto cleanUp = qScopeGuard([&] {
            if (group > 0) // kill(0) would hit this test's own group
                ::kill(-group, SIGKILL);
            app.kill();
            app.waitForFinished(deadline);
        });
        VncKeyboard keyboard;
        QVERIFY(
            QTest::qWaitFor([&] { return keyboard.connectTo(ntohs(address.sin_port)); }, deadline));
        const auto started = [&] { return !home.read(u"pid"_s).isEmpty(); };
        if (scenario != Scenario::HangingScan) {
            // Return runs the task once the scan has found the tool, so it is repeated.
            keyboard.press({'g'});
            QVERIFY(QTest::qWaitFor(
                [&] {
                    keyboard.press({keyReturn});
                    return QTest::qWaitFor(started, 200);
                },
                deadline));
        }
        QTRY_VERIFY_WITH_TIMEOUT(started(), deadline);
        group = ProcessProbe::pidFrom(home.read(u"pid"_s));
        if (scenario == Scenario::StoppedTree) {
            QTRY_COMPARE(ProcessProbe::children(group).size(), 2);
            keyboard.press({keyTab}); // past the disabled Run to Stop
            keyboard.press({' '});
        }

        QElapsedTimer sinceQuit;
        sinceQuit.start();
        keyboard.press({keyControl, 'q'});
        QVERIFY(app.waitForFinished(deadline));
        const qint64 quitMs = sinceQuit.elapsed();
        const QByteArray errors = app.readAllStandardError();
        QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0, errors);
        QVERIFY2(quitMs <= 1000, qPrintable(QString::number(quitMs)));
        for (const char* crash : {"Sanitizer", "runtime error", "terminate called", "Segmentation",
                                  "QThread: Destroyed"})
            QVERIFY2(!errors.contains(crash), errors.constData());
        if (scenario == Scenario::QuietTools)
            QVERIFY(!ProcessProbe::gone(group));
        if (scenario == Scenario::StoppedTree || scenario == Scenario::HangingScan)
            QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::children(group).isEmpty(), 500);
    }
};

QTEST_MAIN(TestQuit)
#include "tst_ui_quit.moc"
