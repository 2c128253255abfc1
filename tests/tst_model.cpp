#include "model/brevanemodel.h"
#include "testsupport.h"

#include "platform/childprocess.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

struct ToolRunnerTestAccess {
    static std::shared_ptr<ChildProcess> process(const ToolRunner& r) { return r.m_process; }
    static void setPath(ToolRunner& r, std::optional<QString> path) { r.setPath(std::move(path)); }
};
using Access = ToolRunnerTestAccess;

namespace {

const QByteArray recordArgs =
    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$HOME/args-$(basename \"$0\")\"\n";
// Runs until the test creates $HOME/release-<name>.
const QByteArray waitForRelease =
    "echo started\nwhile [ ! -e \"$HOME/release-$(basename \"$0\")\" ]; do sleep 0.02; done\n";

bool waitForScan(BrevaneModel& model)
{
    return QTest::qWaitFor([&] { return !model.scanning(); }, 20000);
}

} // namespace

class TestModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // A ZDOTDIR of the developer's would hide the temporary home's profile.
        qunsetenv("ZDOTDIR");
    }

    void newModelHasIdleRunnersAndSearchesNothing()
    {
        FakeHome home;
        home.writeTool(QStringLiteral(".local/bin/gemini"), "exit 0\n");
        home.writeFile(QStringLiteral(".zprofile"), "touch \"$HOME/shell-ran\"\n");
        BrevaneModel model;
        QCOMPARE(model.runners().size(), 3);
        QStringList names;
        for (const ToolRunner* r : model.runners()) {
            names << r->spec().name;
            QVERIFY(r->state().isIdle());
            QVERIFY(!r->path());
            QVERIFY(r->output().isEmpty());
        }
        QCOMPARE(names, (QStringList{QStringLiteral("claude"), QStringLiteral("gemini"),
                                     QStringLiteral("hermes")}));
        QCOMPARE(model.task(), QString());
        QVERIFY(model.scanning());
        QVERIFY(!model.anyRunning());
        QVERIFY(!model.anyInstalled());
        QCoreApplication::processEvents();
        QVERIFY(!model.runners()[1]->path());
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("shell-ran"))));
    }

    void scanAssignsPathsByPosition()
    {
        FakeHome home;
        const QString gemini = home.writeTool(QStringLiteral(".local/bin/gemini"), "exit 0\n");
        BrevaneModel model;
        QSignalSpy spy(&model, &BrevaneModel::objectWillChange);
        model.scan();
        QCOMPARE(spy.count(), 1);
        model.scan(); // already scanning: still one notification
        QCOMPARE(spy.count(), 2);
        QVERIFY(waitForScan(model));
        QVERIFY(!model.runners()[0]->path());
        QCOMPARE(model.runners()[1]->path(), std::optional<QString>(gemini));
        QVERIFY(!model.runners()[2]->path());
        QVERIFY(model.anyInstalled());
    }

    void rescanMovesPathsAndLeavesRunsAlone()
    {
        FakeHome home;
        home.writeTool(QStringLiteral(".local/bin/claude"), waitForRelease);
        home.writeTool(QStringLiteral(".local/bin/gemini"), "echo finished\n");
        BrevaneModel model;
        model.scan();
        QVERIFY(waitForScan(model));
        model.setTask(QStringLiteral("go"));
        model.start();
        ToolRunner* claude = model.runners()[0];
        ToolRunner* gemini = model.runners()[1];
        QTRY_VERIFY_WITH_TIMEOUT(gemini->state().isDone(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(claude->output(), QStringLiteral("started\n"), 10000);

        // claude vanishes while running, gemini moves, hermes appears.
        QFile::remove(home.filePath(QStringLiteral(".local/bin/claude")));
        QFile::remove(home.filePath(QStringLiteral(".local/bin/gemini")));
        home.writeTool(QStringLiteral(".hermes/bin/gemini"), "echo moved\n");
        const QString hermes = home.writeTool(QStringLiteral(".npm-global/bin/hermes"), "\n");
        model.scan();
        QVERIFY(waitForScan(model));
        QVERIFY(!claude->path());
        QCOMPARE(gemini->path(), std::optional<QString>(home.path() + "/.hermes/bin/gemini"));
        QCOMPARE(model.runners()[2]->path(), std::optional<QString>(hermes));
        QVERIFY(claude->state().isRunning());
        QCOMPARE(claude->output(), QStringLiteral("started\n"));
        QCOMPARE(gemini->output(), QStringLiteral("finished\n"));
        QVERIFY(gemini->state().isDone());

        home.writeFile(QStringLiteral("release-claude"), "");
        QTRY_VERIFY_WITH_TIMEOUT(claude->state().isDone(), 10000);
    }

    void startTrimsAndRunsInstalledTools_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blanks and a line break") << QStringLiteral("  a  b \n") << "a  b";
        QTest::newRow("unicode spaces and breaks")
            << QStringLiteral("\u00a0\t\u2028x\u3000y\u0085\r\n") << QStringLiteral("x\u3000y");
        QTest::newRow("blank only") << QStringLiteral(" \t\n\u2029 ") << QString();
    }
    void startTrimsAndRunsInstalledTools()
    {
        QFETCH(QString, task);
        QFETCH(QString, expected);
        FakeHome home;
        home.writeTool(QStringLiteral(".local/bin/claude"), recordArgs);
        home.writeTool(QStringLiteral(".hermes/bin/hermes"), recordArgs);
        BrevaneModel model;
        model.scan();
        QVERIFY(waitForScan(model));
        model.setTask(task);

        // Each runner notification is forwarded at once (the forwarding
        // connection comes first); the model's own notification comes last.
        QStringList events;
        for (ToolRunner* r : model.runners())
            connect(r, &ToolRunner::objectWillChange, &model,
                    [&events, r] { events << r->spec().name; });
        connect(&model, &BrevaneModel::objectWillChange, &model,
                [&events] { events << QStringLiteral("model"); });
        model.start();
        QCOMPARE(model.task(), task);
        if (expected.isEmpty()) {
            QVERIFY(events.isEmpty());
            QVERIFY(!model.anyRunning());
            return;
        }
        // Output reset and Running for claude, then hermes; each forwarded once.
        QCOMPARE(events, (QStringList{"model", "claude", "model", "claude", "model", "hermes",
                                      "model", "hermes", "model"}));
        QVERIFY(model.anyRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!model.anyRunning(), 10000);
        QCOMPARE(home.read(QStringLiteral("args-claude")),
                 "-p" + QByteArray(1, '\0') + expected.toUtf8() + '\0');
        QCOMPARE(home.read(QStringLiteral("args-hermes")),
                 QByteArray("chat\0-q\0", 8) + expected.toUtf8() + '\0');
        QVERIFY(model.runners()[1]->state().isIdle());
    }

    void startWithoutInstalledToolsOnlyNotifies()
    {
        FakeHome home;
        BrevaneModel model;
        model.scan();
        QVERIFY(waitForScan(model));
        model.setTask(QStringLiteral("task"));
        QSignalSpy spy(&model, &BrevaneModel::objectWillChange);
        model.start();
        QCOMPARE(spy.count(), 1);
        QVERIFY(!model.anyRunning());
    }

    void stopAllStopsOnlyRunningChildren()
    {
        FakeHome home;
        home.writeTool(QStringLiteral(".local/bin/claude"), waitForRelease);
        home.writeTool(QStringLiteral(".local/bin/gemini"), waitForRelease);
        home.writeTool(QStringLiteral(".local/bin/hermes"), "echo quick\n");
        BrevaneModel model;
        model.scan();
        QVERIFY(waitForScan(model));
        model.setTask(QStringLiteral("t"));
        model.start();
        ToolRunner* hermes = model.runners()[2];
        QTRY_VERIFY_WITH_TIMEOUT(hermes->state().isDone(), 10000);
        const pid_t pids[] = {Access::process(*model.runners()[0])->pid(),
                              Access::process(*model.runners()[1])->pid()};

        QSignalSpy spy(&model, &BrevaneModel::objectWillChange);
        model.stopAll();
        QCOMPARE(spy.count(), 3); // two forwarded state changes, then its own
        for (int i = 0; i < 2; ++i) {
            QVERIFY(model.runners()[i]->state().isStopped());
            QVERIFY(!Access::process(*model.runners()[i]));
        }
        QVERIFY(hermes->state().isDone());
        QVERIFY(!model.anyRunning());
        for (pid_t pid : pids)
            QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, 10000);
        // Their ends arrive later and change nothing.
        QTest::qWait(300);
        QVERIFY(model.runners()[0]->state().isStopped());

        spy.clear();
        model.stopAll();
        QCOMPARE(spy.count(), 1);
    }

    void stopAllLeavesAChildThatHasJustEnded()
    {
        FakeHome home;
        home.writeTool(QStringLiteral(".local/bin/claude"), "echo bye\n");
        BrevaneModel model;
        model.scan();
        QVERIFY(waitForScan(model));
        model.setTask(QStringLiteral("t"));
        model.start();
        ToolRunner* claude = model.runners()[0];
        const std::shared_ptr<ChildProcess> child = Access::process(*claude);
        QVERIFY(child);
        QTRY_VERIFY_WITH_TIMEOUT(!child->isRunning(), 10000);
        if (!claude->state().isRunning())
            QSKIP("the end was recorded before the test could look");
        model.stopAll();
        QVERIFY(claude->state().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(claude->state().isDone(), 10000);
        QCOMPARE(claude->state().status(), 0);
    }

    void forwardingEndsWithTheModel()
    {
        FakeHome home;
        // A slow login shell keeps the scan busy while the model goes away.
        home.writeFile(QStringLiteral(".zprofile"),
                       "sleep 0.3; echo x >> \"$HOME/profile-runs\"\n");
        auto* model = new BrevaneModel;
        ToolRunner* runner = model->runners()[0];
        QSignalSpy modelSpy(model, &BrevaneModel::objectWillChange);
        QSignalSpy runnerSpy(runner, &ToolRunner::objectWillChange);
        Access::setPath(*runner, QStringLiteral("/bin/true"));
        Access::setPath(*runner, std::nullopt);
        QCOMPARE(runnerSpy.count(), 2);
        QCOMPARE(modelSpy.count(), 2);

        model->scan();
        delete model;
        // Three shells, one per tool: the scan is over once all have run.
        QTRY_COMPARE_WITH_TIMEOUT(home.read(QStringLiteral("profile-runs")).count('x'), 3, 20000);
        QTest::qWait(200); // let the scan's result unit arrive and find the model gone
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
