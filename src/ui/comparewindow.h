#pragma once

#include <QList>
#include <QMap>
#include <QTimer>
#include <QWidget>

class BrevaneModel;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class SideBySideView;

// The agents of a window's session side by side, updated as they work: a
// scoreboard (status, time, turns, tokens, cost, files, lines, check), and
// a matrix of the files any agent changed with what each did to them,
// those changed by several marked.
class CompareWindow : public QWidget {
    Q_OBJECT
public:
    explicit CompareWindow(BrevaneModel* model, QWidget* parent = nullptr);

    QTreeWidget* scoreboard() const { return m_scores; }
    QTreeWidget* matrix() const { return m_matrix; }
    // The file selected in the matrix, two agents' versions side by side:
    // agent A's and agent B's, or either against the session's base.
    QComboBox* agentA() const { return m_agentA; }
    QComboBox* agentB() const { return m_agentB; }
    QComboBox* versions() const { return m_versions; }
    SideBySideView* sideBySide() const { return m_sideBySide; }
    enum Versions { AAgainstB, BaseAgainstA, BaseAgainstB };
    // Which agent's version of each file to take (a ticked cell of the
    // matrix, kept by the model), put together by Assemble and brought
    // into the folder by Apply Selection.
    QPushButton* assembleButton() const { return m_assemble; }
    // The check in the assembled result's worktree, and what it printed.
    QPushButton* checkAssembledButton() const { return m_checkAssembled; }
    QPlainTextEdit* assembledOutput() const { return m_assembledOutput; }
    QPushButton* applyButton() const { return m_apply; }
    QString assembleStatus() const;

    // Sort keys beside what the cells show.
    static constexpr int SortRole = Qt::UserRole + 10;

private:
    void scheduleRefresh();
    void refresh();
    void refreshScores();
    void refreshMatrix();
    void showSideBySide();
    void pickChanged(QTreeWidgetItem* item, int column);
    void updateButtons();

    BrevaneModel* m_model;
    QTreeWidget* m_scores;
    QTreeWidget* m_matrix;
    QComboBox* m_agentA;
    QComboBox* m_agentB;
    QComboBox* m_versions;
    SideBySideView* m_sideBySide;
    // The comparison asked for last, and the answer's ticket: older ones are dropped.
    QList<QByteArray> m_shownVersions;
    quint64 m_asked = 0;
    QPushButton* m_assemble;
    QPushButton* m_apply;
    QLabel* m_assembleStatus;
    QPushButton* m_checkAssembled;
    QPlainTextEdit* m_assembledOutput;
    // Several changes in a row refresh once; a running agent's time moves on
    // every second while nothing else changes.
    QTimer m_refresh;
    QTimer m_ticking;
    // The change sets the matrix shows, by their generation.
    QList<quint64> m_shownChanges;
};
