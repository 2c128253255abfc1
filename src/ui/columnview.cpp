#include "ui/columnview.h"

#include "runner/agentsession.h"
#include "ui/changesview.h"
#include "ui/clipboard.h"
#include "ui/elidedlabel.h"
#include "ui/frameclock.h"
#include "ui/icons.h"
#include "ui/painting.h"
#include "ui/spinner.h"
#include "ui/statusdot.h"
#include "ui/statuslabel.h"
#include "ui/transcriptview.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

namespace {

// The platform's system green and gray, as on macOS.
const QColor installedColor(52, 199, 89);
const QColor missingColor(142, 142, 147);

// Caption text is this much smaller than body text.
constexpr qreal captionScale = 0.85;
// The notice's icon is this many body lines tall.
constexpr int noticeIconLines = 2;

QFont scaled(QFont font, qreal factor)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    return font;
}

QFont bold(QFont font)
{
    font.setBold(true);
    return font;
}

void setTextIfChanged(QLabel* label, const QString& text)
{
    // Equal text would still cost a relayout per render during a flood.
    if (label->text() != text)
        label->setText(text);
}

QLabel* makeLabel(QWidget* parent, const QFont& font, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QColor checkColour(const CheckResult& check, const QPalette& palette)
{
    switch (check.outcome) {
    case CheckResult::Outcome::Passed:
        return QColor(52, 199, 89);
    case CheckResult::Outcome::Failed:
    case CheckResult::Outcome::Killed:
    case CheckResult::Outcome::TimedOut:
    case CheckResult::Outcome::NotStarted:
        return destructiveRed;
    case CheckResult::Outcome::Stopped:
        return QColor(255, 149, 0);
    case CheckResult::Outcome::Running:
        break;
    }
    return palette.color(QPalette::PlaceholderText);
}

} // namespace

ColumnView::ColumnView(AgentSession* runner, QWidget* parent)
    : QWidget(parent)
    , m_runner(runner)
{
    const QFont caption = scaled(font(), captionScale);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(spacing);

    auto* header = new QHBoxLayout;
    header->setSpacing(spacing);
    m_include = new QCheckBox(this);
    m_include->setObjectName(QStringLiteral("includeBox"));
    m_include->setChecked(true);
    connect(m_include, &QCheckBox::clicked, this, &ColumnView::includeToggled);
    header->addWidget(m_include, 0, Qt::AlignVCenter);
    m_dot = new StatusDot(this);
    m_dot->setObjectName(QStringLiteral("statusDot"));
    // In a narrow column the name gives way, cut with an ellipsis, so that
    // the match count and Copy beside it show whole.
    m_name = new ElidedLabel(this);
    m_name->setObjectName(QStringLiteral("nameLabel"));
    m_name->setFont(bold(font()));
    m_name->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_spinner = new Spinner(this);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_spinner->hide();
    m_copy = new QPushButton(tr("Copy"), this);
    m_copy->setObjectName(QStringLiteral("copyButton"));
    connect(m_copy, &QPushButton::clicked, this, &ColumnView::copyOutput);
    m_copyFeedback.setSingleShot(true);
    connect(&m_copyFeedback, &QTimer::timeout, this, [this] { showCopyTitle(false); });
    header->addWidget(m_dot, 0, Qt::AlignVCenter);
    header->addWidget(m_name, 0, Qt::AlignVCenter);
    m_matches = makeLabel(this, caption, QStringLiteral("matchCount"));
    m_matches->hide();
    header->addWidget(m_matches, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(m_spinner, 0, Qt::AlignVCenter);
    header->addWidget(m_copy, 0, Qt::AlignVCenter);
    column->addLayout(header);

    m_pathLine = new ElidedLabel(this);
    m_pathLine->setObjectName(QStringLiteral("pathLine"));
    m_pathLine->setFont(caption);
    column->addWidget(m_pathLine);
    m_worktreeLine = new ElidedLabel(this);
    m_worktreeLine->setObjectName(QStringLiteral("worktreeLine"));
    m_worktreeLine->setFont(caption);
    m_worktreeLine->hide();
    column->addWidget(m_worktreeLine);

    // The status text keeps its exact words; the elapsed time stands apart.
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(spacing);
    m_statusLine = makeLabel(this, caption, QStringLiteral("statusLine"));
    m_statusLine->setWordWrap(true);
    m_elapsed = makeLabel(this, caption, QStringLiteral("elapsedLabel"));
    // The check's result beside the turn's: a check is not a turn.
    m_checkLabel = makeLabel(this, caption, QStringLiteral("checkLabel"));
    m_checkLabel->hide();
    statusRow->addWidget(m_statusLine, 1);
    statusRow->addWidget(m_checkLabel, 0, Qt::AlignTop);
    statusRow->addWidget(m_elapsed, 0, Qt::AlignTop);
    column->addLayout(statusRow);
    // What the latest turn cost; the session's totals in the tooltip.
    m_usage = new ElidedLabel(this);
    m_usage->setObjectName(QStringLiteral("usageLabel"));
    m_usage->setFont(caption);
    m_usage->hide();
    column->addWidget(m_usage);
    m_trust = new QPushButton(tr("Trust Folder and Retry"), this);
    m_trust->setObjectName(QStringLiteral("trustButton"));
    m_trust->setToolTip(tr("Run this turn again, letting the tool trust the session's folder "
                           "from now on"));
    m_trust->hide();
    connect(m_trust, &QPushButton::clicked, this, &ColumnView::trustFolderRequested);
    column->addWidget(m_trust, 0, Qt::AlignLeft);

    auto* divider = new QFrame(this);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    column->addWidget(divider);

    // Transcript or Changes: one page at a time, the switch only where
    // there are changes to show.
    m_pageSwitch = new QWidget(this);
    auto* pages = new QHBoxLayout(m_pageSwitch);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->setSpacing(0);
    m_transcriptPage = new QPushButton(tr("Transcript"), m_pageSwitch);
    m_changesPage = new QPushButton(tr("Changes"), m_pageSwitch);
    for (QPushButton* page : {m_transcriptPage, m_changesPage}) {
        page->setCheckable(true);
        page->setAutoExclusive(true);
        page->setFont(caption);
        pages->addWidget(page);
    }
    pages->addStretch(1);
    m_runCheck = new QPushButton(tr("Run Check"), m_pageSwitch);
    m_runCheck->setObjectName(QStringLiteral("runCheckButton"));
    m_runCheck->setFont(caption);
    connect(m_runCheck, &QPushButton::clicked, this, &ColumnView::runCheckRequested);
    pages->addWidget(m_runCheck);
    m_transcriptPage->setChecked(true);
    connect(m_changesPage, &QPushButton::toggled, this, &ColumnView::setShowsChanges);
    m_pageSwitch->hide();
    column->addWidget(m_pageSwitch);

    m_notice = new QWidget(this);
    m_notice->setObjectName(QStringLiteral("notice"));
    auto* notice = new QVBoxLayout(m_notice);
    notice->setContentsMargins(0, 0, 0, 0);
    notice->setSpacing(spacing);
    m_noticeIcon = makeLabel(m_notice, font(), QStringLiteral("noticeIcon"));
    m_noticeTitle = makeLabel(m_notice, bold(font()), QStringLiteral("noticeTitle"));
    m_noticeHint = makeLabel(m_notice, caption, QStringLiteral("noticeHint"));
    m_noticeHint->setText(tr("Install it and relaunch or rescan to include it."));
    m_noticeReason = makeLabel(m_notice, caption, QStringLiteral("noticeReason"));
    notice->addStretch(1);
    for (QLabel* label : {m_noticeIcon, m_noticeTitle, m_noticeHint, m_noticeReason}) {
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(label != m_noticeIcon);
        notice->addWidget(label);
    }
    notice->addStretch(1);
    column->addWidget(m_notice, 1);

    m_transcript = new TranscriptView(this);
    m_transcript->setObjectName(QStringLiteral("transcript"));
    m_transcript->setPlaceholderText(tr("Output will appear here."));
    column->addWidget(m_transcript, 1);
    connect(m_transcript, &TranscriptView::matchCountChanged, this, &ColumnView::showMatchCount);
    m_copyRaw = new QAction(tr("Copy Raw Output"), this);
    connect(m_copyRaw, &QAction::triggered, this, &ColumnView::copyRawOutput);
    m_transcript->setExtraActions({m_copyRaw});
    m_changes = new ChangesView(this);
    m_changes->setObjectName(QStringLiteral("changes"));
    m_changes->hide();
    column->addWidget(m_changes, 1);

    applyColours();

    if (runner) {
        connect(runner, &AgentSession::changed, this, &ColumnView::scheduleRender);
        // A runner that goes away leaves an empty column, not a dangling transcript.
        connect(runner, &QObject::destroyed, this, &ColumnView::scheduleRender);
    }
    // The source reads the runner's own string each time: the view never
    // holds a reference that would make the runner's next append copy it.
    m_transcript->setSource([this]() -> QStringView {
        return m_runner ? QStringView(m_runner->output()) : QStringView();
    });
    m_transcript->setStyles([this](qsizetype from, qsizetype to) {
        return m_runner ? m_runner->transcript().runsIn(from, to) : std::span<const StyleRun>();
    });
    render();
}

ColumnView::~ColumnView()
{
    // Leave the window's clock before the children go: their own removal
    // walks the clock's lists, which must not hold a half-destroyed column.
    if (m_clock)
        m_clock->remove(this);
}

AgentSession* ColumnView::runner() const
{
    return m_runner;
}

QColor ColumnView::dotColor() const
{
    return m_dot->color();
}

void ColumnView::setIncluded(bool included)
{
    m_include->setChecked(included);
}

bool ColumnView::included() const
{
    return m_include->isChecked();
}

QString ColumnView::whyNotInstalled(const Discovery& discovery)
{
    if (discovery.path)
        return QString();
    QString answer;
    switch (discovery.shell) {
    case Discovery::ShellAnswer::NotAsked:
    case Discovery::ShellAnswer::Answered:
        return QString();
    case Discovery::ShellAnswer::NotFound:
        answer = tr("not found.");
        break;
    case Discovery::ShellAnswer::NoAnswer:
        answer = tr("no answer within 10 s.");
        break;
    case Discovery::ShellAnswer::NotStarted:
        answer = tr("it could not be started (%1).").arg(discovery.shellError);
        break;
    }
    return tr("Looked in ~/.local/bin, ~/.npm-global/bin, ~/.hermes/bin, /opt/homebrew/bin and "
              "/usr/local/bin, then asked the login shell: %1")
        .arg(answer);
}

QString ColumnView::displayPath(const QByteArray& path)
{
    // The path line is one line: a line break in a path would cut it.
    QString shown = QFile::decodeName(path);
    shown.replace(QLatin1Char('\n'), QChar(0x2424));
    return shown;
}

QString ColumnView::matchCountText(qsizetype count)
{
    if (count == 0)
        return tr("No matches");
    if (count == 1)
        return tr("1 match");
    return tr("%1 matches").arg(QLocale().toString(count));
}

void ColumnView::showMatchCount()
{
    const bool searching = !m_transcript->findQuery().isEmpty();
    // "No matches" only once the whole transcript has been looked through.
    if (searching && (m_transcript->findDone() || m_transcript->matchCount() > 0))
        setTextIfChanged(m_matches, matchCountText(m_transcript->matchCount()));
    m_matches->setVisible(searching);
}

void ColumnView::copyOutput()
{
    if (!m_runner)
        return;
    Clipboard::setPlainText(m_runner->output().toString());
    showCopyTitle(true);
    // Each click shows it for the whole second again.
    m_copyFeedback.start(copiedFeedback);
}

void ColumnView::copyRawOutput()
{
    if (m_runner)
        Clipboard::setPlainText(QString::fromUtf8(m_runner->rawOutput()));
}

void ColumnView::showCopyTitle(bool copied)
{
    // The title is what a screen reader announces when it changes.
    m_copy->setText(copied ? tr("Copied") : tr("Copy"));
    m_copy->setIcon(copied ? m_copiedIcon : m_copyIcon);
}

void ColumnView::renderElapsed()
{
    const AgentSession* runner = m_runner.data();
    const bool ran = runner && runner->startedAt();
    setTextIfChanged(m_elapsed,
                     ran ? elapsedLabel(runner->elapsed(AgentSession::Clock::now())) : QString());
}

void ColumnView::scheduleRender()
{
    // Read the runner once the current event is done, and only once for a
    // burst of changes: a flood of appends costs one render per turn.
    if (std::exchange(m_renderPending, true))
        return;
    QMetaObject::invokeMethod(this, &ColumnView::render, Qt::QueuedConnection);
}

void ColumnView::render()
{
    m_renderPending = false;
    ++m_renderCount;
    const AgentSession* runner = m_runner.data();
    const std::optional<QByteArray> path = runner ? runner->path() : std::nullopt;
    const RunState state = runner ? runner->state() : RunState::idle();
    const bool installed = path.has_value();
    const QString name = runner ? runner->spec().name : QString();

    m_dot->setColor(installed ? installedColor : missingColor);
    setTextIfChanged(m_name, name);
    m_name->setToolTip(name);
    m_include->setVisible(installed);
    m_include->setToolTip(tr("Include %1 in the next run").arg(name));
    m_include->setAccessibleName(m_include->toolTip());
    m_spinner->setVisible(state.isActive());
    // The elapsed time ticks on the window's clock only while the tool runs.
    if (state.isActive()) {
        m_clock = FrameClock::of(this);
        m_clock->addTimedColumn(this);
    } else if (m_clock) {
        m_clock->remove(this);
    }
    m_copy->setEnabled(runner && !runner->output().isEmpty());
    m_copyRaw->setEnabled(runner && runner->hasRawOutput());
    const QString reason = runner ? whyNotInstalled(runner->discovery()) : QString();
    const QString shownPath = installed ? displayPath(*path) : QString();
    setTextIfChanged(m_pathLine, installed ? shownPath : QStringLiteral("\u2014"));
    m_pathLine->setToolTip(installed ? shownPath : reason);
    setTextIfChanged(m_noticeReason, reason);
    const std::optional<PlannedWorktree> worktree =
        runner ? runner->worktree() : std::optional<PlannedWorktree>();
    m_worktreeLine->setVisible(worktree.has_value());
    if (worktree) {
        // Its folder's name says whose it is: <repository>-<session>/<tool>.
        const QByteArray& path = worktree->path;
        const qsizetype nameStart = path.lastIndexOf('/', path.lastIndexOf('/') - 1) + 1;
        setTextIfChanged(m_worktreeLine,
                         tr("Worktree %1").arg(displayPath(path.sliced(nameStart))));
        m_worktreeLine->setToolTip(
            tr("%1\nBase commit %2")
                .arg(displayPath(path), QString::fromLatin1(worktree->baseCommit)));
    }
    setTextIfChanged(m_statusLine,
                     statusLabel(path, state, runner && runner->outputStillArriving()));
    const std::optional<CheckResult> check = runner ? runner->check() : std::nullopt;
    m_checkLabel->setVisible(check.has_value());
    if (check) {
        setTextIfChanged(m_checkLabel, AgentSession::describeCheck(*check));
        QPalette palette = m_checkLabel->palette();
        palette.setColor(QPalette::WindowText, checkColour(*check, this->palette()));
        m_checkLabel->setPalette(palette);
    }
    renderElapsed();
    const Usage usage = runner ? runner->turnUsage() : Usage();
    m_usage->setVisible(!usage.isEmpty());
    if (!usage.isEmpty()) {
        setTextIfChanged(m_usage, describeUsage(usage));
        m_usage->setToolTip(tr("This session: %1").arg(describeUsage(runner->sessionUsage())));
    }
    m_trust->setVisible(runner && runner->refusedUntrustedFolder());
    setTextIfChanged(m_noticeTitle, tr("%1 is not installed").arg(name));
    m_notice->setVisible(!installed);
    renderChanges();
    renderTranscript(installed);
}

void ColumnView::setShowsChanges(bool show)
{
    if (show == m_showChanges)
        return;
    m_showChanges = show;
    (show ? m_changesPage : m_transcriptPage)->setChecked(true);
    render();
}

void ColumnView::renderChanges()
{
    const AgentSession* runner = m_runner.data();
    const bool offered = runner && runner->worktree();
    m_pageSwitch->setVisible(offered);
    if (!offered && m_showChanges) {
        m_showChanges = false;
        m_transcriptPage->setChecked(true);
    }
    m_changes->setVisible(m_showChanges);
    if (!runner)
        return;
    const AgentSession::WorktreeChanges& changes = runner->worktreeChanges();
    if (changes.generation == m_shownChanges)
        return;
    m_shownChanges = changes.generation;
    m_changes->setChanges(changes.snapshot.whole, changes.snapshot.turn);
    m_changes->setStatus(changes.computing          ? tr("Computing changes\u2026")
                         : !changes.error.isEmpty() ? changes.error
                                                    : QString());
}

void ColumnView::renderTranscript(bool installed)
{
    const quint64 generation = m_runner ? m_runner->outputGeneration() : noGeneration;
    const qsizetype length = m_runner ? m_runner->output().size() : 0;
    const bool changed = generation != m_shownGeneration || length != m_shownLength;
    // Only a new run rebuilds the index; an append costs the appended text.
    if (generation != m_shownGeneration || length < m_shownLength)
        m_transcript->resetText();
    else if (length > m_shownLength)
        m_transcript->extendText();
    m_transcript->setVisible(installed && !m_showChanges);
    // A transcript appearing for the first time stays where it starts.
    if (installed && m_transcriptWasShown && changed)
        m_transcript->scheduleScrollToEnd();
    m_transcriptWasShown = installed;
    m_shownGeneration = generation;
    m_shownLength = length;
}

void ColumnView::applyColours()
{
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    for (QWidget* widget : std::initializer_list<QWidget*>{m_pathLine, m_worktreeLine, m_statusLine,
                                                           m_usage, m_notice, m_matches}) {
        QPalette colours = widget->palette();
        colours.setColor(QPalette::WindowText, secondary);
        widget->setPalette(colours);
    }
    QFrame* divider = findChild<QFrame*>(QStringLiteral("divider"));
    QPalette dividerColours = divider->palette();
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15);
    dividerColours.setColor(QPalette::WindowText, line);
    divider->setPalette(dividerColours);

    const int iconSize = noticeIconLines * fontMetrics().height();
    m_noticeIcon->setPixmap(Icons::notInstalled(iconSize, secondary, devicePixelRatioF()));
    const QColor text = palette().color(QPalette::ButtonText);
    const QColor disabled = palette().color(QPalette::Disabled, QPalette::ButtonText);
    m_copyIcon = Icons::copy(text, disabled);
    m_copiedIcon = Icons::check(text, disabled);
    m_copy->setIcon(m_copyFeedback.isActive() ? m_copiedIcon : m_copyIcon);
    // One width for "Copy" and "Copied", so the header never shifts.
    const QString shown = m_copy->text();
    int width = 0;
    for (const bool copied : {true, false}) {
        showCopyTitle(copied);
        width = std::max(width, m_copy->sizeHint().width());
    }
    m_copy->setText(shown);
    m_copy->setIcon(m_copyFeedback.isActive() ? m_copiedIcon : m_copyIcon);
    m_copy->setMinimumWidth(width);
}

void ColumnView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColours();
}

void ColumnView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    fillRoundedRect(painter, rect(), cornerRadius, event->rect(),
                    palette().color(QPalette::AlternateBase));
}

void ColumnView::setRunCheckEnabled(bool enabled, const QString& toolTip)
{
    m_runCheck->setEnabled(enabled);
    m_runCheck->setToolTip(toolTip);
}
