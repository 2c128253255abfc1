#include "processprobe.h"
#include "runner/toolrunner.h"
#include "testsupport.h"

#include "platform/childprocess.h"
#include "platform/processowner.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

// The window model's side of a runner, for driving one runner alone.
struct ToolRunnerTestAccess {
    static void setPath(ToolRunner& r, const std::optional<QString>& path)
    {
        Discovery found;
        if (path)
            found.path = QFile::encodeName(*path);
        r.setDiscovery(found);
    }
    static std::shared_ptr<ChildProcess> process(const ToolRunner& r) { return r.m_process; }
    static void stop(ToolRunner& r) { r.stop(); }
};
using Access = ToolRunnerTestAccess;

namespace {

constexpr int deadline = 10000; // ms

// A runner for one catalogue entry whose tool is a script in a temporary HOME.
struct Rig {
    explicit Rig(const QByteArray& script)
        : runner(owner, ToolSpec::all()[0])
    {
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), script));
    }
    explicit Rig(const QStringList& steps)
        : runner(owner, ToolSpec::all()[0])
    {
        Access::setPath(runner, home.writeStandin(QStringLiteral("bin/tool"), steps));
    }
    bool runToEnd(const QString& task)
    {
        runner.run(task);
        return QTest::qWaitFor([&] { return runner.state().isDone(); }, deadline);
    }
    FakeHome home;
    ProcessOwner owner;
    ToolRunner runner;
};

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void environmentIsInheritedPlusFourVariables()
    {
        qputenv("BV_TASK", "inherited value must be replaced");
        Rig rig("env -0 > \"$HOME/env\"\n");
        QVERIFY(rig.runToEnd(QStringLiteral("the task")));
        qunsetenv("BV_TASK");

        // HOME is inherited: FakeHome set it in this process.
        const QList<QByteArray> env = rig.home.read(QStringLiteral("env")).split('\0');
        for (const QByteArray& entry :
             {"BV_BIN=" + *rig.runner.path(), QByteArray("BV_TASK=the task"),
              QByteArray("NO_COLOR=1"), QByteArray("TERM=dumb"),
              "HOME=" + QFile::encodeName(rig.home.path())})
            QVERIFY2(env.contains(entry), entry.constData());
        QVERIFY(!env.contains("BV_TASK=inherited value must be replaced"));
    }

    void outputAndEnd_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("status");
        QTest::newRow("stdout and stderr in write order")
            << QByteArray("echo out1; echo err1 >&2; echo out2; echo err2 >&2\n")
            << QStringLiteral("out1\nerr1\nout2\nerr2\n") << 0;
        QTest::newRow("multi-byte character split across writes, exit 3")
            << QByteArray("printf '\\342\\202'; sleep 0.2; printf '\\254 euro\\n'; exit 3\n")
            << QStringLiteral("€ euro\n") << 3;
        QTest::newRow("escape split across writes, killed by a signal")
            << QByteArray("printf 'x\\033[3'; sleep 0.2; printf '1my\\n'; kill -9 $$\n")
            << QStringLiteral("xy\n") << 9;
        // Both the cleaner and the decoder hold something back when the
        // stream ends (here a while before the tool does).
        QTest::newRow("unfinished escape, then a cut character at the end")
            << QByteArray("printf 'x\\033[3'; sleep 0.2; printf '\\342\\202'\n"
                          "exec >&- 2>&-; sleep 0.2\n")
            << QStringLiteral("x\x1b[3\uFFFD") << 0;
    }
    void outputAndEnd()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, expected);
        QFETCH(int, status);
        Rig rig(script);
        rig.runner.run(QStringLiteral("t"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.runner.output(), expected, deadline);
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner.state().isDone(), deadline);
        QCOMPARE(rig.runner.state().status(), status);
        QCOMPARE(rig.runner.output(), expected);
    }

    void launchFailureAndEmptyRuns()
    {
        Rig rig("printf '\\033[0m'\n");
        ToolRunner& runner = rig.runner;
        const std::optional<QString> path = QFile::decodeName(*runner.path());
        Access::setPath(runner, std::nullopt);
        runner.run(QStringLiteral("t")); // without a path: changes nothing
        QVERIFY(runner.state().isIdle() && !Access::process(runner));
        Access::setPath(runner, path);

        // One environment string longer than the kernel takes: exec fails.
        runner.run(QString(2 * 1024 * 1024, QLatin1Char('x')));
        QVERIFY(runner.state().isFailed() && !Access::process(runner));
        QCOMPARE(runner.output(),
                 QStringLiteral("Failed to launch: ") + QString::fromLocal8Bit(strerror(E2BIG)));

        QSignalSpy spy(&runner, &ToolRunner::changed);
        runner.run(QStringLiteral("t"));
        QVERIFY(spy.count() >= 1);
        QVERIFY(runner.output().isEmpty() && runner.state().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), deadline);
        QVERIFY(runner.output().isEmpty());
    }

    void stoppedRunChangesNothingAfterwards()
    {
        // Ignores SIGTERM and keeps printing: only the group SIGKILL ends it.
        Rig rig("trap '' TERM\n(sleep 1000) &\necho $! > \"$HOME/childpid\"\n"
                "while :; do echo OLD; sleep 0.02; done\n");
        ToolRunner& runner = rig.runner;
        runner.run(QStringLiteral("t"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.output().contains(QStringLiteral("OLD")), deadline);
        const pid_t toolPid = Access::process(runner)->pid();
        const pid_t childPid = rig.home.read(QStringLiteral("childpid")).trimmed().toInt();
        QVERIFY(childPid > 0);

        Access::stop(runner);
        const QString frozen = runner.output();
        QVERIFY(!QTest::qWaitFor([&] { return runner.output() != frozen; }, 300));

        // A new run while the stopped tool still prints.
        Access::setPath(runner, rig.home.writeTool(QStringLiteral("bin/fresh"), "echo NEW\n"));
        QVERIFY(rig.runToEnd(QStringLiteral("t")));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(toolPid) && ProcessProbe::gone(childPid),
                                 ChildProcess::terminateGracePeriod.count() + 5000);
        // Neither the stopped tool's last chunks nor its end reach the new run.
        QVERIFY(!QTest::qWaitFor(
            [&] { return runner.output() != "NEW\n" || runner.state().status() != 0; }, 500));
    }

    // Finished must never show before the last line: the end is announced
    // only once the pipe is at end of stream, not after a guessed pause.
    void doneComesAfterTheLastByte()
    {
        QStringList steps;
        QString expected;
        for (int i = 0; i < 8; ++i) {
            const QString chunk = QString(60000, QChar(u'a' + i)) + u'\n';
            steps << u"out="_s + chunk;
            expected += chunk;
        }
        steps << u"out=last\\n"_s;
        expected += u"last\n"_s;
        Rig rig(steps);
        for (int run = 0; run < 5; ++run) {
            QString atDone;
            QMetaObject::Connection watch =
                connect(&rig.runner, &ToolRunner::changed, &rig.runner, [&] {
                    if (rig.runner.state().isDone() && atDone.isNull())
                        atDone = rig.runner.output();
                });
            QVERIFY(rig.runToEnd(QStringLiteral("t")));
            disconnect(watch);
            QCOMPARE(atDone.size(), expected.size());
            QCOMPARE(atDone, expected);
        }
    }

    // A background job of the tool keeps the pipe open: the run still ends,
    // what the job writes later goes to that run, and none of it to the next.
    void backgroundJobHoldingThePipe()
    {
        Rig rig(QStringList{});
        rig.home.makeFifo(u"fifo"_s);
        Access::setPath(
            rig.runner,
            rig.home.writeStandin(u"bin/tool"_s, {u"{"_s, u"pid="_s + rig.home.filePath(u"gc"_s),
                                                  u"wait="_s + rig.home.filePath(u"fifo"_s),
                                                  u"out=late\\n"_s, u"}"_s, u"out=early\\n"_s}));
        QVERIFY(rig.runToEnd(QStringLiteral("t")));
        QCOMPARE(rig.runner.output(), u"early\n"_s);
        QCOMPARE(rig.runner.state().status(), 0);
        QTRY_VERIFY(ProcessProbe::pidFrom(rig.home.read(u"gc"_s)) > 0);
        const pid_t job = ProcessProbe::pidFrom(rig.home.read(u"gc"_s));
        QVERIFY(!ProcessProbe::gone(job));

        QVERIFY(rig.home.release(rig.home.filePath(u"fifo"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(rig.runner.output(), u"early\nlate\n"_s, deadline);
        QVERIFY(rig.runner.state().isDone());

        // The next run starts while a new job waits, and ends before it writes.
        QVERIFY(rig.runToEnd(QStringLiteral("t")));
        QTRY_VERIFY(ProcessProbe::pidFrom(rig.home.read(u"gc"_s)) != job);
        const pid_t secondJob = ProcessProbe::pidFrom(rig.home.read(u"gc"_s));
        Access::setPath(rig.runner, rig.home.writeStandin(u"bin/other"_s, {u"out=other\\n"_s}));
        QVERIFY(rig.runToEnd(QStringLiteral("t")));
        QVERIFY(rig.home.release(rig.home.filePath(u"fifo"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(secondJob), deadline);
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
        QCoreApplication::processEvents();
        QCOMPARE(rig.runner.output(), u"other\n"_s);
    }

    void destroyedRunnerLeavesChildRunning()
    {
        FakeHome home;
        ProcessOwner owner;
        auto runner = std::make_unique<ToolRunner>(owner, ToolSpec::all()[0]);
        Access::setPath(*runner, home.writeTool(QStringLiteral("bin/tool"),
                                                "while :; do echo tick; echo >> \"$HOME/ticks\"; "
                                                "sleep 0.02; done\n"));
        runner->run(QStringLiteral("t"));
        QTRY_VERIFY_WITH_TIMEOUT(runner->output().contains(QStringLiteral("tick")), deadline);
        const pid_t pid = Access::process(*runner)->pid();
        runner.reset();
        // Output keeps arriving for a runner that is gone: nothing may crash.
        const qsizetype ticks = home.read(QStringLiteral("ticks")).size();
        QTRY_VERIFY_WITH_TIMEOUT(home.read(QStringLiteral("ticks")).size() > ticks + 5, deadline);
        QVERIFY(!ProcessProbe::gone(pid));
        ::kill(-pid, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(pid), deadline);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
