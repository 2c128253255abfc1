#include "runner/toolrunner.h"
#include "testsupport.h"

#include "platform/mainthread.h"
#include "text/escapes.h"
#include "text/utf8.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <thread>

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
        return waitFor([&] { return !runner.state().isRunning(); }) && runner.state().isDone();
    }
    QString file(const QString& name) const { return home.filePath(name); }
    pid_t pidIn(const QString& name) const { return ProcessProbe::pidFrom(home.read(name)); }
};

// Blocks the calling thread until the tool sits in write() on a full pipe
// that nobody reads: it is not woken between two looks. Linux only.
template <typename Pid> bool waitsOnAFullPipe(Pid pid)
{
    auto wakeUps = [&] {
        QFile wchan(u"/proc/%1/wchan"_s.arg(pid()));
        QFile status(u"/proc/%1/status"_s.arg(pid()));
        const bool writing =
            wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("pipe_write");
        const QByteArray all = writing && status.open(QIODevice::ReadOnly) ? status.readAll() : "";
        return all.mid(all.indexOf("voluntary_ctxt_switches"));
    };
    const QDeadlineTimer until(deadline);
    for (QByteArray last; !until.hasExpired(); QThread::msleep(20)) {
        const QByteArray now = pid() > 0 ? wakeUps() : QByteArray();
        if (!now.isEmpty() && now == std::exchange(last, now))
            return true;
    }
    return false;
}

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void outputAndEnd_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("status");
        QTest::newRow("stdout and stderr in write order, exit 3")
            << QStringList{u"out=o1\\n"_s, u"err=e1\\n"_s, u"out=o2\\n"_s, u"err=e2\\n"_s,
                           u"exit=3"_s}
            << u"o1\ne1\no2\ne2\n"_s << 3;
        // At the end the decoder holds part of a character, whose U+FFFD
        // still belongs to the title the cleaner is in.
        QTest::newRow("unfinished title, a cut character, killed by a signal")
            << QStringList{u"out=x\\e]0;t"_s, u"out=\\xe2\\x82"_s, u"kill=9"_s} << u"x"_s << 9;
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

    // Finished must never show before the last byte: the end is announced
    // once the pipe is at end of stream, not after a guessed pause. Random
    // bytes, cut into reads anywhere, end as decoding and cleaning them at
    // once gives. Every other run the GUI thread is busy until the tool
    // waits on a full pipe, left unread while the hand-over queue is full.
    void doneComesAfterTheLastByte()
    {
        Rig rig;
        QByteArray bytes(2 << 20, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        rig.install(
            {u"pid="_s + rig.file(u"pid"_s), u"cat="_s + rig.home.writeFile(u"bytes"_s, bytes)});
        const QString expected = removeEscapes(decodeUtf8(bytes));
        QString atDone;
        connect(&rig.runner, &ToolRunner::changed, &rig.runner, [&] {
            if (rig.runner.state().isDone() && atDone.isNull())
                atDone = rig.runner.output();
        });
        for (int run = 0; run < 6; ++run, atDone = QString()) {
            QFile::remove(rig.file(u"pid"_s));
            rig.runner.run(u"t"_s);
            if (run % 2)
                QVERIFY(waitsOnAFullPipe([&] { return rig.pidIn(u"pid"_s); }));
            QVERIFY(waitFor([&] { return rig.runner.state().isDone(); }));
            QVERIFY(atDone == expected);
        }
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
    }

    // A background job of the tool keeps the pipe open: the run still ends,
    // and what the job writes later goes to that run.
    void backgroundJobHoldingThePipe()
    {
        Rig rig;
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        rig.install({u"{"_s, u"wait="_s + fifo, u"out=late\\n"_s, u"}"_s, u"out=early\\n"_s});
        QVERIFY(rig.runToEnd());
        QCOMPARE(rig.runner.output(), u"early\n"_s);
        QVERIFY(rig.home.release(fifo));
        QTRY_COMPARE_WITH_TIMEOUT(rig.runner.output(), u"early\nlate\n"_s, deadline);
        QVERIFY(rig.runner.state().isDone());
    }

    // Closing a window leaves its tools running; their output, still read,
    // reaches no one. A tool holds only its three standard descriptors,
    // standard input the null device, also while another runs: a pipe of one
    // held open by the other would keep back its end of stream.
    void toolOutlivesItsRunnerHoldingNoOtherDescriptor()
    {
        Rig rig;
        rig.install({u"pause"_s});
        rig.runner.run(u"t"_s);
        rig.install({u"pid="_s + rig.file(u"pid"_s), u"flood=tick\\n"_s}, u"second"_s);
        auto second = std::make_unique<ToolRunner>(rig.owner, ToolSpec::all()[1]);
        second->setDiscovery(rig.runner.discovery());
        second->run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(second->output().contains(u"tick"_s), deadline);
        const pid_t pid = rig.pidIn(u"pid"_s);
        const QString fds = u"/proc/%1/fd/"_s.arg(pid);
        QCOMPARE(ProcessProbe::countEntries(fds), 3);
        QCOMPARE(QFile::symLinkTarget(fds + u"0"_s), u"/dev/null"_s);
        second.reset();
        for (int turn = 0; turn < 100; ++turn)
            QCoreApplication::processEvents();
        QVERIFY(!ProcessProbe::gone(pid) && rig.owner.threadCount() == 2);
        ::kill(-pid, SIGKILL);
        rig.runner.stop();
    }

    // Units from another thread run on this one, in the order handed over.
    void handOverKeepsOrder()
    {
        QList<int> order, expected;
        ProcessOwner owner;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                owner.handOver([&, i] { order << (MainThread::isCurrent() ? i : -1); });
        });
        worker.join();
        for (int i = 0; i < 100; ++i)
            expected << i;
        QTRY_COMPARE_WITH_TIMEOUT(order, expected, deadline);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
