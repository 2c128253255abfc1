#pragma once

#include "store/historyrecords.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ProcessOwner;
struct HistoryStoreShared;

// The history: one SQLite database (WAL, foreign keys on, schema version in
// PRAGMA user_version with migrations from every earlier version), written
// and read off the GUI thread. Lives on the GUI thread; owns a writer thread
// and a reader thread, each with a connection of its own, and joins them
// when destroyed, after the writer has committed what it was given.
//
// Writes are queued and batched by the writer: one transaction per 250 ms
// or per 1 MiB of queued text, whichever comes first. Answers (lists,
// sessions, commits) come back on the GUI thread through the owner's
// hand-over, in order, and never once the store is gone.
//
// Failures are loud, never fatal: a database that cannot be opened, is
// corrupt, was made by a newer Brevane or whose disk is full turns history
// off; whyOff() says why. A corrupt file is moved aside with its -wal and
// -shm files (renamed with a timestamp) and a new one is started; one made
// by a newer Brevane is left untouched. Another Brevane holding a lock is
// waited out (a busy timeout, retries), not a reason to turn history off.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    // Opens `path` (created with its folder if missing) on the writer thread
    // and returns at once; opened() follows. `instance` names this running
    // Brevane on the turns it runs. `owner` must outlive the store.
    HistoryStore(ProcessOwner& owner, const QString& path, const QString& instance,
                 QObject* parent = nullptr);
    ~HistoryStore() override;

    const QString& path() const;
    const QString& instance() const;
    // Known once opened() has come; before, the store counts as on.
    bool isOn() const;
    // Why history is off: a sentence for the window's bar; empty while on.
    QString whyOff() const;
    // Something to tell while history is on, also a sentence for the bar:
    // that a damaged file was moved aside, and where to. Usually empty.
    QString note() const;
    // Transactions the writer has committed so far; any thread.
    int transactionCount() const;

    // Queued for the writer. Rows replace the row of the same key. A row's
    // parents go first (session, agent, turn, then its chunks); a row
    // without them is dropped with a warning.
    void write(const SessionRow& row);
    void write(const AgentRow& row);
    void write(const TurnRow& row);
    // A worktree's row goes first, committed (commitNow), and only then is
    // the worktree made: a crash in between leaves a row to find it by.
    void write(const WorktreeRow& row);
    // A check's row goes after its turn's.
    void write(const CheckRow& row);
    void append(const TranscriptChunk& chunk);
    void append(const RawChunk& chunk);
    // Makes the text of the turn searchable: called when a turn ends.
    void indexTurn(const QString& sessionId, const QString& tool, int index);
    // Removes the sessions with all their rows.
    void deleteSessions(const QStringList& ids);
    // Commits everything queued now; `done` gets whether it is on disk.
    void commitNow(std::function<void(bool ok)> done);

    // Turns marked running by an instance whose lock is gone become
    // Interrupted (RunState's case), with `endedAt` set; those of a live
    // Brevane are left alone. `isLive` runs on the writer thread.
    void markInterrupted(std::function<bool(const QString& instance)> isLive, int interruptedCase,
                         std::function<void(int count)> done);

    // Sessions, newest first, whose title or prompts (and, with
    // `transcripts`, transcript text) contain `filter` (empty: all),
    // through FTS5's trigram index.
    void listSessions(const QString& filter, bool transcripts,
                      std::function<void(QList<SessionSummary>)> done);
    // Every worktree not yet removed, of every session, oldest first.
    void listWorktrees(std::function<void(QList<WorktreeRow>)> done);
    // The whole session, its worktrees too (removed ones included); none if
    // it is not there (or history is off).
    void loadSession(const QString& id, std::function<void(std::optional<StoredSession>)> done);

Q_SIGNALS:
    // The database was opened, or could not be: isOn() and whyOff() tell.
    void opened();
    // History turned off after it was on (the disk filled, say).
    void turnedOff();

private:
    friend struct HistoryStoreShared;
    std::shared_ptr<HistoryStoreShared> m_shared;
};
