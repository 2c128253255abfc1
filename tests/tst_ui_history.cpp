#include "storesupport.h"
#include "testsupport.h"
#include "windowsupport.h"

#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "store/historystore.h"
#include "store/instancelock.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/historypanel.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

bool waitForScan(const MainWindow* window)
{
    return waitFor([window] { return !window->contentView()->model()->scanning(); });
}

// Runs `task` on the window's included tools and waits until none runs.
bool runAll(MainWindow* window, const QString& task)
{
    BrevaneModel* model = window->contentView()->model();
    model->setTask(task);
    model->start();
    return waitFor([model] { return !model->anyRunning(); });
}

// The session as the store has it now; none if it has not got it.
std::optional<StoredSession> load(HistoryStore& store, const QString& id)
{
    std::optional<StoredSession> found;
    bool answered = false;
    store.loadSession(id, [&](std::optional<StoredSession> session) {
        found = std::move(session);
        answered = true;
    });
    return waitFor([&] { return answered; }) ? found : std::nullopt;
}

QList<SessionSummary> list(HistoryStore& store, const QString& filter = {},
                           bool transcripts = false)
{
    QList<SessionSummary> found;
    bool answered = false;
    store.listSessions(filter, transcripts, [&](const QList<SessionSummary>& sessions) {
        found = sessions;
        answered = true;
    });
    waitFor([&] { return answered; });
    return found;
}

// A window's tool as another Brevane: runs in a process of its own on the
// history at argv[2], its instance lock in argv[3], and floods until killed.
int floodingChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    ProcessOwner owner;
    InstanceLock lock(QString::fromLocal8Bit(argv[3]));
    HistoryStore store(owner, QString::fromLocal8Bit(argv[2]), lock.id());
    const auto closeWindows = qScopeGuard(deleteWindows);
    auto* window = new MainWindow(AppServices{owner, &store}, qgetenv("HOME"));
    window->show(); // the scan starts with the window
    BrevaneModel* model = window->contentView()->model();
    while (model->scanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    model->setPlainOutput(true);
    model->setTask(u"flood"_s);
    model->start();
    std::printf("%s\n", qPrintable(lock.id()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    // A window's session goes to the history as it happens; a window that
    // opens it later shows every turn as it was and follows up in the same
    // conversations.
private Q_SLOTS:
    void aSessionIsKeptAndOpenedAgain()
    {
        FakeHome home;
        home.writeStandin(u".local/bin/claude"_s,
                          {u"record="_s + home.filePath(u"claude.args"_s), u"out=answer\\n"_s});
        home.writeStandin(u".local/bin/gemini"_s, {u"err=warned\\n"_s, u"exit=3"_s});
        ProcessOwner owner;
        HistoryStore store(owner, home.filePath(u"history.sqlite3"_s), u"me"_s);
        const auto closeWindows = qScopeGuard(deleteWindows);
        const AppServices app{owner, &store};
        QPointer<MainWindow> first = MainWindow::open(app, QFile::encodeName(home.path()));
        QVERIFY(waitForScan(first));
        BrevaneModel* model = first->contentView()->model();
        model->setIncluded(2, false);
        QVERIFY(runAll(first, u"first line\nsecond line"_s));
        QVERIFY(runAll(first, u"again"_s));
        const QString id = model->sessionId();
        AgentSession* claude = model->runners()[0];
        // Claude's check fails; gemini's still runs when the window goes,
        // which stops it.
        const QByteArray folder = QFile::encodeName(home.path());
        claude->runCheck("exit 3", folder, 1min);
        model->runners()[1]->runCheck("sleep 60", folder, 1min);
        QVERIFY(waitFor([&] { return !claude->checkRunning(); }));
        QVERIFY(model->runners()[1]->checkRunning());
        const QString shown = claude->output().toString();
        const QString conversation = claude->conversationId();
        QVERIFY(!conversation.isEmpty());
        delete first.data();
        QVERIFY(commitHistory(store));

        QPointer<MainWindow> second = MainWindow::open(app);
        QVERIFY(waitForScan(second));
        second->historyDock()->show();
        HistoryPanel* panel = second->historyPanel();
        QTRY_COMPARE_WITH_TIMEOUT(panel->list()->topLevelItemCount(), 1, deadline);
        QCOMPARE(panel->sessions().front().title, u"first line"_s);
        const auto states = panel->sessions().front().lastStates;
        QCOMPARE(states.size(), 2);
        panel->list()->topLevelItem(0)->setSelected(true);
        QVERIFY(panel->openButton()->isEnabled());
        panel->openButton()->click();
        BrevaneModel* reopened = second->contentView()->model();
        QTRY_COMPARE_WITH_TIMEOUT(reopened->sessionId(), id, deadline);
        AgentSession* claudeAgain = reopened->runners()[0];
        QCOMPARE(claudeAgain->output(), shown);
        QCOMPARE(claudeAgain->turns().size(), 2);
        QVERIFY(claudeAgain->state().isDone());
        QCOMPARE(claudeAgain->turnOutput(0), u"answer\n"_s);
        QCOMPARE(reopened->runners()[1]->state().status(), 3);
        QCOMPARE(reopened->runners()[1]->turnOutput(), u"warned\nCheck: sleep 60\n"_s);
        QCOMPARE(reopened->workingFolder(), QFile::encodeName(home.path()));
        const QStringList checks{u"Check failed with exit status 3"_s, u"Check stopped"_s};
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(AgentSession::describeCheck(reopened->runners()[i]->check().value()),
                     checks[i]);
            const auto* label =
                second->contentView()->columns()[i]->findChild<QLabel*>(u"checkLabel"_s);
            QTRY_COMPARE(label->text(), checks[i]);
            QVERIFY(label->isVisible());
        }

        // The next turn has no check yet, here or in the history.
        QVERIFY(runAll(second, u"third"_s));
        QVERIFY(!claudeAgain->check());
        QVERIFY(
            home.record(u"claude.args"_s).arguments.contains("--resume=" + conversation.toUtf8()));
        QVERIFY(commitHistory(store));
        const std::optional<StoredSession> kept = load(store, id);
        QVERIFY(kept);
        QCOMPARE(kept->agents.size(), 2);
        QCOMPARE(kept->agents[0].turns.size(), 3);
        QCOMPARE(kept->agents[0].transcript, claudeAgain->output().toString());
        QVERIFY(!kept->agents[0].check.outcome);
        delete second.data();
    }

    // A discard or delete under way is neither asked for again nor followed
    // by the other: either would find the worktrees half gone.
    void aRemovalUnderWayIsNotAskedForAgain()
    {
        FakeHome home;
        ProcessOwner owner;
        HistoryStore store(owner, home.filePath(u"history.sqlite3"_s), u"me"_s);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        store.write(SessionRow{u"s1"_s, "/r", now, now, u"Task"_s});
        store.write(WorktreeRow{
            u"s1"_s, u"claude"_s, "/r", "/w/claude", "abc", {}, WorktreeRow::State::Ready});
        QVERIFY(commitHistory(store));
        HistoryPanel panel(store);
        int removals = 0; // by a delete, which never ends here
        panel.setWorktreeDiscarder([&](const QStringList&, auto) { ++removals; });
        QSignalSpy discards(&panel, &HistoryPanel::discardRequested);
        QSignalSpy deletes(&panel, &HistoryPanel::deleting);
        QVERIFY(listedUntil(&panel, [&] { return panel.list()->topLevelItemCount() == 1; }));
        panel.list()->topLevelItem(0)->setSelected(true);
        panel.discardSelected(false);
        // Listed again meanwhile, it is still under way.
        QVERIFY(listedUntil(&panel, [&] { return panel.list()->topLevelItemCount() == 1; }));
        panel.discardSelected(false);
        panel.deleteSelected(false);
        QCOMPARE(discards.size(), 1);
        QCOMPARE(deletes.size(), 0);
        QVERIFY(!panel.discardButton()->isEnabled() && !panel.deleteButton()->isEnabled());
        panel.discardEnded({u"s1"_s});
        QVERIFY(panel.discardButton()->isEnabled() && panel.deleteButton()->isEnabled());
        panel.deleteSelected(false);
        panel.deleteSelected(false);
        panel.discardSelected(false);
        QCOMPARE(removals, 1);
        QCOMPARE(discards.size(), 1);
        QVERIFY(!panel.discardButton()->isEnabled() && !panel.deleteButton()->isEnabled());
    }

    // A session whose tools run cannot be deleted; its window closed, its
    // turns are Interrupted at once, and it can go.
    void closingAWindowInterruptsItsTurns()
    {
        FakeHome home;
        const QString fifo = home.makeFifo(u"fifo"_s);
        home.writeStandin(u".local/bin/claude"_s, {u"out=working\\n"_s, u"wait="_s + fifo});
        ProcessOwner owner;
        HistoryStore store(owner, home.filePath(u"history.sqlite3"_s), u"me"_s);
        const auto closeWindows = qScopeGuard(deleteWindows);
        const AppServices app{owner, &store};
        QPointer<MainWindow> running = MainWindow::open(app, QFile::encodeName(home.path()));
        QVERIFY(waitForScan(running));
        BrevaneModel* model = running->contentView()->model();
        model->setTask(u"long"_s);
        model->start();
        const QString id = model->sessionId();
        QVERIFY(waitFor([&] { return model->runners()[0]->output().contains(u"working"_s); }));

        QPointer<MainWindow> other = MainWindow::open(app);
        other->historyDock()->show();
        HistoryPanel* panel = other->historyPanel();
        QVERIFY(listedUntil(panel, [&] {
            return !panel->sessions().isEmpty() && panel->sessions().front().running;
        }));
        QCOMPARE(panel->list()->topLevelItemCount(), 1);
        panel->list()->topLevelItem(0)->setSelected(true);
        QVERIFY(!panel->deleteButton()->isEnabled() && !panel->openButton()->isEnabled());
        // Nor does the store delete it, whoever asks.
        store.deleteSessions({id});
        QVERIFY(load(store, id));

        running->close();
        QVERIFY(waitFor([&] { return !running; }));
        const std::optional<StoredSession> kept = load(store, id);
        QVERIFY(kept && !kept->agents.isEmpty());
        QCOMPARE(kept->agents[0].turns.back().stateCase, int(RunState::Case::Interrupted));
        QVERIFY(kept->agents[0].turns.back().instance.isEmpty());
        QVERIFY(kept->agents[0].transcript.contains(u"working"_s));

        QVERIFY(listedUntil(panel, [&] {
            return !panel->sessions().isEmpty() && !panel->sessions().front().running;
        }));
        panel->list()->topLevelItem(0)->setSelected(true);
        QVERIFY(panel->deleteButton()->isEnabled());
        panel->deleteSelected(false);
        QTRY_COMPARE_WITH_TIMEOUT(panel->list()->topLevelItemCount(), 0, deadline);
        QVERIFY(!load(store, id));
        QVERIFY(home.release(fifo));
        delete other.data();
    }

    // Output a job of the tool wrote after the turn ended, then New Session
    // at once, before the recorder's own time: the history has it all.
    void lateOutputIsKeptAtNewSession()
    {
        FakeHome home;
        const QString fifo = home.makeFifo(u"fifo"_s);
        home.writeStandin(u".local/bin/claude"_s,
                          {u"{"_s, u"wait="_s + fifo, u"out=late\\n"_s, u"}"_s, u"out=early\\n"_s});
        ProcessOwner owner;
        HistoryStore store(owner, home.filePath(u"history.sqlite3"_s), u"me"_s);
        const auto closeWindows = qScopeGuard(deleteWindows);
        QPointer<MainWindow> window =
            MainWindow::open(AppServices{owner, &store}, QFile::encodeName(home.path()));
        QVERIFY(waitForScan(window));
        BrevaneModel* model = window->contentView()->model();
        model->setPlainOutput(true);
        QVERIFY(runAll(window, u"go"_s));
        AgentSession* claude = model->runners()[0];
        QVERIFY(home.release(fifo));
        QVERIFY(waitFor([&] { return claude->output().endsWith(u"late\n"_s); }));
        const QString id = model->sessionId();
        const QString shown = claude->output().toString();
        model->newSession();
        const std::optional<StoredSession> kept = load(store, id);
        QVERIFY(kept && !kept->agents.isEmpty());
        QCOMPARE(kept->agents[0].transcript, shown);
    }

    // A history that cannot be kept leaves the app working and says why,
    // naming the file.
    void historyOffSaysWhy()
    {
        FakeHome home;
        home.writeFile(u"not-a-folder"_s, "x");
        ProcessOwner owner;
        const QString path = home.filePath(u"not-a-folder/history.sqlite3"_s);
        HistoryStore store(owner, path, u"me"_s);
        const auto closeWindows = qScopeGuard(deleteWindows);
        QPointer<MainWindow> window =
            MainWindow::open(AppServices{owner, &store}, QFile::encodeName(home.path()));
        QTRY_VERIFY_WITH_TIMEOUT(window->historyBar()->isVisible(), deadline);
        QVERIFY(window->historyBar()->text().contains(path));
        QVERIFY(!window->historyDock()->toggleViewAction()->isEnabled());
        QVERIFY(waitForScan(window));
        delete window.data();
    }

    // What the user set in one window holds in the next, history or not:
    // plain output, zoom, the history panel, and folders trusted, as bytes.
    void settingsOutliveTheWindow()
    {
        FakeHome home;
        home.writeStandin(u".local/bin/gemini"_s, {u"err=untrusted\\n"_s, u"exit=55"_s});
        const QByteArray odd = QFile::encodeName(home.path()) + "/caf\xe9";
        QCOMPARE(::mkdir(odd.constData(), 0700), 0);
        QSettings settings(home.filePath(u"brevane.conf"_s), QSettings::IniFormat);
        ProcessOwner owner;
        HistoryStore store(owner, home.filePath(u"history.sqlite3"_s), u"me"_s);
        const auto closeWindows = qScopeGuard(deleteWindows);
        const AppServices app{owner, &store, &settings};
        QPointer<MainWindow> first = MainWindow::open(app, odd);
        QVERIFY(waitForScan(first));
        BrevaneModel* model = first->contentView()->model();
        model->setIncluded(0, false);
        model->setIncluded(2, false);
        QVERIFY(runAll(first, u"look"_s));
        QVERIFY(model->canTrustFolderAndRetry(1));
        model->trustFolderAndRetry(1);
        QVERIFY(waitFor([&] { return !model->anyRunning(); }));
        model->setPlainOutput(true);
        first->contentView()->zoomBy(2);
        first->historyDock()->show();
        delete first.data();
        QCOMPARE(MainWindow::lastFolder(app), odd);

        QPointer<MainWindow> second = MainWindow::open(app);
        QVERIFY(second->contentView()->model()->plainOutput());
        QCOMPARE(second->contentView()->zoom(), 2.0);
        QVERIFY(second->historyDock()->isVisibleTo(second));
        QCOMPARE(second->contentView()->model()->trustedFolders(), QList<QByteArray>{odd});
        delete second.data();
    }

    // Brevane killed while three tools flood: the history keeps what was
    // committed, passes SQLite's own check, opens cleanly, and the turns the
    // dead Brevane ran are Interrupted.
    void aKilledBrevaneLeavesAHistoryThatOpens()
    {
        FakeHome home;
        const QStringList tools{u"claude"_s, u"gemini"_s, u"hermes"_s};
        for (const QString& tool : tools)
            home.writeStandin(u".local/bin/"_s + tool, {u"flood="_s + tool + u"\\n"_s});
        const QString path = home.filePath(u"history.sqlite3"_s);
        const QString instances = home.filePath(u"instances"_s);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {u"--flooding-child"_s, path, instances});
        QVERIFY(child.waitForStarted());
        QVERIFY(waitFor([&] { return child.canReadLine(); }));
        const QString childInstance = QString::fromUtf8(child.readLine().trimmed());
        QVERIFY(InstanceLock::isLive(instances, childInstance));

        ProcessOwner owner;
        std::optional<HistoryStore> reader(std::in_place, owner, path, u"reader"_s);
        QString id;
        QVERIFY(waitFor([&] {
            const QList<SessionSummary> sessions = list(*reader);
            if (sessions.isEmpty())
                return false;
            id = sessions.front().id;
            const std::optional<StoredSession> kept = load(*reader, id);
            return kept && kept->agents.size() == 3 &&
                   std::all_of(kept->agents.begin(), kept->agents.end(), [](const auto& agent) {
                       return agent.transcript.size() > (256 << 10);
                   });
        }));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());
        QVERIFY(!InstanceLock::isLive(instances, childInstance));
        reader.reset();
        {
            auto db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery check(u"PRAGMA integrity_check"_s, db);
            QVERIFY(check.next());
            QCOMPARE(check.value(0).toString(), u"ok"_s);
        }
        QSqlDatabase::removeDatabase(u"check"_s);

        InstanceLock alive(instances);
        HistoryStore store(owner, path, alive.id());
        const auto closeWindows = qScopeGuard(deleteWindows);
        QVERIFY(waitFor([&] { return store.isOn(); }));
        QVERIFY(store.whyOff().isEmpty() && store.note().isEmpty());
        int interrupted = -1;
        store.markInterrupted(
            [&](const QString& instance) { return InstanceLock::isLive(instances, instance); },
            int(RunState::Case::Interrupted), [&](int count) { interrupted = count; });
        QVERIFY(waitFor([&] { return interrupted >= 0; }));
        QCOMPARE(interrupted, 3);
        const std::optional<StoredSession> kept = load(store, id);
        QVERIFY(kept);
        for (const StoredAgent& agent : kept->agents) {
            QCOMPARE(agent.turns.back().stateCase, int(RunState::Case::Interrupted));
            const QString text = agent.transcript;
            QVERIFY(text.startsWith(u"> flood\n"_s));
            const QString body = text.sliced(8);
            const QString line = agent.agent.tool + u"\n"_s;
            QVERIFY(body == line.repeated(body.size() / line.size() + 1).first(body.size()));
        }
    }
};

int main(int argc, char** argv)
{
    if (argc > 3 && qstrcmp(argv[1], "--flooding-child") == 0)
        return floodingChild(argc, argv);
    QApplication app(argc, argv);
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ui_history.moc"
