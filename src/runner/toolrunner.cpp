#include "runner/toolrunner.h"

#include "runner/turnprocess.h"

#include <QPointer>

#include <algorithm>

ToolRunner::ToolRunner(ProcessOwner& owner, ToolSpec spec, QObject* parent)
    : QObject(parent)
    , m_owner(owner)
    , m_spec(std::move(spec))
{
}

// A running tool is left alone: closing a window does not stop its tools.
// Its output is closed, though (it ends by SIGPIPE at its next write, as
// after quitting), and a stopped tool gets its SIGKILL now.
ToolRunner::~ToolRunner()
{
    if (m_process)
        m_process->killNowIfTerminating();
    for (const std::unique_ptr<TurnProcess>& process : m_terminating)
        process->killNowIfTerminating();
}

void ToolRunner::setDiscovery(Discovery discovery)
{
    m_discovery = std::move(discovery);
    Q_EMIT changed();
}

void ToolRunner::setOutput(QStringView output)
{
    m_output.clear();
    m_output.beginTurn();
    m_output.append(output);
    ++m_outputGeneration;
    Q_EMIT changed();
}

void ToolRunner::appendOutput(const QString& text, TextRole role)
{
    if (text.isEmpty())
        return;
    m_output.append(text, role);
    Q_EMIT changed();
}

void ToolRunner::setState(RunState state)
{
    const bool ends = m_state.isRunning() && !state.isRunning();
    m_state = state;
    if (ends)
        m_endedAt = Clock::now();
    Q_EMIT changed();
    if (ends)
        Q_EMIT runEnded();
}

void ToolRunner::beginRun(const QString& task)
{
    // A job of the previous run still writing is not read any more, also
    // when this run fails to launch.
    if (m_process) {
        m_process->closeOutput();
        if (m_process->terminating())
            m_terminating.push_back(std::move(m_process));
        m_process.reset();
    }
    std::erase_if(m_terminating, [](const auto& process) { return !process->terminating(); });
    m_outputStillArriving = false;
    m_rawOutput[0].clear();
    m_rawOutput[1].clear();
    ++m_runId;
    // Announced by the change of output and state that always follows.
    m_task = task;
    m_ranPath = path();
    m_startedAt = Clock::now();
    m_endedAt.reset();
}

std::chrono::milliseconds ToolRunner::elapsed(Clock::time_point now) const
{
    if (!m_startedAt)
        return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_endedAt.value_or(now) -
                                                                 *m_startedAt);
}

void ToolRunner::failLaunch(const QString& reason)
{
    setOutput(QStringLiteral("Failed to launch: ") + reason);
    // A run refused before it started ends where it began.
    if (!m_state.isRunning())
        m_endedAt = m_startedAt;
    setState(RunState::failed());
}

void ToolRunner::run(const QString& task, const QByteArray& folder, bool plainOutput)
{
    if (!path())
        return;
    beginRun(task);
    setOutput(QStringView());
    const quint64 runId = m_runId;

    // The GUI-thread handlers reach the runner only through a QPointer.
    QPointer<ToolRunner> self(this);
    TurnProcess::Handlers handlers;
    handlers.output = [self, runId](const QString& text, TextRole role) {
        if (self)
            self->handleOutput(runId, text, role);
    };
    handlers.raw = [self, runId](const QByteArray& bytes, bool standardError) {
        if (self && runId == self->m_runId)
            self->m_rawOutput[standardError].append(bytes);
    };
    handlers.ended = [self, runId](ChildExit exit, bool outputOpen) {
        if (self)
            self->handleEnd(runId, exit, outputOpen);
    };
    handlers.outputEnded = [self, runId] {
        if (self)
            self->handleOutputEnded(runId);
    };
    QString error;
    TurnProcess::Launch launch;
    launch.toolPath = *path();
    const bool structured = !plainOutput && m_spec.canStructure();
    launch.arguments = m_spec.turnArguments(task, structured);
    if (structured) {
        launch.makeOutputReader = TurnProcess::structuredReader(*m_spec.format);
        launch.keepRaw = true;
    }
    launch.prompt = task.toUtf8();
    launch.folder = folder;
    std::unique_ptr<TurnProcess> process =
        TurnProcess::start(m_owner, launch, std::move(handlers), &error);
    if (!process) {
        failLaunch(error);
        return;
    }
    // Running only now that there is a process to stop: whoever reacts to
    // the change may stop it at once.
    m_process = std::move(process);
    setState(RunState::running());
}

void ToolRunner::stop()
{
    if (!canStop())
        return;
    // Kept until the next run, so that closing the window can still kill it.
    m_process->stop();
    if (m_state.isRunning()) {
        m_outputStillArriving = false;
        setState(RunState::stopped());
    } else {
        setOutputStillArriving(false);
    }
}

void ToolRunner::setOutputStillArriving(bool arriving)
{
    m_outputStillArriving = arriving;
    Q_EMIT changed();
}

void ToolRunner::handleOutput(quint64 runId, const QString& text, TextRole role)
{
    // A stopped child, or one from an earlier run, must not write into the
    // transcript of the current run.
    if (runId != m_runId)
        return;
    if (!m_state.isRunning() && !m_state.hasEnded())
        return;
    appendOutput(text, role);
}

void ToolRunner::handleEnd(quint64 runId, ChildExit exit, bool outputOpen)
{
    if (runId != m_runId || !m_state.isRunning())
        return;
    if (!outputOpen)
        m_process.reset();
    m_outputStillArriving = outputOpen;
    setState(exit.signal ? RunState::killed(exit.signal) : RunState::done(exit.code));
}

void ToolRunner::handleOutputEnded(quint64 runId)
{
    if (runId != m_runId || !m_outputStillArriving)
        return;
    m_process.reset();
    setOutputStillArriving(false);
}
