#include "ui/mainwindow.h"

#include "model/brevanemodel.h"
#include "platform/files.h"
#include "platform/processowner.h"
#include "session/worktreeplan.h"
#include "store/historystore.h"
#include "store/sessionrecorder.h"
#include "ui/comparewindow.h"
#include "ui/contentview.h"
#include "ui/historypanel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The platform's keys for `key`, and `also` where it has not got it.
QList<QKeySequence> bindingsWith(QKeySequence::StandardKey key, const QKeySequence& also)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    if (!keys.contains(also))
        keys.append(also);
    return keys;
}

// The user's settings: kept apart from the history, so that they outlive a
// broken database and hold with history off. Folders stay bytes.
const QString folderKey = QStringLiteral("folder");
const QString plainOutputKey = QStringLiteral("plainOutput");
const QString zoomKey = QStringLiteral("zoom");
const QString historyVisibleKey = QStringLiteral("historyVisible");
// One per repository, under the hex of its top folder's bytes: a path is
// neither a key QSettings can hold nor always text.
const QString setupCommandsGroup = QStringLiteral("setupCommands/");

QString setupCommandKey(const QByteArray& repositoryTop)
{
    return setupCommandsGroup + QString::fromLatin1(repositoryTop.toHex());
}

// The check command of a repository, and its time limit in minutes.
QString checkCommandKey(const QByteArray& repositoryTop)
{
    return QStringLiteral("checkCommands/") + QString::fromLatin1(repositoryTop.toHex());
}
QString checkLimitKey(const QByteArray& repositoryTop)
{
    return QStringLiteral("checkTimeLimits/") + QString::fromLatin1(repositoryTop.toHex());
}
int checkLimitMinutes(const QSettings& settings, const QByteArray& top)
{
    const auto fallback =
        std::chrono::duration_cast<std::chrono::minutes>(BrevaneModel::CheckSetting().timeLimit);
    return std::clamp(settings.value(checkLimitKey(top), int(fallback.count())).toInt(), 1, 600);
}
const QString trustedFoldersKey = QStringLiteral("trustedFolders");

QList<QByteArray> byteList(const QVariant& value)
{
    QList<QByteArray> list;
    for (const QVariant& item : value.toList())
        list << item.toByteArray();
    return list;
}

QVariantList variantList(const QList<QByteArray>& list)
{
    QVariantList out;
    for (const QByteArray& item : list)
        out << item;
    return out;
}

QList<MainWindow*> allWindows()
{
    QList<MainWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            windows << window;
    }
    return windows;
}

} // namespace

QByteArray MainWindow::lastFolder(const AppServices& app)
{
    return app.settings ? app.settings->value(folderKey).toByteArray() : QByteArray();
}

MainWindow::MainWindow(const AppServices& app, const QByteArray& workingFolder, QWidget* parent)
    : QMainWindow(parent)
    , m_app(app)
    , m_content(new ContentView(app.owner, workingFolder))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(m_content->title());
    connect(m_content, &ContentView::titleChanged, this, &QWidget::setWindowTitle);
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_historyBar = new QLabel;
    m_historyBar->setWordWrap(true);
    m_historyBar->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_historyBar->setContentsMargins(14, 8, 14, 8);
    m_historyBar->setAutoFillBackground(true);
    QPalette barColours = m_historyBar->palette();
    barColours.setColor(QPalette::Window, QColor(255, 204, 0, 70));
    m_historyBar->setPalette(barColours);
    m_historyBar->hide();
    layout->addWidget(m_historyBar);
    layout->addWidget(m_content, 1);
    setCentralWidget(central);
    if (m_app.history)
        buildHistory();
    restoreSettings();
    buildMenus();
}

MainWindow::~MainWindow()
{
    // Before the model it watches, which goes with the central widget.
    delete m_recorder;
}

MainWindow* MainWindow::open(const AppServices& app, const QByteArray& workingFolder)
{
    auto* window = new MainWindow(app, workingFolder);
    window->show();
    return window;
}

void MainWindow::buildHistory()
{
    HistoryStore& store = *m_app.history;
    BrevaneModel* model = m_content->model();
    m_recorder = new SessionRecorder(*model, store, this);
    connect(&store, &HistoryStore::opened, this, &MainWindow::updateHistoryBar);
    connect(&store, &HistoryStore::turnedOff, this, &MainWindow::updateHistoryBar);
    updateHistoryBar();

    m_historyPanel = new HistoryPanel(store);
    m_historyDock = new QDockWidget(tr("History"), this);
    m_historyDock->setObjectName(QStringLiteral("history"));
    m_historyDock->setWidget(m_historyPanel);
    m_historyDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    addDockWidget(Qt::LeftDockWidgetArea, m_historyDock);
    m_historyDock->hide();
    connect(m_historyPanel, &HistoryPanel::openRequested, this,
            [this](const QString& id) { openSession(id); });
    m_historyPanel->setRunningHere([](const QString& id) {
        const QList<MainWindow*> windows = allWindows();
        return std::any_of(windows.begin(), windows.end(), [&id](MainWindow* window) {
            const BrevaneModel* shown = window->m_content->model();
            return shown->sessionId() == id && shown->busy();
        });
    });
    // Whether a session of this window runs shows in the list at once.
    connect(model, &BrevaneModel::changed, m_historyPanel,
            [this, model, running = false]() mutable {
                if (model->anyRunning() != running) {
                    running = model->anyRunning();
                    if (m_historyDock->isVisible())
                        m_historyPanel->refresh();
                }
            });
    m_historyPanel->setWorktreeDiscarder(
        [this](const QStringList& ids, auto done) { discardSessionWorktrees(ids, done); });
    m_historyPanel->setSpaceCounter([owner = &m_app.owner](const auto& sessions, auto counted) {
        owner->startThread([owner, sessions, counted](const WakeUpFd& quit) {
            for (const auto& [id, folders] : sessions) {
                qint64 bytes = 0;
                for (const QByteArray& folder : folders) {
                    const std::optional<qint64> used = diskUsage(folder, &quit);
                    if (!used)
                        return;
                    bytes += *used;
                }
                owner->handOver([counted, id, bytes] { counted(id, bytes); });
            }
        });
    });
    // A session shown in a window is discarded by that window, which then
    // refuses follow-ups and another discard until it is done; the others
    // here, the panel told when they are done.
    connect(m_historyPanel, &HistoryPanel::discardRequested, this, [this](QStringList ids) {
        for (MainWindow* window : allWindows()) {
            BrevaneModel* shown = window->m_content->model();
            if (ids.removeAll(shown->sessionId()) == 0)
                continue;
            if (shown->canDiscardWorktrees())
                shown->discardWorktrees();
            m_historyPanel->discardEnded({shown->sessionId()});
        }
        if (ids.isEmpty())
            return;
        QPointer<MainWindow> self(this);
        discardSessionWorktrees(ids, [self, ids](const QStringList&, const QStringList& errors) {
            if (!self)
                return;
            self->m_historyPanel->discardEnded(ids);
            self->m_historyPanel->refresh();
            if (!errors.isEmpty())
                QMessageBox::warning(
                    self, tr("Discard Worktrees"),
                    tr("Some worktrees could not be removed:\n%1").arg(errors.join(u'\n')));
        });
    });
    // A session shown in a window and deleted goes from the window too, so
    // that nothing is written for it again.
    connect(m_historyPanel, &HistoryPanel::deleting, this, [](const QStringList& ids) {
        for (MainWindow* window : allWindows()) {
            BrevaneModel* shown = window->m_content->model();
            if (ids.contains(shown->sessionId()) && shown->canStartNewSession()) {
                if (window->m_recorder)
                    window->m_recorder->flush();
                shown->newSession();
            }
        }
    });
    connect(model, &BrevaneModel::worktreesRemoved, m_historyPanel, &HistoryPanel::refresh);
    // What this window records shows in its list once a turn begins or ends.
    connect(model, &BrevaneModel::allEnded, m_historyPanel, [this] {
        m_recorder->flush();
        m_historyPanel->refresh();
    });
}

void MainWindow::discardSessionWorktrees(
    const QStringList& ids,
    std::function<void(const QStringList& gone, const QStringList& errors)> done)
{
    HistoryStore* store = m_app.history;
    ProcessOwner* owner = &m_app.owner;
    QPointer<HistoryStore> alive(store);
    store->listWorktrees([ids, done, owner, alive](const QList<WorktreeRow>& rows) {
        QList<WorktreeRow> theirs;
        for (const WorktreeRow& row : rows) {
            if (ids.contains(row.sessionId))
                theirs << row;
        }
        owner->startThread([ids, theirs, done, owner, alive](const WakeUpFd& quit) {
            GitContext context;
            context.cancel = &quit;
            // Each session's worktrees go together, with its refs.
            QStringList gone = ids;
            QStringList errors;
            QList<WorktreeRow> removed;
            for (const QString& id : ids) {
                QMap<QByteArray, QList<QByteArray>> byRepository;
                for (const WorktreeRow& row : theirs) {
                    if (row.sessionId == id)
                        byRepository[row.repositoryTop] << row.path;
                }
                for (auto it = byRepository.begin(); it != byRepository.end(); ++it) {
                    const DiscardedWorktrees discarded =
                        discardWorktrees(it.key(), id, it.value(), context);
                    for (const WorktreeRow& row : theirs) {
                        if (row.sessionId == id && discarded.removed.contains(row.path))
                            removed << row;
                    }
                    if (!discarded.errors.isEmpty()) {
                        gone.removeAll(id);
                        errors += discarded.errors;
                    }
                }
            }
            if (quit.raised())
                return;
            owner->handOver([alive, gone, errors, removed, done] {
                if (!alive)
                    return;
                for (WorktreeRow row : removed) {
                    row.state = WorktreeRow::State::Removed;
                    alive->write(row);
                }
                done(gone, errors);
            });
        });
    });
}

void MainWindow::checkWorktrees(const AppServices& app)
{
    HistoryStore* store = app.history;
    if (!store)
        return;
    ProcessOwner* owner = &app.owner;
    QPointer<HistoryStore> alive(store);
    const QByteArray data = QFile::encodeName(QFileInfo(store->path()).absolutePath());
    store->listWorktrees([owner, alive, data](const QList<WorktreeRow>& rows) {
        if (rows.isEmpty())
            return;
        QList<KnownWorktree> known;
        for (const WorktreeRow& row : rows)
            known << KnownWorktree{row.sessionId, row.repositoryTop, row.path,
                                   row.state != WorktreeRow::State::Creating};
        owner->startThread([owner, alive, known, rows, data](const WakeUpFd& quit) {
            GitContext context;
            context.cancel = &quit;
            const WorktreeCheck check = findLeftovers(known, data, context);
            if (quit.raised())
                return;
            owner->handOver([alive, check, rows] {
                if (!alive)
                    return;
                // Gone ones are on record as such; one made but never
                // recorded as ready is listed as a leftover, to be discarded.
                for (WorktreeRow row : rows) {
                    const KnownWorktree known{row.sessionId, row.repositoryTop, row.path,
                                              row.state != WorktreeRow::State::Creating};
                    if (check.gone.contains(known))
                        row.state = WorktreeRow::State::Removed;
                    else if (check.leftovers.contains(known))
                        row.state = WorktreeRow::State::Leftover;
                    else
                        continue;
                    alive->write(row);
                }
                for (const QString& error : check.errors)
                    qWarning("%s", qPrintable(error));
                for (MainWindow* window : allWindows())
                    window->m_historyPanel->refresh();
            });
        });
    });
}

void MainWindow::updateHistoryBar()
{
    const HistoryStore* store = m_app.history;
    const bool off = store && !store->isOn();
    // While on, the store may still have something to tell (a damaged file
    // it moved aside).
    const QString text = !store ? QString() : off ? store->whyOff() : store->note();
    m_historyBar->setText(text);
    m_historyBar->setVisible(!text.isEmpty());
    if (m_historyDock) {
        if (off)
            m_historyDock->hide();
        m_historyDock->toggleViewAction()->setEnabled(!off);
    }
}

void MainWindow::restoreSettings()
{
    QSettings* settings = m_app.settings;
    if (!settings)
        return;
    BrevaneModel* model = m_content->model();
    model->setPlainOutput(settings->value(plainOutputKey, model->plainOutput()).toBool());
    m_content->setZoom(settings->value(zoomKey, 0.0).toDouble());
    model->setTrustedFolders(byteList(settings->value(trustedFoldersKey)));
    model->setSetupCommands([settings](const QByteArray& top) {
        return settings->value(setupCommandKey(top)).toString();
    });
    model->setCheckCommands([settings](const QByteArray& top) {
        return BrevaneModel::CheckSetting{settings->value(checkCommandKey(top)).toString(),
                                          std::chrono::minutes(checkLimitMinutes(*settings, top))};
    });
    if (m_historyDock)
        m_historyDock->setVisible(settings->value(historyVisibleKey, false).toBool() &&
                                  m_app.history->isOn());

    connect(m_content, &ContentView::zoomChanged, this,
            [this, settings] { settings->setValue(zoomKey, m_content->zoom()); });
    // Output changes the model many times a second: only what differs from
    // what was last seen goes to the settings.
    connect(model, &BrevaneModel::changed, this,
            [model, settings, plain = model->plainOutput(), folder = QByteArray(),
             trustedSeen = model->trustedFolders().size()]() mutable {
                if (model->plainOutput() != plain) {
                    plain = model->plainOutput();
                    settings->setValue(plainOutputKey, plain);
                }
                if (!model->workingFolder().isEmpty() && model->workingFolder() != folder) {
                    folder = model->workingFolder();
                    settings->setValue(folderKey, folder);
                }
                if (model->trustedFolders().size() == trustedSeen)
                    return;
                // Folders trusted in other windows count here too.
                QList<QByteArray> trusted = byteList(settings->value(trustedFoldersKey));
                for (const QByteArray& each : model->trustedFolders()) {
                    if (!trusted.contains(each))
                        trusted << each;
                }
                settings->setValue(trustedFoldersKey, variantList(trusted));
                model->setTrustedFolders(trusted);
                trustedSeen = trusted.size();
            });
    if (m_historyDock) {
        connect(m_historyDock->toggleViewAction(), &QAction::toggled, this,
                [this, settings](bool visible) {
                    // Not as the window itself goes, taking the panel with
                    // it, nor as history turning off hides it.
                    if (isVisible() && m_app.history->isOn())
                        settings->setValue(historyVisibleKey, visible);
                });
    }
}

void MainWindow::editSetupCommand()
{
    const QByteArray top = m_content->model()->repositoryTop();
    QSettings* settings = m_app.settings;
    if (top.isEmpty() || !settings)
        return;
    auto* dialog = new QInputDialog(this);
    dialog->setWindowTitle(tr("Setup Command"));
    dialog->setLabelText(tr("Run in each new worktree of %1, through your login shell (for "
                            "example \"npm ci\"). Empty: none.")
                             .arg(QString::fromUtf8(top)));
    dialog->setTextValue(settings->value(setupCommandKey(top)).toString());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QInputDialog::textValueSelected, this, [settings, top](const QString& text) {
        if (text.trimmed().isEmpty())
            settings->remove(setupCommandKey(top));
        else
            settings->setValue(setupCommandKey(top), text);
    });
    dialog->open();
}

CompareWindow* MainWindow::compareWindow() const
{
    return m_compare;
}

void MainWindow::editCheckCommand()
{
    const QByteArray top = m_content->model()->repositoryTop();
    QSettings* settings = m_app.settings;
    if (top.isEmpty() || !settings)
        return;
    auto* dialog = new QDialog(this);
    dialog->setWindowTitle(tr("Check Command"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    auto* about = new QLabel(tr("Run in an agent's worktree of %1 through your login shell, to "
                                "tell whether its work passes (for example \"make test\"). "
                                "Empty: none.")
                                 .arg(QString::fromUtf8(top)));
    about->setWordWrap(true);
    layout->addWidget(about);
    auto* form = new QFormLayout;
    auto* command = new QLineEdit(settings->value(checkCommandKey(top)).toString());
    command->setObjectName(QStringLiteral("checkCommand"));
    auto* limit = new QSpinBox;
    limit->setObjectName(QStringLiteral("checkTimeLimit"));
    limit->setRange(1, 600);
    limit->setSuffix(tr(" min"));
    limit->setValue(checkLimitMinutes(*settings, top));
    form->addRow(tr("Command:"), command);
    form->addRow(tr("Time limit:"), limit);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QPointer<BrevaneModel> model(m_content->model());
    connect(dialog, &QDialog::accepted, this, [settings, top, command, limit, model] {
        if (command->text().trimmed().isEmpty())
            settings->remove(checkCommandKey(top));
        else
            settings->setValue(checkCommandKey(top), command->text());
        settings->setValue(checkLimitKey(top), limit->value());
        // Run Check follows at once.
        if (model)
            Q_EMIT model->changed();
    });
    dialog->open();
}

void MainWindow::openSession(const QString& id, std::function<void(MainWindow*)> opened)
{
    for (MainWindow* window : allWindows()) {
        if (window->m_content->model()->sessionId() == id) {
            window->raise();
            window->activateWindow();
            if (opened)
                opened(window);
            return;
        }
    }
    if (!m_app.history)
        return;
    QPointer<MainWindow> self(this);
    m_app.history->loadSession(id, [self, opened](std::optional<StoredSession> session) {
        if (!self)
            return;
        if (!session) {
            QMessageBox::information(self, tr("Open Session"),
                                     tr("This session is no longer in the history."));
            if (opened)
                opened(nullptr);
            return;
        }
        // Another Open may have shown it meanwhile: one window per session.
        for (MainWindow* window : allWindows()) {
            if (window->m_content->model()->sessionId() == session->session.id) {
                window->raise();
                window->activateWindow();
                if (opened)
                    opened(window);
                return;
            }
        }
        MainWindow* target = self;
        if (self->m_content->model()->anyRunning())
            target = MainWindow::open(self->m_app, session->session.baseFolder);
        target->showSession(*session);
        target->raise();
        target->activateWindow();
        if (opened)
            opened(target);
    });
}

void MainWindow::showSession(const StoredSession& session)
{
    if (m_recorder)
        m_recorder->flush();
    m_content->model()->restoreSession(session.session.id, session.session.baseFolder,
                                       session.session.createdAt, keptAgents(session),
                                       keptAssembled(session));
    if (m_recorder)
        m_recorder->adoptSession();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Turns still running are kept as Interrupted now: nothing of this
    // window will record their end.
    if (m_recorder)
        m_recorder->interruptRunning();
    QMainWindow::closeEvent(event);
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    // A new window starts where this one works.
    QAction* newWindow = file->addAction(tr("New Window"), this, [this] {
        MainWindow::open(m_app, m_content->model()->workingFolder());
    });
    newWindow->setShortcut(QKeySequence::New);
    file->addAction(m_content->newSessionAction());
    QAction* openFolder =
        file->addAction(tr("Open Folder…"), m_content, &ContentView::chooseFolder);
    openFolder->setShortcut(QKeySequence::Open);
    file->addAction(m_content->saveTranscriptsAction());
    file->addSeparator();
    m_setupCommand = file->addAction(tr("Setup Command…"), this, &MainWindow::editSetupCommand);
    m_checkCommand = file->addAction(tr("Check Command…"), this, &MainWindow::editCheckCommand);
    file->addAction(m_content->runChecksAction());
    file->addAction(m_content->discardWorktreesAction());
    auto setupEnablement = [this] {
        const bool repository = m_app.settings && !m_content->model()->repositoryTop().isEmpty();
        m_setupCommand->setEnabled(repository);
        m_checkCommand->setEnabled(repository);
    };
    setupEnablement();
    connect(m_content->model(), &BrevaneModel::changed, m_setupCommand, setupEnablement);
    file->addSeparator();
    QAction* closeWindow = file->addAction(tr("Close Window"), this, &QWidget::close);
    closeWindow->setShortcut(QKeySequence::Close);
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit"), qApp, &QCoreApplication::quit);
    // Platforms without a desktop theme bind no key to Quit; Ctrl+Q is what
    // every desktop uses.
    quit->setShortcut(QKeySequence::keyBindings(QKeySequence::Quit).isEmpty()
                          ? QKeySequence(Qt::CTRL | Qt::Key_Q)
                          : QKeySequence(QKeySequence::Quit));
    quit->setMenuRole(QAction::QuitRole);

    // The standard edit commands act on whatever has the keyboard: the task
    // field or a transcript. Slots are looked up by name so that any widget
    // offering them (QPlainTextEdit, QLineEdit, a transcript view) is served.
    struct EditCommand {
        const char* title;
        QKeySequence::StandardKey key;
        const char* slot;
    };
    const EditCommand commands[] = {
        {QT_TR_NOOP("Undo"), QKeySequence::Undo, "undo"},
        {QT_TR_NOOP("Redo"), QKeySequence::Redo, "redo"},
        {nullptr, QKeySequence::UnknownKey, nullptr},
        {QT_TR_NOOP("Cut"), QKeySequence::Cut, "cut"},
        {QT_TR_NOOP("Copy"), QKeySequence::Copy, "copy"},
        {QT_TR_NOOP("Paste"), QKeySequence::Paste, "paste"},
        {QT_TR_NOOP("Select All"), QKeySequence::SelectAll, "selectAll"},
    };
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    for (const EditCommand& command : commands) {
        if (!command.title) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(tr(command.title), this,
                                          [slot = command.slot] { invokeOnFocus(slot); });
        action->setShortcut(command.key);
    }
    edit->addSeparator();
    QAction* find = edit->addAction(tr("Find…"), m_content, &ContentView::showFind);
    find->setShortcut(QKeySequence::Find);
    QAction* findNext = edit->addAction(tr("Find Next"), m_content, &ContentView::findNext);
    findNext->setShortcuts(bindingsWith(QKeySequence::FindNext, QKeySequence(Qt::Key_F3)));
    QAction* findPrevious =
        edit->addAction(tr("Find Previous"), m_content, &ContentView::findPrevious);
    findPrevious->setShortcuts(
        bindingsWith(QKeySequence::FindPrevious, QKeySequence(Qt::SHIFT | Qt::Key_F3)));

    // Zoom sizes the transcripts of this window.
    QMenu* view = menuBar()->addMenu(tr("&View"));
    // Per window: the tools that can report their work step by step do so
    // unless this is ticked.
    QAction* plainOutput = view->addAction(tr("Plain Output"));
    plainOutput->setCheckable(true);
    plainOutput->setChecked(m_content->model()->plainOutput());
    connect(plainOutput, &QAction::toggled, m_content->model(), &BrevaneModel::setPlainOutput);
    connect(m_content->model(), &BrevaneModel::changed, plainOutput,
            [plainOutput, model = m_content->model()] {
                if (plainOutput->isChecked() != model->plainOutput())
                    plainOutput->setChecked(model->plainOutput());
            });
    view->addSeparator();
    QAction* zoomIn = view->addAction(tr("Zoom In"), m_content, [this] { m_content->zoomBy(1); });
    // Ctrl+= is Ctrl++ without Shift on most keyboards.
    zoomIn->setShortcuts(
        bindingsWith(QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)));
    QAction* zoomOut =
        view->addAction(tr("Zoom Out"), m_content, [this] { m_content->zoomBy(-1); });
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    QAction* actualSize = view->addAction(tr("Actual Size"), m_content, &ContentView::resetZoom);
    actualSize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    view->addSeparator();
    QAction* compare = view->addAction(tr("Compare Agents"), this, [this] {
        if (!m_compare)
            m_compare = new CompareWindow(m_content->model(), this);
        m_compare->show();
        m_compare->raise();
        m_compare->activateWindow();
    });
    compare->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    auto compareEnablement = [compare, model = m_content->model()] {
        compare->setEnabled(model->sessionHasWorktrees());
    };
    compareEnablement();
    connect(m_content->model(), &BrevaneModel::changed, compare, compareEnablement);
    view->addSeparator();
    if (m_historyDock) {
        QAction* history = m_historyDock->toggleViewAction();
        history->setText(tr("History"));
        history->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
        view->addAction(history);
    } else {
        QAction* history = view->addAction(tr("History"));
        history->setEnabled(false);
        history->setToolTip(tr("Brevane was started with --no-history."));
    }
}

void MainWindow::invokeOnFocus(const char* slot)
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return;
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot);
}
