#pragma once

#include "catalog/detector.h"
#include "git/apply.h"
#include "git/repository.h"
#include "runner/agentsession.h"
#include "transcript/sidebyside.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class ProcessOwner;
class WakeUpFd;

// The one model behind a window: a runner per catalogue tool, the task being
// typed, the folder the tools run in, which tools the next run includes, and
// whether a search for the tools is under way; and the rules for what the
// user may do now, which views only bind to. GUI thread only.
//
// changed() fires after every change of task, scanning, the working folder
// or a tool's inclusion, and after every change of one of its runners.
class BrevaneModel : public QObject {
    Q_OBJECT
public:
    // The owner keeps the threads of every scan and run.
    explicit BrevaneModel(ProcessOwner& owner, QObject* parent = nullptr);
    BrevaneModel(ProcessOwner& owner, const QByteArray& workingFolder, QObject* parent);
    ~BrevaneModel() override;

    const QList<AgentSession*>& runners() const { return m_runners; }
    const QString& task() const { return m_task; }
    void setTask(const QString& task);
    bool scanning() const { return m_scanning; }

    // The folder the next session starts its tools in, as bytes: a folder's
    // name need not be UTF-8. Changing it starts a new session, at once if
    // nothing runs, else at the next Run.
    const QByteArray& workingFolder() const { return m_workingFolder; }
    void setWorkingFolder(const QByteArray& folder);
    // The working folder for showing, with U+FFFD for bytes that are not UTF-8.
    QString workingFolderText() const;
    // Where a window starts: the current folder, or the home folder when that is "/".
    static QByteArray defaultWorkingFolder();

    // Whether the next run hands the task to runner `index`. Every tool
    // starts included, and so does one that a scan finds anew.
    bool isIncluded(qsizetype index) const { return m_included.value(index); }
    void setIncluded(qsizetype index, bool included);

    // Whether the next run shows every tool's output as plain text, as it
    // prints it, rather than step by step from its JSON lines.
    bool plainOutput() const { return m_plainOutput; }
    void setPlainOutput(bool plain);

    // A window holds one session: the first Run starts it, and from then on
    // start() sends a follow-up to every included agent, each in its own
    // conversation. A tool included only later joins with a new one.
    bool sessionStarted() const;
    // The folder the session's tools run in: the working folder of its
    // first Run. Empty before it.
    const QByteArray& sessionFolder() const { return m_sessionFolder; }
    // A new session may start once nothing runs; it empties every column.
    bool canStartNewSession() const;
    void newSession();
    // The session's own id and when its first Run was: empty before it.
    const QString& sessionId() const { return m_sessionId; }
    const QDateTime& sessionCreatedAt() const { return m_sessionCreatedAt; }
    // Replaces the session, once nothing runs, by one kept earlier, its
    // agents by tool name; the working folder becomes its folder. False
    // while something runs.
    // `assembled`: the worktree of its assembled result, if one was made.
    bool restoreSession(const QString& id, const QByteArray& folder, const QDateTime& createdAt,
                        const QMap<QString, AgentSession::Kept>& agents,
                        const std::optional<PlannedWorktree>& assembled = std::nullopt);

    // A tool that refused the session's folder as not trusted may run its
    // turn again, trusting it; the folder then stays trusted for every
    // later turn of this window.
    bool canTrustFolderAndRetry(qsizetype index) const;
    void trustFolderAndRetry(qsizetype index);
    // The folders trusted so far, as the user's settings keep them.
    const QList<QByteArray>& trustedFolders() const { return m_trustedFolders; }
    void setTrustedFolders(const QList<QByteArray>& folders) { m_trustedFolders = folders; }

    // Separate worktrees: in a git work tree, each agent of a session works
    // in a worktree of its own, made at its first turn from the folder as
    // the user sees it. The user's choice, which takes effect for a session
    // only when worktreesUnavailable() is empty at its first turn.
    bool separateWorktrees() const { return m_separateWorktrees; }
    void setSeparateWorktrees(bool on);
    // Why the working folder cannot have worktrees now (no repository, a
    // bare one, git missing, a merge under way, no history to keep them);
    // empty when it can.
    QString worktreesUnavailable() const;
    // Whether the session's agents work in worktrees of their own.
    bool sessionHasWorktrees() const { return m_sessionWorktrees; }
    // The top of the working folder's repository, once looked up; empty
    // when it is in none.
    const QByteArray& repositoryTop() const { return m_repositoryTop; }
    // Looks up the working folder's repository again (a merge may have
    // ended); changed() follows.
    void checkRepository();

    // Agents in worktrees may run commands (besides editing files) from
    // their next turn on.
    bool allowCommands() const { return m_allowCommands; }
    void setAllowCommands(bool allow);

    // Where worktrees are made, and how they are put on record before
    // they are: `record` runs on the GUI thread and calls its `done` once
    // they are committed (or could not be). Without both, no worktrees.
    using WorktreeRecorder =
        std::function<void(const QList<PlannedWorktree>&, std::function<void(bool ok)> done)>;
    void setWorktreeStorage(const QByteArray& dataFolder, WorktreeRecorder record);
    // The command that sets up each new worktree of a repository (its top
    // given), as the user keeps it; empty: none.
    void setSetupCommands(std::function<QString(const QByteArray& repositoryTop)> lookup);
    // The check that tells whether an agent's work passes (`make test`,
    // say), kept per repository like the setup command, and how long it
    // may run. It runs in the agent's worktree after its snapshot: by
    // itself after each turn that ended when commands are allowed, else
    // when asked. Send waits for checks; Stop ends them.
    struct CheckSetting {
        QString command; // empty: none
        std::chrono::milliseconds timeLimit = std::chrono::minutes(10);
    };
    void setCheckCommands(std::function<CheckSetting(const QByteArray& repositoryTop)> lookup);
    // The session's check; no command without worktrees.
    CheckSetting checkSetting() const;
    bool canRunCheck(qsizetype index) const;
    void runCheck(qsizetype index);
    // Every agent that can.
    bool canRunChecks() const;
    void runChecks();
    bool anyCheckRunning() const;

    // Removes the session's worktrees and refs, once nothing runs; its
    // transcripts stay. worktreesDiscarded() follows.
    bool canDiscardWorktrees() const;
    void discardWorktrees();
    // The worktrees were discarded: no follow-up can continue their work.
    bool worktreesDiscarded() const { return m_worktreesDiscarded; }

    // What agent `index` changed in its worktree: taken after each of its
    // turns, and again on Refresh once nothing of it runs.
    bool canRefreshChanges(qsizetype index) const;
    void refreshChanges(qsizetype index);
    // One file's diff of agent `index`, over the session or its latest turn.
    void loadDiff(qsizetype index, const GitFileChange& change, bool thisTurn,
                  std::function<void(const GitResult<QByteArray>&)> done);
    // Writes agent `index`'s changes (all, or those of `paths`) into the
    // user's folder, merged with what changed there since the base: all or
    // nothing. Once nothing runs.
    bool canApplyChanges(qsizetype index) const;
    void applyChanges(qsizetype index, const QList<QByteArray>& paths,
                      std::function<void(const GitResult<GitApplyResult>&)> done);
    // Makes branch `name` of the user's repository at agent `index`'s
    // latest snapshot: the one branch Brevane ever adds, when asked to.
    void createBranch(qsizetype index, const QString& name,
                      std::function<void(const GitResult<void>&)> done);

    // The commit agent `index`'s work stands at: its latest snapshot, else
    // the session's base; empty without a worktree. One past the last
    // agent: the assembled result, if any.
    QByteArray agentCommit(qsizetype index) const;
    QByteArray baseCommit() const { return m_baseCommit; }
    // The versions of `path` in commits `from` and `to` of the session's
    // repository, side by side, worked out off the GUI thread.
    void compareVersions(const QByteArray& path, const QByteArray& from, const QByteArray& to,
                         std::function<void(const GitResult<QList<SideBySideRow>>&)> done);

    // A result put together from several agents: for each path picked, what
    // the agent picked for it did to it (its version, a deletion, a
    // rename), on the session's base, kept under refs/brevane/<session>/
    // assembled. Apply brings it into the folder as applyChanges() does.
    // The name its worktree goes by, where a tool's name would.
    static inline const QString assembledName = QStringLiteral("assembled");
    struct Assembled {
        QByteArray commit;
        QList<GitFileChange> changes; // base -> commit
    };
    bool canAssemble() const;
    void assemble(std::function<void(const GitResult<Assembled>&)> done);
    const std::optional<Assembled>& assembled() const { return m_assembled; }
    bool canApplyAssembled() const;
    void applyAssembled(std::function<void(const GitResult<GitApplyResult>&)> done);
    // The assembled result also stands in a worktree of its own, beside the
    // agents', made by the first Assemble (with the setup command run before
    // its first check) and moved to each later one: there the check runs,
    // by itself after Assemble when commands are allowed, else when asked.
    const std::optional<PlannedWorktree>& assembledWorktree() const { return m_assembledWorktree; }
    bool canCheckAssembled() const;
    void checkAssembled();
    const std::optional<CheckResult>& assembledCheck() const { return m_assembledCheck; }
    // What the setup and checks there printed, their headers and results with it.
    const QString& assembledOutput() const { return m_assembledOutput; }
    // The picks the assembled result is (or is to be) made of: path ->
    // runner index. Kept with the session, not with a window that shows them.
    const QMap<QByteArray, qsizetype>& picks() const { return m_picks; }
    void setPicks(const QMap<QByteArray, qsizetype>& picks);

    bool anyRunning() const;
    // Something of the session is under way: a turn, or git making or
    // removing its worktrees. The session stays in the window meanwhile.
    bool busy() const;
    bool anyInstalled() const;
    // Whether some included tool is installed: what a run needs besides a task.
    bool anyIncludedInstalled() const;

    // Run needs a task that is not blank, an included installed tool, and
    // no run under way.
    bool canRun() const;
    bool canStop() const;
    // Rescan waits for the search under way and for every run to end.
    bool canRescan() const;

    // Looks for every catalogue tool on a thread of the owner; the results
    // are applied on the GUI thread in one step. Returns at once.
    void scan();
    // If canRun(), runs every included installed tool on the trimmed task,
    // in the session's folder, a first turn or a follow-up, and empties the
    // task. A working folder changed since the session began
    // begins a new session first. When the folder cannot be entered no tool
    // starts, and each that would have fails with the reason.
    void start();
    // Stops every runner that can be stopped.
    void stopAll();

    // How long a scan lets a login shell look for one tool.
    std::chrono::milliseconds shellTimeout() const { return m_shellTimeout; }
    void setShellTimeout(std::chrono::milliseconds timeout) { m_shellTimeout = timeout; }

Q_SIGNALS:
    void changed();
    // The session is about to be emptied or replaced: what it shows now is
    // its last word.
    void sessionEnding();
    // The last tool still running in a run started by start() has ended
    // (finished, stopped or failed): once per run, after its state changed.
    void allEnded();
    // Everything the user started (a run, checks) has ended: no turn and
    // no check runs, and none waits for its snapshot.
    void settled();
    // The worktrees at `paths` of session `sessionId` are gone; `errors`
    // says what could not be removed (those stay).
    void worktreesRemoved(const QString& sessionId, const QList<QByteArray>& paths,
                          const QStringList& errors);
    // More of assembledOutput(), as it comes.
    void assembledOutputAdded(const QString& text);

private:
    void setScanning(bool scanning);
    void applyScan(const QList<Discovery>& found);
    void handleRunEnded();
    void prepareWorktrees(const QList<AgentSession*>& agents);
    // Puts worktrees on record from a worker thread: the GUI thread
    // commits them, the worker waits for that or for `cancel`.
    static bool recordFromWorker(QPointer<BrevaneModel> self, ProcessOwner* owner,
                                 const QList<PlannedWorktree>& planned, const WakeUpFd& cancel);
    void applyPrepared(const QString& sessionId, const GitResult<QList<PreparedWorktree>>& result,
                       const QMap<QString, bool>& commandsSupported);
    AgentSession::TurnOptions turnOptions(const AgentSession& agent) const;
    // Runs `work` with git on a thread of the owner and hands its result
    // to `done` on the GUI thread, unless the model is gone by then.
    template <typename Result>
    void runGit(std::function<Result(const GitContext&)> work,
                std::function<void(const Result&)> done);

    ProcessOwner& m_owner;
    QList<AgentSession*> m_runners;
    QList<bool> m_included;
    QString m_task;
    QByteArray m_workingFolder;
    QByteArray m_sessionFolder;
    QString m_sessionId;
    QDateTime m_sessionCreatedAt;
    QList<QByteArray> m_trustedFolders;
    bool m_scanning = true;
    bool m_plainOutput = false;
    bool m_runActive = false; // a run started by start() has a tool still running

    struct RepositoryCheck {
        bool done = false;
        QString error; // git could not tell (or is missing)
        GitRepository repository;
    };
    RepositoryCheck m_repository;
    QByteArray m_repositoryTop;
    quint64 m_repositoryCheckId = 0;
    bool m_separateWorktrees = true;
    bool m_sessionWorktrees = false;
    bool m_worktreesDiscarded = false;
    bool m_discarding = false;
    bool m_applying = false;
    bool m_allowCommands = false;
    QByteArray m_baseCommit;
    QByteArray m_dataFolder;
    WorktreeRecorder m_recordWorktrees;
    std::function<QString(const QByteArray&)> m_setupCommands;
    std::function<CheckSetting(const QByteArray&)> m_checkCommands;
    // Agents whose check waits for the snapshot of the turn just ended.
    QList<bool> m_checkAfterSnapshot;
    // The snapshot each running check started from, and whether the
    // worktree is being put back to it after the check.
    QList<QByteArray> m_checkedSnapshot;
    QList<bool> m_restoringAfterCheck;
    void restoreAfterCheck(qsizetype index);
    // Puts the worktree at `path` back to `commit` after a check, off the
    // GUI thread; `done` gets why it could not (empty: it could), then
    // changed() and settling follow.
    void putBackAfterCheck(const QByteArray& path, const QByteArray& commit,
                           std::function<void(const QString& failure)> done);
    // Runs the check of agent `index` on the snapshot just taken.
    void startCheck(qsizetype index);
    // A run or check was started and settled() is still to come.
    bool m_settling = false;
    std::optional<Assembled> m_assembled;
    bool m_assembling = false;
    QMap<QByteArray, qsizetype> m_picks;
    std::optional<PlannedWorktree> m_assembledWorktree;
    // The setup command still to run there before the next check.
    bool m_assembledSetupPending = false;
    CheckRun m_assembledRun;
    bool m_assembledRunIsSetup = false;
    std::optional<CheckResult> m_assembledCheck;
    QString m_assembledOutput;
    // Git at work in it: the snapshot before its check, or putting it back after.
    bool m_assembledGitWork = false;
    quint64 m_assembledCheckId = 0; // raised by Stop: a check about to start does not
    QByteArray m_assembledRestoreTo;
    void startAssembledCheck();
    void announceAssembled(const QString& line);
    void appendAssembledOutput(const QString& text);
    void assembledRunEnded(const CheckResult& result);
    void endAssembledCheck(const CheckResult& result);
    void forgetAssembledWorktree();
    void settleIfDone();
    void dropPendingChecks();
    // The preparation under way: raised by Stop and when the model goes.
    std::shared_ptr<WakeUpFd> m_prepareCancel;

    quint64 m_scanId = 0;
    std::chrono::milliseconds m_shellTimeout = Detector::defaultShellTimeout;
};
