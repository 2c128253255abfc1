#include "ui/comparewindow.h"

#include "model/brevanemodel.h"
#include "runner/agentsession.h"
#include "session/comparison.h"
#include "ui/sidebysideview.h"
#include "ui/statuslabel.h"

#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTextCursor>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum ScoreColumn {
    AgentColumn,
    StatusColumn,
    TimeColumn,
    TurnsColumn,
    TokensColumn,
    CostColumn,
    FilesColumn,
    AddedColumn,
    RemovedColumn,
    CheckColumn,
    ScoreColumns
};

// Sorts by the number kept beside the text where there is one.
class SortedItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant mine = data(column, CompareWindow::SortRole);
        const QVariant theirs = other.data(column, CompareWindow::SortRole);
        if (mine.isValid() && theirs.isValid())
            return mine.toDouble() < theirs.toDouble();
        if (mine.isValid() != theirs.isValid())
            return theirs.isValid(); // what is absent goes first
        return text(column) < other.text(column);
    }
};

void setCell(QTreeWidgetItem* item, int column, const QString& text, const QVariant& key = {})
{
    item->setText(column, text);
    item->setData(column, CompareWindow::SortRole, key);
    if (column > AgentColumn)
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
}

void setCheckCell(QTreeWidgetItem* item, const CheckResult& check)
{
    // Passed sorts first, then what failed, then the rest.
    const int rank = check.outcome == CheckResult::Outcome::Passed ? 0 : check.running() ? 2 : 1;
    setCell(item, CheckColumn, AgentSession::describeCheck(check), rank);
}

QString changeText(const GitFileChange& change)
{
    if (change.kind == GitFileChange::Kind::Deleted)
        return CompareWindow::tr("deleted");
    if (change.binary)
        return CompareWindow::tr("binary");
    return QStringLiteral("+%1 \u2212%2").arg(change.addedLines).arg(change.removedLines);
}

} // namespace

CompareWindow::CompareWindow(BrevaneModel* model, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_model(model)
    , m_scores(new QTreeWidget)
    , m_matrix(new QTreeWidget)
    , m_agentA(new QComboBox)
    , m_agentB(new QComboBox)
    , m_versions(new QComboBox)
    , m_sideBySide(new SideBySideView)
    , m_assemble(new QPushButton(tr("Assemble")))
    , m_apply(new QPushButton(tr("Apply Selection")))
    , m_assembleStatus(new QLabel)
    , m_checkAssembled(new QPushButton(tr("Run Check")))
    , m_assembledOutput(new QPlainTextEdit)
{
    setWindowTitle(tr("Compare Agents"));
    resize(900, 600);
    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(Qt::Vertical);
    layout->addWidget(splitter);

    m_scores->setObjectName(QStringLiteral("scoreboard"));
    m_scores->setColumnCount(ScoreColumns);
    m_scores->setHeaderLabels({tr("Agent"), tr("Status"), tr("Time"), tr("Turns"), tr("Tokens"),
                               tr("Cost"), tr("Files"), tr("Added"), tr("Removed"), tr("Check")});
    m_matrix->setObjectName(QStringLiteral("matrix"));
    for (QTreeWidget* table : {m_scores, m_matrix}) {
        table->setRootIsDecorated(false);
        table->setUniformRowHeights(true);
        table->setSortingEnabled(true);
        table->header()->setSectionsMovable(false);
    }
    m_scores->sortByColumn(AgentColumn, Qt::AscendingOrder);
    m_matrix->sortByColumn(0, Qt::AscendingOrder);
    splitter->addWidget(m_scores);
    auto* picking = new QWidget;
    auto* pickingLayout = new QVBoxLayout(picking);
    pickingLayout->setContentsMargins(0, 0, 0, 0);
    pickingLayout->addWidget(m_matrix, 1);
    auto* assembleRow = new QHBoxLayout;
    m_assemble->setToolTip(tr("Put the versions ticked in the matrix together on the session's "
                              "base, one agent's per file"));
    m_apply->setToolTip(tr("Write the assembled result into your folder, merged with your "
                           "changes, without committing"));
    m_checkAssembled->setToolTip(
        tr("Run the check command in the assembled result's worktree (the setup command first, "
           "once). It runs code the agents may have changed, so it runs by itself only when "
           "commands are allowed."));
    m_assembleStatus->setWordWrap(true);
    assembleRow->addWidget(m_assemble);
    assembleRow->addWidget(m_checkAssembled);
    assembleRow->addWidget(m_apply);
    assembleRow->addWidget(m_assembleStatus, 1);
    pickingLayout->addLayout(assembleRow);
    // What the setup and checks of the assembled result printed, kept short.
    m_assembledOutput->setObjectName(QStringLiteral("assembledOutput"));
    m_assembledOutput->setReadOnly(true);
    m_assembledOutput->setMaximumBlockCount(5000);
    m_assembledOutput->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_assembledOutput->setPlainText(m_model->assembledOutput());
    m_assembledOutput->setVisible(!m_model->assembledOutput().isEmpty());
    pickingLayout->addWidget(m_assembledOutput);
    connect(m_model, &BrevaneModel::assembledOutputAdded, this, [this](const QString& text) {
        // Through a cursor of its own: the user's selection stays.
        QTextCursor end(m_assembledOutput->document());
        end.movePosition(QTextCursor::End);
        end.insertText(text);
        m_assembledOutput->setVisible(true);
    });
    connect(m_checkAssembled, &QPushButton::clicked, m_model, &BrevaneModel::checkAssembled);
    splitter->addWidget(picking);
    connect(m_matrix, &QTreeWidget::itemChanged, this, &CompareWindow::pickChanged);
    connect(m_assemble, &QPushButton::clicked, this, [this] {
        QPointer<CompareWindow> self(this);
        m_assembleStatus->setText(tr("Assembling\u2026"));
        m_model->assemble([self](const GitResult<BrevaneModel::Assembled>& made) {
            if (!self)
                return;
            self->m_assembleStatus->setText(
                made ? tr("Assembled: %n files", nullptr, int(made->changes.size()))
                     : made.error());
            // Shown against the agents' at once, when it is chosen.
            self->showSideBySide();
        });
    });
    connect(m_apply, &QPushButton::clicked, this, [this] {
        QPointer<CompareWindow> self(this);
        m_assembleStatus->setText(tr("Applying\u2026"));
        m_model->applyAssembled([self](const GitResult<GitApplyResult>& applied) {
            if (!self)
                return;
            if (!applied) {
                self->m_assembleStatus->setText(applied.error());
            } else if (!applied->applied) {
                QStringList paths;
                for (const QByteArray& path : applied->conflicts)
                    paths << QFile::decodeName(path);
                self->m_assembleStatus->setText(
                    tr("Nothing was applied: these files clash with yours: %1")
                        .arg(paths.join(QStringLiteral(", "))));
            } else {
                self->m_assembleStatus->setText(
                    tr("Applied: %n files written", nullptr,
                       int(applied->written.size() + applied->removed.size())));
            }
        });
    });
    auto* versions = new QWidget;
    auto* versionsLayout = new QVBoxLayout(versions);
    versionsLayout->setContentsMargins(0, 0, 0, 0);
    auto* choice = new QHBoxLayout;
    m_versions->addItems({tr("A against B"), tr("Base against A"), tr("Base against B")});
    choice->addWidget(new QLabel(tr("A:")));
    choice->addWidget(m_agentA);
    choice->addWidget(new QLabel(tr("B:")));
    choice->addWidget(m_agentB);
    choice->addWidget(m_versions);
    choice->addStretch(1);
    versionsLayout->addLayout(choice);
    versionsLayout->addWidget(m_sideBySide, 1);
    splitter->addWidget(versions);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 2);
    // The assembled result last, to hold against any agent's.
    for (const AgentSession* agent : m_model->runners()) {
        m_agentA->addItem(agent->id());
        m_agentB->addItem(agent->id());
    }
    m_agentA->addItem(tr("assembled"));
    m_agentB->addItem(tr("assembled"));
    m_agentB->setCurrentIndex(std::min(1, m_agentB->count() - 1));
    m_sideBySide->setMessage(tr("Select a file to see two agents' versions side by side."));
    for (QComboBox* box : {m_agentA, m_agentB, m_versions})
        connect(box, &QComboBox::currentIndexChanged, this, &CompareWindow::showSideBySide);
    connect(m_matrix, &QTreeWidget::itemSelectionChanged, this, &CompareWindow::showSideBySide);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(16);
    connect(&m_refresh, &QTimer::timeout, this, &CompareWindow::refresh);
    m_ticking.setInterval(1000);
    connect(&m_ticking, &QTimer::timeout, this, &CompareWindow::refreshScores);
    connect(m_model, &BrevaneModel::changed, this, &CompareWindow::scheduleRefresh);
    for (AgentSession* agent : m_model->runners())
        connect(agent, &AgentSession::changed, this, &CompareWindow::scheduleRefresh);
    refresh();
}

void CompareWindow::scheduleRefresh()
{
    if (!m_refresh.isActive())
        m_refresh.start();
}

void CompareWindow::refresh()
{
    refreshScores();
    refreshMatrix();
    showSideBySide();
    updateButtons();
    if (m_model->anyRunning())
        m_ticking.start();
    else
        m_ticking.stop();
}

void CompareWindow::refreshScores()
{
    const QLocale locale;
    const auto now = AgentSession::Clock::now();
    m_scores->setSortingEnabled(false);
    m_scores->clear();
    for (const AgentSession* agent : m_model->runners()) {
        if (agent->turns().isEmpty())
            continue;
        auto* item = new SortedItem;
        setCell(item, AgentColumn, agent->id());
        setCell(item, StatusColumn,
                statusLabel(agent->path(), agent->state(), agent->outputStillArriving()));
        std::chrono::milliseconds time{0};
        for (const Turn& turn : agent->turns())
            time += std::chrono::duration_cast<std::chrono::milliseconds>(
                turn.endedAt.value_or(now) - turn.startedAt);
        setCell(item, TimeColumn, elapsedLabel(time), qint64(time.count()));
        setCell(item, TurnsColumn, locale.toString(agent->turns().size()),
                qint64(agent->turns().size()));
        const Usage usage = agent->sessionUsage();
        if (usage.inputTokens || usage.outputTokens) {
            const qint64 tokens = usage.inputTokens.value_or(0) + usage.outputTokens.value_or(0);
            setCell(item, TokensColumn, locale.toString(tokens), tokens);
        }
        if (usage.costUsd)
            setCell(item, CostColumn, QStringLiteral("$%1").arg(*usage.costUsd, 0, 'f', 4),
                    *usage.costUsd);
        const AgentSession::WorktreeChanges& changes = agent->worktreeChanges();
        if (!changes.snapshot.commit.isEmpty()) {
            qint64 added = 0;
            qint64 removed = 0;
            for (const GitFileChange& change : changes.snapshot.whole) {
                added += change.addedLines;
                removed += change.removedLines;
            }
            const qsizetype files = changes.snapshot.whole.size();
            setCell(item, FilesColumn, locale.toString(files), qint64(files));
            setCell(item, AddedColumn, QStringLiteral("+") + locale.toString(added), added);
            setCell(item, RemovedColumn, QStringLiteral("\u2212") + locale.toString(removed),
                    removed);
        }
        if (const std::optional<CheckResult>& check = agent->check())
            setCheckCell(item, *check);
        m_scores->addTopLevelItem(item);
    }
    // The assembled result stands beside the agents it came from.
    if (const std::optional<BrevaneModel::Assembled>& assembled = m_model->assembled()) {
        auto* item = new SortedItem;
        setCell(item, AgentColumn, tr("assembled"));
        qint64 added = 0;
        qint64 removed = 0;
        for (const GitFileChange& change : assembled->changes) {
            added += change.addedLines;
            removed += change.removedLines;
        }
        const qsizetype files = assembled->changes.size();
        setCell(item, FilesColumn, locale.toString(files), qint64(files));
        setCell(item, AddedColumn, QStringLiteral("+") + locale.toString(added), added);
        setCell(item, RemovedColumn, QStringLiteral("\u2212") + locale.toString(removed), removed);
        if (const std::optional<CheckResult>& check = m_model->assembledCheck())
            setCheckCell(item, *check);
        m_scores->addTopLevelItem(item);
    }
    m_scores->setSortingEnabled(true);
}

void CompareWindow::refreshMatrix()
{
    const QList<AgentSession*>& agents = m_model->runners();
    QList<quint64> generations;
    QList<QList<GitFileChange>> perAgent;
    QStringList headers{tr("File"), tr("Agents")};
    for (const AgentSession* agent : agents) {
        generations << agent->worktreeChanges().generation;
        perAgent << agent->worktreeChanges().snapshot.whole;
        headers << agent->id();
    }
    // Output arrives far more often than change sets.
    if (generations == m_shownChanges && m_matrix->columnCount() == headers.size())
        return;
    m_shownChanges = generations;
    const QList<ComparedFile> files = compareChanges(perAgent);
    const QList<QTreeWidgetItem*> selected = m_matrix->selectedItems();
    const QByteArray selectedPath =
        selected.isEmpty() ? QByteArray() : selected.front()->data(0, Qt::UserRole).toByteArray();
    const QSignalBlocker quiet(m_matrix);
    m_matrix->setSortingEnabled(false);
    m_matrix->clear();
    m_matrix->setColumnCount(int(headers.size()));
    m_matrix->setHeaderLabels(headers);
    QList<QTreeWidgetItem*> items;
    items.reserve(files.size());
    QFont several = m_matrix->font();
    several.setBold(true);
    for (const ComparedFile& file : files) {
        auto* item = new SortedItem;
        const QString path = QFile::decodeName(file.path);
        item->setText(0, path);
        item->setToolTip(0, path);
        item->setData(0, Qt::UserRole, file.path);
        setCell(item, 1, QString::number(file.touchedBy), file.touchedBy);
        // Changed by several: where their results differ, or clash.
        if (file.touchedBy > 1) {
            item->setFont(0, several);
            item->setToolTip(1, tr("Changed by %n agents", nullptr, file.touchedBy));
        }
        const QMap<QByteArray, qsizetype>& picks = m_model->picks();
        const auto pick = picks.constFind(file.path);
        for (qsizetype i = 0; i < file.byAgent.size(); ++i) {
            if (const std::optional<GitFileChange>& change = file.byAgent[i]) {
                setCell(item, int(2 + i), changeText(*change),
                        qint64(change->addedLines + change->removedLines));
                item->setCheckState(int(2 + i), pick != picks.cend() && *pick == i ? Qt::Checked
                                                                                   : Qt::Unchecked);
            }
        }
        items << item;
    }
    m_matrix->addTopLevelItems(items);
    m_matrix->setSortingEnabled(true);
    for (QTreeWidgetItem* item : std::as_const(items)) {
        if (!selectedPath.isEmpty() && item->data(0, Qt::UserRole).toByteArray() == selectedPath)
            item->setSelected(true);
    }
}

void CompareWindow::showSideBySide()
{
    const QList<QTreeWidgetItem*> selected = m_matrix->selectedItems();
    if (selected.isEmpty())
        return;
    const QByteArray path = selected.front()->data(0, Qt::UserRole).toByteArray();
    const QByteArray a = m_model->agentCommit(m_agentA->currentIndex());
    const QByteArray b = m_model->agentCommit(m_agentB->currentIndex());
    QByteArray from = a;
    QByteArray to = b;
    if (m_versions->currentIndex() != AAgainstB) {
        from = m_model->baseCommit();
        to = m_versions->currentIndex() == BaseAgainstA ? a : b;
    }
    // Asked again only when what it would show has changed.
    const QList<QByteArray> asked{path, from, to};
    if (asked == m_shownVersions)
        return;
    m_shownVersions = asked;
    if (from.isEmpty() || to.isEmpty()) {
        const qsizetype assembled = m_model->runners().size();
        m_sideBySide->setMessage(!m_model->assembled() && (m_agentA->currentIndex() == assembled ||
                                                           m_agentB->currentIndex() == assembled)
                                     ? tr("Nothing is assembled yet.")
                                     : tr("That agent has no worktree."));
        return;
    }
    const quint64 ticket = ++m_asked;
    QPointer<CompareWindow> self(this);
    m_model->compareVersions(
        path, from, to, [self, ticket](const GitResult<QList<SideBySideRow>>& rows) {
            if (!self || ticket != self->m_asked)
                return;
            if (!rows)
                self->m_sideBySide->setMessage(rows.error());
            else if (rows->isEmpty())
                self->m_sideBySide->setMessage(tr("The two versions are the same."));
            else
                self->m_sideBySide->setRows(*rows);
        });
}

void CompareWindow::pickChanged(QTreeWidgetItem* item, int column)
{
    const qsizetype agent = column - 2;
    if (agent < 0)
        return;
    const QByteArray path = item->data(0, Qt::UserRole).toByteArray();
    const bool ticked = item->checkState(column) == Qt::Checked;
    // One agent's version per file: ticking one unticks the others.
    const QSignalBlocker quiet(m_matrix);
    QMap<QByteArray, qsizetype> picks = m_model->picks();
    if (ticked) {
        picks.insert(path, agent);
        for (int other = 2; other < item->columnCount(); ++other) {
            if (other != column && item->data(other, Qt::CheckStateRole).isValid())
                item->setCheckState(other, Qt::Unchecked);
        }
    } else if (picks.value(path, -1) == agent) {
        picks.remove(path);
    }
    m_model->setPicks(picks);
    updateButtons();
}

void CompareWindow::updateButtons()
{
    m_assemble->setEnabled(m_model->canAssemble() && !m_model->picks().isEmpty());
    m_apply->setEnabled(m_model->canApplyAssembled());
    m_checkAssembled->setEnabled(m_model->canCheckAssembled());
}

QString CompareWindow::assembleStatus() const
{
    return m_assembleStatus->text();
}
