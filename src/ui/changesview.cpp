#include "ui/changesview.h"

#include "text/utf8.h"
#include "transcript/diffdocument.h"
#include "transcript/transcriptdocument.h"
#include "ui/transcriptview.h"

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { KindColumn, PathColumn, LinesColumn, ColumnCount };

// A file name as a row shows it: bytes that are not UTF-8 as U+FFFD, and
// control characters (a newline is legal in a name) as their visible
// pictures, so that every name takes one line.
QString displayName(const QByteArray& name)
{
    QString text = decodeUtf8(name);
    for (QChar& ch : text) {
        if (ch.unicode() < 0x20)
            ch = QChar(0x2400 + ch.unicode());
        else if (ch.unicode() == 0x7f)
            ch = QChar(0x2421);
    }
    return text;
}

QString kindLetter(GitFileChange::Kind kind)
{
    switch (kind) {
    case GitFileChange::Kind::Added:
        return QStringLiteral("A");
    case GitFileChange::Kind::Modified:
        return QStringLiteral("M");
    case GitFileChange::Kind::Deleted:
        return QStringLiteral("D");
    case GitFileChange::Kind::Renamed:
        return QStringLiteral("R");
    case GitFileChange::Kind::Copied:
        return QStringLiteral("C");
    case GitFileChange::Kind::TypeChanged:
        return QStringLiteral("T");
    }
    return {};
}

} // namespace

// The rows of a change set, made as they are painted: with uniform row
// heights the view asks only for the rows in sight, so a list of any
// length costs nothing up front.
class ChangesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setChanges(const QList<GitFileChange>& changes)
    {
        beginResetModel();
        m_changes = changes;
        endResetModel();
    }
    const QList<GitFileChange>& changes() const { return m_changes; }

    static QString kindName(GitFileChange::Kind kind)
    {
        switch (kind) {
        case GitFileChange::Kind::Added:
            return tr("Added");
        case GitFileChange::Kind::Modified:
            return tr("Modified");
        case GitFileChange::Kind::Deleted:
            return tr("Deleted");
        case GitFileChange::Kind::Renamed:
            return tr("Renamed");
        case GitFileChange::Kind::Copied:
            return tr("Copied");
        case GitFileChange::Kind::TypeChanged:
            return tr("Type changed");
        }
        return {};
    }
    static QString lines(qint64 added, qint64 removed)
    {
        return tr("+%1 \u2212%2").arg(added).arg(removed);
    }
    static QString binary() { return tr("binary"); }
    static QString lines(const GitFileChange& change)
    {
        return change.binary ? binary() : lines(change.addedLines, change.removedLines);
    }
    static QString path(const GitFileChange& change)
    {
        if (change.oldPath.isEmpty() || change.oldPath == change.path)
            return displayName(change.path);
        return tr("%1 \u2192 %2").arg(displayName(change.oldPath), displayName(change.path));
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_changes.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : ColumnCount;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_changes.size())
            return {};
        const GitFileChange& change = m_changes[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
            case KindColumn:
                return kindLetter(change.kind);
            case PathColumn:
                return path(change);
            case LinesColumn:
                return lines(change);
            }
            break;
        case Qt::ToolTipRole:
            return kindName(change.kind) + u'\n' + path(change);
        case Qt::TextAlignmentRole:
            if (index.column() == LinesColumn)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            if (index.column() == KindColumn)
                return QVariant::fromValue(Qt::AlignCenter);
            break;
        }
        return {};
    }

private:
    QList<GitFileChange> m_changes;
};

ChangesView::ChangesView(QWidget* parent)
    : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* top = new QHBoxLayout;
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("changesSummary"));
    top->addWidget(m_summary, 1);
    m_refresh = new QPushButton(tr("Refresh"), this);
    connect(m_refresh, &QPushButton::clicked, this, &ChangesView::refreshRequested);
    top->addWidget(m_refresh);
    column->addLayout(top);

    // Two halves of one switch, exactly one of them on.
    auto* scope = new QHBoxLayout;
    scope->setSpacing(0);
    auto* group = new QButtonGroup(this);
    auto makeScope = [&](const QString& text) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setCheckable(true);
        button->setAutoRaise(false);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group->addButton(button);
        scope->addWidget(button);
        return button;
    };
    m_turnButton = makeScope(tr("This turn"));
    m_sessionButton = makeScope(tr("Whole session"));
    m_sessionButton->setChecked(true);
    connect(m_turnButton, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != m_thisTurn) {
            m_thisTurn = on;
            showList();
            Q_EMIT scopeChanged(on);
        }
    });
    column->addLayout(scope);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("changesStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->hide();
    column->addWidget(m_status);

    m_model = new ChangesModel(this);
    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("changedFiles"));
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderHidden(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Long paths lose their middle: the folder's start and the file's name stay.
    m_list->setTextElideMode(Qt::ElideMiddle);
    QHeaderView* header = m_list->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(KindColumn, QHeaderView::Fixed);
    header->setSectionResizeMode(PathColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(LinesColumn, QHeaderView::Fixed);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ChangesView::currentFileChanged);

    m_document = new TranscriptDocument(this);
    m_diff = new TranscriptView(this);
    m_diff->setObjectName(QStringLiteral("diff"));
    m_diff->setSource([this] { return m_document->text(); });
    m_diff->setStyles(
        [this](qsizetype from, qsizetype to) { return m_document->runsIn(from, to); });
    connect(m_document, &TranscriptDocument::cleared, m_diff, &TranscriptView::resetText);
    connect(m_document, &TranscriptDocument::appended, m_diff, &TranscriptView::extendText);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(m_list);
    splitter->addWidget(m_diff);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    column->addWidget(splitter, 1);

    // Two to a row: the column is narrow.
    auto* actions = new QGridLayout;
    actions->setSpacing(4);
    m_openWorktree = new QPushButton(tr("Open Worktree"), this);
    m_createBranch = new QPushButton(tr("Create Branch\u2026"), this);
    m_apply = new QPushButton(tr("Apply to Folder"), this);
    m_discard = new QPushButton(tr("Discard Worktrees\u2026"), this);
    actions->addWidget(m_openWorktree, 0, 0);
    actions->addWidget(m_createBranch, 0, 1);
    actions->addWidget(m_apply, 1, 0);
    actions->addWidget(m_discard, 1, 1);
    column->addLayout(actions);
    connect(m_openWorktree, &QPushButton::clicked, this, &ChangesView::openWorktreeRequested);
    connect(m_createBranch, &QPushButton::clicked, this, &ChangesView::createBranchRequested);
    connect(m_discard, &QPushButton::clicked, this, &ChangesView::discardRequested);
    connect(m_apply, &QPushButton::clicked, this, [this] {
        QList<GitFileChange> files = selectedChanges();
        Q_EMIT applyRequested(files.isEmpty() ? currentChanges() : files);
    });

    showList();
}

ChangesView::~ChangesView() = default;

void ChangesView::setChanges(const QList<GitFileChange>& wholeSession,
                             const QList<GitFileChange>& thisTurn)
{
    m_wholeSession = wholeSession;
    m_thisTurnChanges = thisTurn;
    showList();
}

const QList<GitFileChange>& ChangesView::currentChanges() const
{
    return m_thisTurn ? m_thisTurnChanges : m_wholeSession;
}

void ChangesView::setShowsThisTurn(bool thisTurn)
{
    (thisTurn ? m_turnButton : m_sessionButton)->setChecked(true);
}

QList<GitFileChange> ChangesView::selectedChanges() const
{
    QModelIndexList rows = m_list->selectionModel()->selectedRows(KindColumn);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<GitFileChange> files;
    files.reserve(rows.size());
    for (const QModelIndex& index : rows)
        files << m_model->changes()[index.row()];
    return files;
}

QString ChangesView::summary(const QList<GitFileChange>& changes)
{
    if (changes.isEmpty())
        return tr("No changes");
    qint64 added = 0;
    qint64 removed = 0;
    for (const GitFileChange& change : changes) {
        added += change.addedLines;
        removed += change.removedLines;
    }
    // The numerus form serves every count but one, which English and most
    // languages say apart.
    const int files = int(changes.size());
    return files == 1 ? tr("1 file, +%1 \u2212%2").arg(added).arg(removed)
                      : tr("%n files, +%1 \u2212%2", nullptr, files).arg(added).arg(removed);
}

QString ChangesView::summaryText() const
{
    return m_summary->text();
}

QString ChangesView::statusText() const
{
    return m_status->text();
}

void ChangesView::setStatus(const QString& text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

// Shows the list of the chosen scope, keeping the file that was current
// when the new list still has it.
void ChangesView::showList()
{
    const QList<GitFileChange>& changes = currentChanges();
    const QModelIndex previous = m_list->currentIndex();
    const QByteArray previousPath =
        previous.isValid() ? m_model->changes()[previous.row()].path : QByteArray();
    m_summary->setText(summary(changes));

    // Fixed widths from the widest texts, found from the largest counts:
    // measuring every row would cost in proportion to the list.
    qint64 mostAdded = 0;
    qint64 mostRemoved = 0;
    qsizetype current = 0;
    for (qsizetype i = 0; i < changes.size(); ++i) {
        mostAdded = std::max(mostAdded, changes[i].addedLines);
        mostRemoved = std::max(mostRemoved, changes[i].removedLines);
        if (!previousPath.isEmpty() && changes[i].path == previousPath)
            current = i;
    }
    const QFontMetrics metrics(m_list->font());
    const int margin = metrics.horizontalAdvance(u'M');
    const int linesWidth =
        std::max(metrics.horizontalAdvance(ChangesModel::lines(mostAdded, mostRemoved)),
                 metrics.horizontalAdvance(ChangesModel::binary()));

    m_model->setChanges(changes);
    m_list->header()->resizeSection(KindColumn, metrics.horizontalAdvance(u'W') + margin);
    m_list->header()->resizeSection(LinesColumn, linesWidth + margin);
    if (changes.isEmpty()) {
        currentFileChanged();
        return;
    }
    // Current without being selected: the selection is what Apply takes.
    m_list->selectionModel()->setCurrentIndex(m_model->index(int(current), KindColumn),
                                              QItemSelectionModel::NoUpdate);
}

void ChangesView::currentFileChanged()
{
    ++m_ticket;
    const QModelIndex index = m_list->currentIndex();
    if (!index.isValid()) {
        showNotice(m_model->changes().isEmpty() ? QString()
                                                : tr("Select a file to see its changes."));
        return;
    }
    const GitFileChange& change = m_model->changes()[index.row()];
    if (change.binary) {
        showNotice(tr("Binary file: no text to compare"));
        return;
    }
    showNotice(tr("Loading\u2026"));
    Q_EMIT diffRequested(m_ticket, change, m_thisTurn);
}

void ChangesView::showNotice(const QString& text)
{
    m_diff->setPlaceholderText(text);
    m_document->clear();
}

void ChangesView::showDiff(quint64 ticket, const QByteArray& unifiedDiff)
{
    if (ticket != m_ticket)
        return;
    if (unifiedDiff.isEmpty()) {
        showNotice(tr("No differences in the text"));
        return;
    }
    m_diff->setPlaceholderText(QString());
    setUnifiedDiff(*m_document, unifiedDiff);
    // Replaced text keeps the view where it stood; another file starts at its top.
    m_diff->verticalScrollBar()->setValue(0);
}

void ChangesView::showDiffError(quint64 ticket, const QString& message)
{
    if (ticket == m_ticket)
        showNotice(message);
}

namespace {

void setAction(QPushButton* button, bool enabled, const QString& toolTip)
{
    button->setEnabled(enabled);
    button->setToolTip(toolTip);
}

} // namespace

void ChangesView::setRefreshEnabled(bool enabled, const QString& toolTip)
{
    setAction(m_refresh, enabled, toolTip);
}

void ChangesView::setOpenWorktreeEnabled(bool enabled, const QString& toolTip)
{
    setAction(m_openWorktree, enabled, toolTip);
}

void ChangesView::setCreateBranchEnabled(bool enabled, const QString& toolTip)
{
    setAction(m_createBranch, enabled, toolTip);
}

void ChangesView::setApplyEnabled(bool enabled, const QString& toolTip)
{
    setAction(m_apply, enabled, toolTip);
}

void ChangesView::setDiscardEnabled(bool enabled, const QString& toolTip)
{
    setAction(m_discard, enabled, toolTip);
}

#include "changesview.moc"
