#pragma once

#include "runner/toolrunner.h"

#include <QList>
#include <QObject>
#include <QString>

// The one model behind a window: a runner per catalogue tool, the task being
// typed, and whether a search for the tools is under way. GUI thread only.
//
// objectWillChange() fires before every assignment to task or scanning, once
// at the end of start() and stopAll(), and once for every objectWillChange()
// of one of its runners.
class BrevaneModel : public QObject {
    Q_OBJECT
public:
    explicit BrevaneModel(QObject* parent = nullptr);
    ~BrevaneModel() override;

    const QList<ToolRunner*>& runners() const { return m_runners; }
    const QString& task() const { return m_task; }
    void setTask(const QString& task);
    bool scanning() const { return m_scanning; }

    bool anyRunning() const;
    bool anyInstalled() const;

    // Looks for every catalogue tool on a background thread; the results are
    // applied on the GUI thread in one step. Returns at once.
    void scan();
    // Runs every installed tool on the trimmed task; nothing for a blank one.
    void start();
    // Stops every runner whose child still runs.
    void stopAll();

    // How long a scan lets a login shell look for one tool.
    std::chrono::milliseconds shellTimeout() const { return m_shellTimeout; }
    void setShellTimeout(std::chrono::milliseconds timeout) { m_shellTimeout = timeout; }

Q_SIGNALS:
    void objectWillChange();

private:
    void setScanning(bool scanning);
    void applyScan(const QList<std::optional<QString>>& paths);

    QList<ToolRunner*> m_runners;
    QString m_task;
    bool m_scanning = true;
    quint64 m_scanId = 0;
    std::chrono::milliseconds m_shellTimeout{10000};
};
