#include "runner/toolrunner.h"

#include "platform/childprocess.h"
#include "platform/spawn.h"
#include "text/tooloutput.h"

#include <QPointer>

#include <algorithm>

namespace {

const QByteArray shellProgram = QByteArrayLiteral("/bin/zsh");

// The tool's path comes from the environment and every argument, the task
// included, is an argument of the shell's own: the script is fixed text, so
// the shell parses nothing of either. Under -c the first word after the
// script is $0.
const QByteArray toolScript = QByteArrayLiteral("exec \"$BV_BIN\" \"$@\"");
const QByteArray scriptName = QByteArrayLiteral("brevane");

QList<QByteArray> shellArguments(const ToolSpec& spec, const QString& task)
{
    QList<QByteArray> arguments{QByteArrayLiteral("-lc"), toolScript, scriptName};
    for (const QString& arg : spec.args)
        arguments.push_back(arg.toUtf8());
    arguments.push_back(task.toUtf8());
    return arguments;
}

QList<QByteArray> environmentFor(const QByteArray& path, const QString& task)
{
    // Inherited entries are copied as raw bytes: a value that is not valid
    // text must reach the tool unchanged.
    const QList<QByteArray> own = {"BV_BIN=" + path, "BV_TASK=" + task.toUtf8(),
                                   QByteArrayLiteral("NO_COLOR=1"), QByteArrayLiteral("TERM=dumb")};
    QList<QByteArray> entries;
    for (const QByteArray& entry : currentEnvironment()) {
        const bool replaced = std::any_of(own.begin(), own.end(), [&](const QByteArray& mine) {
            const qsizetype nameEnd = mine.indexOf('=') + 1;
            return entry.startsWith(QByteArrayView(mine).first(nameEnd));
        });
        if (!replaced)
            entries.push_back(entry);
    }
    entries += own;
    return entries;
}

} // namespace

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
    for (const std::shared_ptr<ChildProcess>& process : m_terminating)
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

void ToolRunner::appendOutput(const QString& text)
{
    if (text.isEmpty())
        return;
    m_output.append(text);
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

void ToolRunner::run(const QString& task, const QByteArray& folder)
{
    if (!path())
        return;
    beginRun(task);
    setOutput(QStringView());
    const quint64 runId = m_runId;

    ChildProcess::Options options;
    options.program = shellProgram;
    options.arguments = shellArguments(m_spec, task);
    options.environment = environmentFor(*path(), task);
    options.workingDirectory = folder;

    // The transform runs on the reader thread and owns its decoding state:
    // one decoder, as standard error shares standard output's pipe. The
    // GUI-thread handlers reach the runner only through a QPointer.
    auto decoder = std::make_shared<ToolOutputDecoder>();
    ChildProcess::Handlers handlers;
    handlers.transform = [decoder](ChildProcess::Channel, QByteArrayView bytes, bool endOfStream) {
        return endOfStream ? decoder->finish() : decoder->decode(bytes);
    };
    QPointer<ToolRunner> self(this);
    handlers.output = [self, runId](ChildProcess::Channel, const QString& text) {
        if (self)
            self->handleOutput(runId, text);
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
    std::shared_ptr<ChildProcess> process;
    // exec() would end the environment entry at the first NUL and hand the
    // tool a shortened task without a word: refuse to launch instead.
    if (task.contains(QChar(u'\0')))
        error = QStringLiteral("The task contains a NUL character, which no program can receive");
    else
        process = ChildProcess::start(m_owner, options, std::move(handlers), &error);
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
    m_process->terminate();
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

void ToolRunner::handleOutput(quint64 runId, const QString& text)
{
    // A stopped child, or one from an earlier run, must not write into the
    // transcript of the current run.
    if (runId != m_runId)
        return;
    if (!m_state.isRunning() && !m_state.hasEnded())
        return;
    appendOutput(text);
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
