#pragma once

#include "store/historyrecords.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <initializer_list>
#include <optional>
#include <unordered_map>

// One connection to the history file, made, used and removed on one thread
// (the store's writer or its reader). Every statement is prepared once per
// connection. A failed statement leaves its failure here, sorted by what
// the store does about it; the connection itself never retries a batch.
class HistoryDatabase {
public:
    enum class Failure {
        None,
        // Another connection holds the lock beyond the busy timeout: wait on.
        Busy,
        // This row breaks a rule (a key, a missing parent): drop the row.
        Row,
        // The file is not a database, or its pages are broken.
        Damaged,
        // Anything else: the disk is full or read-only, input or output fails.
        Fatal,
    };

    // Why opening ended with history off; the store words it for the user.
    enum class OffReason { None, NoFolder, CannotOpen, Newer, CannotMoveAside };
    struct Opened {
        OffReason off = OffReason::None;
        QString detail;  // SQLite's words, where it had some
        QString movedTo; // where a damaged file went, if one was moved aside
    };

    // `keepWaiting` is asked each time a lock outlasts the busy timeout;
    // false gives up (the store is closing and has waited long enough).
    HistoryDatabase(const QString& connectionName, std::function<bool()> keepWaiting);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    // Writer: opens or creates `path` and its folder, moves a damaged file
    // aside and starts anew, and brings the tables to the current version.
    // A file of a newer version is read, never written.
    Opened openForWriting(const QString& path);
    // Reader: opens a file the writer has opened.
    bool openForReading(const QString& path);
    bool isOpen() const { return m_db.isOpen(); }
    void close();

    // The writer's transaction: BEGIN IMMEDIATE, so that waiting for the lock
    // happens here and never halfway through; waits out other writers.
    bool begin();
    bool commit();
    void rollback();
    // A reader's consistent view across several statements.
    bool beginReading();
    void endReading();

    // Writes, inside a transaction. False when a statement failed: see
    // failure().
    bool write(const SessionRow& row);
    bool write(const AgentRow& row);
    bool write(const TurnRow& row);
    bool write(const WorktreeRow& row);
    bool write(const CheckRow& row);
    bool append(const TranscriptChunk& chunk);
    bool append(const RawChunk& chunk);
    bool indexTurn(const QString& sessionId, const QString& tool, int index);
    bool deleteSessions(const QStringList& ids);
    // The number of turns marked, or none when a statement failed.
    std::optional<int> markInterrupted(const std::function<bool(const QString&)>& isLive,
                                       int interruptedCase);

    // Reads; empty when a statement failed.
    QList<SessionSummary> listSessions(const QString& filter, bool transcripts);
    std::optional<StoredSession> loadSession(const QString& id);
    // Every worktree not removed, of every session.
    QList<WorktreeRow> listWorktrees();

    Failure failure() const { return m_failure; }
    // SQLite's words for the failure.
    const QString& failureText() const { return m_failureText; }
    void clearFailure();

private:
    enum class Attempt { Ok, Damaged, Newer, Failed };
    Attempt tryOpen(const QString& path, QString* detail);
    Attempt migrate();
    // Fills the text index from the rows a file of an earlier version holds.
    bool indexEverything();
    // Runs `sql`, prepared once, with `values` bound in order; the query's
    // rows are read from the result, then finish() it. Null on failure.
    QSqlQuery* run(const char* sql, std::initializer_list<QVariant> values = {});
    // Runs a statement made at run time (schema, pragmas), once.
    bool runOnce(const QString& sql, QVariant* firstValue = nullptr);
    // run() again while the lock is busy and keepWaiting() allows.
    QSqlQuery* runWaiting(const char* sql);
    bool runOnceWaiting(const QString& sql, QVariant* firstValue = nullptr);
    void fail(const QSqlError& error);
    // The worktrees of `sessionId`, or of every session when it is null;
    // removed ones only with `removed`.
    std::optional<QList<WorktreeRow>> worktrees(const QString& sessionId, bool removed);
    bool setSearchText(const QString& sessionId, const QString& tool, int turn, int kind,
                       const QString& body);

    const QString m_name;
    const std::function<bool()> m_keepWaiting;
    QSqlDatabase m_db;
    std::unordered_map<const char*, QSqlQuery> m_queries;
    Failure m_failure = Failure::None;
    QString m_failureText;
};
