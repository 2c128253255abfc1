#include "runner/checkrun.h"

#include "runner/turnprocess.h"

#include <QPointer>

CheckRun::CheckRun(ProcessOwner& owner, QObject* parent)
    : QObject(parent)
    , m_owner(owner)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        if (!m_process)
            return;
        m_process->stop();
        finish({CheckResult::Outcome::TimedOut, 0, 0, {}});
    });
}

CheckRun::~CheckRun()
{
    if (m_process) {
        m_process->stop();
        m_process->killNowIfTerminating();
    }
    for (const std::unique_ptr<TurnProcess>& process : m_terminating)
        process->killNowIfTerminating();
}

bool CheckRun::start(const QByteArray& command, const QByteArray& folder,
                     std::chrono::milliseconds timeLimit,
                     std::function<void(const QString&)> output)
{
    if (m_process)
        return false;
    std::erase_if(m_terminating, [](const auto& process) { return !process->terminating(); });
    const quint64 runId = ++m_runId;
    TurnProcess::Launch launch;
    launch.userCommand = command;
    launch.folder = folder;
    QPointer<CheckRun> self(this);
    TurnProcess::Handlers handlers;
    handlers.output = [self, runId, output = std::move(output)](const QString& text, TextRole) {
        if (self && runId == self->m_runId && self->m_process)
            output(text);
    };
    handlers.ended = [self, runId](ChildExit exit, bool outputOpen) {
        if (!self || runId != self->m_runId || !self->m_process)
            return;
        // A job the command left behind (a server, say) ends with its group.
        if (outputOpen)
            self->m_process->stop();
        CheckResult result;
        if (exit.signal)
            result = {CheckResult::Outcome::Killed, 0, exit.signal, {}};
        else if (exit.code != 0)
            result = {CheckResult::Outcome::Failed, exit.code, 0, {}};
        else
            result.outcome = CheckResult::Outcome::Passed;
        self->finish(result);
    };
    handlers.outputEnded = [] {};
    QString error;
    m_process = TurnProcess::start(m_owner, launch, std::move(handlers), &error);
    if (!m_process) {
        finish({CheckResult::Outcome::NotStarted, 0, 0, error});
        return false;
    }
    m_limit.start(timeLimit);
    return true;
}

void CheckRun::stop()
{
    if (!m_process)
        return;
    m_process->stop();
    finish({CheckResult::Outcome::Stopped, 0, 0, {}});
}

void CheckRun::finish(const CheckResult& result)
{
    m_limit.stop();
    // Whatever the process still says is not read; a group being ended
    // gets its grace period, and then its SIGKILL.
    ++m_runId;
    if (m_process) {
        m_process->closeOutput();
        if (m_process->terminating())
            m_terminating.push_back(std::move(m_process));
        m_process.reset();
    }
    Q_EMIT ended(result);
}
