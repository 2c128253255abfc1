#include "processprobe.h"
#include "runner/toolrunner.h"
#include "testsupport.h"

#include "platform/processowner.h"
#include "text/escapes.h"
#include "text/utf8.h"

#include <QRandomGenerator>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

// One runner for claude, whose tool is a stand-in in a temporary home.
struct Rig {
    FakeHome home;
    ProcessOwner owner;
    ToolRunner runner{owner, ToolSpec::all()[0]};

    // Installs a stand-in with `steps` at bin/<name> as the runner's tool.
    void install(const QStringList& steps, const QString& name = u"tool"_s)
    {
        Discovery found;
        found.path = QFile::encodeName(home.writeStandin(u"bin/"_s + name, steps));
        runner.setDiscovery(found);
    }
    bool runToEnd(const QString& task = u"t"_s)
    {
        runner.run(task);
        return QTest::qWaitFor([&] { return !runner.state().isRunning(); }, deadline) &&
               runner.state().isDone();
    }
    QString file(const QString& name) const { return home.filePath(name); }
    pid_t pidIn(const QString& name) const { return ProcessProbe::pidFrom(home.read(name)); }
};

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void toolGetsTaskArgumentsAndEnvironment()
    {
        qputenv("BV_TASK", "inherited value must be replaced");
        Rig rig;
        rig.install({u"record="_s + rig.file(u"record"_s)});
        QVERIFY(rig.runToEnd(u"the task"_s));
        qunsetenv("BV_TASK");
        const StandinRecord r = rig.home.record(u"record"_s);
        QCOMPARE(r.arguments, (QList<QByteArray>{"-p", "the task"}));
        QCOMPARE(r.value("BV_BIN"), *rig.runner.path());
        QCOMPARE(r.value("BV_TASK"), "the task");
        QCOMPARE(r.value("NO_COLOR"), "1");
        QCOMPARE(r.value("TERM"), "dumb");
        QCOMPARE(r.value("HOME"), QFile::encodeName(rig.home.path())); // inherited
    }

    void outputAndEnd_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("status");
        QTest::newRow("stdout and stderr in write order")
            << QStringList{u"out=o1\\n"_s, u"err=e1\\n"_s, u"out=o2\\n"_s, u"err=e2\\n"_s}
            << u"o1\ne1\no2\ne2\n"_s << 0;
        QTest::newRow("character split across writes, exit 3")
            << QStringList{u"out=\\xe2\\x82"_s, u"out=\\xac euro\\n"_s, u"exit=3"_s}
            << u"€ euro\n"_s << 3;
        QTest::newRow("escape split across writes, killed by a signal")
            << QStringList{u"out=x\\e[3"_s, u"out=1my\\n"_s, u"kill=9"_s} << u"xy\n"_s << 9;
        // Both the cleaner and the decoder hold something back at the end.
        QTest::newRow("unfinished escape, then a cut character at the end")
            << QStringList{u"out=x\\e[3"_s, u"out=\\xe2\\x82"_s} << u"x\x1b[3\uFFFD"_s << 0;
    }
    void outputAndEnd()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        QFETCH(int, status);
        Rig rig;
        rig.install(steps);
        QVERIFY(rig.runToEnd());
        QCOMPARE(rig.runner.output(), expected);
        QCOMPARE(rig.runner.state().status(), status);
    }

    // Finished must never show before the last line: the end is announced
    // once the pipe is at end of stream, not after a guessed pause.
    void doneComesAfterTheLastByte()
    {
        QStringList steps;
        QString expected;
        for (char c = 'a'; c < 'i'; ++c) {
            steps << u"out="_s + QString(60000, QLatin1Char(c)) + u"\\n"_s;
            expected += QString(60000, QLatin1Char(c)) + u'\n';
        }
        Rig rig;
        rig.install(steps);
        QString atDone;
        connect(&rig.runner, &ToolRunner::changed, &rig.runner, [&] {
            if (rig.runner.state().isDone() && atDone.isNull())
                atDone = rig.runner.output();
        });
        for (int run = 0; run < 5; ++run, atDone = QString()) {
            QVERIFY(rig.runToEnd());
            QVERIFY(atDone == expected);
        }
    }

    // 5 MiB of random bytes end as what decoding and cleaning them at once
    // gives: valid text, U+FFFD for every ill-formed byte.
    void randomBytesBecomeValidText()
    {
        Rig rig;
        QByteArray bytes(5 << 20, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        rig.home.writeFile(u"bytes"_s, bytes);
        rig.install({u"cat="_s + rig.file(u"bytes"_s)});
        QVERIFY(rig.runToEnd());
        QVERIFY(rig.runner.output() == removeEscapes(decodeUtf8(bytes)));
        QVERIFY(QStringView(rig.runner.output()).isValidUtf16());
    }

    void runsWithoutPathOrVisibleOutput()
    {
        Rig rig;
        rig.install({u"out=\\e[0m"_s});
        const Discovery found = rig.runner.discovery();
        rig.runner.setDiscovery({});
        rig.runner.run(u"t"_s); // without a path: changes nothing
        QVERIFY(rig.runner.state().isIdle());
        rig.runner.setDiscovery(found);
        QVERIFY(rig.runToEnd()); // output that cleans to nothing
        QVERIFY(rig.runner.output().isEmpty());
    }

    // Stop reaches the whole group even if it ignores SIGTERM, and nothing
    // of the stopped run reaches the next one.
    void stoppedRunChangesNothingAfterwards()
    {
        Rig rig;
        rig.install({u"ignore-term"_s, u"{"_s, u"pid="_s + rig.file(u"child"_s), u"pause"_s, u"}"_s,
                     u"pid="_s + rig.file(u"pid"_s), u"flood=OLD\\n"_s});
        rig.runner.run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner.output().contains(u"OLD"_s), deadline);
        QTRY_VERIFY(rig.pidIn(u"child"_s) > 0 && rig.pidIn(u"pid"_s) > 0);
        rig.runner.stop();
        QVERIFY(rig.runner.state().isStopped() && !rig.runner.canStop());
        const QString frozen = rig.runner.output();

        // The next run outlasts the stopped one, whose end must not end it.
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        rig.install({u"out=NEW\\n"_s, u"wait="_s + fifo}, u"fresh"_s);
        rig.runner.run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(rig.pidIn(u"pid"_s)) &&
                                     ProcessProbe::gone(rig.pidIn(u"child"_s)),
                                 deadline);
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 1, deadline);
        QVERIFY(rig.runner.state().isRunning());
        QVERIFY(rig.home.release(fifo));
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner.state().isDone(), deadline);
        QCOMPARE(rig.runner.output(), u"NEW\n"_s);
        QVERIFY(!frozen.isEmpty());
    }

    // A background job of the tool keeps the pipe open: the run still ends,
    // what the job writes later goes to that run, and none of it to the next.
    void backgroundJobHoldingThePipe()
    {
        Rig rig;
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        rig.install({u"{"_s, u"pid="_s + rig.file(u"job"_s), u"wait="_s + fifo, u"out=late\\n"_s,
                     u"}"_s, u"out=early\\n"_s});
        QVERIFY(rig.runToEnd());
        QCOMPARE(rig.runner.output(), u"early\n"_s);
        QTRY_VERIFY(rig.pidIn(u"job"_s) > 0);
        QVERIFY(rig.home.release(fifo));
        QTRY_COMPARE_WITH_TIMEOUT(rig.runner.output(), u"early\nlate\n"_s, deadline);
        QVERIFY(rig.runner.state().isDone());

        // Another run leaves a job waiting; the run after it ends first.
        const pid_t first = rig.pidIn(u"job"_s);
        QVERIFY(rig.runToEnd());
        QTRY_VERIFY(rig.pidIn(u"job"_s) != first);
        rig.install({u"out=other\\n"_s}, u"other"_s);
        QVERIFY(rig.runToEnd());
        QVERIFY(rig.home.release(fifo));
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
        QCoreApplication::processEvents();
        QCOMPARE(rig.runner.output(), u"other\n"_s);
    }

    // Closing a window leaves its tools running; their output, still read,
    // reaches no one.
    void destroyedRunnerLeavesChildRunning()
    {
        Rig rig;
        rig.install({u"pid="_s + rig.file(u"pid"_s), u"flood=tick\\n"_s});
        auto runner = std::make_unique<ToolRunner>(rig.owner, ToolSpec::all()[0]);
        runner->setDiscovery(rig.runner.discovery());
        runner->run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(runner->output().contains(u"tick"_s), deadline);
        runner.reset();
        for (int turn = 0; turn < 100; ++turn)
            QCoreApplication::processEvents();
        const pid_t pid = rig.pidIn(u"pid"_s);
        QVERIFY(!ProcessProbe::gone(pid) && rig.owner.threadCount() == 1);
        ::kill(-pid, SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
