#include "ui/contentview.h"

#include "model/brevanemodel.h"
#include "platform/files.h"
#include "platform/processowner.h"
#include "text/trim.h"
#include "ui/changesview.h"
#include "ui/columnview.h"
#include "ui/findbar.h"
#include "ui/icons.h"
#include "ui/notifier.h"
#include "ui/painting.h"
#include "ui/spinner.h"
#include "ui/statuslabel.h"
#include "ui/tasktextedit.h"
#include "ui/transcriptsfile.h"
#include "ui/transcriptview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int rootSpacing = 12;
constexpr int rootMargin = 14;
constexpr int controlSpacing = 8;
constexpr int columnSpacing = 10;
constexpr int spinnerDiameter = 24;
// The folder button's path is elided in the middle beyond this width.
constexpr int folderTextWidth = 220;

// The columns' spinner, drawn larger: it stands alone in the window.
Spinner* makeSpinner()
{
    auto* spinner = new Spinner;
    spinner->setFixedSize(spinnerDiameter, spinnerDiameter);
    return spinner;
}

QPushButton* makeButton(const QIcon& icon, const QString& text)
{
    auto* button = new QPushButton(icon, text);
    button->setIconSize(QSize(Icons::symbolSize, Icons::symbolSize));
    // A click leaves the keyboard in the task field, as on the platforms'
    // own buttons, and a button disabled by its click doesn't push focus on.
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// The path of a file URL on this machine, percent-decoded to the bytes of
// the file's name; empty for any other URL.
QByteArray localPath(QByteArrayView uri)
{
    constexpr QByteArrayView scheme("file:");
    if (uri.size() < scheme.size() ||
        uri.first(scheme.size()).compare(scheme, Qt::CaseInsensitive) != 0)
        return QByteArray();
    uri = uri.sliced(scheme.size());
    if (uri.startsWith("//")) {
        // file://host/path names a file of this machine only without a host
        // or with "localhost".
        uri = uri.sliced(2);
        const qsizetype slash = uri.indexOf('/');
        const QByteArrayView host = uri.first(slash < 0 ? uri.size() : slash);
        if (slash < 0 || (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0))
            return QByteArray();
        uri = uri.sliced(slash);
    }
    // A '?' or '#' in a name is percent-encoded: a bare one ends the path.
    for (const char end : {'?', '#'}) {
        if (const qsizetype at = uri.indexOf(end); at >= 0)
            uri = uri.first(at);
    }
    const QByteArray path = QByteArray::fromPercentEncoding(uri.toByteArray());
    return path.startsWith('/') && !path.contains('\0') ? path : QByteArray();
}

// The first local folder among the dragged URLs, as bytes; empty when there
// is none. Read from the raw URI list: QMimeData::urls() gives each path as
// text, where bytes that are not UTF-8 have become U+FFFD.
QByteArray folderIn(const QMimeData* data)
{
    if (!data)
        return QByteArray();
    const QList<QByteArray> lines = data->data(QStringLiteral("text/uri-list")).split('\n');
    for (const QByteArray& line : lines) {
        const QByteArray uri = line.trimmed(); // and the CR of CR LF
        if (uri.isEmpty() || uri.startsWith('#'))
            continue;
        if (const QByteArray path = localPath(uri); isDirectory(path))
            return absoluteCleanPath(path);
    }
    return QByteArray();
}

// Whether the folder picker's `folder` surely names the folder the user chose.
// The picker speaks text: a name whose bytes are not UTF-8 comes back with
// U+FFFD in their place, naming another folder or none.
bool namesChosenFolder(const QString& folder)
{
    return !folder.contains(QChar::ReplacementCharacter) && QFileInfo(folder).isDir();
}

} // namespace

ContentView::ContentView(ProcessOwner& owner, const QByteArray& workingFolder, QWidget* parent)
    : QWidget(parent)
    , m_owner(owner)
    , m_model(workingFolder.isEmpty() ? new BrevaneModel(owner, this)
                                      : new BrevaneModel(owner, workingFolder, this))
{
    setMinimumSize(minimumContentSize);

    auto* root = new QVBoxLayout(this);
    root->setSpacing(rootSpacing);
    root->setContentsMargins(rootMargin, rootMargin, rootMargin, rootMargin);

    const QColor textColour = palette().color(QPalette::ButtonText);
    const QColor disabledColour = palette().color(QPalette::Disabled, QPalette::ButtonText);
    m_folder = makeButton(style()->standardIcon(QStyle::SP_DirIcon), QString());
    m_saveTranscripts = new QAction(tr("Save Transcripts…"), this);
    m_saveTranscripts->setShortcut(QKeySequence::Save);
    connect(m_saveTranscripts, &QAction::triggered, this, &ContentView::saveTranscripts);
    m_taskField = new TaskTextEdit;
    m_run = makeButton(Icons::play(textColour, disabledColour), tr("Run"));
    m_newSession = makeButton(QIcon(), tr("New Session"));
    m_newSession->setToolTip(tr("Empty every column for a new task"));
    m_newSessionAction = new QAction(tr("New Session"), this);
    m_newSessionAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    m_stop = makeButton(Icons::stop(destructiveRed, disabledColour), tr("Stop"));
    QPalette stopPalette = m_stop->palette();
    // Disabled keeps the palette's grey, like any other disabled button.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        stopPalette.setColor(group, QPalette::ButtonText, destructiveRed);
    m_stop->setPalette(stopPalette);
    m_rescan = makeButton(Icons::reload(textColour, disabledColour), QString());
    m_rescan->setToolTip(tr("Rescan for installed tools"));
    m_rescan->setAccessibleName(m_rescan->toolTip());

    auto* controls = new QHBoxLayout;
    controls->setSpacing(controlSpacing);
    controls->addWidget(m_folder, 0, Qt::AlignTop);
    controls->addWidget(m_taskField, 1, Qt::AlignTop);
    for (QPushButton* button : {m_run, m_newSession, m_stop, m_rescan})
        controls->addWidget(button, 0, Qt::AlignTop);
    root->addLayout(controls);

    // How the session's agents work: chosen before its first turn.
    m_separateWorktrees = new QCheckBox(tr("Separate worktrees"));
    m_allowCommands = new QCheckBox(tr("Allow commands"));
    m_allowCommands->setToolTip(
        tr("Let the agents in worktrees run commands, not only edit files"));
    m_commandsWarning = new QLabel(tr("The agents may run any command as you, and worktrees share "
                                      "the repository's refs and stash."));
    m_commandsWarning->setForegroundRole(QPalette::PlaceholderText);
    m_commandsWarning->setWordWrap(true);
    m_commandsWarning->hide();
    auto* options = new QHBoxLayout;
    options->setSpacing(controlSpacing * 2);
    options->addWidget(m_separateWorktrees);
    options->addWidget(m_allowCommands);
    options->addWidget(m_commandsWarning, 1);
    options->addStretch();
    m_runChecks = new QPushButton(tr("Run Checks"));
    m_runChecks->hide();
    options->addWidget(m_runChecks);
    root->addLayout(options);
    m_runChecksAction = new QAction(tr("Run Checks"), this);
    connect(m_runChecksAction, &QAction::triggered, m_model, &BrevaneModel::runChecks);
    connect(m_runChecks, &QPushButton::clicked, m_model, &BrevaneModel::runChecks);
    m_notifier = new DesktopNotifier(this);
    m_discardWorktrees = new QAction(tr("Discard Worktrees…"), this);
    connect(m_discardWorktrees, &QAction::triggered, this, &ContentView::discardWorktrees);
    connect(m_model, &BrevaneModel::worktreesRemoved, this,
            [this](const QString&, const QList<QByteArray>&, const QStringList& errors) {
                if (errors.isEmpty())
                    return;
                auto* box = new QMessageBox(QMessageBox::Warning, tr("Discard Worktrees"),
                                            tr("Some worktrees could not be removed."),
                                            QMessageBox::Ok, this);
                box->setDetailedText(errors.join(u'\n'));
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
            });
    connect(m_separateWorktrees, &QCheckBox::clicked, m_model, &BrevaneModel::setSeparateWorktrees);
    connect(m_allowCommands, &QCheckBox::clicked, m_model, &BrevaneModel::setAllowCommands);

    m_findBar = new FindBar;
    m_findBar->hide();
    root->addWidget(m_findBar);
    connect(m_findBar, &FindBar::queryChanged, this, &ContentView::applyFindQuery);
    connect(m_findBar, &FindBar::nextRequested, this, &ContentView::findNext);
    connect(m_findBar, &FindBar::previousRequested, this, &ContentView::findPrevious);
    connect(m_findBar, &FindBar::closeRequested, this, &ContentView::closeFind);
    // Escape closes the bar wherever the keyboard is in the window.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (m_findBar->isVisible())
            closeFind();
    });

    m_spinnerPage = new QWidget;
    auto* spinnerLayout = new QVBoxLayout(m_spinnerPage);
    spinnerLayout->setContentsMargins(0, 0, 0, 0);
    spinnerLayout->addStretch(1);
    spinnerLayout->addWidget(makeSpinner(), 0, Qt::AlignHCenter);
    spinnerLayout->addWidget(new QLabel(tr("Looking for installed tools…")), 0, Qt::AlignHCenter);
    spinnerLayout->addStretch(1);

    // Made once: a rescan shows these same columns again, scroll positions
    // and all.
    m_columnsPage = new QWidget;
    auto* columnsLayout = new QHBoxLayout(m_columnsPage);
    columnsLayout->setContentsMargins(0, 0, 0, 0);
    columnsLayout->setSpacing(columnSpacing);
    for (AgentSession* runner : m_model->runners()) {
        auto* column = new ColumnView(runner);
        const qsizetype index = m_columns.size();
        connect(column, &ColumnView::includeToggled, m_model,
                [this, index](bool included) { m_model->setIncluded(index, included); });
        connect(column, &ColumnView::trustFolderRequested, m_model,
                [this, index] { m_model->trustFolderAndRetry(index); });
        connectChanges(column, index);
        columnsLayout->addWidget(column, 1);
        m_columns.push_back(column);
        column->transcript()->installEventFilter(this);
        connect(column->transcript(), &TranscriptView::zoomRequested, this, &ContentView::zoomBy);
    }
    m_defaultPointSize = m_columns.isEmpty()
                             ? QFontDatabase::systemFont(QFontDatabase::FixedFont).pointSizeF()
                             : m_columns.front()->transcript()->font().pointSizeF();
    m_pointSize = m_defaultPointSize;

    m_pages = new QStackedWidget;
    m_pages->addWidget(m_spinnerPage);
    m_pages->addWidget(m_columnsPage);
    root->addWidget(m_pages, 1);

    connect(m_model, &BrevaneModel::changed, this, &ContentView::handleModelChanged);
    // What the user typed is what the field shows: a task emptied by a Send
    // before the next render must still empty the field.
    connect(m_taskField, &TaskTextEdit::textEdited, m_model, [this](const QString& text) {
        m_shownTask = text;
        m_model->setTask(text);
    });
    // The model checks its own rules: a Return in the field while a run is
    // under way does nothing.
    connect(m_taskField, &TaskTextEdit::submitRequested, m_model, &BrevaneModel::start);
    connect(m_run, &QPushButton::clicked, m_model, &BrevaneModel::start);
    // Control-Return (Command-Return on macOS) runs at once, as Return does.
    // Not the Run button's shortcut: that animates a click which fires
    // 100 ms later, and a Stop pressed meanwhile would find nothing to stop.
    auto* run = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    run->setContext(Qt::WidgetWithChildrenShortcut);
    connect(run, &QShortcut::activated, m_model, &BrevaneModel::start);
    connect(m_stop, &QPushButton::clicked, m_model, &BrevaneModel::stopAll);
    connect(m_newSession, &QPushButton::clicked, m_model, &BrevaneModel::newSession);
    connect(m_newSessionAction, &QAction::triggered, m_model, &BrevaneModel::newSession);
    connect(m_rescan, &QPushButton::clicked, this, [this] {
        if (m_model->canRescan())
            m_model->scan();
    });
    connect(m_folder, &QPushButton::clicked, this, &ContentView::chooseFolder);
    // A run (and its checks) that ends while the user works elsewhere
    // calls them back: a desktop notification that brings the window up,
    // else the taskbar's alert.
    connect(m_model, &BrevaneModel::settled, this, [this] {
        if (window()->isActiveWindow())
            return;
        QPointer<QWidget> shown(window());
        m_notifier->notify(
            tr("The agents are done"), settledSummary(),
            [shown] {
                if (!shown)
                    return;
                shown->show();
                shown->raise();
                shown->activateWindow();
            },
            [shown] {
                if (shown)
                    QApplication::alert(shown);
            });
    });

    // A folder dropped anywhere, the task field included, becomes the
    // working folder instead of text.
    setAcceptDrops(true);
    m_taskField->viewport()->installEventFilter(this);

    m_taskField->setFocus();
    render();
}

ContentView::~ContentView()
{
    // The columns go before the runners they observe.
    delete m_pages;
    delete m_model;
}

bool ContentView::showsSpinner() const
{
    return m_pages->currentWidget() == m_spinnerPage;
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_scannedOnShow, true))
        return;
    // The window would otherwise give the keyboard to the first control in
    // tab order, the folder button, and typing would go nowhere.
    m_taskField->setFocus();
    m_model->scan();
}

QString ContentView::title() const
{
    const QString folder = m_model->workingFolderText();
    const QString name = QFileInfo(folder).fileName();
    const QString title =
        tr("%1 — Brevane").arg(name.isEmpty() ? QDir::toNativeSeparators(folder) : name);
    const auto running = std::count_if(m_model->runners().begin(), m_model->runners().end(),
                                       [](const AgentSession* r) { return r->state().isActive(); });
    return running ? tr("%n running — ", nullptr, int(running)) + title : title;
}

void ContentView::chooseFolder()
{
    // open(), not exec(): modal to this window only, and no event loop of
    // its own that other windows' dialogs would have to wait for.
    auto* dialog = new QFileDialog(this, tr("Choose the Folder the Tools Work In"),
                                   m_model->workingFolderText());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    connect(dialog, &QFileDialog::fileSelected, this, &ContentView::takeChosenFolder);
    dialog->open();
}

void ContentView::takeChosenFolder(const QString& folder)
{
    if (namesChosenFolder(folder)) {
        m_model->setWorkingFolder(QFile::encodeName(QDir::cleanPath(folder)));
        return;
    }
    auto* box = new QMessageBox(
        QMessageBox::Warning, tr("Folder Not Opened"),
        tr("The folder picker cannot give the name of “%1” exactly, as it is not valid text. "
           "Drop the folder on the window, or give it on the command line, instead.")
            .arg(QDir::toNativeSeparators(folder)),
        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void ContentView::saveTranscripts()
{
    const QString folder = m_model->workingFolderText();
    // Named after the session's first task: the field is empty after a follow-up.
    QString task = trimmedBlanksAndLineBreaks(m_model->task());
    for (const AgentSession* runner : m_model->runners()) {
        if (!runner->turns().isEmpty()) {
            task = runner->turns().front().prompt;
            break;
        }
    }
    const QString name = transcriptsFileName(task, QDateTime::currentDateTime());
    // A folder whose name is not text cannot be offered: the dialog starts
    // where it likes.
    const bool offerFolder = QFile::encodeName(folder) == m_model->workingFolder();
    auto* dialog =
        new QFileDialog(this, tr("Save Transcripts"),
                        offerFolder ? QDir(folder).filePath(name) : name, tr("Markdown (*.md)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& path) { saveTranscriptsTo(path); });
    dialog->open();
}

void ContentView::saveTranscriptsTo(const QString& path)
{
    const auto now = AgentSession::Clock::now();
    const QByteArray folder =
        m_model->sessionStarted() ? m_model->sessionFolder() : m_model->workingFolder();
    TranscriptsFile file{path, QString::fromUtf8(folder), QDateTime::currentDateTime(), {}};
    for (const AgentSession* runner : m_model->runners()) {
        const QList<Turn>& turns = runner->turns();
        if (turns.isEmpty())
            continue;
        const std::optional<QByteArray> ran = runner->ranPath();
        SavedRun run{runner->spec().name,
                     ran ? QFile::decodeName(*ran) : QStringLiteral("\u2014"),
                     {},
                     runner->outputSnapshot()};
        for (qsizetype i = 0; i < turns.size(); ++i) {
            const Turn& turn = turns[i];
            const bool latest = i + 1 == turns.size();
            const qsizetype end = turn.outputEnd < 0 ? run.transcript.text.size() : turn.outputEnd;
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                turn.endedAt.value_or(now) - turn.startedAt);
            run.turns.push_back(
                {turn.prompt,
                 statusLabel(turn.ranPath, turn.state, latest && runner->outputStillArriving()),
                 elapsedLabel(elapsed), describeUsage(turn.usage), turn.outputStart, end});
        }
        file.runs.push_back(std::move(run));
    }
    // Written off the GUI thread from snapshots, which the tools' further
    // output neither changes nor copies: the windows stay responsive.
    QPointer<ContentView> self(this);
    ProcessOwner* owner = &m_owner;
    owner->startThread([file = std::move(file), self, owner](const WakeUpFd& quit) {
        QString error;
        const bool saved = writeTranscriptsFile(file, &error, [&quit] { return quit.raised(); });
        if (quit.raised())
            return;
        owner->handOver([self, path = file.path, saved, error] {
            if (self)
                self->handleSaveEnded(path, saved, error);
        });
    });
}

void ContentView::handleSaveEnded(const QString& path, bool saved, const QString& error)
{
    if (!saved) {
        // Window-modal, without a nested event loop: the window goes on showing output.
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Could Not Save Transcripts"),
                                    tr("The transcripts could not be saved as “%1”: %2")
                                        .arg(QDir::toNativeSeparators(path), error),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    Q_EMIT transcriptsSaved(path, saved);
}

bool ContentView::takeFolderDrop(QDropEvent* event)
{
    const QByteArray folder = folderIn(event->mimeData());
    if (folder.isEmpty())
        return false;
    event->setDropAction(Qt::LinkAction);
    event->accept();
    if (event->type() == QEvent::Drop)
        m_model->setWorkingFolder(folder);
    return true;
}

void ContentView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!takeFolderDrop(event))
        QWidget::dragEnterEvent(event);
}

void ContentView::dropEvent(QDropEvent* event)
{
    if (!takeFolderDrop(event))
        QWidget::dropEvent(event);
}

bool ContentView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (takeFolderDrop(static_cast<QDropEvent*>(event)))
            return true;
        break;
    case QEvent::FocusIn:
        for (qsizetype i = 0; i < m_columns.size(); ++i)
            if (watched == m_columns[i]->transcript())
                m_findColumn = i;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void ContentView::showFind()
{
    m_findBar->open();
}

void ContentView::closeFind()
{
    m_findBar->hide();
    for (ColumnView* column : m_columns)
        column->transcript()->setFindQuery(QString(), Qt::CaseInsensitive);
    m_taskField->setFocus();
}

void ContentView::applyFindQuery()
{
    for (ColumnView* column : m_columns)
        column->transcript()->setFindQuery(m_findBar->query(), m_findBar->caseSensitivity());
}

ColumnView* ContentView::findColumn() const
{
    if (m_findColumn >= 0 && m_columns[m_findColumn]->transcript()->matchCount() > 0)
        return m_columns[m_findColumn];
    for (ColumnView* column : m_columns)
        if (column->transcript()->matchCount() > 0)
            return column;
    return nullptr;
}

void ContentView::findNext()
{
    if (!m_findBar->isVisible())
        return showFind();
    if (ColumnView* column = findColumn())
        column->transcript()->findNext();
}

void ContentView::findPrevious()
{
    if (!m_findBar->isVisible())
        return showFind();
    if (ColumnView* column = findColumn())
        column->transcript()->findPrevious();
}

void ContentView::zoomBy(int steps)
{
    setTranscriptPointSize(m_pointSize + steps);
}

void ContentView::resetZoom()
{
    setTranscriptPointSize(m_defaultPointSize);
}

void ContentView::setTranscriptPointSize(qreal size)
{
    size = std::clamp(size, minimumPointSize, maximumPointSize);
    if (size == m_pointSize)
        return;
    m_pointSize = size;
    for (ColumnView* column : m_columns) {
        QFont font = column->transcript()->font();
        font.setPointSizeF(size);
        column->transcript()->setFont(font);
    }
    Q_EMIT zoomChanged();
}

void ContentView::handleModelChanged()
{
    updateButtons();
    // The rest costs more and can wait for the next turn, once for a burst.
    if (std::exchange(m_renderPending, true))
        return;
    QMetaObject::invokeMethod(this, &ContentView::render, Qt::QueuedConnection);
}

QString ContentView::settledSummary() const
{
    QStringList parts;
    for (const AgentSession* agent : m_model->runners()) {
        if (agent->turns().isEmpty())
            continue;
        const RunState state = agent->state();
        const std::optional<CheckResult>& check = agent->check();
        QString detail;
        if (state.isDone() && state.status() != 0)
            detail = tr("exit status %1").arg(state.status());
        else if (state.isKilled())
            detail = tr("killed");
        else if (state.isStopped())
            detail = tr("stopped");
        else if (!state.isDone())
            detail = tr("failed");
        else if (check && check->outcome != CheckResult::Outcome::Passed)
            detail = check->outcome == CheckResult::Outcome::TimedOut  ? tr("check timed out")
                     : check->outcome == CheckResult::Outcome::Stopped ? tr("check stopped")
                                                                       : tr("check failed");
        const bool ok = detail.isEmpty();
        const qsizetype files = agent->worktreeChanges().snapshot.whole.size();
        if (ok && files == 1)
            detail = tr("1 file");
        else if (ok && files > 1)
            detail = tr("%n files", nullptr, int(files));
        QString part = agent->id() + (ok ? QStringLiteral(" \u2713") : QStringLiteral(" \u2717"));
        if (!detail.isEmpty())
            part += u' ' + detail;
        parts << part;
    }
    return parts.join(QStringLiteral(" \u00b7 "));
}

void ContentView::updateButtons()
{
    // Once the session has begun, the field sends follow-ups.
    const bool followUp = m_model->sessionStarted();
    if (followUp != (m_run->text() == tr("Send"))) {
        m_run->setText(followUp ? tr("Send") : tr("Run"));
        m_taskField->setPlaceholderText(
            followUp ? tr("Follow up: sent to each agent in its own conversation…")
                     : tr("Type a task for every agent…"));
    }
    m_newSession->setEnabled(m_model->canStartNewSession());
    m_newSessionAction->setEnabled(m_newSession->isEnabled());
    m_run->setEnabled(m_model->canRun());
    m_stop->setEnabled(m_model->canStop());
    m_rescan->setEnabled(m_model->canRescan());
    m_discardWorktrees->setEnabled(m_model->canDiscardWorktrees());
    // A check runs code the agent may have changed: by itself only where
    // the agents may run commands anyway.
    const QString checkTip =
        m_model->checkSetting().command.isEmpty()
            ? tr("Set a check command first: File > Check Command…")
        : m_model->allowCommands()
            ? tr("Run your check command in the agent's worktree (it also runs after each turn, "
                 "as commands are allowed)")
            : tr("Run your check command in the agent's worktree. It runs code the agent may "
                 "have changed, so it runs only when you ask, unless commands are allowed");
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        const AgentSession* agent = m_model->runners()[i];
        ChangesView* changes = m_columns[i]->changesView();
        const bool snapshot = !agent->worktreeChanges().snapshot.commit.isEmpty();
        changes->setRefreshEnabled(m_model->canRefreshChanges(i),
                                   tr("Take a new snapshot of the agent's worktree"));
        changes->setOpenWorktreeEnabled(agent->worktree().has_value(),
                                        tr("Show the agent's worktree in the file manager"));
        changes->setCreateBranchEnabled(
            snapshot, tr("Make a branch of your repository at the agent's latest snapshot"));
        changes->setApplyEnabled(m_model->canApplyChanges(i),
                                 tr("Write these changes into your folder, merged with yours, "
                                    "without committing"));
        changes->setDiscardEnabled(m_model->canDiscardWorktrees(),
                                   tr("Remove every worktree of this session"));
        m_columns[i]->setRunCheckEnabled(m_model->canRunCheck(i), checkTip);
    }
    m_runChecks->setVisible(m_model->sessionHasWorktrees());
    m_runChecks->setEnabled(m_model->canRunChecks());
    m_runChecks->setToolTip(checkTip);
    m_runChecksAction->setEnabled(m_runChecks->isEnabled());

    // Before the first turn the switch is the user's choice where worktrees
    // can be made; from then on it shows what the session has.
    const QString unavailable = m_model->worktreesUnavailable();
    const bool started = m_model->sessionStarted();
    const bool worktrees = started ? m_model->sessionHasWorktrees()
                                   : m_model->separateWorktrees() && unavailable.isEmpty();
    m_separateWorktrees->setChecked(worktrees);
    m_separateWorktrees->setEnabled(!started && unavailable.isEmpty());
    m_separateWorktrees->setToolTip(
        started ? tr("Chosen for this session at its first turn")
        : !unavailable.isEmpty()
            ? unavailable
            : tr("Each agent works in a git worktree of its own, made from the folder as you "
                 "see it, uncommitted changes included"));
    m_allowCommands->setChecked(m_model->allowCommands());
    m_allowCommands->setEnabled(worktrees);
    m_commandsWarning->setVisible(worktrees && m_model->allowCommands());
}

void ContentView::connectChanges(ColumnView* column, qsizetype index)
{
    ChangesView* changes = column->changesView();
    QPointer<ChangesView> view(changes);
    connect(changes, &ChangesView::diffRequested, this,
            [this, index, view](quint64 ticket, const GitFileChange& change, bool thisTurn) {
                m_model->loadDiff(index, change, thisTurn,
                                  [view, ticket](const GitResult<QByteArray>& diff) {
                                      if (!view)
                                          return;
                                      if (diff)
                                          view->showDiff(ticket, *diff);
                                      else
                                          view->showDiffError(ticket, diff.error());
                                  });
            });
    connect(changes, &ChangesView::refreshRequested, this,
            [this, index] { m_model->refreshChanges(index); });
    connect(column, &ColumnView::runCheckRequested, this,
            [this, index] { m_model->runCheck(index); });
    connect(changes, &ChangesView::discardRequested, this, &ContentView::discardWorktrees);
    connect(changes, &ChangesView::openWorktreeRequested, this, [this, index] {
        if (const auto& worktree = m_model->runners()[index]->worktree())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(worktree->path)));
    });
    connect(changes, &ChangesView::createBranchRequested, this, [this, index, view] {
        auto* dialog = new QInputDialog(this);
        dialog->setWindowTitle(tr("Create Branch"));
        dialog->setLabelText(tr("A branch of your repository at %1's latest snapshot:")
                                 .arg(m_model->runners()[index]->id()));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QInputDialog::textValueSelected, this,
                [this, index, view](const QString& name) {
                    m_model->createBranch(
                        index, name.trimmed(), [view, name](const GitResult<void>& made) {
                            if (view)
                                view->setStatus(made ? tr("Branch %1 created").arg(name)
                                                     : made.error());
                        });
                });
        dialog->open();
    });
    connect(changes, &ChangesView::applyRequested, this,
            [this, index, view](const QList<GitFileChange>& files) {
                // Nothing listed is nothing to apply (an empty list would be all).
                if (files.isEmpty())
                    return;
                QList<QByteArray> paths;
                for (const GitFileChange& file : files)
                    paths << file.path;
                view->setStatus(tr("Applying\u2026"));
                m_model->applyChanges(index, paths,
                                      [this, view](const GitResult<GitApplyResult>& result) {
                                          showApplied(view, result);
                                      });
            });
}

void ContentView::showApplied(ChangesView* view, const GitResult<GitApplyResult>& result)
{
    QString status;
    if (!result) {
        status = result.error();
    } else if (result->applied) {
        // English has no plural form of its own here: one file is said apart.
        const int written = int(result->written.size());
        status =
            (written == 1 ? tr("Applied: 1 file written")
                          : tr("Applied: %n files written", nullptr, written)) +
            (result->removed.isEmpty() ? QString()
                                       : tr(", %n removed", nullptr, int(result->removed.size())));
    } else {
        // All or nothing: say which files clash and why, in git's words.
        const int conflicts = int(result->conflicts.size());
        status = conflicts == 1 ? tr("Nothing was applied: 1 file conflicts with your folder")
                                : tr("Nothing was applied: %n files conflict with your folder",
                                     nullptr, conflicts);
        QStringList details;
        for (const GitMergeMessage& message : result->messages)
            details << QString::fromUtf8(message.text).trimmed();
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Apply to Folder"), status,
                                    QMessageBox::Ok, this);
        QStringList files;
        for (const QByteArray& path : result->conflicts)
            files << ColumnView::displayPath(path);
        box->setInformativeText(files.join(u'\n'));
        box->setDetailedText(details.join(u'\n'));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    if (view)
        view->setStatus(status);
}

void ContentView::discardWorktrees()
{
    if (!m_model->canDiscardWorktrees())
        return;
    auto* ask = new QMessageBox(
        QMessageBox::Warning, tr("Discard Worktrees"),
        tr("Remove the worktrees of this session, with every change the agents made that "
           "was not applied?"),
        QMessageBox::Cancel, this);
    ask->setInformativeText(tr("The transcripts stay in the history."));
    QPushButton* discard = ask->addButton(tr("Discard Worktrees"), QMessageBox::DestructiveRole);
    ask->setDefaultButton(QMessageBox::Cancel);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QMessageBox::finished, this, [this, ask, discard] {
        if (ask->clickedButton() == discard)
            m_model->discardWorktrees();
    });
    ask->open();
}

void ContentView::render()
{
    m_renderPending = false;
    // Reading the field's text costs the whole task: only a task that changed
    // since the last render is worth comparing with it.
    if (m_model->task() != m_shownTask) {
        m_shownTask = m_model->task();
        m_taskField->setTextKeepingCursor(m_shownTask);
    }
    updateButtons();
    m_pages->setCurrentWidget(m_model->scanning() ? m_spinnerPage : m_columnsPage);
    m_saveTranscripts->setEnabled(
        std::any_of(m_model->runners().begin(), m_model->runners().end(),
                    [](const AgentSession* r) { return !r->output().isEmpty(); }));
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        m_columns[i]->setIncluded(m_model->isIncluded(i));

    const QString folder = QDir::toNativeSeparators(m_model->workingFolderText());
    QString shown = m_folder->fontMetrics().elidedText(folder, Qt::ElideMiddle, folderTextWidth);
    // A button reads "&" as a mnemonic marker.
    m_folder->setText(shown.replace(QLatin1Char('&'), QStringLiteral("&&")));
    m_folder->setToolTip(folder);
    m_folder->setAccessibleName(tr("Working folder: %1").arg(folder));
    if (const QString now = title(); now != m_shownTitle) {
        m_shownTitle = now;
        Q_EMIT titleChanged(now);
    }
}
