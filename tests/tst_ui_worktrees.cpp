#include "gitsupport.h"
#include "storesupport.h"
#include "testsupport.h"
#include "vnckeyboard.h"
#include "windowsupport.h"

#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "store/historystore.h"
#include "ui/changesview.h"
#include "ui/columnview.h"
#include "ui/comparewindow.h"
#include "ui/contentview.h"
#include "ui/historypanel.h"
#include "ui/mainwindow.h"
#include "ui/sidebysideview.h"
#include "ui/transcriptview.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

// Separate worktrees through the window and its model: stand-in tools in a
// real repository, the real git and zsh, a real history file beside it.

namespace {

const QStringList toolNames{u"claude"_s, u"gemini"_s, u"hermes"_s};

// Only the words that widen what a tool may do, in the order given.
QList<QByteArray> accessWords(const QList<QByteArray>& arguments)
{
    static const QList<QByteArray> prefixes{"--add-dir",       "--permission-mode",
                                            "--allowedTools",  "--include-directories",
                                            "--approval-mode", "--yolo"};
    QList<QByteArray> words;
    for (const QByteArray& argument : arguments) {
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&](const QByteArray& prefix) { return argument.startsWith(prefix); }))
            words << argument;
    }
    return words;
}

QList<WorktreeRow> listWorktrees(HistoryStore& store)
{
    QList<WorktreeRow> found;
    bool answered = false;
    store.listWorktrees([&](QList<WorktreeRow> rows) {
        found = std::move(rows);
        answered = true;
    });
    return waitFor([&] { return answered; }) ? found : QList<WorktreeRow>{WorktreeRow{}};
}

// A home holding a repository at `top`, the stand-in tools, the history in
// a folder of its own (outside the repository unless a test says where)
// and the settings; the windows go before the history.
struct Rig {
    FakeHome home;
    const QByteArray root = canonical(bytes(home.path()));
    const QByteArray top = root + "/repo";
    ProcessOwner owner;
    std::optional<HistoryStore> store;
    QSettings settings{home.filePath(u"brevane.conf"_s), QSettings::IniFormat};

    explicit Rig(const QByteArray& historyFolder = "data")
    {
        store.emplace(owner, QFile::decodeName(root + '/' + historyFolder + "/history.sqlite3"),
                      u"me"_s);
    }
    ~Rig() { deleteWindows(); }

    bool write(const QByteArray& relative, const QByteArray& content) const
    {
        return writeFile(top + '/' + relative, content);
    }
    // A commit, then work the user has not committed: a change, a staged
    // change, a new staged file and an untracked one.
    bool makeRepository() const
    {
        return git(root, {"init", "-q", top}) && write("a.txt", "one\n") && write("c.txt", "c\n") &&
               write("sub/dir/b.txt", "b\n") && git(top, {"add", "-A"}) &&
               git(top, {"commit", "-qm", "first"}) && write("a.txt", "unstaged\n") &&
               write("c.txt", "staged\n") && write("staged.txt", "new\n") &&
               git(top, {"add", "c.txt", "staged.txt"}) && write("new file.txt", "untracked\n");
    }
    // A merge that stopped at a conflict.
    bool makeMerge() const
    {
        return git(root, {"init", "-q", top}) && write("a.txt", "base\n") &&
               git(top, {"add", "-A"}) && git(top, {"commit", "-qm", "base"}) &&
               git(top, {"checkout", "-qb", "other"}) && write("a.txt", "other\n") &&
               git(top, {"commit", "-qam", "other"}) && git(top, {"checkout", "-q", "main"}) &&
               write("a.txt", "main\n") && git(top, {"commit", "-qam", "main"}) &&
               !git(top, {"merge", "-q", "other"}, nullptr, true) &&
               modeOf(top + "/.git/MERGE_HEAD") != 0;
    }
    // The tool records how it ran, then does `steps`.
    void installTool(const QString& tool, const QStringList& steps) const
    {
        home.writeStandin(u".local/bin/"_s + tool,
                          QStringList{u"record="_s + home.filePath(tool + u".rec"_s)} + steps);
    }
    void installTools(const QStringList& steps = {}) const
    {
        for (const QString& tool : toolNames)
            installTool(tool, steps);
    }
    StandinRecord record(const QString& tool) const { return home.record(tool + u".rec"_s); }
    // Whether `tool` ran a turn on `task` (hermes also runs for its help).
    bool ran(const QString& tool, const QString& task) const
    {
        const QList<QByteArray> arguments = record(tool).arguments;
        return !arguments.isEmpty() && arguments.back() == task.toUtf8();
    }

    // A window on `folder`, once it knows its tools and its repository.
    MainWindow* open(const QByteArray& folder, bool history = true)
    {
        MainWindow* window =
            MainWindow::open(AppServices{owner, history ? &*store : nullptr, &settings}, folder);
        BrevaneModel* model = window->contentView()->model();
        model->setPlainOutput(true);
        const bool settled = waitFor([model] {
            return !model->scanning() &&
                   !model->worktreesUnavailable().startsWith(u"Looking for"_s);
        });
        return settled ? window : nullptr;
    }

    QByteArray ownRefs() const
    {
        return gitOutput(top, {"for-each-ref", "--format=%(refname)", "refs/brevane/"});
    }
    QByteArray worktreeList() const { return gitOutput(top, {"worktree", "list", "--porcelain"}); }
    // All that is the user's: HEAD, index, refs but Brevane's, stash, files.
    QByteArray userState() const
    {
        return repositoryState(top, "refs/brevane/") + '\n' + folderState(top);
    }
};

bool runAll(BrevaneModel* model, const QString& task)
{
    model->setTask(task);
    model->start();
    return waitFor([model] { return !model->anyRunning(); });
}

QLabel* worktreeLine(ColumnView* column)
{
    return column->findChild<QLabel*>(u"worktreeLine"_s);
}

} // namespace

class TestUiWorktrees : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { isolateGit(); }

    // The switch is on where worktrees can be made, and says why not
    // where they cannot, Allow commands following it.
    void theSwitch_data()
    {
        QTest::addColumn<QByteArray>("place");
        QTest::addColumn<QString>("reason"); // empty: available

        QTest::newRow("git work tree") << QByteArray("repo") << QString();
        QTest::newRow("no repository") << QByteArray("plain") << u"not in a git repository"_s;
        QTest::newRow("merge under way") << QByteArray("merge") << u"middle of a merge"_s;
        QTest::newRow("history off") << QByteArray("no history") << u"History is off"_s;
        QTest::newRow("history cannot be kept")
            << QByteArray("broken history") << u"History is off"_s;
    }
    void theSwitch()
    {
        QFETCH(QByteArray, place);
        QFETCH(QString, reason);
        Rig rig;
        QVERIFY(place == "merge" ? rig.makeMerge() : rig.makeRepository());
        if (place == "broken history") {
            rig.home.writeFile(u"not-a-folder"_s, "x");
            rig.store.emplace(rig.owner, rig.home.filePath(u"not-a-folder/history.sqlite3"_s),
                              u"me"_s);
        }
        QByteArray folder = rig.top;
        if (place == "plain") {
            folder = rig.root + "/plain";
            QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        }
        MainWindow* window = rig.open(folder, place != "no history");
        QVERIFY(window);
        ContentView* view = window->contentView();
        QCheckBox* box = view->separateWorktreesSwitch();
        const bool available = reason.isEmpty();
        QTRY_COMPARE_WITH_TIMEOUT(box->isEnabled(), available, deadline);
        QCOMPARE(box->isChecked(), available);
        QCOMPARE(view->allowCommandsSwitch()->isEnabled(), available);
        if (!available)
            QVERIFY2(box->toolTip().contains(reason), qPrintable(box->toolTip()));
        else
            QCOMPARE(view->model()->worktreesUnavailable(), QString());
    }

    // A first turn runs every agent in a worktree of its own, made outside
    // the repository from the folder as the user sees it, in the window's
    // folder within it, allowed to edit it (and run commands, when
    // allowed). A follow-up stays there. Without worktrees the tools run in
    // the folder itself, with their plain arguments.
    void firstTurn_data()
    {
        QTest::addColumn<QByteArray>("folder"); // below the home
        QTest::addColumn<bool>("separate");
        QTest::addColumn<bool>("commands");
        QTest::addColumn<bool>("hermesListsYolo");

        QTest::newRow("top, edits") << QByteArray("repo") << true << false << true;
        QTest::newRow("subfolder, commands, hermes lists --yolo")
            << QByteArray("repo/sub/dir") << true << true << true;
        QTest::newRow("commands, hermes lists no --yolo")
            << QByteArray("repo") << true << true << false;
        QTest::newRow("switch off") << QByteArray("repo/sub/dir") << false << true << true;
        QTest::newRow("no repository") << QByteArray("plain") << true << true << true;
    }
    void firstTurn()
    {
        QFETCH(QByteArray, folder);
        QFETCH(bool, separate);
        QFETCH(bool, commands);
        QFETCH(bool, hermesListsYolo);
        Rig rig;
        QVERIFY(rig.makeRepository());
        const QByteArray path = rig.root + '/' + folder;
        QCOMPARE(::mkdir(path.constData(), 0700) == 0, folder == "plain");
        rig.installTools();
        // The help of a hermes that has the word lists it like this.
        rig.installTool(u"hermes"_s, {hermesListsYolo ? u"out=  --yolo  approve all\\n"_s
                                                      : u"out=usage: hermes chat\\n"_s});
        const QByteArray userFiles = folderState(rig.top);
        MainWindow* window = rig.open(path);
        QVERIFY(window);
        ContentView* view = window->contentView();
        BrevaneModel* model = view->model();
        if (!separate)
            view->separateWorktreesSwitch()->click();
        if (commands) {
            QCheckBox* box = view->allowCommandsSwitch();
            box->isEnabled() ? box->click() : model->setAllowCommands(true);
            QVERIFY(model->allowCommands());
        }
        QVERIFY(runAll(model, u"work"_s));
        const bool worktrees = separate && folder.startsWith("repo");
        QCOMPARE(model->sessionHasWorktrees(), worktrees);

        const QByteArray subfolder = folder.startsWith("repo/") ? folder.sliced(5) : QByteArray();
        QList<QByteArray> runFolders;
        for (qsizetype i = 0; i < toolNames.size(); ++i) {
            const QString& tool = toolNames[i];
            AgentSession* agent = model->runners()[i];
            QVERIFY2(agent->state().isDone(), qPrintable(agent->output().toString()));
            const StandinRecord record = rig.record(tool);
            runFolders << record.workingFolder;
            QLabel* line = worktreeLine(view->columns()[i]);
            if (!worktrees) {
                QVERIFY(!agent->worktree());
                QCOMPARE(record.workingFolder, path);
                QCOMPARE(accessWords(record.arguments), QList<QByteArray>());
                QVERIFY(!line->isVisible());
                continue;
            }
            QVERIFY(agent->worktree());
            const QByteArray worktree = agent->worktree()->path;
            QCOMPARE(worktree, rig.root + "/data/worktrees/repo-" + model->sessionId().toUtf8() +
                                   '/' + tool.toUtf8());
            QCOMPARE(record.workingFolder,
                     subfolder.isEmpty() ? worktree : worktree + '/' + subfolder);
            QCOMPARE(folderState(worktree), userFiles);
            QList<QByteArray> access;
            if (tool == u"claude"_s) {
                access = {"--add-dir=" + worktree, "--permission-mode=acceptEdits"};
                if (commands)
                    access << "--allowedTools=Bash";
            } else if (tool == u"gemini"_s) {
                access = {"--include-directories=" + worktree,
                          commands ? "--approval-mode=yolo" : "--approval-mode=auto_edit"};
            } else if (commands && hermesListsYolo) {
                access = {"--yolo"};
                // An option of its subcommand, so after it.
                QCOMPARE(record.arguments.value(1), QByteArray("--yolo"));
            }
            QCOMPARE(accessWords(record.arguments), access);
            QTRY_VERIFY_WITH_TIMEOUT(line->isVisible(), deadline);
            QVERIFY2(line->text().endsWith(u"repo-"_s + model->sessionId() + u'/' + tool),
                     qPrintable(line->text()));
        }
        QCOMPARE(rig.ownRefs().isEmpty(), !worktrees);

        const QByteArray listed = rig.worktreeList();
        QVERIFY(runAll(model, u"more"_s));
        for (qsizetype i = 0; i < toolNames.size(); ++i)
            QCOMPARE(rig.record(toolNames[i]).workingFolder, runFolders[i]);
        QCOMPARE(rig.worktreeList(), listed);
    }

    // A whole session, agents editing files, ending in Discard Worktrees
    // leaves the user's repository and files as they were, and nothing of
    // Brevane's behind: no worktree, no ref, no row still open.
    void discardLeavesTheRepositoryAsItWas()
    {
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTools({u"write=a.txt:edited\\n"_s, u"write=made.txt:made\\n"_s});
        // Asked for its help, hermes runs in Brevane's own folder: it edits nothing.
        rig.installTool(u"hermes"_s, {});
        const QByteArray before = rig.userState();
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        ContentView* view = window->contentView();
        BrevaneModel* model = view->model();
        QVERIFY(runAll(model, u"edit"_s));
        QVERIFY(runAll(model, u"edit again"_s));
        const QString id = model->sessionId();
        QList<QByteArray> paths;
        for (const AgentSession* agent : model->runners()) {
            QVERIFY(agent->state().isDone() && agent->worktree());
            paths << agent->worktree()->path;
            QCOMPARE(readFile(paths.back() + "/a.txt"),
                     QByteArray(agent->id() == u"hermes"_s ? "unstaged\n" : "edited\n"));
        }
        QCOMPARE(rig.userState(), before);
        QVERIFY(commitHistory(*rig.store));
        QList<WorktreeRow> rows = listWorktrees(*rig.store);
        QCOMPARE(rows.size(), 3);
        for (const WorktreeRow& row : rows)
            QVERIFY(row.sessionId == id && row.state == WorktreeRow::State::Ready &&
                    paths.contains(row.path));

        QVERIFY(view->discardWorktreesAction()->isEnabled());
        view->discardWorktreesAction()->trigger();
        QMessageBox* ask = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((ask = view->findChild<QMessageBox*>()), deadline);
        for (QAbstractButton* button : ask->buttons()) {
            if (ask->buttonRole(button) == QMessageBox::DestructiveRole)
                button->click();
        }
        QVERIFY(waitFor([model] { return model->worktreesDiscarded(); }));

        QCOMPARE(rig.userState(), before);
        const QByteArray listed = rig.worktreeList();
        for (const QByteArray& path : std::as_const(paths)) {
            QCOMPARE(modeOf(path), mode_t(0));
            QVERIFY(!listed.contains(path));
        }
        QCOMPARE(rig.ownRefs(), QByteArray());
        QVERIFY(waitFor([&] { return listWorktrees(*rig.store).isEmpty(); }));
        model->setTask(u"follow up"_s);
        QVERIFY(!view->runButton()->isEnabled());
        QVERIFY(!view->discardWorktreesAction()->isEnabled());

        // Nor can the session, opened again, go on without its worktrees.
        delete window;
        QVERIFY(commitHistory(*rig.store));
        MainWindow* again = rig.open(rig.root);
        QVERIFY(again);
        again->openSession(id);
        BrevaneModel* reopened = again->contentView()->model();
        QVERIFY(waitFor([&] { return reopened->sessionId() == id; }));
        QVERIFY(reopened->sessionHasWorktrees() && reopened->worktreesDiscarded());
        reopened->setTask(u"follow up"_s);
        QVERIFY(!reopened->canRun());
    }

    // The repository's setup command runs in each new worktree before its
    // agent, in the transcript; one that fails or is stopped starts no agent.
    void setupCommand_data()
    {
        QTest::addColumn<QString>("command"); // FIFO: a fifo's path
        QTest::addColumn<bool>("inSettings");
        QTest::addColumn<int>("ending");        // RunState::Case
        QTest::addColumn<QStringList>("shown"); // in this order

        QTest::newRow("succeeds, then the agent")
            << u"print -r -- set up in $PWD; print -r -- ready > ready.txt"_s << true
            << int(RunState::Case::Done) << QStringList{u"set up in WORKTREE\n"_s, u"ready\n"_s};
        QTest::newRow("fails") << u"print -r -- cannot set up; exit 3"_s << false
                               << int(RunState::Case::Failed)
                               << QStringList{u"cannot set up\n"_s, u"exit status 3"_s};
        QTest::newRow("stopped while it waits")
            << u"print -r -- waiting $$; cat FIFO"_s << true << int(RunState::Case::Stopped)
            << QStringList{u"waiting"_s};
    }
    void setupCommand()
    {
        QFETCH(QString, command);
        QFETCH(bool, inSettings);
        QFETCH(int, ending);
        QFETCH(QStringList, shown);
        Rig rig;
        QVERIFY(rig.makeRepository());
        // The agent shows what the setup left for it.
        rig.installTools({u"cat=ready.txt"_s});
        command.replace(u"FIFO"_s, rig.home.makeFifo(u"fifo"_s));
        if (inSettings)
            rig.settings.setValue(u"setupCommands/"_s + QString::fromLatin1(rig.top.toHex()),
                                  command);
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        BrevaneModel* model = window->contentView()->model();
        if (!inSettings)
            model->setSetupCommands([&rig, command](const QByteArray& top) {
                return top == rig.top ? command : QString();
            });
        model->setTask(u"go"_s);
        model->start();
        if (ending == int(RunState::Case::Stopped)) {
            // Stopped once every setup is under way: its shell has said so.
            static const QRegularExpression waiting(u"waiting (\\d+)"_s);
            QList<pid_t> shells;
            for (const AgentSession* agent : model->runners()) {
                QVERIFY(waitFor([&] { return waiting.match(agent->output()).hasMatch(); }));
                shells << pid_t(waiting.match(agent->output()).captured(1).toLong());
            }
            QVERIFY(window->contentView()->stopButton()->isEnabled());
            window->contentView()->stopButton()->click();
            for (pid_t shell : std::as_const(shells))
                QVERIFY(waitFor([shell] { return ProcessProbe::gone(shell); }));
            QVERIFY(waitFor([] { return ProcessProbe::children().isEmpty(); }));
            QCoreApplication::processEvents();
        }
        QVERIFY(waitFor([model] { return !model->anyRunning(); }));

        for (const AgentSession* agent : model->runners()) {
            QCOMPARE(int(agent->state().kind()), ending);
            QVERIFY(agent->worktree());
            const QString output = agent->output().toString();
            qsizetype at = 0;
            for (QString text : shown) {
                text.replace(u"WORKTREE"_s, QFile::decodeName(agent->worktree()->path));
                at = output.indexOf(text, at);
                QVERIFY2(at >= 0, qPrintable(output));
            }
            QCOMPARE(rig.ran(agent->id(), u"go"_s), ending == int(RunState::Case::Done));
        }
        // The follow-up continues claude's conversation only if claude ran:
        // what the setup wrote is not the tool's.
        QVERIFY(runAll(model, u"next"_s));
        const QList<QByteArray> arguments = rig.record(u"claude"_s).arguments;
        const bool resumed =
            std::any_of(arguments.begin(), arguments.end(),
                        [](const QByteArray& a) { return a.startsWith("--resume="); });
        QCOMPARE(resumed, ending == int(RunState::Case::Done));
    }

    // A session opened from the history goes on in the worktrees it made.
    void aReopenedSessionKeepsItsWorktrees()
    {
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTools({u"write=x.txt:x\\n"_s});
        MainWindow* first = rig.open(rig.top + "/sub/dir");
        QVERIFY(first);
        BrevaneModel* firstModel = first->contentView()->model();
        QVERIFY(runAll(firstModel, u"begin"_s));
        const QString id = firstModel->sessionId();
        // An assembled result's worktree too, which the reopened window did not make.
        QVERIFY(waitFor([&] {
            return firstModel->canAssemble() &&
                   !firstModel->runners()[0]->worktreeChanges().snapshot.whole.isEmpty();
        }));
        firstModel->setPicks({{"sub/dir/x.txt", 0}});
        std::optional<bool> assembled;
        firstModel->assemble([&](const auto& made) { assembled = made.ok(); });
        QVERIFY(waitFor([&] { return assembled.has_value(); }) && *assembled);
        QVERIFY(firstModel->assembledWorktree());
        QList<PlannedWorktree> made;
        for (const AgentSession* agent : first->contentView()->model()->runners()) {
            QVERIFY(agent->worktree());
            made << *agent->worktree();
        }
        delete first;
        QVERIFY(commitHistory(*rig.store));
        const QByteArray listed = rig.worktreeList();

        MainWindow* second = rig.open(rig.root);
        QVERIFY(second);
        MainWindow* shown = nullptr;
        second->openSession(id, [&](MainWindow* window) { shown = window; });
        QVERIFY(waitFor([&] { return shown && shown->contentView()->model()->sessionId() == id; }));
        BrevaneModel* model = shown->contentView()->model();
        QVERIFY(model->sessionHasWorktrees());
        QVERIFY(runAll(model, u"continue"_s));
        for (qsizetype i = 0; i < made.size(); ++i) {
            const AgentSession* agent = model->runners()[i];
            QVERIFY(agent->state().isDone());
            QCOMPARE(agent->worktree(), std::optional<PlannedWorktree>(made[i]));
            QCOMPARE(rig.record(agent->id()).workingFolder, made[i].runFolder());
            QTRY_VERIFY_WITH_TIMEOUT(worktreeLine(shown->contentView()->columns()[i])->isVisible(),
                                     deadline);
        }
        QCOMPARE(rig.worktreeList(), listed);

        // What it made is still known as its own: Discard removes it all.
        QVERIFY(model->canDiscardWorktrees());
        model->discardWorktrees();
        QVERIFY(waitFor([model] { return model->worktreesDiscarded(); }));
        QCOMPARE(rig.worktreeList().count("worktree "), 1);
        QCOMPARE(rig.ownRefs(), QByteArray());
        QVERIFY(waitFor([&] { return listWorktrees(*rig.store).isEmpty(); }));
    }

    // Worktrees that cannot be made (the data folder lies inside the
    // repository) fail every agent with the reason and leave nothing.
    void aFailedPreparationLeavesNothing()
    {
        Rig rig("repo/.brevane");
        // Opened first: git must not meet the database's journal coming and going.
        QSignalSpy opened(&*rig.store, &HistoryStore::opened);
        QVERIFY(opened.wait(deadline));
        QVERIFY(rig.makeRepository());
        rig.installTools();
        const QByteArray before = repositoryState(rig.top);
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        BrevaneModel* model = window->contentView()->model();
        QVERIFY(runAll(model, u"go"_s));
        for (const AgentSession* agent : model->runners()) {
            QVERIFY(agent->state().isFailed());
            QVERIFY(!agent->worktree());
            QVERIFY2(agent->output().contains(u"lies inside the repository"_s),
                     qPrintable(agent->output().toString()));
            QVERIFY(!rig.ran(agent->id(), u"go"_s));
        }
        QCOMPARE(repositoryState(rig.top), before);
        QCOMPARE(rig.ownRefs(), QByteArray());
        QCOMPARE(rig.worktreeList().count("worktree "), 1);
        QVERIFY(!window->contentView()->discardWorktreesAction()->isEnabled());
    }

    // What each agent changed shows on its Changes page once its turn is
    // over; Apply to Folder writes one agent's changes into the user's
    // folder, merged with what the user changed since, and nothing else:
    // HEAD, index, refs and stash stay. A change that clashes with the
    // user's writes nothing at all.
    void changesAndApply()
    {
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTool(u"claude"_s, {u"write=a.txt:the agent's\\n"_s, u"write=added.txt:x\\n"_s});
        rig.installTool(u"gemini"_s, {u"write=c.txt:gemini's\\n"_s});
        rig.installTool(u"hermes"_s, {});
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        BrevaneModel* model = window->contentView()->model();
        QVERIFY(runAll(model, u"edit"_s));
        const auto snapshotTaken = [&](int index) {
            return waitFor([&] {
                const AgentSession::WorktreeChanges& changes =
                    model->runners()[index]->worktreeChanges();
                return !changes.computing && !changes.snapshot.commit.isEmpty();
            });
        };
        QVERIFY(snapshotTaken(0) && snapshotTaken(1));
        ColumnView* claude = window->contentView()->columns()[0];
        claude->setShowsChanges(true);
        ChangesView* page = claude->changesView();
        QTRY_COMPARE(page->summaryText(), u"2 files, +2 \u22121"_s);
        QVERIFY(page->isVisibleTo(window) && !claude->transcript()->isVisibleTo(window));
        QTRY_VERIFY(page->diffDocument().text().contains(u"+the agent's"_s));

        // The user goes on working meanwhile.
        QVERIFY(rig.write("c.txt", "the user's\n"));
        const QByteArray repository = repositoryState(rig.top, "refs/brevane/");
        const QByteArray folder = folderState(rig.top);
        ChangesView* geminiPage = window->contentView()->columns()[1]->changesView();
        QTRY_VERIFY(!geminiPage->currentChanges().isEmpty());
        Q_EMIT geminiPage->applyRequested(geminiPage->currentChanges());
        QTRY_VERIFY(geminiPage->statusText().startsWith(u"Nothing was applied"_s));
        QCOMPARE(folderState(rig.top), folder);
        QVERIFY(!model->anyRunning());

        // Nothing listed (This turn of a turn that changed nothing) is nothing to apply.
        Q_EMIT page->applyRequested({});
        QVERIFY(!page->statusText().startsWith(u"Applying"_s));
        Q_EMIT page->applyRequested(page->currentChanges());
        QTRY_COMPARE(page->statusText(), u"Applied: 2 files written"_s);
        QCOMPARE(readFile(rig.top + "/a.txt"), QByteArray("the agent's\n"));
        QCOMPARE(readFile(rig.top + "/added.txt"), QByteArray("x\n"));
        QCOMPARE(repositoryState(rig.top, "refs/brevane/"), repository);
        // Nothing but the applied files changed.
        QVERIFY(rig.write("a.txt", "unstaged\n"));
        QVERIFY(::unlink((rig.top + "/added.txt").constData()) == 0);
        QCOMPARE(folderState(rig.top), folder);

        // A branch only when asked, at the agent's snapshot; HEAD stays.
        const QByteArray head = readFile(rig.top + "/.git/HEAD");
        std::optional<GitResult<void>> made;
        model->createBranch(0, u"-f"_s, [&](const GitResult<void>& result) { made = result; });
        QVERIFY(made && !made->ok());
        made.reset();
        model->createBranch(0, u"from-claude"_s,
                            [&](const GitResult<void>& result) { made = result; });
        QVERIFY(waitFor([&] { return made.has_value(); }) && made->ok());
        QCOMPARE(gitOutput(rig.top, {"rev-parse", "from-claude"}),
                 model->runners()[0]->worktreeChanges().snapshot.commit);
        QCOMPARE(readFile(rig.top + "/.git/HEAD"), head);
    }

    // The user's check in each worktree: by itself after a turn only where
    // commands are allowed, after the snapshot (what it makes is not the
    // agent's); ended with its process group at its limit or by Stop, and
    // Send waits for it.
    void checks_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("allow"); // commands allowed: the check runs by itself
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QStringList>("results"); // claude's, gemini's, hermes's

        const QString hangs = u"print stray > stray.txt; print -r -- group $$; sleep 600"_s;
        QTest::newRow("after the turn by itself")
            << u"[[ -f made.txt ]] && print built > artifact.txt && print y > made.txt"_s << true
            << 60000 << false
            << QStringList{u"Check passed"_s, u"Check failed with exit status 1"_s,
                           u"Check failed with exit status 1"_s};
        QTest::newRow("asked for") << u"exit 4"_s << false << 60000 << false
                                   << QStringList(3, u"Check failed with exit status 4"_s);
        QTest::newRow("past its limit")
            << hangs << false << 300 << false << QStringList(3, u"Check timed out"_s);
        QTest::newRow("stopped") << hangs << false << 60000 << true
                                 << QStringList(3, u"Check stopped"_s);
    }
    void checks()
    {
        QFETCH(QString, command);
        QFETCH(bool, allow);
        QFETCH(int, limitMs);
        QFETCH(bool, stop);
        QFETCH(QStringList, results);
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTool(u"claude"_s, {u"write=made.txt:x\\n"_s});
        rig.installTool(u"gemini"_s, {});
        rig.installTool(u"hermes"_s, {});
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        ContentView* content = window->contentView();
        BrevaneModel* model = content->model();
        model->setCheckCommands([&](const QByteArray& top) {
            return BrevaneModel::CheckSetting{top == rig.top ? command : QString(),
                                              std::chrono::milliseconds(limitMs)};
        });
        model->setAllowCommands(allow);
        QVERIFY(runAll(model, u"make it"_s));
        const QList<AgentSession*> agents = model->runners();
        const auto checked = [&] {
            return std::all_of(agents.begin(), agents.end(), [](const AgentSession* agent) {
                return agent->check() && !agent->check()->running();
            });
        };
        if (allow) {
            QVERIFY(waitFor(checked));
        } else {
            // Not by itself: it runs code the agent may have changed.
            QVERIFY(waitFor([&] { return content->runChecksButton()->isEnabled(); }));
            QVERIFY(std::none_of(agents.begin(), agents.end(),
                                 [](const AgentSession* agent) { return agent->check(); }));
            // An edit made since the turn's snapshot is the worktree's as
            // the check finds it.
            QVERIFY(waitFor([&] {
                return !agents[1]->worktreeChanges().computing &&
                       !agents[1]->worktreeChanges().snapshot.commit.isEmpty();
            }));
            QVERIFY(writeFile(agents[1]->worktree()->path + "/mine.txt", "mine\n"));
            content->runChecksButton()->click();
        }
        if (command.contains(u"sleep 600"_s)) {
            static const QRegularExpression group(u"group (\\d+)"_s);
            QList<pid_t> groups;
            for (const AgentSession* agent : agents) {
                QVERIFY(waitFor([&] { return group.match(agent->output()).hasMatch(); }));
                groups << pid_t(group.match(agent->output()).captured(1).toLong());
            }
            model->setTask(u"next"_s);
            QVERIFY(model->anyCheckRunning() && !model->canRun() && !model->canStartNewSession() &&
                    !model->canDiscardWorktrees());
            if (stop) {
                QVERIFY(content->stopButton()->isEnabled());
                content->stopButton()->click();
            }
            for (const pid_t leader : std::as_const(groups))
                QVERIFY(waitFor([leader] { return ProcessProbe::children(leader).isEmpty(); }));
        }
        QVERIFY(waitFor(checked));
        // Put back as it was before the check, however it ended.
        QVERIFY(waitFor([&] { return !model->anyCheckRunning(); }));
        for (const AgentSession* agent : agents)
            QCOMPARE(modeOf(agent->worktree()->path + "/stray.txt"), mode_t(0));
        if (!allow)
            QCOMPARE(readFile(agents[1]->worktree()->path + "/mine.txt"), "mine\n");
        for (qsizetype i = 0; i < agents.size(); ++i) {
            QCOMPARE(AgentSession::describeCheck(*agents[i]->check()), results[i]);
            QVERIFY(agents[i]->output().endsWith(results[i] + u'\n'));
            QTRY_COMPARE(content->columns()[i]->findChild<QLabel*>(u"checkLabel"_s)->text(),
                         results[i]);
        }
        if (allow) {
            // The check ran in claude's worktree (it passed only there), after
            // the snapshot; what it wrote is put back, so that no later
            // snapshot takes it for the agent's work.
            QVERIFY(waitFor([&] { return model->canRefreshChanges(0); }));
            const QByteArray worktree = agents[0]->worktree()->path;
            QVERIFY(!QFile::exists(QFile::decodeName(worktree + "/artifact.txt")));
            QCOMPARE(readFile(worktree + "/made.txt"), "x\n");
            const quint64 generation = agents[0]->worktreeChanges().generation;
            model->refreshChanges(0);
            QVERIFY(waitFor([&] {
                return agents[0]->worktreeChanges().generation > generation + 1 &&
                       !agents[0]->worktreeChanges().computing;
            }));
            QList<QByteArray> changed;
            for (const GitFileChange& change : agents[0]->worktreeChanges().snapshot.whole)
                changed << change.path;
            QCOMPARE(changed, QList<QByteArray>{"made.txt"});
        }
        model->setTask(u"next"_s);
        QVERIFY(waitFor([&] { return model->canRun(); }));
        // A new session starts without the old one's results.
        model->newSession();
        QVERIFY(std::none_of(agents.begin(), agents.end(),
                             [](const AgentSession* agent) { return agent->check(); }));
    }

    // The Compare window shows what each agent did, as it happens: the
    // scoreboard sorts by any column, the matrix marks a file two changed.
    void compareShowsWhatEachDid()
    {
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTool(u"claude"_s, {u"write=a.txt:claude's\\n"_s, u"write=new.txt:n\\n"_s});
        rig.installTool(u"gemini"_s, {u"write=a.txt:gemini's\\nmore\\n"_s});
        rig.installTool(u"hermes"_s, {});
        rig.settings.setValue(u"checkCommands/"_s + QString::fromLatin1(rig.top.toHex()),
                              u"[[ -f new.txt ]]"_s);
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        BrevaneModel* model = window->contentView()->model();
        QAction* compare = nullptr;
        for (QAction* action : window->findChildren<QAction*>()) {
            if (action->text() == u"Compare Agents"_s)
                compare = action;
        }
        QVERIFY(compare && !compare->isEnabled());
        model->setAllowCommands(true);
        QVERIFY(runAll(model, u"edit"_s));
        QVERIFY(compare->isEnabled());
        compare->trigger();
        CompareWindow* comparison = window->compareWindow();
        QVERIFY(comparison && comparison->isVisible());
        QVERIFY(waitFor([&] {
            const QList<AgentSession*> agents = model->runners();
            return std::all_of(agents.begin(), agents.end(), [](const AgentSession* agent) {
                return agent->check() && !agent->check()->running();
            });
        }));
        const auto rows = [](QTreeWidget* table) {
            QStringList shown;
            for (int i = 0; i < table->topLevelItemCount(); ++i) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column)
                    cells << table->topLevelItem(i)->text(column);
                shown << cells.join(u'|');
            }
            return shown;
        };
        QTreeWidget* scores = comparison->scoreboard();
        // Agent, status and time aside: files, lines, check.
        const auto tail = [&] {
            QStringList shown;
            for (const QString& row : rows(scores))
                shown << row.section(u'|', 0, 0) + u'|' + row.section(u'|', 6);
            return shown;
        };
        const QString failed = u"Check failed with exit status 1"_s;
        QTRY_COMPARE(tail(), (QStringList{u"claude|2|+2|\u22121|Check passed"_s,
                                          u"gemini|1|+2|\u22121|"_s + failed,
                                          u"hermes|0|+0|\u22120|"_s + failed}));
        scores->sortByColumn(7, Qt::DescendingOrder); // Added, then the check
        scores->sortByColumn(9, Qt::AscendingOrder);
        QCOMPARE(scores->topLevelItem(0)->text(0), u"claude"_s);
        scores->sortByColumn(6, Qt::AscendingOrder); // Files
        QCOMPARE(scores->topLevelItem(0)->text(0), u"hermes"_s);

        QTreeWidget* matrix = comparison->matrix();
        QCOMPARE(rows(matrix),
                 (QStringList{u"a.txt|2|+1 \u22121|+2 \u22121|"_s, u"new.txt|1|+1 \u22120||"_s}));
        QVERIFY(matrix->topLevelItem(0)->font(0).bold() &&
                !matrix->topLevelItem(1)->font(0).bold());

        // a.txt, claude's against gemini's, then the base against claude's:
        // each side shows its version whole, aligned as git's diff says.
        const auto sides = [&] {
            QStringList shown;
            for (const SideBySideRow& row : comparison->sideBySide()->rows())
                shown << QString::number(int(row.kind)) + u' ' +
                             QString::fromUtf8(row.left ? row.left->text : "") + u'|' +
                             QString::fromUtf8(row.right ? row.right->text : "");
            return shown;
        };
        matrix->topLevelItem(0)->setSelected(true);
        QTRY_COMPARE(sides(), (QStringList{u"1 claude's|gemini's"_s, u"3 |more"_s}));
        comparison->versions()->setCurrentIndex(CompareWindow::BaseAgainstA);
        QTRY_COMPARE(sides(), (QStringList{u"1 unstaged|claude's"_s}));
        // hermes left it alone: its version is the base's.
        comparison->agentB()->setCurrentIndex(2);
        comparison->versions()->setCurrentIndex(CompareWindow::AAgainstB);
        QTRY_COMPARE(sides(), (QStringList{u"1 claude's|unstaged"_s}));
    }

    // Files picked from different agents, put together: what each picked
    // agent did to its file (a new version, a deletion, a rename) and
    // nothing else reaches the folder; a pick that clashes with the user's
    // later work writes nothing at all.
    void assembleTakesThePicks()
    {
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTool(u"claude"_s, {u"write=a.txt:claude's\\n"_s, u"write=new.txt:n\\n"_s});
        const QString gemini = rig.home.writeFile(
            u".local/bin/gemini"_s,
            "#!/bin/sh\nprintf \"gemini's\\n\" > a.txt; rm sub/dir/b.txt; mv c.txt moved.txt\n");
        QVERIFY(QFile::setPermissions(gemini, QFile::ReadOwner | QFile::ExeOwner));
        rig.installTool(u"hermes"_s, {});
        // The setup installs what is ignored, once; the check passes only
        // on the picks, with the setup's work, and writes a file of its own.
        QVERIFY(rig.write(".gitignore", "installed\n"));
        const QString hex = QString::fromLatin1(rig.top.toHex());
        rig.settings.setValue(u"setupCommands/"_s + hex, u"print once >> installed"_s);
        rig.settings.setValue(u"checkCommands/"_s + hex,
                              u"[[ $(<a.txt) == \"gemini's\" && -f new.txt && ! -e c.txt && "
                              "$(<installed) == once ]] && print out > check.txt"_s);
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        BrevaneModel* model = window->contentView()->model();
        QVERIFY(runAll(model, u"edit"_s));
        QVERIFY(waitFor([&] {
            return model->runners()[1]->worktreeChanges().snapshot.whole.size() == 3 &&
                   model->runners()[0]->worktreeChanges().snapshot.whole.size() == 2;
        }));
        for (QAction* action : window->findChildren<QAction*>()) {
            if (action->text() == u"Compare Agents"_s)
                action->trigger();
        }
        CompareWindow* comparison = window->compareWindow();
        QVERIFY(comparison);
        QTreeWidget* matrix = comparison->matrix();
        QTRY_COMPARE(matrix->topLevelItemCount(), 4);
        const QMap<QByteArray, int> picks{
            {"a.txt", 1}, {"new.txt", 0}, {"sub/dir/b.txt", 1}, {"moved.txt", 1}};
        for (int i = 0; i < matrix->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = matrix->topLevelItem(i);
            const QByteArray path = item->data(0, Qt::UserRole).toByteArray();
            if (picks.contains(path))
                item->setCheckState(2 + picks[path], Qt::Checked);
        }
        // One agent's version per file: claude's a.txt, then gemini's.
        QTreeWidgetItem* a = matrix->findItems(u"a.txt"_s, Qt::MatchExactly).front();
        a->setCheckState(2, Qt::Checked);
        a->setCheckState(3, Qt::Checked);
        QCOMPARE(a->checkState(2), Qt::Unchecked);
        QCOMPARE(model->picks().size(), 4);

        QVERIFY(comparison->assembleButton()->isEnabled());
        // Nothing to hold against the agents' before Assemble; then its a.txt is gemini's.
        comparison->agentA()->setCurrentIndex(3);
        a->setSelected(true);
        QTRY_COMPARE(comparison->sideBySide()->message(), u"Nothing is assembled yet."_s);
        comparison->assembleButton()->click();
        QTRY_COMPARE(comparison->assembleStatus(), u"Assembled: 4 files"_s);
        QTRY_COMPARE(comparison->sideBySide()->message(), u"The two versions are the same."_s);
        QTRY_VERIFY(
            !comparison->scoreboard()->findItems(u"assembled"_s, Qt::MatchExactly).isEmpty());

        // Checked in a worktree of its own, asked for: commands are not allowed.
        QVERIFY(model->assembledWorktree() && !model->assembledCheck());
        const QByteArray assembled = model->assembledWorktree()->path;
        for (int round = 0; round < 2; ++round) {
            QVERIFY(waitFor([&] { return comparison->checkAssembledButton()->isEnabled(); }));
            comparison->checkAssembledButton()->click();
            QVERIFY(waitFor([&] { return !model->anyCheckRunning(); }));
            QCOMPARE(AgentSession::describeCheck(*model->assembledCheck()), u"Check passed"_s);
        }
        QCOMPARE(comparison->assembledOutput()->toPlainText().count(u"Setup: "_s), 1);
        QCOMPARE(comparison->assembledOutput()->toPlainText().count(u"Check passed"_s), 2);
        QTRY_VERIFY(
            !comparison->scoreboard()->findItems(u"Check passed"_s, Qt::MatchExactly, 9).isEmpty());
        // What the check wrote went; what the setup installed stays.
        QVERIFY(!QFile::exists(QFile::decodeName(assembled + "/check.txt")));
        QCOMPARE(readFile(assembled + "/installed"), "once\n");

        // The user changed a.txt since: nothing is written.
        QVERIFY(rig.write("a.txt", "the user's\n"));
        const QByteArray before = folderState(rig.top);
        QTRY_VERIFY(comparison->applyButton()->isEnabled());
        comparison->applyButton()->click();
        QTRY_VERIFY(comparison->assembleStatus().startsWith(u"Nothing was applied"_s));
        QVERIFY(comparison->assembleStatus().contains(u"a.txt"_s));
        QCOMPARE(folderState(rig.top), before);

        QVERIFY(rig.write("a.txt", "unstaged\n"));
        const QByteArray original = folderState(rig.top);
        const QByteArray repository = repositoryState(rig.top, "refs/brevane/");
        QTRY_VERIFY(comparison->applyButton()->isEnabled());
        comparison->applyButton()->click();
        QTRY_VERIFY(comparison->assembleStatus().startsWith(u"Applied"_s));
        QCOMPARE(readFile(rig.top + "/a.txt"), QByteArray("gemini's\n"));
        QCOMPARE(readFile(rig.top + "/new.txt"), QByteArray("n\n"));
        QCOMPARE(readFile(rig.top + "/moved.txt"), QByteArray("staged\n"));
        QCOMPARE(modeOf(rig.top + "/c.txt"), mode_t(0));
        QCOMPARE(modeOf(rig.top + "/sub/dir/b.txt"), mode_t(0));
        QCOMPARE(repositoryState(rig.top, "refs/brevane/"), repository);
        // Nothing else: put back, the folder is as it was.
        QVERIFY(rig.write("a.txt", "unstaged\n") && rig.write("c.txt", "staged\n") &&
                rig.write("sub/dir/b.txt", "b\n"));
        QVERIFY(::unlink((rig.top + "/new.txt").constData()) == 0 &&
                ::unlink((rig.top + "/moved.txt").constData()) == 0);
        QCOMPARE(folderState(rig.top), original);

        const auto assembledRows = [&] {
            std::optional<QList<WorktreeRow>> rows;
            rig.store->listWorktrees([&](QList<WorktreeRow> listed) { rows = listed; });
            return waitFor([&] { return rows.has_value(); }) &&
                   std::any_of(rows->begin(), rows->end(), [&](const WorktreeRow& row) {
                       return row.tool == u"assembled"_s && row.path == assembled;
                   });
        };
        // On record, so that a crash leaves it to be found; discarded with
        // the agents' worktrees.
        QVERIFY(waitFor([&] { return commitHistory(*rig.store) && assembledRows(); }));
        QVERIFY(waitFor([&] { return model->canDiscardWorktrees(); }));
        model->discardWorktrees();
        QVERIFY(waitFor([&] { return model->worktreesDiscarded(); }));
        QCOMPARE(modeOf(assembled), mode_t(0));
        QVERIFY(!rig.worktreeList().contains(assembled));
        QVERIFY(commitHistory(*rig.store) && !assembledRows());
    }

    // Deleting sessions from the history removes their worktrees and refs
    // first, several sessions at once.
    void deletingSessionsRemovesTheirWorktrees()
    {
        Rig rig;
        QVERIFY(rig.makeRepository());
        rig.installTools();
        const QByteArray listed = rig.worktreeList();
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        BrevaneModel* model = window->contentView()->model();
        for (const QString& task : {u"one"_s, u"two"_s}) {
            QVERIFY(runAll(model, task));
            QVERIFY(model->runners()[0]->worktree());
            model->newSession();
        }
        QVERIFY(commitHistory(*rig.store));
        QCOMPARE(rig.worktreeList().count("worktree "), 7);

        window->historyDock()->show();
        HistoryPanel* panel = window->historyPanel();
        QVERIFY(listedUntil(panel, [&] { return panel->list()->topLevelItemCount() == 2; }));
        for (int i = 0; i < 2; ++i)
            panel->list()->topLevelItem(i)->setSelected(true);
        panel->deleteSelected(false);
        QVERIFY(listedUntil(panel, [&] { return panel->list()->topLevelItemCount() == 0; }));
        QCOMPARE(rig.worktreeList(), listed);
        QCOMPARE(rig.ownRefs(), QByteArray());
        QVERIFY(listWorktrees(*rig.store).isEmpty());
    }

    // The real app killed between making a worktree and starting its agent
    // (the setup still running): the next start lists the worktree as a
    // leftover, with the space it takes, and Discard removes it.
    void aKillLeavesALeftover()
    {
        // Where the app keeps its history with XDG_DATA_HOME below.
        Rig rig("share/Brevane");
        rig.store.reset();
        QVERIFY(rig.makeRepository());
        rig.installTool(u"claude"_s, {});
        const QByteArray listed = rig.worktreeList();
        QSettings(rig.home.filePath(u"config/Brevane/Brevane.conf"_s), QSettings::IniFormat)
            .setValue(u"setupCommands/"_s + QString::fromLatin1(rig.top.toHex()),
                      u"print $$ > $HOME/p; mv $HOME/p $HOME/pid; exec sleep 600"_s);

        VncKeyboard keyboard;
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(); // the fake HOME
        env.insert(u"QT_QPA_PLATFORM"_s, u"vnc:size=1200x800:port=%1"_s.arg(keyboard.pickPort()));
        env.insert(u"XDG_DATA_HOME"_s, QFile::decodeName(rig.root + "/share"));
        env.insert(u"XDG_CONFIG_HOME"_s, QFile::decodeName(rig.root + "/config"));
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(QFile::decodeName(rig.top));
        app.start(QStringLiteral(BREVANE_APP), {});
        pid_t setup = 0;
        auto cleanUp = qScopeGuard([&] {
            app.kill();
            app.waitForFinished(deadline);
            if (setup > 0) // kill(0) would hit this test's own group
                ::kill(-setup, SIGKILL);
        });
        QVERIFY(waitFor([&] { return keyboard.connect(); }));
        const auto settingUp = [&] { return !rig.home.read(u"pid"_s).isEmpty(); };
        // Return runs the task once the tools and the repository are known.
        keyboard.press({'g'});
        QVERIFY(waitFor([&] {
            keyboard.press({keyReturn});
            return QTest::qWaitFor(settingUp, 200);
        }));
        setup = ProcessProbe::pidFrom(rig.home.read(u"pid"_s));
        app.kill();
        QVERIFY(app.waitForFinished(deadline));
        ::kill(-setup, SIGKILL);
        QCOMPARE(rig.worktreeList().count("worktree "), 2);

        // The next start, as the app's own.
        rig.store.emplace(rig.owner, QFile::decodeName(rig.root + "/share/Brevane/history.sqlite3"),
                          u"me"_s);
        rig.store->markInterrupted([](const QString&) { return false; },
                                   int(RunState::Case::Interrupted), [](int) {});
        MainWindow::checkWorktrees(AppServices{rig.owner, &*rig.store, &rig.settings});
        MainWindow* window = rig.open(rig.top);
        QVERIFY(window);
        window->historyDock()->show();
        HistoryPanel* panel = window->historyPanel();
        const auto space = [panel] {
            const QTreeWidgetItem* item = panel->list()->topLevelItem(0);
            return item ? item->text(3) : QString();
        };
        // Listed once the check has marked it, its space once counted.
        static const QRegularExpression leftover(u"^leftover, [1-9][\\d.]* [kM]B$"_s);
        QVERIFY2(waitFor([&] { return leftover.match(space()).hasMatch(); }), qPrintable(space()));
        panel->list()->topLevelItem(0)->setSelected(true);
        QVERIFY(panel->discardButton()->isEnabled());
        panel->discardSelected(false);
        QVERIFY(waitFor([&] { return rig.worktreeList() == listed; }));
        QVERIFY(listedUntil(panel, [&] { return space().isEmpty(); }));
        QCOMPARE(panel->list()->topLevelItemCount(), 1);
        QCOMPARE(rig.ownRefs(), QByteArray());
        QVERIFY(listWorktrees(*rig.store).isEmpty());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestUiWorktrees test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ui_worktrees.moc"
