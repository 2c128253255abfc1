#pragma once

#include "agent/usage.h"
#include "transcript/transcriptdocument.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// What the history keeps, row by row. Ids are chosen by the app (UUIDs as
// text) so that a row can be written without asking the database first.
// Folders are bytes: a folder's name need not be text.

struct SessionRow {
    QString id;
    QByteArray baseFolder;
    QDateTime createdAt;
    QDateTime updatedAt;
    QString title; // the first line of the first prompt

    friend bool operator==(const SessionRow&, const SessionRow&) = default;
};

// One tool inside a session. The pair (sessionId, tool) names it.
struct AgentRow {
    QString sessionId;
    QString tool;
    QString conversationId; // the tool's own conversation, chosen by the app
    bool canResume = false; // whether the next turn continues that conversation
    QByteArray workspaceFolder;

    friend bool operator==(const AgentRow&, const AgentRow&) = default;
};

// One turn of one agent; (sessionId, tool, index) names it, index from 0.
struct TurnRow {
    QString sessionId;
    QString tool;
    int index = 0;
    QString prompt;
    // RunState's case and its number (exit status or signal), as integers.
    int stateCase = 0;
    int stateValue = 0;
    QDateTime startedAt;
    std::optional<QDateTime> endedAt;
    Usage usage;
    QString conversationId;
    bool resumed = false;         // continued the conversation rather than starting it
    bool newConversation = false; // a follow-up that had to start a new one
    // Where the turn lies in its agent's transcript.
    qint64 start = 0;
    qint64 outputStart = 0;
    qint64 outputEnd = -1; // -1: the end of the transcript
    // The Brevane process that runs it, while it runs; empty once it ended.
    QString instance;

    friend bool operator==(const TurnRow&, const TurnRow&) = default;
};

// Text appended to an agent's transcript at `offset` (the transcript's
// length before it), with the style runs that start inside it (their starts
// are transcript offsets). Chunks of one agent arrive in order, without gaps.
struct TranscriptChunk {
    QString sessionId;
    QString tool;
    qint64 offset = 0;
    QString text;
    std::vector<StyleRun> runs;
    // Instead of `text`, the characters as the transcript holds them: the
    // writer thread copies them out, so the GUI thread never does.
    TranscriptText::Snapshot shared;

    // The characters, wherever they are held.
    QStringView view() const { return text.isEmpty() ? shared.text : QStringView(text); }

    friend bool operator==(const TranscriptChunk& a, const TranscriptChunk& b)
    {
        return a.sessionId == b.sessionId && a.tool == b.tool && a.offset == b.offset &&
               a.view() == b.view() && a.runs == b.runs;
    }
};

// Bytes a turn's tool wrote on one stream, appended in order.
struct RawChunk {
    QString sessionId;
    QString tool;
    int turnIndex = 0;
    int channel = 0; // 0 standard output, 1 standard error
    QByteArray bytes;

    friend bool operator==(const RawChunk&, const RawChunk&) = default;
};

// A git worktree made for one agent of a session; (sessionId, tool) names
// it. Written before the worktree is made, so that a crash in between
// leaves a row to find it by.
struct WorktreeRow {
    // Leftover: made, but its session never went on to use it (Brevane
    // ended in between); found so at start.
    enum class State { Creating = 0, Ready = 1, Removed = 2, Leftover = 3 };

    QString sessionId;
    QString tool;
    QByteArray repositoryTop; // the repository it belongs to
    QByteArray path;
    QByteArray baseCommit; // the snapshot it was made at
    QByteArray subfolder;  // where in it the agent runs; empty at its top
    State state = State::Creating;

    friend bool operator==(const WorktreeRow&, const WorktreeRow&) = default;
};

// The user's check of one turn, run after the turn ended; (sessionId, tool,
// turnIndex) names the turn. `outcome` is CheckResult's outcome by number;
// a row without one removes the turn's check (a new run of it began).
struct CheckRow {
    QString sessionId;
    QString tool;
    int turnIndex = 0;
    std::optional<int> outcome;
    int exitCode = 0;
    int signal = 0;
    QString error;

    friend bool operator==(const CheckRow&, const CheckRow&) = default;
};

// A session as the history panel lists it.
struct SessionSummary {
    QString id;
    QString title;
    QByteArray baseFolder;
    QDateTime updatedAt;
    // Each agent's tool and its latest turn's state (RunState's case).
    QList<std::pair<QString, int>> lastStates;
    bool running = false;        // some turn still runs in a live Brevane
    QList<QByteArray> worktrees; // the folders of its worktrees not removed
    bool leftover = false;       // one of them is a leftover

    friend bool operator==(const SessionSummary&, const SessionSummary&) = default;
};

// A whole session read back: every agent with its turns, its transcript
// and style runs, and the raw bytes and check of its latest turn.
struct StoredAgent {
    AgentRow agent;
    QList<TurnRow> turns;
    QString transcript;
    std::vector<StyleRun> runs;
    QByteArray rawOutput[2];
    CheckRow check; // its latest turn's; without an outcome: not checked

    friend bool operator==(const StoredAgent&, const StoredAgent&) = default;
};

struct StoredSession {
    SessionRow session;
    QList<StoredAgent> agents;
    QList<WorktreeRow> worktrees; // removed ones too

    friend bool operator==(const StoredSession&, const StoredSession&) = default;
};
