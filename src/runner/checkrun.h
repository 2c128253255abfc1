#pragma once

#include "runner/check.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class ProcessOwner;
class TurnProcess;

// The user's check command (or setup command) running in a worktree,
// through the login shell as written: the user's own text, meant for the
// shell. Its process group ends at the time limit and by stop(); jobs it
// leaves behind end with it. Destroying it kills the group at once: a
// check is Brevane's errand and goes with its owner.
class CheckRun : public QObject {
    Q_OBJECT
public:
    explicit CheckRun(ProcessOwner& owner, QObject* parent = nullptr);
    ~CheckRun() override;

    bool running() const { return m_process != nullptr; }
    // Starts `command` in `folder`; its text, all of it, goes to `output`
    // until it ends. False, with ended() already sent as NotStarted, when
    // it could not start; nothing is done while one runs.
    bool start(const QByteArray& command, const QByteArray& folder,
               std::chrono::milliseconds timeLimit, std::function<void(const QString&)> output);
    // Ends the group (SIGTERM, then SIGKILL after the grace period): Stopped.
    void stop();

Q_SIGNALS:
    // Once per start(), however it ended; nothing is read after it.
    void ended(const CheckResult& result);

private:
    void finish(const CheckResult& result);

    ProcessOwner& m_owner;
    std::unique_ptr<TurnProcess> m_process;
    // Ended ones still in their grace period.
    std::vector<std::unique_ptr<TurnProcess>> m_terminating;
    QTimer m_limit;
    quint64 m_runId = 0;
};
