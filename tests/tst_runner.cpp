#include "runner/toolrunner.h"
#include "testsupport.h"

#include "platform/childprocess.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

// The window model's side of a runner, for driving one runner alone.
struct ToolRunnerTestAccess {
    static void setPath(ToolRunner& r, std::optional<QString> path) { r.setPath(std::move(path)); }
    static std::shared_ptr<ChildProcess> process(const ToolRunner& r) { return r.m_process; }
    static void stop(ToolRunner& r)
    {
        if (!r.m_process || !r.m_process->isRunning())
            return;
        r.setState(RunState::stopped());
        r.m_process->terminate();
        r.m_process.reset();
    }
};
using Access = ToolRunnerTestAccess;

namespace {

const ToolSpec& spec(int i)
{
    return ToolSpec::all()[i];
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

QList<QByteArray> splitNul(const QByteArray& bytes)
{
    QList<QByteArray> parts = bytes.split('\0');
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    return parts;
}

// Records its arguments, NUL-separated, into $HOME/args.
const QByteArray recordArgs = "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$HOME/args\"\n";

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void taskReachesToolAsOneArgument_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QString>("task");
        QTest::newRow("plain") << 0 << QStringLiteral("hello world");
        QTest::newRow("quotes and shell syntax")
            << 1 << QStringLiteral("say \"hi\" 'there' $HOME `id` $(touch x) \\ ; && | *");
        QTest::newRow("line break and leading dash") << 0 << QStringLiteral("-rf\nsecond line");
        QTest::newRow("non-ASCII")
            << 2 << QStringLiteral("héllo wörld — 日本語 🙂 مرحبا");
    }
    void taskReachesToolAsOneArgument()
    {
        QFETCH(int, tool);
        QFETCH(QString, task);
        FakeHome home;
        ToolRunner runner(spec(tool));
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), recordArgs));
        runner.run(task);
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        QCOMPARE(runner.state().status(), 0);

        QList<QByteArray> expected;
        for (const QString& arg : spec(tool).args)
            expected.push_back(arg.toUtf8());
        expected.push_back(task.toUtf8());
        QCOMPARE(splitNul(home.read(QStringLiteral("args"))), expected);
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("x"))));
    }

    void environmentIsInheritedPlusFourVariables()
    {
        FakeHome home;
        qputenv("BV_TASK", "inherited value must be replaced");
        qputenv("BREVANE_TEST_MARKER", "kept as is");
        ToolRunner runner(spec(0));
        Access::setPath(runner,
                        home.writeTool(QStringLiteral("bin/tool"), "env -0 > \"$HOME/env\"\n"));
        runner.run(QStringLiteral("the task"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        qunsetenv("BV_TASK");
        qunsetenv("BREVANE_TEST_MARKER");

        QMap<QByteArray, QByteArray> seen;
        for (const QByteArray& entry : splitNul(home.read(QStringLiteral("env")))) {
            const qsizetype eq = entry.indexOf('=');
            seen.insert(entry.left(eq), entry.mid(eq + 1));
        }
        QCOMPARE(seen.value("BV_BIN"), QFile::encodeName(*runner.path()));
        QCOMPARE(seen.value("BV_TASK"), QByteArray("the task"));
        QCOMPARE(seen.value("NO_COLOR"), QByteArray("1"));
        QCOMPARE(seen.value("TERM"), QByteArray("dumb"));
        QCOMPARE(seen.value("BREVANE_TEST_MARKER"), QByteArray("kept as is"));
        QCOMPARE(seen.value("HOME"), QFile::encodeName(home.path()));
    }

    void outputIsMergedAndCleaned_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("stdout and stderr in write order")
            << QByteArray("echo out1; echo err1 >&2; echo out2; echo err2 >&2\n")
            << QStringLiteral("out1\nerr1\nout2\nerr2\n");
        QTest::newRow("multi-byte character split across writes")
            << QByteArray("printf '\\342\\202'; sleep 0.2; printf '\\254 euro\\n'\n")
            << QStringLiteral("€ euro\n");
        QTest::newRow("escape split across writes")
            << QByteArray("printf 'x\\033[3'; sleep 0.2; printf '1my\\n'\n")
            << QStringLiteral("xy\n");
        // At the end both the cleaner and the decoder hold something back.
        QTest::newRow("unfinished escape, then a cut character at the end")
            << QByteArray("printf 'x\\033[3'; sleep 0.2; printf '\\342\\202'\n")
            << QStringLiteral("x\x1b[3\uFFFD");
    }
    void outputIsMergedAndCleaned()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, expected);
        FakeHome home;
        ToolRunner runner(spec(0));
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), script));
        runner.run(QStringLiteral("t"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        QCOMPARE(runner.output(), expected);
    }

    void endIsDoneWithStatusAfterPause_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("status");
        QTest::newRow("exit 0") << QByteArray("echo bye\nexit 0\n") << 0;
        QTest::newRow("exit 3") << QByteArray("echo bye\nexit 3\n") << 3;
        QTest::newRow("killed by signal") << QByteArray("echo bye\nkill -9 $$\n") << 9;
    }
    void endIsDoneWithStatusAfterPause()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, status);
        FakeHome home;
        ToolRunner runner(spec(0));
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), script));
        runner.run(QStringLiteral("t"));
        QVERIFY(runner.state().isRunning());
        QVERIFY(runner.output().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(runner.output() == QStringLiteral("bye\n"), 10000);
        // The end comes after the output; `done` waits a pause beyond that.
        QElapsedTimer sinceOutput;
        sinceOutput.start();
        QVERIFY(runner.state().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        QVERIFY2(sinceOutput.elapsed() >= 140, qPrintable(QString::number(sinceOutput.elapsed())));
        QCOMPARE(runner.state().status(), status);
        QVERIFY(!Access::process(runner));
    }

    void notificationsPrecedeEveryChange()
    {
        FakeHome home;
        ToolRunner runner(spec(0));
        QSignalSpy spy(&runner, &ToolRunner::objectWillChange);
        QVERIFY(spy.isValid());
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), "printf '\\033[0m'\n"));
        QCOMPARE(spy.count(), 1);
        Access::setPath(runner, runner.path()); // the same value still notifies
        QCOMPARE(spy.count(), 2);
        runner.run(QStringLiteral("t"));
        QCOMPARE(spy.count(), 4); // output emptied, then running
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        // A chunk that cleans to nothing still notifies once; then `done`.
        QVERIFY(spy.count() >= 6);
        QVERIFY(runner.output().isEmpty());
    }

    void launchFailureIsReportedAndNextRunStartsClean()
    {
        FakeHome home;
        ToolRunner runner(spec(0));
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), "echo ok\n"));
        // One environment string longer than the kernel takes: exec fails.
        runner.run(QString(2 * 1024 * 1024, QLatin1Char('x')));
        QVERIFY(runner.state().isFailed());
        QCOMPARE(runner.output(),
                 QStringLiteral("Failed to launch: ") + QString::fromLocal8Bit(strerror(E2BIG)));
        QVERIFY(!Access::process(runner));

        runner.run(QStringLiteral("short"));
        QVERIFY(runner.output().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        QCOMPARE(runner.output(), QStringLiteral("ok\n"));
    }

    void runWithoutPathChangesNothing()
    {
        ToolRunner runner(spec(1));
        QSignalSpy spy(&runner, &ToolRunner::objectWillChange);
        runner.run(QStringLiteral("task"));
        QVERIFY(runner.state().isIdle());
        QVERIFY(runner.output().isEmpty());
        QVERIFY(!Access::process(runner));
        QCOMPARE(spy.count(), 0);
    }

    void stoppedRunChangesNothingAfterwards()
    {
        FakeHome home;
        ToolRunner runner(spec(0));
        // Ignores SIGTERM and keeps printing: only the group SIGKILL ends it.
        const QString stubborn =
            home.writeTool(QStringLiteral("bin/stubborn"),
                           "trap '' TERM\n(sleep 1000) &\necho $! > \"$HOME/childpid\"\n"
                           "while :; do echo OLD; sleep 0.02; done\n");
        const QString fresh = home.writeTool(QStringLiteral("bin/fresh"), "echo NEW\n");
        Access::setPath(runner, stubborn);
        runner.run(QStringLiteral("t"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.output().contains(QStringLiteral("OLD")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!home.read(QStringLiteral("childpid")).isEmpty(), 10000);
        const pid_t toolPid = Access::process(runner)->pid();
        const pid_t childPid = home.read(QStringLiteral("childpid")).trimmed().toInt();

        Access::stop(runner);
        QVERIFY(runner.state().isStopped());
        const QString frozen = runner.output();

        // A new run at once: the stopped tool is still printing meanwhile.
        Access::setPath(runner, fresh);
        runner.run(QStringLiteral("t"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), 10000);
        QCOMPARE(runner.output(), QStringLiteral("NEW\n"));
        QVERIFY(!frozen.isEmpty());

        QTRY_VERIFY_WITH_TIMEOUT(processGone(toolPid) && processGone(childPid),
                                 ChildProcess::terminateGracePeriod.count() + 5000);
        QCOMPARE(runner.output(), QStringLiteral("NEW\n"));
        QVERIFY(runner.state().isDone());
    }

    void destroyedRunnerLeavesChildRunning()
    {
        FakeHome home;
        pid_t pid = 0;
        {
            ToolRunner runner(spec(0));
            Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"),
                                                   "while :; do echo tick; sleep 0.02; done\n"));
            runner.run(QStringLiteral("t"));
            QTRY_VERIFY_WITH_TIMEOUT(runner.output().contains(QStringLiteral("tick")), 10000);
            pid = Access::process(runner)->pid();
        }
        // Its output keeps arriving for a runner that is gone: nothing may crash.
        QTest::qWait(100);
        QVERIFY(!processGone(pid));
        ::kill(-pid, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 10000);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
