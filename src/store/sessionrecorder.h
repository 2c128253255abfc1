#pragma once

#include "runner/agentsession.h"
#include "store/historyrecords.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

class BrevaneModel;
class HistoryStore;

// Keeps a window's session in the history as it happens: the session, each
// agent, each turn, the transcripts, the latest turn's raw bytes and the
// result of its check, once the check has ended. It
// hands the store only what changed since the last time, a few times a
// second while something changes and not at all otherwise, so a flood
// costs the store work in proportion to the flood.
class SessionRecorder : public QObject {
    Q_OBJECT
public:
    // The store outlives the recorder; the model too.
    SessionRecorder(BrevaneModel& model, HistoryStore& store, QObject* parent = nullptr);
    // Keeps what is left, turns still running as Interrupted.
    ~SessionRecorder() override;

    // Hands the store what changed now, without waiting.
    void flush();
    // The window goes while its tools run: their turns are kept as
    // Interrupted, and the store commits at once. Checks still running are
    // kept as Stopped.
    void interruptRunning();
    // The model now shows a session read from the history: what it holds is
    // there already, and only what follows is written.
    void adoptSession();

private:
    // What of one agent the store has already been given.
    struct Mark {
        quint64 generation = 0;
        qsizetype transcript = 0;
        // Turns before this one have ended and their rows are written.
        qsizetype settledTurns = 0;
        // The turns whose rows were written while running.
        QList<bool> writtenRunning;
        qsizetype rawTurn = -1;
        qsizetype raw[2] = {0, 0};
        QString conversationId;
        bool canResume = false;
        bool agentWritten = false;
        // The worktree recorded ready, if `worktreeRecorded`. (No optional:
        // GCC then warns of it as maybe uninitialised.)
        PlannedWorktree worktree;
        bool worktreeRecorded = false;
        // The check recorded for turn `checkTurn`; none: no row.
        qsizetype checkTurn = -1;
        std::optional<CheckResult> check;
    };

    void schedule();
    // Puts worktrees about to be made on record, committed; then `done`.
    void recordWorktrees(const QList<PlannedWorktree>& planned, std::function<void(bool)> done);
    void writeWorktree(const PlannedWorktree& worktree, WorktreeRow::State state);
    void flushAgent(const AgentSession& agent, Mark& mark, bool* turnsChanged);
    void writeSession();
    Mark markAtEnd(const AgentSession& agent) const;

    BrevaneModel& m_model;
    HistoryStore& m_store;
    QTimer m_timer;
    QString m_sessionId;
    QDateTime m_createdAt;
    QHash<QString, Mark> m_marks;
    std::optional<PlannedWorktree> m_assembledRecorded;
    // The window goes: a check still running goes with it (AgentSession
    // stops it) and is kept as Stopped.
    bool m_closing = false;
};

// A worktree as the history keeps it.
WorktreeRow worktreeRow(const QString& sessionId, const PlannedWorktree& worktree,
                        WorktreeRow::State state);
// The row kept for turn `index` of `agent` in session `sessionId`;
// `instance` names this Brevane on a turn that runs.
TurnRow turnRow(const QString& sessionId, const AgentSession& agent, qsizetype index,
                const QString& instance);
// A session read from the history, as the model restores it: its agents
// by tool name.
QMap<QString, AgentSession::Kept> keptAgents(const StoredSession& session);
// The worktree of the session's assembled result, if it has one that is
// not removed.
std::optional<PlannedWorktree> keptAssembled(const StoredSession& session);
