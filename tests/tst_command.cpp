#include "platform/command.h"
#include "platform/fd.h"
#include "testsupport.h"

#include <QFile>

#include <csignal>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// The one-shot command runner: a real child each time (the stand-in, zsh or
// cat), run to its end on the test's thread.
class TestCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void exchange_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("errorOutput");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("signal");

        const QByteArray zsh = "/bin/zsh";
        const QByteArray big(4 * 1024 * 1024, 'x');
        const QByteArray megabyte(1024 * 1024, '\0');
        QTest::newRow("both outputs apart")
            << zsh << QList<QByteArray>{"-c", "print out; print -u2 err; print more"}
            << QByteArray() << QByteArray("out\nmore\n") << QByteArray("err\n") << 0 << 0;
        QTest::newRow("exit status") << zsh << QList<QByteArray>{"-c", "exit 3"} << QByteArray()
                                     << QByteArray() << QByteArray() << 3 << 0;
        QTest::newRow("killed by a signal")
            << zsh << QList<QByteArray>{"-c", "kill -SEGV $$"} << QByteArray() << QByteArray()
            << QByteArray() << -1 << SIGSEGV;
        QTest::newRow("input, then its end")
            << QByteArray("/bin/cat") << QList<QByteArray>{} << QByteArray("a\0b\nc", 5)
            << QByteArray("a\0b\nc", 5) << QByteArray() << 0 << 0;
        // cat writes as it reads: a runner that wrote all the input before
        // reading would wait on a full pipe while cat waited on the other.
        QTest::newRow("input while output flows") << QByteArray("/bin/cat") << QList<QByteArray>{}
                                                  << big << big << QByteArray() << 0 << 0;
        // Likewise for a runner that read standard output to its end first.
        QTest::newRow("standard error fills first")
            << zsh << QList<QByteArray>{"-c", "head -c 1048576 /dev/zero >&2; print -n done"}
            << QByteArray() << QByteArray("done") << megabyte << 0 << 0;
        // Writing to a child that never reads must not end us by SIGPIPE.
        QTest::newRow("input never read") << zsh << QList<QByteArray>{"-c", "exec <&-; exit 0"}
                                          << big << QByteArray() << QByteArray() << 0 << 0;
    }

    void exchange()
    {
        QFETCH(QByteArray, program);
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, errorOutput);
        QFETCH(int, exitStatus);
        QFETCH(int, signal);

        const CommandResult result =
            runCommand({program, arguments, {}, {}, input}, std::chrono::milliseconds(deadline));
        QVERIFY(result.started);
        QVERIFY(!result.timedOut);
        QVERIFY(!result.cancelled);
        QCOMPARE(result.output, output);
        QCOMPARE(result.errorOutput, errorOutput);
        QCOMPARE(result.exitStatus, exitStatus);
        QCOMPARE(result.signal, signal);
        QCOMPARE(result.succeeded(), exitStatus == 0 && signal == 0);
    }

    void environmentAndFolder()
    {
        FakeHome home;
        qputenv("BREVANE_TEST_KEPT", "kept");
        qputenv("BREVANE_TEST_REPLACED", "old");
        qputenv("BREVANE_TEST_REMOVED", "gone");
        const QByteArray tool = QFile::encodeName(home.writeStandin(u"tool"_s, {u"record=rec"_s}));
        const QByteArray folder = QFile::encodeName(home.path());
        const CommandResult result = runCommand(
            {tool,
             {"a b", ""},
             folder,
             {"BREVANE_TEST_REPLACED=new", "BREVANE_TEST_REMOVED", "BREVANE_TEST_ADDED=x=y"}},
            std::chrono::milliseconds(deadline));
        qunsetenv("BREVANE_TEST_KEPT");
        qunsetenv("BREVANE_TEST_REPLACED");
        qunsetenv("BREVANE_TEST_REMOVED");
        QVERIFY(result.succeeded());

        const StandinRecord record = home.record(u"rec"_s);
        QCOMPARE(record.arguments, (QList<QByteArray>{"a b", ""}));
        QCOMPARE(record.workingFolder, folder);
        QCOMPARE(record.value("BREVANE_TEST_KEPT"), QByteArray("kept"));
        QCOMPARE(record.value("BREVANE_TEST_REPLACED"), QByteArray("new"));
        QCOMPARE(record.value("BREVANE_TEST_ADDED"), QByteArray("x=y"));
        QVERIFY(!record.environment.contains("BREVANE_TEST_REMOVED=gone"));
        QCOMPARE(record.environment.count("BREVANE_TEST_REPLACED=new"), 1);
    }

    void notStarted_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<int>("error");

        QTest::newRow("no such program")
            << QByteArray("/nonexistent/tool") << QByteArray() << ENOENT;
        QTest::newRow("no such folder")
            << QByteArray("/bin/zsh") << QByteArray("/nonexistent/folder") << ENOENT;
    }

    void notStarted()
    {
        QFETCH(QByteArray, program);
        QFETCH(QByteArray, folder);
        QFETCH(int, error);

        const CommandResult result =
            runCommand({program, {"-c", "true"}, folder}, std::chrono::milliseconds(deadline));
        QVERIFY(!result.started);
        QCOMPARE(result.error, error);
        QVERIFY(!result.succeeded());
    }

    void outputToFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        CommandRequest request{"/bin/zsh", {"-c", "print -n to the file; print -u2 err"}};
        request.outputFd = file.handle();
        const CommandResult result = runCommand(request, std::chrono::milliseconds(deadline));
        file.close();
        QVERIFY(result.succeeded());
        QVERIFY(result.output.isEmpty());
        QCOMPARE(result.errorOutput, QByteArray("err\n"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("to the file"));
    }

    // Overrunning the time, or a raised cancel, kills the tool's whole group,
    // the job holding its output open too; what came before the time ran
    // out is kept.
    void endedEarlyKillsTheGroup_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("timeout") << false;
        QTest::newRow("cancel") << true;
    }
    void endedEarlyKillsTheGroup()
    {
        QFETCH(bool, cancel);
        FakeHome home;
        const QByteArray tool = QFile::encodeName(home.writeStandin(
            u"tool"_s, {u"{"_s, u"pid="_s + home.filePath(u"job"_s), u"pause"_s, u"}"_s,
                        u"out=early"_s, u"pid="_s + home.filePath(u"pid"_s), u"pause"_s}));
        const auto pid = [&](const QString& name) {
            return ProcessProbe::pidFrom(home.read(name));
        };
        WakeUpFd raised;
        std::thread canceller([&] {
            // Raised in any case, so that a missing pid fails the checks
            // below instead of hanging.
            if (cancel) {
                (void)QTest::qWaitFor([&] { return pid(u"pid"_s) && pid(u"job"_s); }, deadline);
                raised.raise();
            }
        });
        const CommandResult result =
            runCommand({tool}, cancel ? std::chrono::milliseconds(deadline) : 1000ms, &raised);
        canceller.join();
        QVERIFY(result.started);
        QCOMPARE(result.timedOut, !cancel);
        QCOMPARE(result.cancelled, cancel);
        QCOMPARE(result.signal, SIGKILL);
        if (!cancel) // a cancel may come before the output is read
            QCOMPARE(result.output, QByteArray("early"));
        const pid_t group = pid(u"pid"_s);
        const pid_t job = pid(u"job"_s);
        QVERIFY(group > 0 && job > 0);
        QVERIFY(waitFor(
            [&] { return ProcessProbe::gone(job) && ProcessProbe::children(group).isEmpty(); }));
    }
};

QTEST_GUILESS_MAIN(TestCommand)
#include "tst_command.moc"
