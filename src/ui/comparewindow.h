#pragma once

#include <QList>
#include <QTimer>
#include <QWidget>

class BrevaneModel;
class QTreeWidget;

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

    // Sort keys beside what the cells show.
    static constexpr int SortRole = Qt::UserRole + 10;

private:
    void scheduleRefresh();
    void refresh();
    void refreshScores();
    void refreshMatrix();

    BrevaneModel* m_model;
    QTreeWidget* m_scores;
    QTreeWidget* m_matrix;
    // Several changes in a row refresh once; a running agent's time moves on
    // every second while nothing else changes.
    QTimer m_refresh;
    QTimer m_ticking;
    // The change sets the matrix shows, by their generation.
    QList<quint64> m_shownChanges;
};
