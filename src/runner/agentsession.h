#pragma once

#include "catalog/detector.h"
#include "catalog/runstate.h"
#include "catalog/toolspec.h"
#include "runner/check.h"
#include "runner/checkrun.h"
#include "runner/turn.h"
#include "runner/turnprocess.h"
#include "session/worktreeplan.h"
#include "transcript/transcriptdocument.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct ChildExit;
class ProcessOwner;

// One agent of a window's session: where its tool was found, its turns, its
// conversation with the tool, and the transcript of every turn. Lives on the
// GUI thread; every field is read and written there only.
//
// changed() fires after every assignment to discovery, turns or state and
// after every append to the transcript. A turn goes: its prompt line, Running,
// then the tool's output, then one final state: Failed at launch, Stopped, or
// Done (Killed) once the tool has exited (died by a signal) and everything it
// wrote is in the transcript. A background job of the tool may still hold the
// pipe then: outputStillArriving() says so until the pipe ends, the turn is
// stopped, or the next one begins; what the job writes meanwhile is appended.
//
// Brevane names each conversation itself (a fresh UUID), so that a follow-up
// continues it by that id, from the same folder, whatever the output format.
// A turn that never reached the tool (its launch failed, or it was stopped
// before the tool wrote anything, or the tool refused the folder) leaves no
// conversation to continue: the next turn starts a new one.
class AgentSession : public QObject {
    Q_OBJECT
public:
    using Clock = Turn::Clock;

    // The owner keeps the threads of every child this runner starts.
    AgentSession(ProcessOwner& owner, ToolSpec spec, QObject* parent = nullptr);
    ~AgentSession() override;

    const ToolSpec& spec() const { return m_spec; }
    QString id() const { return m_spec.name; }
    // The executable's path as bytes; none: not installed.
    const std::optional<QByteArray>& path() const { return m_discovery.path; }
    // The path, or where discovery looked and what the login shell answered.
    const Discovery& discovery() const { return m_discovery; }

    // Every turn of the session, oldest first.
    const QList<Turn>& turns() const { return m_turns; }
    // The transcript of every turn, prompt lines included. Valid until the
    // next change of output.
    QStringView output() const { return m_output.text(); }
    // What the tool did in turn `index` (counted from the end when
    // negative: the latest by default), without its prompt line.
    QStringView turnOutput(qsizetype index = -1) const;
    // The transcript as it stands now, for as long as the snapshot lives.
    TranscriptText::Snapshot outputSnapshot() const { return m_output.snapshot(); }
    // The latest turn's bytes as the tool wrote them: standard output, then
    // standard error. Kept for a turn whose output is read as JSON lines;
    // one shown as printed keeps none.
    bool hasRawOutput() const { return m_rawOutput[0].size() + m_rawOutput[1].size() > 0; }
    QByteArray rawOutput() const
    {
        return m_rawOutput[0].view().toByteArray() + m_rawOutput[1].view().toByteArray();
    }
    // The same bytes of one stream (0 standard output, 1 standard error),
    // valid until the next change of output.
    QByteArrayView rawBytes(int channel) const { return m_rawOutput[channel & 1].view(); }
    // The transcript with its style runs and turns, for reading only.
    const TranscriptDocument& transcript() const { return m_output; }

    // The latest turn's: idle before the first.
    RunState state() const { return m_turns.isEmpty() ? RunState::idle() : m_turns.back().state; }
    // The tool has ended, but something it started still holds its output open.
    bool outputStillArriving() const { return m_outputStillArriving; }
    // The latest turn's prompt, executable and times; empty before the first.
    QString task() const { return m_turns.isEmpty() ? QString() : m_turns.back().prompt; }
    std::optional<QByteArray> ranPath() const;
    std::optional<Clock::time_point> startedAt() const;
    std::optional<Clock::time_point> endedAt() const;
    // How long the latest turn took, or has taken up to `now` while it runs.
    std::chrono::milliseconds elapsed(Clock::time_point now) const;
    // What the latest turn cost, and every turn together, as far as reported.
    Usage turnUsage() const { return m_turns.isEmpty() ? Usage() : m_turns.back().usage; }
    Usage sessionUsage() const;
    // The id of the tool's conversation that the next turn continues; empty
    // when it starts a new one.
    QString conversationId() const { return m_canResume ? m_conversationId : QString(); }
    // The latest turn ended because the tool refuses to work in a folder the
    // user never trusted.
    bool refusedUntrustedFolder() const;

    // Bumped whenever the transcript is emptied instead of appended to (a
    // new session), so that a view can append just the new tail while it
    // stays the same.
    quint64 outputGeneration() const { return m_outputGeneration; }

    // Starts a turn: the tool on `prompt` under the login shell, in `folder`,
    // and returns at once. Does nothing without a path. Called only while no
    // turn runs. The previous turn's output is closed first, so a job of it
    // still writing gets SIGPIPE instead of being read. An empty folder:
    // Brevane's own. A tool that can report its work as JSON lines does so
    // unless `plainOutput`: what it does is then shown step by step, its
    // standard error dim beside it. `trustFolder` passes the tool the word
    // that trusts the folder for this turn.
    void run(const QString& prompt, const QByteArray& folder = QByteArray(),
             bool plainOutput = true, bool trustFolder = false);
    // How a turn's tool runs: where, how its output is read, what it may do.
    struct TurnOptions {
        QByteArray folder; // empty: Brevane's own
        bool plainOutput = true;
        bool trustFolder = false;
        TurnAccess access = {};
    };
    // The latest turn, just begun, waits for its worktree: Preparing.
    void setPreparing();
    // Starts the tool for the latest turn, just begun or Preparing.
    void launch(const TurnOptions& options);
    // While Preparing: runs the user's own `command` through the login
    // shell in `folder`, its output in the transcript, then launch(then)
    // if it succeeds; otherwise the turn fails and says why.
    void runSetup(const QByteArray& command, const QByteArray& folder, const TurnOptions& then);
    // A dim line of Brevane's own in the latest turn, such as a caveat of
    // its worktree.
    void note(const QString& text);
    // Ends the latest turn, Preparing or just begun, as Failed, `reason`
    // in the transcript.
    void fail(const QString& reason);
    // True while a turn can be stopped: it has started and not yet ended, or
    // its output is still arriving.
    bool canStop() const
    {
        return state().isPreparing() ||
               (m_process && (state().isRunning() || m_outputStillArriving));
    }
    // Stops at once: SIGTERM to the tool's process group now and SIGKILL
    // after the grace period (or when the app quits or the runner goes
    // first), and nothing more is read. A running turn ends Stopped; one
    // that had ended keeps its end, its output no longer arriving. Does
    // nothing unless canStop().
    void stop();
    // What an agent session is, to be kept and restored: its turns, its
    // transcript with style runs, its conversation, the latest turn's bytes
    // and check.
    struct Kept {
        QList<Turn> turns;
        QString transcript;
        std::vector<StyleRun> runs;
        QString conversationId;
        bool canResume = false;
        QByteArray rawOutput[2];
        std::optional<PlannedWorktree> worktree;
        // It had a worktree of its own, discarded since.
        bool worktreeDiscarded = false;
        std::optional<CheckResult> check;
    };
    // Replaces the session by one kept earlier, ready for a follow-up. A
    // turn kept as running is Interrupted, a check kept as running Stopped:
    // nothing here runs them. Only while no turn runs.
    void restore(const Kept& kept);
    // Whether the next turn continues the conversation.
    bool canResume() const { return m_canResume; }
    // The conversation the latest turn started or continued.
    const QString& lastConversationId() const { return m_conversationId; }
    // Forgets every turn and the conversation: the next turn starts afresh.
    // Only while no turn runs; what a job of the last one still writes is
    // no longer read.
    void clearSession();

    // The worktree of its own the agent works in; none: the session's folder.
    const std::optional<PlannedWorktree>& worktree() const { return m_worktree; }
    void setWorktree(std::optional<PlannedWorktree> worktree);
    // Whether the tool's help lists the word that lets it run commands, for
    // a tool whose versions differ in that.
    // Unknown until asked: not, then, so that no version is handed a word
    // it would refuse.
    bool commandsSupported() const { return m_commandsSupported; }
    void setCommandsSupported(bool supported) { m_commandsSupported = supported; }
    // What the agent changed in its worktree, as of its latest snapshot.
    struct WorktreeChanges {
        AgentSnapshot snapshot; // no commit: none taken yet
        QString error;          // why the latest could not be taken
        bool computing = false;
        quint64 generation = 0; // bumped by every change
    };
    const WorktreeChanges& worktreeChanges() const { return m_changes; }
    void setWorktreeChanges(WorktreeChanges changes);

    // Runs the user's check `command` through the login shell in `folder`
    // (the worktree), its output a dim block in the transcript, ended with
    // its process group after `timeLimit` or by stopCheck(). Only between
    // turns, one at a time; the result holds until the next turn.
    bool canRunCheck() const { return !m_check.running() && !state().isActive(); }
    void runCheck(const QByteArray& command, const QByteArray& folder,
                  std::chrono::milliseconds timeLimit);
    bool checkRunning() const { return m_check.running(); }
    void stopCheck();
    // The latest turn's check; none: not checked since.
    const std::optional<CheckResult>& check() const { return m_checkResult; }
    // "Check passed", "Check failed with exit status 2" and the like.
    static QString describeCheck(const CheckResult& check);

    void setDiscovery(Discovery discovery);
    // Records a new turn asking `prompt` and when it starts, with its prompt
    // line, without a notification of its own: a change of state follows at
    // once. What the previous turn's process still writes is no longer read.
    void beginTurn(const QString& prompt);
    // Ends a turn that could not start: "Failed to launch: " and why. After
    // beginTurn() when the turn never reached running.
    void failLaunch(const QString& reason);

Q_SIGNALS:
    void changed();
    // After a turn has left running for a final state (Done, Stopped,
    // Failed): once per turn.
    void runEnded();
    // A check has ended, however.
    void checkEnded();

private:
    void appendOutput(const QString& text, TextRole role);
    void setState(RunState state);
    void releaseProcess();
    void handleOutput(quint64 runId, const QString& text, TextRole role);
    void handleEnd(quint64 runId, ChildExit exit, bool outputOpen);
    void handleSetupEnd(quint64 runId, ChildExit exit, const TurnOptions& then);
    // Starts `launch` for the latest turn; `then`: it is the setup, which
    // the tool follows.
    void startProcess(TurnProcess::Launch launch, const std::optional<TurnOptions>& then);
    void handleOutputEnded(quint64 runId);
    void setOutputStillArriving(bool arriving);
    void endCheck(const CheckResult& result);
    // What comes next starts a line of its own.
    void startLine();

    ProcessOwner& m_owner;
    const ToolSpec m_spec;
    Discovery m_discovery;
    QList<Turn> m_turns;
    TranscriptDocument m_output;
    AppendBuffer m_rawOutput[2];
    bool m_outputStillArriving = false;
    // The conversation the latest turn started or continued, and whether
    // the tool has it, so that the next turn may continue it.
    QString m_conversationId;
    bool m_canResume = false;
    std::optional<PlannedWorktree> m_worktree;
    bool m_commandsSupported = false;
    WorktreeChanges m_changes;
    // The latest turn's process, from its start until its output has ended
    // and, once stopped, until the next turn; and earlier stopped ones still
    // in their grace period. Destroying the runner closes every output and
    // kills what was stopped now: nobody is left to read or stop them.
    std::unique_ptr<TurnProcess> m_process;
    std::vector<std::unique_ptr<TurnProcess>> m_terminating;
    quint64 m_runId = 0;
    CheckRun m_check;
    std::optional<CheckResult> m_checkResult;
    quint64 m_outputGeneration = 0;
};
