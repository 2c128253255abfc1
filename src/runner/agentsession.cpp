#include "runner/agentsession.h"

#include "runner/turnprocess.h"

#include <QPointer>
#include <QUuid>

#include <algorithm>

AgentSession::AgentSession(ProcessOwner& owner, ToolSpec spec, QObject* parent)
    : QObject(parent)
    , m_owner(owner)
    , m_spec(std::move(spec))
    , m_check(owner)
{
    connect(&m_check, &CheckRun::ended, this, &AgentSession::endCheck);
}

// A running tool is left alone: closing a window does not stop its tools.
// Its output is closed, though (it ends by SIGPIPE at its next write, as
// after quitting), and a stopped tool gets its SIGKILL now.
AgentSession::~AgentSession()
{
    // A check is Brevane's own errand, not the user's tool: its member
    // ends it with the window.
    if (m_process)
        m_process->killNowIfTerminating();
    for (const std::unique_ptr<TurnProcess>& process : m_terminating)
        process->killNowIfTerminating();
}

void AgentSession::setDiscovery(Discovery discovery)
{
    m_discovery = std::move(discovery);
    Q_EMIT changed();
}

QStringView AgentSession::turnOutput(qsizetype index) const
{
    if (index < 0)
        index += m_turns.size();
    if (index < 0 || index >= m_turns.size())
        return QStringView();
    const Turn& turn = m_turns[index];
    const qsizetype end = turn.outputEnd < 0 ? m_output.size() : turn.outputEnd;
    return m_output.text().sliced(turn.outputStart, end - turn.outputStart);
}

std::optional<QByteArray> AgentSession::ranPath() const
{
    return m_turns.isEmpty() ? std::nullopt : m_turns.back().ranPath;
}

std::optional<AgentSession::Clock::time_point> AgentSession::startedAt() const
{
    if (m_turns.isEmpty())
        return std::nullopt;
    return m_turns.back().startedAt;
}

std::optional<AgentSession::Clock::time_point> AgentSession::endedAt() const
{
    return m_turns.isEmpty() ? std::nullopt : m_turns.back().endedAt;
}

std::chrono::milliseconds AgentSession::elapsed(Clock::time_point now) const
{
    if (m_turns.isEmpty())
        return std::chrono::milliseconds(0);
    const Turn& turn = m_turns.back();
    return std::chrono::duration_cast<std::chrono::milliseconds>(turn.endedAt.value_or(now) -
                                                                 turn.startedAt);
}

Usage AgentSession::sessionUsage() const
{
    Usage total;
    for (const Turn& turn : m_turns)
        total += turn.usage;
    return total;
}

bool AgentSession::refusedUntrustedFolder() const
{
    const RunState last = state();
    return m_spec.untrustedStatus && last.isDone() && last.status() == *m_spec.untrustedStatus;
}

void AgentSession::appendOutput(const QString& text, TextRole role)
{
    if (text.isEmpty())
        return;
    m_output.append(text, role);
    Q_EMIT changed();
}

void AgentSession::setState(RunState state)
{
    Turn& turn = m_turns.back();
    const bool ends = turn.state.isActive() && !state.isActive();
    turn.state = state;
    if (ends) {
        // A turn refused before it started ends where it began.
        turn.endedAt = state.isFailed() ? turn.startedAt : Clock::now();
        turn.endedWall = state.isFailed() ? turn.startedWall : QDateTime::currentDateTimeUtc();
        // Whether the tool now has this conversation: not when it never
        // heard of it. A follow-up that did not get through leaves the
        // earlier conversation as it was.
        const bool reachedTool = !state.isFailed() && !refusedUntrustedFolder() &&
                                 !(state.isStopped() && !turn.wroteAnything);
        if (reachedTool)
            m_canResume = true;
        else if (!turn.conversation.resume)
            m_canResume = false;
    }
    Q_EMIT changed();
    if (ends)
        Q_EMIT runEnded();
}

void AgentSession::releaseProcess()
{
    // A job of the previous turn still writing is not read any more.
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
}

void AgentSession::beginTurn(const QString& prompt)
{
    releaseProcess();
    ++m_runId;
    m_checkResult.reset();

    Turn turn;
    turn.prompt = prompt;
    turn.ranPath = path();
    turn.startedAt = Clock::now();
    turn.startedWall = QDateTime::currentDateTimeUtc();
    const bool followUp = !m_turns.isEmpty();
    if (m_spec.canContinue() && m_canResume) {
        turn.conversation = {m_conversationId, true};
    } else {
        if (m_spec.canContinue())
            m_conversationId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_canResume = false;
        turn.conversation = {m_conversationId, false};
        turn.newConversation = followUp;
    }

    // The prompt line starts a line of its own, a blank line after the
    // previous turn. Announced by the change of state that always follows.
    if (!m_turns.isEmpty())
        m_turns.back().outputEnd = m_output.size();
    if (!m_output.isEmpty())
        m_output.append(m_output.text().endsWith(QLatin1Char('\n')) ? u"\n" : u"\n\n");
    turn.start = m_output.size();
    m_output.beginTurn();
    QString line = QStringLiteral("> ") + prompt;
    line.replace(QLatin1Char('\n'), QStringLiteral("\n> "));
    m_output.append(line, TextRole::Prompt);
    if (turn.newConversation)
        m_output.append(tr(" \u00b7 new conversation"), TextRole::Dim);
    m_output.append(u"\n");
    turn.outputStart = m_output.size();
    m_turns.push_back(std::move(turn));
}

void AgentSession::failLaunch(const QString& reason)
{
    fail(QStringLiteral("Failed to launch: ") + reason);
}

void AgentSession::runCheck(const QByteArray& command, const QByteArray& folder,
                            std::chrono::milliseconds timeLimit)
{
    if (!canRunCheck() || command.trimmed().isEmpty())
        return;
    startLine();
    m_output.append(tr("Check: %1\n").arg(QString::fromUtf8(command)), TextRole::Dim);
    m_checkResult = CheckResult{};
    // All of it dim: the check's words are not the agent's.
    if (m_check.start(command, folder, timeLimit,
                      [this](const QString& text) { appendOutput(text, TextRole::Dim); }))
        Q_EMIT changed();
}

void AgentSession::stopCheck()
{
    m_check.stop();
}

void AgentSession::endCheck(const CheckResult& result)
{
    startLine();
    m_checkResult = result;
    appendOutput(describeCheck(result) + u'\n', TextRole::Dim);
    Q_EMIT checkEnded();
}

void AgentSession::startLine()
{
    if (!m_output.isEmpty() && !m_output.text().endsWith(u'\n'))
        m_output.append(QStringLiteral("\n"), TextRole::Dim);
}

QString AgentSession::describeCheck(const CheckResult& check)
{
    switch (check.outcome) {
    case CheckResult::Outcome::Running:
        return tr("Checking\u2026");
    case CheckResult::Outcome::Passed:
        return tr("Check passed");
    case CheckResult::Outcome::Failed:
        return tr("Check failed with exit status %1").arg(check.exitCode);
    case CheckResult::Outcome::Killed:
        return tr("Check killed by signal %1").arg(check.signal);
    case CheckResult::Outcome::TimedOut:
        return tr("Check timed out");
    case CheckResult::Outcome::Stopped:
        return tr("Check stopped");
    case CheckResult::Outcome::NotStarted:
        return tr("The check could not start: %1").arg(check.error);
    }
    return QString();
}

void AgentSession::note(const QString& text)
{
    if (!m_turns.isEmpty())
        appendOutput(text + u'\n', TextRole::Dim);
}

void AgentSession::fail(const QString& reason)
{
    if (m_turns.isEmpty() || !state().isActive())
        return;
    m_output.append(reason, TextRole::Error);
    setState(RunState::failed());
}

void AgentSession::clearSession()
{
    if (state().isActive())
        return;
    releaseProcess();
    ++m_runId;
    m_turns.clear();
    m_checkResult.reset();
    m_worktree.reset();
    m_changes = {{}, {}, false, m_changes.generation + 1};
    m_conversationId.clear();
    m_canResume = false;
    m_output.clear();
    ++m_outputGeneration;
    Q_EMIT changed();
}

void AgentSession::restore(const Kept& kept)
{
    if (state().isActive())
        return;
    releaseProcess();
    ++m_runId;
    m_checkResult = kept.check;
    if (m_checkResult && m_checkResult->running())
        m_checkResult->outcome = CheckResult::Outcome::Stopped;
    m_turns = kept.turns;
    // A turn knows its length by the calendar; its steady times are made
    // to match, so that it shows how long it took.
    const Clock::time_point now = Clock::now();
    const QDateTime wallNow = QDateTime::currentDateTimeUtc();
    std::vector<qsizetype> starts;
    for (Turn& turn : m_turns) {
        // Nothing runs it here: a turn that was running did not end.
        if (turn.state.isActive() || turn.state.isIdle())
            turn.state = RunState::interrupted();
        turn.startedAt = now - std::chrono::milliseconds(turn.startedWall.msecsTo(wallNow));
        if (!turn.endedWall)
            turn.endedWall = turn.startedWall;
        turn.endedAt = now - std::chrono::milliseconds(turn.endedWall->msecsTo(wallNow));
        starts.push_back(turn.start);
    }
    m_conversationId = kept.conversationId;
    m_canResume = kept.canResume;
    m_worktree = kept.worktree;
    m_changes = {{}, {}, false, m_changes.generation + 1};
    for (int channel = 0; channel < 2; ++channel)
        m_rawOutput[channel].append(kept.rawOutput[channel]);
    m_output.restore(kept.transcript, kept.runs, starts);
    ++m_outputGeneration;
    Q_EMIT changed();
}

void AgentSession::run(const QString& prompt, const QByteArray& folder, bool plainOutput,
                       bool trustFolder)
{
    if (!path())
        return;
    beginTurn(prompt);
    launch({folder, plainOutput, trustFolder});
}

void AgentSession::setPreparing()
{
    if (m_turns.isEmpty() || !m_turns.back().state.isRunning() || m_process)
        return;
    m_turns.back().state = RunState::preparing();
    Q_EMIT changed();
}

void AgentSession::launch(const TurnOptions& options)
{
    if (!path() || m_turns.isEmpty() || !m_turns.back().state.isActive())
        return;
    TurnProcess::Launch launch;
    launch.toolPath = *path();
    const QString& prompt = m_turns.back().prompt;
    const bool structured = !options.plainOutput && m_spec.canStructure();
    TurnAccess access = options.access;
    if (!m_commandsSupported && !m_spec.commandsNeedHelpWord.isEmpty())
        access.commands = false;
    launch.arguments = m_spec.turnArguments(prompt, structured, m_turns.back().conversation,
                                            options.trustFolder, access);
    if (structured) {
        launch.makeOutputReader = TurnProcess::structuredReader(*m_spec.format);
        launch.keepRaw = true;
    }
    launch.prompt = prompt.toUtf8();
    launch.folder = options.folder;
    startProcess(std::move(launch), std::nullopt);
}

void AgentSession::runSetup(const QByteArray& command, const QByteArray& folder,
                            const TurnOptions& then)
{
    if (!state().isPreparing() || m_process)
        return;
    m_output.append(tr("Setting up: %1\n").arg(QString::fromUtf8(command)), TextRole::Dim);
    Q_EMIT changed();
    TurnProcess::Launch launch;
    launch.userCommand = command;
    launch.folder = folder;
    startProcess(std::move(launch), then);
}

void AgentSession::startProcess(TurnProcess::Launch launch, const std::optional<TurnOptions>& then)
{
    const quint64 runId = m_runId;
    // The GUI-thread handlers reach the runner only through a QPointer.
    QPointer<AgentSession> self(this);
    TurnProcess::Handlers handlers;
    handlers.output = [self, runId](const QString& text, TextRole role) {
        if (self)
            self->handleOutput(runId, text, role);
    };
    handlers.raw = [self, runId](const QByteArray& bytes, bool standardError) {
        if (self && runId == self->m_runId)
            self->m_rawOutput[standardError].append(bytes);
    };
    handlers.usage = [self, runId](const Usage& usage) {
        if (!self || runId != self->m_runId)
            return;
        self->m_turns.back().usage = usage;
        Q_EMIT self->changed();
    };
    if (then) {
        handlers.ended = [self, runId, then = *then](ChildExit exit, bool) {
            if (self)
                self->handleSetupEnd(runId, exit, then);
        };
        handlers.outputEnded = [] {};
    } else {
        handlers.ended = [self, runId](ChildExit exit, bool outputOpen) {
            if (self)
                self->handleEnd(runId, exit, outputOpen);
        };
        handlers.outputEnded = [self, runId] {
            if (self)
                self->handleOutputEnded(runId);
        };
    }
    QString error;
    std::unique_ptr<TurnProcess> process =
        TurnProcess::start(m_owner, launch, std::move(handlers), &error);
    if (!process) {
        if (then)
            fail(tr("The setup command could not start: %1").arg(error));
        else
            failLaunch(error);
        return;
    }
    // Running only now that there is a process to stop: whoever reacts to
    // the change may stop it at once.
    m_process = std::move(process);
    if (!then)
        m_turns.back().state = RunState::running();
    Q_EMIT changed();
}

void AgentSession::handleSetupEnd(quint64 runId, ChildExit exit, const TurnOptions& then)
{
    if (runId != m_runId || !state().isPreparing())
        return;
    // What a job of the setup still writes is not the tool's.
    m_process->closeOutput();
    m_process.reset();
    if (exit.signal || exit.code != 0) {
        fail(exit.signal ? tr("The setup command was killed by signal %1").arg(exit.signal)
                         : tr("The setup command failed with exit status %1").arg(exit.code));
        return;
    }
    launch(then);
}

void AgentSession::setWorktree(std::optional<PlannedWorktree> worktree)
{
    m_worktree = std::move(worktree);
    if (!m_worktree)
        setWorktreeChanges({});
    Q_EMIT changed();
}

void AgentSession::setWorktreeChanges(WorktreeChanges changes)
{
    changes.generation = m_changes.generation + 1;
    m_changes = std::move(changes);
    Q_EMIT changed();
}

void AgentSession::stop()
{
    if (!canStop())
        return;
    // Kept until the next turn, so that closing the window can still kill it.
    if (m_process)
        m_process->stop();
    if (state().isActive()) {
        m_outputStillArriving = false;
        setState(RunState::stopped());
    } else {
        setOutputStillArriving(false);
    }
}

void AgentSession::setOutputStillArriving(bool arriving)
{
    m_outputStillArriving = arriving;
    Q_EMIT changed();
}

void AgentSession::handleOutput(quint64 runId, const QString& text, TextRole role)
{
    // A stopped child, or one from an earlier turn, must not write into the
    // transcript of the current one.
    if (runId != m_runId)
        return;
    const RunState now = state();
    if (!now.isActive() && !now.hasEnded())
        return;
    // What a setup command writes is not the tool's: the tool has not yet
    // heard of the conversation.
    if (!text.isEmpty() && !now.isPreparing())
        m_turns.back().wroteAnything = true;
    appendOutput(text, role);
}

void AgentSession::handleEnd(quint64 runId, ChildExit exit, bool outputOpen)
{
    if (runId != m_runId || !state().isRunning())
        return;
    if (!outputOpen)
        m_process.reset();
    m_outputStillArriving = outputOpen;
    setState(exit.signal ? RunState::killed(exit.signal) : RunState::done(exit.code));
}

void AgentSession::handleOutputEnded(quint64 runId)
{
    if (runId != m_runId || !m_outputStillArriving)
        return;
    m_process.reset();
    setOutputStillArriving(false);
}
