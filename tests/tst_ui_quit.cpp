#include "testsupport.h"
#include "vnckeyboard.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

// Quits the real application (BREVANE_APP) as a user does: it runs on Qt's
// VNC platform and the test types into it as a VNC client. Nothing in the
// app exists for the test's sake.

class TestQuit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void quit_data()
    {
        // What claude does, started from the home where the app runs (none:
        // the scan's login shell hangs instead); whether Stop is pressed
        // before Ctrl+Q; whether the tool's process group outlives the app.
        QTest::addColumn<QStringList>("claude");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("outlives");
        // Tools never stopped outlive the app.
        QTest::newRow("quiet tools stay")
            << QStringList{u"pid=pid"_s, u"wait=fifo"_s} << false << true;
        // Readers keep posting while the app goes; the tools die of SIGPIPE.
        QTest::newRow("chatty tools")
            << QStringList{u"pid=pid"_s, u"flood=tick\\n"_s} << false << false;
        // Stop means stopped: a tree ignoring SIGTERM dies with the app,
        // though its grace period has not run out.
        QTest::newRow("stopped tree is killed")
            << QStringList{u"ignore-term"_s, u"{"_s,       u"ignore-term"_s, u"pause"_s,
                           u"}"_s,           u"pid=pid"_s, u"pause"_s}
            << true << false;
        // A login shell hanging in the scan goes with the app.
        QTest::newRow("scan's shell is killed") << QStringList() << false << false;
    }
    void quit()
    {
        QFETCH(QStringList, claude);
        QFETCH(bool, stop);
        QFETCH(bool, outlives);
        FakeHome home;
        home.makeFifo(u"fifo"_s);
        if (claude.isEmpty())
            home.writeFile(u".zprofile"_s, "print $$ > \"$HOME/p\"; mv \"$HOME/p\" \"$HOME/pid\"\n"
                                           "read line < \"$HOME/fifo\"\n");
        else
            home.writeStandin(u".local/bin/claude"_s, claude);

        VncKeyboard keyboard;
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // the fake HOME
        env.insert(u"QT_QPA_PLATFORM"_s, u"vnc:size=1200x800:port=%1"_s.arg(keyboard.pickPort()));
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(home.path());
        app.start(QStringLiteral(BREVANE_APP), {});
        pid_t group = 0;
        auto cleanUp = qScopeGuard([&] {
            if (group > 0) // kill(0) would hit this test's own group
                ::kill(-group, SIGKILL);
            app.kill();
            app.waitForFinished(deadline);
        });
        QVERIFY(QTest::qWaitFor([&] { return keyboard.connect(); }, deadline));
        const auto started = [&] { return !home.read(u"pid"_s).isEmpty(); };
        if (!claude.isEmpty()) {
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
        if (stop) {
            QTRY_COMPARE(ProcessProbe::children(group).size(), 2);
            keyboard.press({keyTab}); // past the disabled Run to Stop
            keyboard.press({' '});
        }

        QElapsedTimer sinceQuit;
        sinceQuit.start();
        keyboard.press({keyControl, 'q'});
        QVERIFY(app.waitForFinished(deadline));
        QVERIFY2(sinceQuit.elapsed() <= 1000, qPrintable(QString::number(sinceQuit.elapsed())));
        const QByteArray errors = app.readAllStandardError();
        QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0, errors);
        for (const char* crash : {"Sanitizer", "runtime error", "terminate called", "Segmentation",
                                  "QThread: Destroyed"})
            QVERIFY2(!errors.contains(crash), errors.constData());
        if (outlives)
            QVERIFY(!ProcessProbe::gone(group));
        else
            QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::children(group).isEmpty(), 500);
    }
};

QTEST_MAIN(TestQuit)
#include "tst_ui_quit.moc"
