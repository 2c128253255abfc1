#pragma once

#include "transcript/sidebyside.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QString>

// Two versions of a file in two panes that scroll together, row by row as
// git's hunks align them: removed lines tinted on the left, added ones on
// the right, the words that differ in a changed pair marked. Only the rows
// in view are drawn, so a file of any length opens at once; long lines are
// cut at the pane's edge and scroll sideways.
class SideBySideView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit SideBySideView(QWidget* parent = nullptr);

    void setRows(QList<SideBySideRow> rows);
    const QList<SideBySideRow>& rows() const { return m_rows; }
    // Shown instead of rows (an error, or that the versions are the same).
    void setMessage(const QString& message);
    QString message() const { return m_message; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateScrollBars();

    QList<SideBySideRow> m_rows;
    QString m_message;
    qsizetype m_widestLine = 0; // in characters, tabs counted as four
};
