#include "ui/historypanel.h"

#include "catalog/runstate.h"
#include "store/historystore.h"
#include "ui/painting.h"
#include "ui/statusdot.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// How long typing may pause before the filter is asked for.
constexpr int typingPauseMs = 150;

enum Column { TitleColumn, AgentsColumn, FolderColumn, WorktreesColumn, WhenColumn };

// What an item keeps beside its title.
enum Role { IdRole = Qt::UserRole, RunningRole, WorktreesRole };

QColor stateColor(int stateCase)
{
    switch (RunState::Case(stateCase)) {
    case RunState::Case::Done:
        return QColor(52, 199, 89);
    case RunState::Case::Running:
    case RunState::Case::Preparing:
        return QColor(0, 122, 255);
    case RunState::Case::Killed:
    case RunState::Case::Failed:
        return destructiveRed;
    case RunState::Case::Stopped:
    case RunState::Case::Interrupted:
        return QColor(255, 149, 0);
    case RunState::Case::Idle:
        break;
    }
    return QColor(142, 142, 147);
}

QString stateName(int stateCase)
{
    switch (RunState::Case(stateCase)) {
    case RunState::Case::Done:
        return HistoryPanel::tr("done");
    case RunState::Case::Running:
    case RunState::Case::Preparing:
        return HistoryPanel::tr("running");
    case RunState::Case::Killed:
        return HistoryPanel::tr("killed");
    case RunState::Case::Failed:
        return HistoryPanel::tr("failed");
    case RunState::Case::Stopped:
        return HistoryPanel::tr("stopped");
    case RunState::Case::Interrupted:
        return HistoryPanel::tr("interrupted");
    case RunState::Case::Idle:
        break;
    }
    return QString();
}

// One dot per agent, in the agents' order.
QPixmap dots(const QList<std::pair<QString, int>>& states, qreal ratio)
{
    constexpr int gap = 4;
    const int d = StatusDot::diameter;
    const int width = std::max<int>(1, int(states.size()) * (d + gap));
    QPixmap pixmap(QSize(width, d) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < states.size(); ++i) {
        painter.setBrush(stateColor(states[i].second));
        painter.drawEllipse(QRectF(i * (d + gap), 0, d, d));
    }
    return pixmap;
}

} // namespace

HistoryPanel::HistoryPanel(HistoryStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_filter(new QLineEdit)
    , m_transcripts(new QCheckBox(tr("Search transcripts")))
    , m_list(new QTreeWidget)
    , m_open(new QPushButton(tr("Open")))
    , m_delete(new QPushButton(tr("Delete…")))
    , m_discard(new QPushButton(tr("Discard Worktrees…")))
{
    auto* layout = new QVBoxLayout(this);
    m_filter->setPlaceholderText(tr("Filter sessions"));
    m_filter->setClearButtonEnabled(true);
    layout->addWidget(m_filter);
    layout->addWidget(m_transcripts);
    m_list->setColumnCount(5);
    m_list->setHeaderLabels(
        {tr("Session"), tr("Agents"), tr("Folder"), tr("Worktrees"), tr("When")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setUniformRowHeights(true);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(TitleColumn, QHeaderView::Stretch);
    // Sized by what they usually hold, not by measuring every row.
    const QFontMetrics metrics(m_list->font());
    m_list->header()->resizeSection(AgentsColumn, 3 * (StatusDot::diameter + 4) + 12);
    m_list->header()->resizeSection(FolderColumn, metrics.horizontalAdvance(u"brevane-project"_s));
    m_list->header()->resizeSection(
        WorktreesColumn, metrics.horizontalAdvance(tr("leftover, %1").arg(u"999.9 MB"_s)) + 16);
    m_list->header()->resizeSection(
        WhenColumn, metrics.horizontalAdvance(QLocale().toString(
                        QDateTime(QDate(2026, 12, 30), QTime(23, 59)), QLocale::ShortFormat)) +
                        16);
    layout->addWidget(m_list, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_open);
    buttons->addStretch(1);
    buttons->addWidget(m_discard);
    buttons->addWidget(m_delete);
    layout->addLayout(buttons);

    m_debounce.setSingleShot(true);
    m_debounce.setInterval(typingPauseMs);
    connect(&m_debounce, &QTimer::timeout, this, &HistoryPanel::ask);
    connect(m_filter, &QLineEdit::textChanged, this, &HistoryPanel::refresh);
    connect(m_transcripts, &QCheckBox::toggled, this, &HistoryPanel::refresh);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &HistoryPanel::updateButtons);
    connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (!item->data(TitleColumn, RunningRole).toBool())
            Q_EMIT openRequested(item->data(TitleColumn, IdRole).toString());
    });
    connect(m_open, &QPushButton::clicked, this, [this] {
        const QStringList ids = selectedIds();
        if (ids.size() == 1)
            Q_EMIT openRequested(ids.front());
    });
    connect(m_delete, &QPushButton::clicked, this, [this] { deleteSelected(); });
    connect(m_discard, &QPushButton::clicked, this, [this] { discardSelected(); });
    updateButtons();
}

void HistoryPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Nothing to wait for: the user is not typing.
    m_debounce.stop();
    ask();
}

void HistoryPanel::refresh()
{
    m_debounce.start();
}

void HistoryPanel::ask()
{
    const quint64 asked = ++m_asked;
    QPointer<HistoryPanel> self(this);
    m_store.listSessions(m_filter->text(), m_transcripts->isChecked(),
                         [self, asked](const QList<SessionSummary>& sessions) {
                             if (self && self->m_asked == asked)
                                 self->showSessions(sessions);
                         });
}

void HistoryPanel::showSessions(const QList<SessionSummary>& sessions)
{
    const QStringList selected = selectedIds();
    m_sessions = sessions;
    countSpace(sessions);
    m_list->clear();
    const qreal ratio = devicePixelRatioF();
    // Sessions share a few combinations of states: each is painted once.
    QHash<QString, QPixmap> painted;
    QList<QTreeWidgetItem*> items;
    for (const SessionSummary& session : sessions) {
        auto* item = new QTreeWidgetItem;
        item->setText(TitleColumn, session.title);
        item->setData(TitleColumn, IdRole, session.id);
        item->setData(TitleColumn, RunningRole, session.running);
        item->setData(TitleColumn, WorktreesRole, !session.worktrees.isEmpty());
        item->setToolTip(TitleColumn, session.title);
        QStringList states;
        QString key;
        for (const auto& [tool, state] : session.lastStates) {
            states << tool + QStringLiteral(": ") + stateName(state);
            key += QChar(u'0' + state);
        }
        auto found = painted.find(key);
        if (found == painted.end())
            found = painted.insert(key, dots(session.lastStates, ratio));
        item->setData(AgentsColumn, Qt::DecorationRole, *found);
        item->setToolTip(AgentsColumn, states.join(QLatin1Char('\n')));
        const QString folder = QFile::decodeName(session.baseFolder);
        const QString name = QFileInfo(folder).fileName();
        item->setText(FolderColumn, name.isEmpty() ? folder : name);
        item->setToolTip(FolderColumn, folder);
        QStringList worktrees;
        for (const QByteArray& folder : session.worktrees)
            worktrees << QFile::decodeName(folder);
        item->setText(WorktreesColumn, spaceText(session));
        item->setToolTip(WorktreesColumn, worktrees.join(u'\n'));
        const QDateTime when = session.updatedAt.toLocalTime();
        item->setText(WhenColumn, QLocale().toString(when, QLocale::ShortFormat));
        items << item;
    }
    m_list->addTopLevelItems(items);
    for (QTreeWidgetItem* item : std::as_const(items)) {
        if (selected.contains(item->data(TitleColumn, IdRole).toString()))
            item->setSelected(true);
    }

    updateButtons();
    Q_EMIT listed();
}

QStringList HistoryPanel::selectedIds() const
{
    QStringList ids;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->isSelected())
            ids << item->data(TitleColumn, IdRole).toString();
    }
    return ids;
}

void HistoryPanel::updateButtons()
{
    bool anyRunning = false;
    bool anyWorktrees = false;
    bool anyDiscarding = false;
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    for (const QTreeWidgetItem* item : selected) {
        anyRunning = anyRunning || item->data(TitleColumn, RunningRole).toBool();
        anyWorktrees = anyWorktrees || item->data(TitleColumn, WorktreesRole).toBool();
        anyDiscarding =
            anyDiscarding || m_discarding.contains(item->data(TitleColumn, IdRole).toString());
    }
    const bool removing = m_deleting || anyDiscarding;
    // Nothing is opened whose worktrees are on their way out.
    m_open->setEnabled(selected.size() == 1 && !anyRunning && !removing);
    m_delete->setEnabled(!selected.isEmpty() && !anyRunning && !removing);
    m_discard->setEnabled(anyWorktrees && !anyRunning && !removing);
    const QString runningTip = tr("A session still running cannot be opened or deleted.");
    m_open->setToolTip(anyRunning ? runningTip : QString());
    m_delete->setToolTip(anyRunning ? runningTip : QString());
    m_discard->setToolTip(anyRunning ? runningTip : QString());
}

void HistoryPanel::deleteSelected(bool confirm)
{
    if (!m_delete->isEnabled())
        return;
    const QStringList ids = selectedIds();
    if (!mayGoAhead(ids, confirm, tr("Delete Sessions"),
                    ids.size() == 1
                        ? tr("Delete this session from the history?")
                        : tr("Delete %n sessions from the history?", nullptr, int(ids.size())),
                    tr("Their turns and transcripts are removed for good, and so are "
                       "their worktrees, with every change not applied."),
                    tr("Delete")))
        return;
    // The windows showing them let go first, so that nothing runs in a
    // worktree about to go.
    Q_EMIT deleting(ids);
    if (!m_discarder) {
        removeSessions(ids);
        return;
    }
    QPointer<HistoryPanel> self(this);
    m_deleting = true;
    updateButtons();
    m_discarder(ids, [self](const QStringList& gone, const QStringList& errors) {
        if (!self)
            return;
        self->m_deleting = false;
        // A session whose worktree stays keeps its row, which leads to it.
        self->removeSessions(gone);
        if (!errors.isEmpty())
            QMessageBox::warning(self, tr("Delete Sessions"),
                                 tr("Some worktrees could not be removed, so their sessions "
                                    "stay:\n%1")
                                     .arg(errors.join(u'\n')));
    });
}

void HistoryPanel::removeSessions(const QStringList& ids)
{
    if (!ids.isEmpty())
        m_store.deleteSessions(ids);
    refresh();
}

void HistoryPanel::discardSelected(bool confirm)
{
    if (!m_discard->isEnabled())
        return;
    QStringList ids;
    for (const QTreeWidgetItem* item : m_list->selectedItems()) {
        if (item->data(TitleColumn, WorktreesRole).toBool())
            ids << item->data(TitleColumn, IdRole).toString();
    }
    if (!mayGoAhead(ids, confirm, tr("Discard Worktrees"),
                    ids.size() == 1
                        ? tr("Discard the worktrees of this session?")
                        : tr("Discard the worktrees of %n sessions?", nullptr, int(ids.size())),
                    tr("Every change not applied is lost. The sessions and their "
                       "transcripts stay in the history."),
                    tr("Discard")))
        return;
    for (const QString& id : std::as_const(ids))
        m_discarding.insert(id);
    updateButtons();
    Q_EMIT discardRequested(ids);
}

void HistoryPanel::discardEnded(const QStringList& ids)
{
    for (const QString& id : ids)
        m_discarding.remove(id);
    updateButtons();
}

bool HistoryPanel::mayGoAhead(const QStringList& ids, bool confirm, const QString& title,
                              const QString& question, const QString& consequence,
                              const QString& action)
{
    // What the list showed may be out of date: a session runs here now.
    if (m_runningHere && std::any_of(ids.begin(), ids.end(), m_runningHere)) {
        QMessageBox::information(this, title,
                                 tr("A session still running cannot be opened or deleted."));
        refresh();
        return false;
    }
    if (!confirm)
        return true;
    QMessageBox box(QMessageBox::Warning, title, question, QMessageBox::Cancel, this);
    box.setInformativeText(consequence);
    QPushButton* goAhead = box.addButton(action, QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == goAhead;
}

void HistoryPanel::countSpace(const QList<SessionSummary>& sessions)
{
    SessionFolders stale;
    for (const SessionSummary& session : sessions) {
        if (session.worktrees.isEmpty())
            continue;
        Space& space = m_space[session.id];
        if (space.updatedAt != session.updatedAt || space.folders != session.worktrees) {
            space = Space{session.updatedAt, session.worktrees, std::nullopt};
            stale.push_back({session.id, session.worktrees});
        }
    }
    if (stale.isEmpty() || !m_counter)
        return;
    QPointer<HistoryPanel> self(this);
    m_counter(stale, [self](const QString& id, qint64 bytes) {
        if (!self)
            return;
        const auto space = self->m_space.find(id);
        if (space == self->m_space.end())
            return;
        space->bytes = bytes;
        // The list holds the sessions in the order of m_sessions.
        for (qsizetype i = 0; i < self->m_sessions.size(); ++i) {
            if (self->m_sessions[i].id == id)
                self->m_list->topLevelItem(int(i))->setText(WorktreesColumn,
                                                            self->spaceText(self->m_sessions[i]));
        }
    });
}

QString HistoryPanel::spaceText(const SessionSummary& session) const
{
    if (session.worktrees.isEmpty())
        return QString();
    const auto space = m_space.constFind(session.id);
    const QString size =
        space != m_space.cend() && space->bytes
            ? QLocale().formattedDataSize(*space->bytes, 1, QLocale::DataSizeSIFormat)
            : QStringLiteral("…");
    return session.leftover ? tr("leftover, %1").arg(size) : size;
}
