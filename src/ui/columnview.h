#pragma once

#include <QPointer>
#include <QWidget>

class ToolRunner;

// One tool's column: header (status dot, name, spinner, Copy), path line,
// status line, divider, and either the not-installed notice or the live
// transcript. Observes one runner; a change only marks the column dirty and
// it renders once on the next event-loop turn.
class ColumnView : public QWidget {
    Q_OBJECT
public:
    explicit ColumnView(ToolRunner* runner, QWidget* parent = nullptr);
    ~ColumnView() override;

    ToolRunner* runner() const { return m_runner; }

private:
    QPointer<ToolRunner> m_runner;
};
