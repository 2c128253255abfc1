#include "store/sessionrecorder.h"

#include "model/brevanemodel.h"
#include "store/historystore.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// How long changes gather before they go to the store: the store batches
// again, so this only spares it a call per slice of output.
constexpr int gatherMs = 200;

QString firstLine(const QString& text)
{
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    return end < 0 ? text : text.first(end);
}

// The check kept for a turn: a number this Brevane does not know, or
// Running, which is never written, is none.
std::optional<CheckResult> checkResult(const CheckRow& row)
{
    using Outcome = CheckResult::Outcome;
    if (!row.outcome || *row.outcome <= int(Outcome::Running) ||
        *row.outcome > int(Outcome::NotStarted))
        return std::nullopt;
    return CheckResult{Outcome(*row.outcome), row.exitCode, row.signal, row.error};
}

} // namespace

TurnRow turnRow(const QString& sessionId, const AgentSession& agent, qsizetype index,
                const QString& instance)
{
    const Turn& turn = agent.turns().at(index);
    TurnRow row;
    row.sessionId = sessionId;
    row.tool = agent.id();
    row.index = int(index);
    row.prompt = turn.prompt;
    row.stateCase = int(turn.state.kind());
    row.stateValue = turn.state.value();
    row.startedAt = turn.startedWall;
    row.endedAt = turn.endedWall;
    row.usage = turn.usage;
    row.conversationId = turn.conversation.id;
    row.resumed = turn.conversation.resume;
    row.newConversation = turn.newConversation;
    row.start = turn.start;
    row.outputStart = turn.outputStart;
    row.outputEnd = turn.outputEnd;
    if (turn.state.isActive())
        row.instance = instance;
    return row;
}

QMap<QString, AgentSession::Kept> keptAgents(const StoredSession& session)
{
    QMap<QString, AgentSession::Kept> agents;
    for (const StoredAgent& stored : session.agents) {
        AgentSession::Kept kept;
        for (const TurnRow& row : stored.turns) {
            Turn turn;
            turn.prompt = row.prompt;
            turn.state = RunState::fromParts(row.stateCase, row.stateValue);
            turn.startedWall = row.startedAt;
            turn.endedWall = row.endedAt;
            turn.usage = row.usage;
            turn.conversation = {row.conversationId, row.resumed};
            turn.newConversation = row.newConversation;
            turn.start = row.start;
            turn.outputStart = row.outputStart;
            turn.outputEnd = row.outputEnd;
            const qsizetype end = row.outputEnd < 0 ? stored.transcript.size() : row.outputEnd;
            turn.wroteAnything = end > row.outputStart;
            kept.turns.append(turn);
        }
        kept.transcript = stored.transcript;
        kept.runs = stored.runs;
        kept.conversationId = stored.agent.conversationId;
        kept.canResume = stored.agent.canResume;
        kept.rawOutput[0] = stored.rawOutput[0];
        kept.rawOutput[1] = stored.rawOutput[1];
        kept.check = checkResult(stored.check);
        for (const WorktreeRow& row : session.worktrees) {
            if (row.tool == stored.agent.tool && (row.state == WorktreeRow::State::Ready ||
                                                  row.state == WorktreeRow::State::Leftover))
                kept.worktree = PlannedWorktree{row.tool, row.repositoryTop, row.path,
                                                row.baseCommit, row.subfolder};
            if (row.tool == stored.agent.tool && row.state == WorktreeRow::State::Removed)
                kept.worktreeDiscarded = true;
        }
        agents.insert(stored.agent.tool, kept);
    }
    return agents;
}

std::optional<PlannedWorktree> keptAssembled(const StoredSession& session)
{
    for (const WorktreeRow& row : session.worktrees) {
        if (row.tool == BrevaneModel::assembledName && row.state != WorktreeRow::State::Removed)
            return PlannedWorktree{row.tool, row.repositoryTop, row.path, row.baseCommit,
                                   row.subfolder};
    }
    return std::nullopt;
}

SessionRecorder::SessionRecorder(BrevaneModel& model, HistoryStore& store, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_store(store)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(gatherMs);
    connect(&m_timer, &QTimer::timeout, this, &SessionRecorder::flush);
    connect(&m_model, &BrevaneModel::changed, this, &SessionRecorder::schedule);
    connect(&m_model, &BrevaneModel::sessionEnding, this, &SessionRecorder::flush);
    for (AgentSession* agent : m_model.runners()) {
        connect(agent, &AgentSession::changed, this, &SessionRecorder::schedule);
        connect(agent, &AgentSession::checkEnded, this, &SessionRecorder::schedule);
    }
    // Worktrees live beside the history, which is what finds them again:
    // none while it is off.
    auto offerStorage = [this] {
        if (!m_store.isOn()) {
            m_model.setWorktreeStorage({}, {});
            return;
        }
        m_model.setWorktreeStorage(
            QFile::encodeName(QFileInfo(m_store.path()).absolutePath()),
            [this](const QList<PlannedWorktree>& planned, std::function<void(bool)> done) {
                recordWorktrees(planned, std::move(done));
            });
    };
    offerStorage();
    connect(&m_store, &HistoryStore::opened, this, offerStorage);
    connect(&m_store, &HistoryStore::turnedOff, this, offerStorage);
    connect(&m_model, &BrevaneModel::worktreesRemoved, this,
            [this](const QString& sessionId, const QList<QByteArray>& paths) {
                if (sessionId != m_sessionId)
                    return;
                for (const AgentSession* agent : m_model.runners()) {
                    Mark& mark = m_marks[agent->id()];
                    if (mark.worktreeRecorded && paths.contains(mark.worktree.path)) {
                        writeWorktree(mark.worktree, WorktreeRow::State::Removed);
                        mark.worktreeRecorded = false;
                    }
                }
                if (m_assembledRecorded && paths.contains(m_assembledRecorded->path)) {
                    writeWorktree(*m_assembledRecorded, WorktreeRow::State::Removed);
                    m_assembledRecorded.reset();
                }
                m_store.commitNow([](bool) {});
            });
}

WorktreeRow worktreeRow(const QString& sessionId, const PlannedWorktree& worktree,
                        WorktreeRow::State state)
{
    return {sessionId,     worktree.tool,       worktree.repositoryTop,
            worktree.path, worktree.baseCommit, worktree.subfolder,
            state};
}

void SessionRecorder::writeWorktree(const PlannedWorktree& worktree, WorktreeRow::State state)
{
    m_store.write(worktreeRow(m_sessionId, worktree, state));
}

void SessionRecorder::recordWorktrees(const QList<PlannedWorktree>& planned,
                                      std::function<void(bool)> done)
{
    if (!m_store.isOn()) {
        done(false);
        return;
    }
    // The session's rows go first: a worktree's row belongs to them.
    flush();
    for (const PlannedWorktree& worktree : planned)
        writeWorktree(worktree, WorktreeRow::State::Creating);
    m_store.commitNow(std::move(done));
}

SessionRecorder::~SessionRecorder()
{
    // A preparation still under way finds nothing to record with, and makes nothing.
    m_model.setWorktreeStorage({}, {});
    interruptRunning();
}

void SessionRecorder::schedule()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void SessionRecorder::adoptSession()
{
    m_timer.stop();
    m_sessionId = m_model.sessionId();
    m_createdAt = m_model.sessionCreatedAt();
    m_marks.clear();
    for (const AgentSession* agent : m_model.runners())
        m_marks.insert(agent->id(), markAtEnd(*agent));
    m_assembledRecorded = m_model.assembledWorktree();
}

SessionRecorder::Mark SessionRecorder::markAtEnd(const AgentSession& agent) const
{
    Mark mark;
    mark.generation = agent.outputGeneration();
    mark.transcript = agent.output().size();
    mark.settledTurns = agent.turns().size();
    mark.writtenRunning = QList<bool>(agent.turns().size(), false);
    mark.rawTurn = agent.turns().size() - 1;
    mark.raw[0] = agent.rawBytes(0).size();
    mark.raw[1] = agent.rawBytes(1).size();
    mark.conversationId = agent.lastConversationId();
    mark.canResume = agent.canResume();
    mark.agentWritten = !agent.turns().isEmpty();
    if (agent.worktree()) {
        mark.worktree = *agent.worktree();
        mark.worktreeRecorded = true;
    }
    mark.checkTurn = agent.turns().size() - 1;
    mark.check = agent.check();
    return mark;
}

void SessionRecorder::flush()
{
    m_timer.stop();
    const QString& sessionId = m_model.sessionId();
    if (sessionId != m_sessionId) {
        m_sessionId = sessionId;
        m_createdAt = m_model.sessionCreatedAt();
        m_marks.clear();
        m_assembledRecorded.reset();
        if (!m_sessionId.isEmpty())
            writeSession();
    }
    if (m_sessionId.isEmpty())
        return;
    bool turnsChanged = false;
    for (const AgentSession* agent : m_model.runners()) {
        if (!agent->turns().isEmpty())
            flushAgent(*agent, m_marks[agent->id()], &turnsChanged);
    }
    if (turnsChanged)
        writeSession();
    // The assembled result's worktree, once made, and each time it moves.
    if (const std::optional<PlannedWorktree>& assembled = m_model.assembledWorktree();
        assembled && assembled != m_assembledRecorded) {
        writeWorktree(*assembled, WorktreeRow::State::Ready);
        m_assembledRecorded = assembled;
    }
}

void SessionRecorder::writeSession()
{
    SessionRow row;
    row.id = m_sessionId;
    row.baseFolder = m_model.sessionFolder();
    row.createdAt = m_createdAt.isValid() ? m_createdAt : QDateTime::currentDateTimeUtc();
    row.updatedAt = QDateTime::currentDateTimeUtc();
    for (const AgentSession* agent : m_model.runners()) {
        if (!agent->turns().isEmpty()) {
            row.title = firstLine(agent->turns().front().prompt);
            break;
        }
    }
    m_store.write(row);
}

void SessionRecorder::flushAgent(const AgentSession& agent, Mark& mark, bool* turnsChanged)
{
    if (mark.generation != agent.outputGeneration()) {
        mark = Mark();
        mark.generation = agent.outputGeneration();
    }
    if (!mark.agentWritten || mark.conversationId != agent.lastConversationId() ||
        mark.canResume != agent.canResume()) {
        AgentRow row;
        row.sessionId = m_sessionId;
        row.tool = agent.id();
        row.conversationId = agent.lastConversationId();
        row.canResume = agent.canResume();
        row.workspaceFolder = m_model.sessionFolder();
        m_store.write(row);
        mark.agentWritten = true;
        mark.conversationId = row.conversationId;
        mark.canResume = row.canResume;
    }
    // Made and used: only once the tool has started in it (or the turn has
    // ended) does a crash leave the worktree to its session rather than as
    // a leftover.
    if (agent.worktree() && !agent.state().isPreparing() &&
        (!mark.worktreeRecorded || *agent.worktree() != mark.worktree)) {
        writeWorktree(*agent.worktree(), WorktreeRow::State::Ready);
        if (agent.worktree()) {
            mark.worktree = *agent.worktree();
            mark.worktreeRecorded = true;
        }
    }

    // The text first, so that a turn's row never points past what is kept.
    const QStringView text = agent.output();
    if (text.size() > mark.transcript) {
        TranscriptChunk chunk;
        chunk.sessionId = m_sessionId;
        chunk.tool = agent.id();
        chunk.offset = mark.transcript;
        TranscriptText::Snapshot all = agent.outputSnapshot();
        chunk.shared = {std::move(all.keepAlive), all.text.sliced(mark.transcript)};
        for (StyleRun run : agent.transcript().runsIn(mark.transcript, text.size())) {
            run.start = std::max(run.start, mark.transcript);
            chunk.runs.push_back(run);
        }
        m_store.append(chunk);
        mark.transcript = text.size();
    }

    const QList<Turn>& turns = agent.turns();
    const qsizetype latest = turns.size() - 1;
    // A turn's end in the transcript is fixed only once the next begins;
    // what arrived after it ended is searchable from then on too.
    if (turns.size() > mark.writtenRunning.size() && !mark.writtenRunning.isEmpty()) {
        const qsizetype previous = mark.writtenRunning.size() - 1;
        m_store.write(turnRow(m_sessionId, agent, previous, m_store.instance()));
        m_store.indexTurn(m_sessionId, agent.id(), int(previous));
    }
    mark.writtenRunning.resize(turns.size(), false);
    for (qsizetype i = mark.settledTurns; i < turns.size(); ++i) {
        const bool running = turns[i].state.isActive();
        // A running turn's row changes only when it ends.
        if (running && mark.writtenRunning[i])
            continue;
        m_store.write(turnRow(m_sessionId, agent, i, m_store.instance()));
        *turnsChanged = *turnsChanged || !running || !mark.writtenRunning[i];
        if (!running)
            m_store.indexTurn(m_sessionId, agent.id(), int(i));
        mark.writtenRunning[i] = running;
    }
    while (mark.settledTurns < turns.size() && !turns[mark.settledTurns].state.isActive())
        ++mark.settledTurns;

    // The latest turn's check, after its turn's row. While one runs its
    // turn has none on record, so that a crash meanwhile leaves no result
    // of an earlier run standing; a new turn's row starts without one.
    std::optional<CheckResult> check = agent.check();
    if (check && check->running())
        check = m_closing ? std::optional(CheckResult{CheckResult::Outcome::Stopped, 0, 0, {}})
                          : std::nullopt;
    if (mark.checkTurn != latest) {
        mark.checkTurn = latest;
        mark.check.reset();
    }
    if (check != mark.check) {
        CheckRow row;
        row.sessionId = m_sessionId;
        row.tool = agent.id();
        row.turnIndex = int(latest);
        if (check) {
            row.outcome = int(check->outcome);
            row.exitCode = check->exitCode;
            row.signal = check->signal;
            row.error = check->error;
        }
        m_store.write(row);
        mark.check = check;
    }

    // The raw bytes after their turn's row, which they belong to.
    if (mark.rawTurn != latest) {
        mark.rawTurn = latest;
        mark.raw[0] = mark.raw[1] = 0;
    }
    for (int channel = 0; channel < 2; ++channel) {
        const QByteArrayView bytes = agent.rawBytes(channel);
        if (bytes.size() > mark.raw[channel]) {
            m_store.append(RawChunk{m_sessionId, agent.id(), int(latest), channel,
                                    bytes.sliced(mark.raw[channel]).toByteArray()});
            mark.raw[channel] = bytes.size();
        }
    }
}

void SessionRecorder::interruptRunning()
{
    m_closing = true;
    flush();
    if (m_sessionId.isEmpty())
        return;
    bool any = false;
    for (const AgentSession* agent : m_model.runners()) {
        if (!agent->state().isActive())
            continue;
        TurnRow row = turnRow(m_sessionId, *agent, agent->turns().size() - 1, QString());
        row.stateCase = int(RunState::Case::Interrupted);
        row.stateValue = 0;
        row.endedAt = QDateTime::currentDateTimeUtc();
        m_store.write(row);
        m_store.indexTurn(m_sessionId, agent->id(), row.index);
        any = true;
    }
    if (any) {
        writeSession();
        m_store.commitNow([](bool) {});
    }
}
