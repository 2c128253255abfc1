#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include "platform/childprocess.h"
#include "platform/mainthread.h"

#include <QSignalSpy>
#include <QTest>

struct ToolRunnerTestAccess {
    static std::shared_ptr<ChildProcess> process(const ToolRunner& r) { return r.m_process; }
};

namespace {

// Prints its arguments, each followed by "|".
const QByteArray printArgs = "printf '%s|' \"$@\"; echo\n";

// A temporary home and a model over it.
struct Rig {
    FakeHome home;
    BrevaneModel model;

    ToolRunner* runner(int i) const { return model.runners()[i]; }
    bool scanned()
    {
        return QTest::qWaitFor([&] { return !model.scanning(); }, 20000);
    }
    // Writes each tool into ~/.local/bin, then scans.
    bool scan(const QList<std::pair<QString, QByteArray>>& tools)
    {
        for (const auto& [name, body] : tools)
            home.writeTool(QStringLiteral(".local/bin/") + name, body);
        model.scan();
        return scanned();
    }
};

} // namespace

class TestModel : public QObject {
    Q_OBJECT
    int m_threads = 0; // before any test started one

private Q_SLOTS:
    void initTestCase() { m_threads = ProcessProbe::threads(); }

    void newModelSearchesNothingUntilScanFindsGemini()
    {
        Rig rig;
        const QString gemini = rig.home.writeTool(QStringLiteral(".local/bin/gemini"), "\n");
        rig.home.writeFile(QStringLiteral(".zprofile"), "touch \"$HOME/shell-ran\"\n");
        QCOMPARE(rig.model.runners().size(), 3);
        for (const ToolRunner* r : rig.model.runners())
            QVERIFY(r->state().isIdle() && !r->path());
        QCOMPARE(rig.model.task(), QString());
        QVERIFY(rig.model.scanning());

        // Without paths, start() runs nothing; it and stopAll() still notify once each.
        rig.model.setTask(QStringLiteral("task"));
        QSignalSpy spy(&rig.model, &BrevaneModel::objectWillChange);
        rig.model.start();
        QCOMPARE(spy.count(), 1);
        QVERIFY(!rig.model.anyRunning() && !rig.model.anyInstalled());
        rig.model.stopAll();
        QCOMPARE(spy.count(), 2);
        QVERIFY(!QFile::exists(rig.home.filePath(QStringLiteral("shell-ran"))));

        rig.model.scan();
        QCOMPARE(spy.count(), 3);
        rig.model.scan(); // already scanning: still one notification
        QCOMPARE(spy.count(), 4);
        QVERIFY(rig.scanned());
        QVERIFY(!rig.runner(0)->path());
        QCOMPARE(rig.runner(1)->path(), std::optional<QString>(gemini));
        QVERIFY(!rig.runner(2)->path());
        QVERIFY(rig.model.anyInstalled());
    }

    // One run: start() on the trimmed task, a rescan while it runs, stopAll().
    void startRescanAndStopAll()
    {
        Rig rig;
        const QByteArray runsOn = printArgs + "sleep 30\n";
        QVERIFY(rig.scan({{"claude", runsOn}, {"gemini", runsOn}, {"hermes", printArgs}}));
        rig.model.setTask(QStringLiteral(" \t\n\u2029 "));
        // Each runner notification is forwarded at once (the forwarding
        // connection comes first); the model's own notification comes last.
        QStringList events;
        for (ToolRunner* r : rig.model.runners())
            connect(r, &ToolRunner::objectWillChange, &rig.model,
                    [&events, r] { events << r->spec().name; });
        connect(&rig.model, &BrevaneModel::objectWillChange, &rig.model,
                [&events] { events << QStringLiteral("model"); });
        rig.model.start(); // blanks and line breaks only: nothing runs, nothing is sent
        QVERIFY(events.isEmpty());

        const QString task = QStringLiteral("  a  b \n");
        rig.model.setTask(task);
        rig.model.start();
        QCOMPARE(rig.model.task(), task);
        // setTask's own, then output reset and Running for each runner in
        // order, each forwarded once; start()'s own last.
        QCOMPARE(events,
                 (QStringList{"model", "model", "claude", "model", "claude", "model", "gemini",
                              "model", "gemini", "model", "hermes", "model", "hermes", "model"}));
        const QStringList outputs{"-p|a  b|\n", "-p|a  b|\n", "chat|-q|a  b|\n"};
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner(2)->state().isDone(), 10000);
        for (int i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(rig.runner(i)->output(), outputs[i], 10000);

        // claude vanishes while running, hermes moves after its run.
        QFile::remove(rig.home.filePath(QStringLiteral(".local/bin/claude")));
        QFile::remove(rig.home.filePath(QStringLiteral(".local/bin/hermes")));
        const QString moved = rig.home.writeTool(QStringLiteral(".hermes/bin/hermes"), "\n");
        QVERIFY(rig.scan({}));
        QVERIFY(!rig.runner(0)->path());
        QCOMPARE(rig.runner(1)->path(),
                 std::optional<QString>(rig.home.filePath(".local/bin/gemini")));
        QCOMPARE(rig.runner(2)->path(), std::optional<QString>(moved));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(rig.runner(i)->state().isRunning(), i < 2);
            QCOMPARE(rig.runner(i)->output(), outputs[i]);
        }
        QVERIFY(rig.runner(2)->state().isDone());
        QVERIFY(rig.model.anyRunning());

        // stopAll() still ends the child of claude, whose tool has vanished.
        const pid_t pids[] = {ToolRunnerTestAccess::process(*rig.runner(0))->pid(),
                              ToolRunnerTestAccess::process(*rig.runner(1))->pid()};
        QSignalSpy spy(&rig.model, &BrevaneModel::objectWillChange);
        rig.model.stopAll();
        QCOMPARE(spy.count(), 3); // two forwarded state changes, then its own
        for (int i = 0; i < 2; ++i) {
            QVERIFY(rig.runner(i)->state().isStopped());
            QVERIFY(!ToolRunnerTestAccess::process(*rig.runner(i)));
            QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(pids[i]), 10000);
        }
        QVERIFY(rig.runner(2)->state().isDone());
        QVERIFY(!rig.model.anyRunning());
    }

    void stopAllLeavesAChildThatHasJustEnded()
    {
        Rig rig;
        QVERIFY(rig.scan({{"claude", "echo bye\n"}}));
        rig.model.setTask(QStringLiteral("t"));
        rig.model.start();
        ToolRunner* claude = rig.runner(0);
        const std::shared_ptr<ChildProcess> child = ToolRunnerTestAccess::process(*claude);
        QVERIFY(child);
        QTRY_VERIFY_WITH_TIMEOUT(!child->isRunning(), 10000);
        if (!claude->state().isRunning())
            QSKIP("the end was recorded before the test could look");
        rig.model.stopAll();
        QVERIFY(claude->state().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(claude->state().isDone(), 10000);
        QCOMPARE(claude->state().status(), 0);
    }

    // A scan that ends after a later one must not bring back what it saw.
    void overlappingScansKeepTheLatest()
    {
        Rig rig;
        // Only the first login shell waits, until $HOME/hold is gone.
        rig.home.writeFile(QStringLiteral(".zprofile"),
                           "mkdir \"$HOME/first\" 2>/dev/null && "
                           "while [ -e \"$HOME/hold\" ]; do sleep 0.02; done\n");
        rig.home.writeFile(QStringLiteral("hold"), "");
        rig.model.scan();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(rig.home.filePath(QStringLiteral("first"))), 10000);
        const QString claude = rig.home.writeTool(QStringLiteral(".local/bin/claude"), "\n");
        rig.model.scan();
        QVERIFY(rig.scanned());
        QCOMPARE(rig.runner(0)->path(), std::optional<QString>(claude));

        QFile::remove(rig.home.filePath(QStringLiteral("hold")));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), m_threads, 20000);
        bool ran = false;
        MainThread::handOver([&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 10000);
        QCOMPARE(rig.runner(0)->path(), std::optional<QString>(claude));
        QVERIFY(!rig.model.scanning());
    }

    void modelDestroyedDuringScan()
    {
        // Earlier tests' reader and watcher threads are detached: let them end.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), m_threads, 20000);
        FakeHome home;
        // A slow login shell keeps the scan busy while the model goes away.
        home.writeFile(QStringLiteral(".zprofile"), "sleep 0.3\n");
        auto* model = new BrevaneModel;
        model->scan();
        delete model;
        // Once the scan's thread has ended its result is queued, and queued
        // units run in order: when this one has run, that one found no model.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), m_threads, 20000);
        bool ran = false;
        MainThread::handOver([&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 10000);
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
