#include "store/historydatabase.h"

#include "store/historyschema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// How long SQLite itself waits for another connection's lock before a
// statement reports it busy; the store then asks whether to wait on.
constexpr int busyTimeoutMs = 5000;

// Search rows: the kind of text each holds.
constexpr int titleText = 0;
constexpr int promptText = 1;
constexpr int outputText = 2;

// SQLite's primary result codes, which its extended codes keep in their
// low byte.
enum SqliteCode {
    sqliteError = 1,
    sqliteBusy = 5,
    sqliteLocked = 6,
    sqliteCorrupt = 11,
    sqliteTooBig = 18,
    sqliteConstraint = 19,
    sqliteMismatch = 20,
    sqliteRange = 25,
    sqliteNotADatabase = 26,
};

HistoryDatabase::Failure classify(const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber) & 0xff;
    if (!isNumber)
        return HistoryDatabase::Failure::Fatal;
    switch (code) {
    case sqliteBusy:
    case sqliteLocked:
        return HistoryDatabase::Failure::Busy;
    case sqliteCorrupt:
    case sqliteNotADatabase:
        return HistoryDatabase::Failure::Damaged;
    case sqliteTooBig:
    case sqliteConstraint:
    case sqliteMismatch:
    case sqliteRange:
        return HistoryDatabase::Failure::Row;
    default:
        return HistoryDatabase::Failure::Fatal;
    }
}

// Which failure decides what the store does when a batch had several.
int weight(HistoryDatabase::Failure failure)
{
    switch (failure) {
    case HistoryDatabase::Failure::None:
        return 0;
    case HistoryDatabase::Failure::Row:
        return 1;
    case HistoryDatabase::Failure::Busy:
        return 2;
    case HistoryDatabase::Failure::Damaged:
        return 3;
    case HistoryDatabase::Failure::Fatal:
        return 4;
    }
    return 4;
}

template <typename T> QVariant optional(const std::optional<T>& value)
{
    return value ? QVariant::fromValue(*value) : QVariant(QMetaType::fromType<T>());
}

std::optional<qint64> optionalInt(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
}

QVariant time(const QDateTime& time)
{
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch())
                          : QVariant(QMetaType::fromType<qint64>());
}

QDateTime time(const QVariant& value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong());
}

// Style runs as stored with their chunk: per run its start (8 bytes, little
// endian) and its role (1 byte).
constexpr qsizetype runSize = 9;

QByteArray encodeRuns(const std::vector<StyleRun>& runs)
{
    QByteArray bytes(qsizetype(runs.size()) * runSize, Qt::Uninitialized);
    char* out = bytes.data();
    for (const StyleRun& run : runs) {
        qToLittleEndian<qint64>(run.start, out);
        out[8] = char(run.role);
        out += runSize;
    }
    return bytes;
}

void decodeRuns(const QByteArray& bytes, std::vector<StyleRun>& runs)
{
    for (qsizetype at = 0; at + runSize <= bytes.size(); at += runSize) {
        // A role this Brevane does not know (a newer one's, or a damaged
        // byte) is shown as plain text: the views index their colours by it.
        const quint8 role = quint8(bytes[at + 8]);
        runs.push_back({qsizetype(qFromLittleEndian<qint64>(bytes.constData() + at)),
                        role <= quint8(TextRole::DiffHeader) ? TextRole(role) : TextRole::Normal});
    }
}

// `filter` as one FTS5 phrase: every character literal.
QString phrase(const QString& filter)
{
    QString quoted = filter;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

// `filter` as a LIKE pattern for text that contains it.
QString containing(const QString& filter)
{
    QString escaped;
    for (QChar c : filter) {
        if (c == u'\\' || c == u'%' || c == u'_')
            escaped += u'\\';
        escaped += c;
    }
    return u'%' + escaped + u'%';
}

// Moves a damaged file aside with its -wal, -shm and -journal files, all
// renamed alike so that they still open together. Returns the new name;
// empty if something could not be moved. A -wal file left beside a new
// database would be read into it, so nothing is started then.
QString moveAside(const QString& path)
{
    static constexpr std::array suffixes{"", "-wal", "-shm", "-journal"};
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    QString base = path + u".damaged-"_s + stamp;
    const auto taken = [&] {
        return std::any_of(suffixes.begin(), suffixes.end(), [&](const char* suffix) {
            return QFileInfo::exists(base + QLatin1StringView(suffix));
        });
    };
    for (int n = 2; taken(); ++n)
        base = path + u".damaged-"_s + stamp + u'-' + QString::number(n);
    for (const char* suffix : suffixes) {
        const QString from = path + QLatin1StringView(suffix);
        if (QFileInfo::exists(from) && !QFile::rename(from, base + QLatin1StringView(suffix)))
            return {};
    }
    return base;
}

// False for a file that is certainly no database. SQLite would open it
// all the same and, closing it, might delete -wal and -shm files beside it,
// which belong to what is to be moved aside.
bool hasDatabaseHeader(const QString& path)
{
    static constexpr char magic[] = "SQLite format 3";
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return true; // missing (made anew), empty (a new database), or for SQLite to judge
    return file.read(sizeof magic) == QByteArray(magic, sizeof magic);
}

} // namespace

HistoryDatabase::HistoryDatabase(const QString& connectionName, std::function<bool()> keepWaiting)
    : m_name(connectionName)
    , m_keepWaiting(std::move(keepWaiting))
{
}

HistoryDatabase::~HistoryDatabase()
{
    close();
}

void HistoryDatabase::close()
{
    m_queries.clear();
    const bool added = m_db.isValid();
    m_db.close();
    m_db = QSqlDatabase();
    if (added)
        QSqlDatabase::removeDatabase(m_name);
}

void HistoryDatabase::clearFailure()
{
    m_failure = Failure::None;
    m_failureText.clear();
}

void HistoryDatabase::fail(const QSqlError& error)
{
    const Failure failure = classify(error);
    if (weight(failure) > weight(m_failure)) {
        m_failure = failure;
        m_failureText = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    }
}

QSqlQuery* HistoryDatabase::run(const char* sql, std::initializer_list<QVariant> values)
{
    auto it = m_queries.find(sql);
    if (it == m_queries.end()) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.prepare(QString::fromUtf8(sql))) {
            fail(query.lastError());
            return nullptr;
        }
        it = m_queries.emplace(sql, std::move(query)).first;
    }
    QSqlQuery& query = it->second;
    int i = 0;
    for (const QVariant& value : values)
        query.bindValue(i++, value);
    if (!query.exec()) {
        fail(query.lastError());
        query.finish();
        return nullptr;
    }
    return &query;
}

QSqlQuery* HistoryDatabase::runWaiting(const char* sql)
{
    for (;;) {
        if (QSqlQuery* query = run(sql))
            return query;
        if (m_failure != Failure::Busy || !m_keepWaiting())
            return nullptr;
        clearFailure();
    }
}

bool HistoryDatabase::runOnce(const QString& sql, QVariant* firstValue)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(sql)) {
        fail(query.lastError());
        return false;
    }
    if (firstValue)
        *firstValue = query.next() ? query.value(0) : QVariant();
    return true;
}

bool HistoryDatabase::runOnceWaiting(const QString& sql, QVariant* firstValue)
{
    for (;;) {
        if (runOnce(sql, firstValue))
            return true;
        if (m_failure != Failure::Busy || !m_keepWaiting())
            return false;
        clearFailure();
    }
}

HistoryDatabase::Opened HistoryDatabase::openForWriting(const QString& path)
{
    Opened opened;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        opened.off = OffReason::NoFolder;
        return opened;
    }
    Attempt attempt = hasDatabaseHeader(path) ? tryOpen(path, &opened.detail) : Attempt::Damaged;
    if (attempt == Attempt::Damaged) {
        close();
        opened.movedTo = moveAside(path);
        if (opened.movedTo.isEmpty()) {
            opened.off = OffReason::CannotMoveAside;
            return opened;
        }
        opened.detail.clear();
        attempt = tryOpen(path, &opened.detail);
    }
    switch (attempt) {
    case Attempt::Ok:
        break;
    case Attempt::Newer:
        close();
        opened.off = OffReason::Newer;
        break;
    case Attempt::Damaged:
    case Attempt::Failed:
        close();
        opened.off = OffReason::CannotOpen;
        break;
    }
    return opened;
}

HistoryDatabase::Attempt HistoryDatabase::tryOpen(const QString& path, QString* detail)
{
    close();
    clearFailure();
    const auto failed = [&] {
        *detail = m_failureText;
        return m_failure == Failure::Damaged ? Attempt::Damaged : Attempt::Failed;
    };
    m_db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
    m_db.setDatabaseName(path);
    m_db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT="_s + QString::number(busyTimeoutMs));
    if (!m_db.open()) {
        fail(m_db.lastError());
        return failed();
    }
    // Read before anything is written: a file of a newer version stays as
    // it is, byte for byte.
    QVariant version;
    if (!runOnceWaiting(u"PRAGMA user_version"_s, &version))
        return failed();
    if (version.toInt() > HistorySchema::current)
        return Attempt::Newer;
    // WAL lets the reader read while the writer writes; with it, NORMAL
    // syncs at checkpoints only and still never leaves a broken file.
    QVariant mode;
    if (!runOnceWaiting(u"PRAGMA journal_mode = WAL"_s, &mode))
        return failed();
    if (mode.toString().compare(u"wal"_s, Qt::CaseInsensitive) != 0) {
        *detail = u"journal mode "_s + mode.toString();
        return Attempt::Failed;
    }
    if (!runOnce(u"PRAGMA synchronous = NORMAL"_s) || !runOnce(u"PRAGMA foreign_keys = ON"_s))
        return failed();
    const Attempt migrated = migrate();
    if (migrated == Attempt::Damaged || migrated == Attempt::Failed)
        *detail = m_failureText;
    return migrated;
}

HistoryDatabase::Attempt HistoryDatabase::migrate()
{
    if (!begin())
        return m_failure == Failure::Damaged ? Attempt::Damaged : Attempt::Failed;
    const auto failed = [&] {
        const Attempt attempt = m_failure == Failure::Damaged ? Attempt::Damaged : Attempt::Failed;
        rollback();
        return attempt;
    };
    // Another Brevane may have migrated the file since it was first read.
    QVariant found;
    if (!runOnce(u"PRAGMA user_version"_s, &found))
        return failed();
    const int version = found.toInt();
    if (version > HistorySchema::current) {
        rollback();
        return Attempt::Newer;
    }
    for (int step = version + 1; step <= HistorySchema::current; ++step) {
        for (const char* statement : HistorySchema::stepTo(step)) {
            if (!runOnce(QString::fromUtf8(statement)))
                return failed();
        }
        if (step == 2 && !indexEverything())
            return failed();
    }
    // Written even when it stays the same: a file that cannot be written
    // (read-only, on a full disk) turns history off now rather than at the
    // first turn.
    if (!runOnce(u"PRAGMA user_version = "_s + QString::number(HistorySchema::current)))
        return failed();
    if (!commit())
        return failed();
    return Attempt::Ok;
}

bool HistoryDatabase::indexEverything()
{
    QList<std::pair<QString, QString>> titles;
    QSqlQuery* query = run("SELECT id, title FROM sessions");
    if (!query)
        return false;
    while (query->next())
        titles.push_back({query->value(0).toString(), query->value(1).toString()});
    query->finish();
    for (const auto& [id, title] : titles) {
        if (!setSearchText(id, QString(), -1, titleText, title))
            return false;
    }
    QList<std::tuple<QString, QString, int>> turns;
    query = run("SELECT session_id, tool, turn_index FROM turns");
    if (!query)
        return false;
    while (query->next())
        turns.push_back(
            {query->value(0).toString(), query->value(1).toString(), query->value(2).toInt()});
    query->finish();
    for (const auto& [sessionId, tool, index] : turns) {
        if (!indexTurn(sessionId, tool, index))
            return false;
    }
    return true;
}

bool HistoryDatabase::openForReading(const QString& path)
{
    close();
    clearFailure();
    m_db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
    m_db.setDatabaseName(path);
    m_db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT="_s + QString::number(busyTimeoutMs));
    // Opened for writing all the same: the connection that closes last
    // checkpoints the log into the file and removes it, which a read-only
    // one could not.
    if (!m_db.open() || !runOnce(u"PRAGMA query_only = ON"_s)) {
        fail(m_db.lastError());
        close();
        return false;
    }
    return true;
}

bool HistoryDatabase::begin()
{
    return runWaiting("BEGIN IMMEDIATE") != nullptr;
}

bool HistoryDatabase::commit()
{
    return runWaiting("COMMIT") != nullptr;
}

void HistoryDatabase::rollback()
{
    // A failed statement may have ended the transaction already; what
    // matters is the failure that led here, not this one.
    const Failure failure = m_failure;
    const QString text = m_failureText;
    runOnce(u"ROLLBACK"_s);
    m_failure = failure;
    m_failureText = text;
}

bool HistoryDatabase::beginReading()
{
    return run("BEGIN") != nullptr;
}

void HistoryDatabase::endReading()
{
    rollback();
}

bool HistoryDatabase::write(const SessionRow& row)
{
    QSqlQuery* query = run("SELECT title FROM sessions WHERE id = ?", {row.id});
    if (!query)
        return false;
    const bool existed = query->next();
    const QString oldTitle = existed ? query->value(0).toString() : QString();
    query->finish();
    if (!run("INSERT INTO sessions (id, base_folder, created_at, updated_at, title)"
             " VALUES (?, ?, ?, ?, ?) ON CONFLICT (id) DO UPDATE SET"
             " base_folder = excluded.base_folder, created_at = excluded.created_at,"
             " updated_at = excluded.updated_at, title = excluded.title",
             {row.id, row.baseFolder, time(row.createdAt), time(row.updatedAt), row.title}))
        return false;
    return (existed && oldTitle == row.title) ||
           setSearchText(row.id, QString(), -1, titleText, row.title);
}

bool HistoryDatabase::write(const AgentRow& row)
{
    // An upsert, never REPLACE: replacing deletes the row first, and with
    // it, through the cascade, every turn of the agent.
    return run("INSERT INTO agents (session_id, tool, conversation_id, can_resume,"
               " workspace_folder) VALUES (?, ?, ?, ?, ?)"
               " ON CONFLICT (session_id, tool) DO UPDATE SET"
               " conversation_id = excluded.conversation_id, can_resume = excluded.can_resume,"
               " workspace_folder = excluded.workspace_folder",
               {row.sessionId, row.tool, row.conversationId, row.canResume, row.workspaceFolder});
}

bool HistoryDatabase::write(const TurnRow& row)
{
    return run("INSERT INTO turns (session_id, tool, turn_index, prompt, state_case,"
               " state_value, started_at, ended_at, usage_turns, usage_input_tokens,"
               " usage_output_tokens, usage_cost_usd, usage_duration_ms, conversation_id,"
               " resumed, new_conversation, text_start, output_start, output_end, instance)"
               " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
               " ON CONFLICT (session_id, tool, turn_index) DO UPDATE SET"
               " prompt = excluded.prompt, state_case = excluded.state_case,"
               " state_value = excluded.state_value, started_at = excluded.started_at,"
               " ended_at = excluded.ended_at, usage_turns = excluded.usage_turns,"
               " usage_input_tokens = excluded.usage_input_tokens,"
               " usage_output_tokens = excluded.usage_output_tokens,"
               " usage_cost_usd = excluded.usage_cost_usd,"
               " usage_duration_ms = excluded.usage_duration_ms,"
               " conversation_id = excluded.conversation_id,"
               " resumed = excluded.resumed,"
               " new_conversation = excluded.new_conversation,"
               " text_start = excluded.text_start,"
               " output_start = excluded.output_start,"
               " output_end = excluded.output_end, instance = excluded.instance",
               {row.sessionId,
                row.tool,
                row.index,
                row.prompt,
                row.stateCase,
                row.stateValue,
                time(row.startedAt),
                row.endedAt ? time(*row.endedAt) : QVariant(QMetaType::fromType<qint64>()),
                optional(row.usage.turns),
                optional(row.usage.inputTokens),
                optional(row.usage.outputTokens),
                optional(row.usage.costUsd),
                optional(row.usage.durationMs),
                row.conversationId,
                row.resumed,
                row.newConversation,
                row.start,
                row.outputStart,
                row.outputEnd,
                row.instance});
}

bool HistoryDatabase::write(const WorktreeRow& row)
{
    return run("INSERT INTO worktrees (session_id, tool, repository_top, path, base_commit,"
               " subfolder, state) VALUES (?, ?, ?, ?, ?, ?, ?)"
               " ON CONFLICT (session_id, tool) DO UPDATE SET"
               " repository_top = excluded.repository_top, path = excluded.path,"
               " base_commit = excluded.base_commit, subfolder = excluded.subfolder,"
               " state = excluded.state",
               {row.sessionId, row.tool, row.repositoryTop, row.path,
                QString::fromLatin1(row.baseCommit), row.subfolder, int(row.state)});
}

bool HistoryDatabase::write(const CheckRow& row)
{
    if (!row.outcome)
        return run("DELETE FROM checks WHERE session_id = ? AND tool = ? AND turn_index = ?",
                   {row.sessionId, row.tool, row.turnIndex});
    return run("INSERT INTO checks (session_id, tool, turn_index, outcome, exit_code, signal,"
               " error) VALUES (?, ?, ?, ?, ?, ?, ?)"
               " ON CONFLICT (session_id, tool, turn_index) DO UPDATE SET"
               " outcome = excluded.outcome, exit_code = excluded.exit_code,"
               " signal = excluded.signal, error = excluded.error",
               {row.sessionId, row.tool, row.turnIndex, *row.outcome, row.exitCode, row.signal,
                row.error});
}

bool HistoryDatabase::append(const TranscriptChunk& chunk)
{
    if (chunk.text.isEmpty() && chunk.runs.empty())
        return true;
    return run("INSERT INTO transcript_chunks (session_id, tool, text_offset, text_length,"
               " text, runs) VALUES (?, ?, ?, ?, ?, ?)",
               {chunk.sessionId, chunk.tool, chunk.offset, chunk.text.size(), chunk.text,
                encodeRuns(chunk.runs)});
}

bool HistoryDatabase::append(const RawChunk& chunk)
{
    if (chunk.bytes.isEmpty())
        return true;
    return run("INSERT INTO raw_chunks (session_id, tool, turn_index, channel, bytes)"
               " VALUES (?, ?, ?, ?, ?)",
               {chunk.sessionId, chunk.tool, chunk.turnIndex, chunk.channel, chunk.bytes});
}

bool HistoryDatabase::setSearchText(const QString& sessionId, const QString& tool, int turn,
                                    int kind, const QString& body)
{
    QSqlQuery* query = run("SELECT id FROM search_rows WHERE session_id = ? AND tool = ?"
                           " AND turn_index = ? AND kind = ?",
                           {sessionId, tool.isNull() ? u""_s : tool, turn, kind});
    if (!query)
        return false;
    const std::optional<qint64> old =
        query->next() ? std::optional(query->value(0).toLongLong()) : std::nullopt;
    query->finish();
    // The trigger deletes the text with its row.
    if (old && !run("DELETE FROM search_rows WHERE id = ?", {*old}))
        return false;
    if (body.isEmpty())
        return true;
    query = run("INSERT INTO search_rows (session_id, tool, turn_index, kind)"
                " VALUES (?, ?, ?, ?)",
                {sessionId, tool.isNull() ? u""_s : tool, turn, kind});
    if (!query)
        return false;
    const qint64 id = query->lastInsertId().toLongLong();
    return run("INSERT INTO search_text (rowid, body) VALUES (?, ?)", {id, body});
}

bool HistoryDatabase::indexTurn(const QString& sessionId, const QString& tool, int index)
{
    QSqlQuery* query = run("SELECT prompt, output_start, output_end FROM turns"
                           " WHERE session_id = ? AND tool = ? AND turn_index = ?",
                           {sessionId, tool, index});
    if (!query)
        return false;
    if (!query->next()) {
        query->finish();
        return true;
    }
    const QString prompt = query->value(0).toString();
    const qint64 from = query->value(1).toLongLong();
    qint64 to = query->value(2).toLongLong();
    query->finish();
    // A turn whose end was not noted ends where the next one starts.
    if (to < 0) {
        query = run("SELECT MIN(text_start) FROM turns"
                    " WHERE session_id = ? AND tool = ? AND turn_index > ?",
                    {sessionId, tool, index});
        if (!query)
            return false;
        const QVariant next = query->next() ? query->value(0) : QVariant();
        query->finish();
        to = next.isNull() ? std::numeric_limits<qint64>::max() : next.toLongLong();
    }
    QString output;
    query = run("SELECT text_offset, text FROM transcript_chunks"
                " WHERE session_id = ? AND tool = ? AND text_offset < ? AND text_offset >="
                " (SELECT COALESCE(MAX(text_offset), 0) FROM transcript_chunks"
                "  WHERE session_id = ? AND tool = ? AND text_offset <= ?)"
                " ORDER BY text_offset, id",
                {sessionId, tool, to, sessionId, tool, from});
    if (!query)
        return false;
    while (query->next()) {
        const qint64 offset = query->value(0).toLongLong();
        const QString text = query->value(1).toString();
        const qint64 begin = std::max<qint64>(from - offset, 0);
        const qint64 end = std::min<qint64>(to - offset, text.size());
        if (end > begin)
            output += QStringView(text).mid(begin, end - begin);
    }
    query->finish();
    return setSearchText(sessionId, tool, index, promptText, prompt) &&
           setSearchText(sessionId, tool, index, outputText, output);
}

bool HistoryDatabase::deleteSessions(const QStringList& ids)
{
    for (const QString& id : ids) {
        // A session still running somewhere goes on being written.
        if (!run("DELETE FROM sessions WHERE id = ? AND NOT EXISTS"
                 " (SELECT 1 FROM turns WHERE session_id = sessions.id AND instance <> '')",
                 {id}))
            return false;
    }
    return true;
}

std::optional<int>
HistoryDatabase::markInterrupted(const std::function<bool(const QString&)>& isLive,
                                 int interruptedCase)
{
    QStringList instances;
    QSqlQuery* query = run("SELECT DISTINCT instance FROM turns WHERE instance <> ''");
    if (!query)
        return std::nullopt;
    while (query->next())
        instances.push_back(query->value(0).toString());
    query->finish();

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    int count = 0;
    for (const QString& instance : std::as_const(instances)) {
        if (isLive(instance))
            continue;
        QList<std::tuple<QString, QString, int>> turns;
        query =
            run("SELECT session_id, tool, turn_index FROM turns WHERE instance = ?", {instance});
        if (!query)
            return std::nullopt;
        while (query->next())
            turns.push_back(
                {query->value(0).toString(), query->value(1).toString(), query->value(2).toInt()});
        query->finish();
        if (!run("UPDATE turns SET state_case = ?, state_value = 0, ended_at = ?, instance = ''"
                 " WHERE instance = ?",
                 {interruptedCase, now, instance}))
            return std::nullopt;
        // These turns ended, if not as they should have: their text is
        // searchable from now on, as that of any ended turn.
        for (const auto& [sessionId, tool, index] : turns) {
            if (!indexTurn(sessionId, tool, index))
                return std::nullopt;
        }
        count += int(turns.size());
    }
    return count;
}

QList<SessionSummary> HistoryDatabase::listSessions(const QString& filter, bool transcripts)
{
    const int widestKind = transcripts ? outputText : promptText;
    QSqlQuery* query = nullptr;
    if (filter.isEmpty()) {
        query = run("SELECT id, title, base_folder, updated_at FROM sessions"
                    " ORDER BY updated_at DESC, rowid DESC");
    } else if (filter.toUcs4().size() >= 3) {
        query = run("SELECT id, title, base_folder, updated_at FROM sessions WHERE id IN"
                    " (SELECT r.session_id FROM search_text JOIN search_rows r"
                    "  ON r.id = search_text.rowid WHERE search_text MATCH ? AND r.kind <= ?)"
                    " ORDER BY updated_at DESC, rowid DESC",
                    {phrase(filter), widestKind});
    } else {
        // Trigrams find nothing shorter than three characters: every text
        // is read instead. The + keeps FTS5 from taking the LIKE itself,
        // which SQLite 3.40 gets wrong for short non-ASCII patterns.
        query = run("SELECT id, title, base_folder, updated_at FROM sessions WHERE id IN"
                    " (SELECT r.session_id FROM search_text JOIN search_rows r"
                    "  ON r.id = search_text.rowid"
                    "  WHERE +search_text.body LIKE ? ESCAPE '\\' AND r.kind <= ?)"
                    " ORDER BY updated_at DESC, rowid DESC",
                    {containing(filter), widestKind});
    }
    QList<SessionSummary> sessions;
    if (!query)
        return sessions;
    while (query->next()) {
        SessionSummary& session = sessions.emplace_back();
        session.id = query->value(0).toString();
        session.title = query->value(1).toString();
        session.baseFolder = query->value(2).toByteArray();
        session.updatedAt = time(query->value(3));
    }
    query->finish();

    for (SessionSummary& session : sessions) {
        query = run("SELECT a.tool, (SELECT t.state_case FROM turns t"
                    "  WHERE t.session_id = a.session_id AND t.tool = a.tool"
                    "  ORDER BY t.turn_index DESC LIMIT 1)"
                    " FROM agents a WHERE a.session_id = ? ORDER BY a.rowid",
                    {session.id});
        if (!query)
            return {};
        while (query->next()) {
            if (!query->value(1).isNull())
                session.lastStates.push_back({query->value(0).toString(), query->value(1).toInt()});
        }
        query->finish();
        query = run("SELECT EXISTS (SELECT 1 FROM turns WHERE session_id = ? AND instance <> '')",
                    {session.id});
        if (!query)
            return {};
        session.running = query->next() && query->value(0).toBool();
        query->finish();
        const std::optional<QList<WorktreeRow>> rows = worktrees(session.id, false);
        if (!rows)
            return {};
        for (const WorktreeRow& row : *rows) {
            session.worktrees.push_back(row.path);
            session.leftover = session.leftover || row.state == WorktreeRow::State::Leftover;
        }
    }
    return sessions;
}

std::optional<StoredSession> HistoryDatabase::loadSession(const QString& id)
{
    StoredSession stored;
    QSqlQuery* query =
        run("SELECT base_folder, created_at, updated_at, title FROM sessions WHERE id = ?", {id});
    if (!query)
        return std::nullopt;
    if (!query->next()) {
        query->finish();
        return std::nullopt;
    }
    stored.session.id = id;
    stored.session.baseFolder = query->value(0).toByteArray();
    stored.session.createdAt = time(query->value(1));
    stored.session.updatedAt = time(query->value(2));
    stored.session.title = query->value(3).toString();
    query->finish();

    std::optional<QList<WorktreeRow>> worktrees = this->worktrees(id, true);
    if (!worktrees)
        return std::nullopt;
    stored.worktrees = std::move(*worktrees);

    query = run("SELECT tool, conversation_id, can_resume, workspace_folder FROM agents"
                " WHERE session_id = ? ORDER BY rowid",
                {id});
    if (!query)
        return std::nullopt;
    while (query->next()) {
        AgentRow& agent = stored.agents.emplace_back().agent;
        agent.sessionId = id;
        agent.tool = query->value(0).toString();
        agent.conversationId = query->value(1).toString();
        agent.canResume = query->value(2).toBool();
        agent.workspaceFolder = query->value(3).toByteArray();
    }
    query->finish();

    for (StoredAgent& agent : stored.agents) {
        const QString& tool = agent.agent.tool;
        query = run("SELECT turn_index, prompt, state_case, state_value, started_at, ended_at,"
                    " usage_turns, usage_input_tokens, usage_output_tokens, usage_cost_usd,"
                    " usage_duration_ms, conversation_id, resumed, new_conversation, text_start,"
                    " output_start, output_end, instance FROM turns"
                    " WHERE session_id = ? AND tool = ? ORDER BY turn_index",
                    {id, tool});
        if (!query)
            return std::nullopt;
        while (query->next()) {
            TurnRow& turn = agent.turns.emplace_back();
            turn.sessionId = id;
            turn.tool = tool;
            turn.index = query->value(0).toInt();
            turn.prompt = query->value(1).toString();
            turn.stateCase = query->value(2).toInt();
            turn.stateValue = query->value(3).toInt();
            turn.startedAt = time(query->value(4));
            if (!query->value(5).isNull())
                turn.endedAt = time(query->value(5));
            turn.usage.turns = optionalInt(query->value(6));
            turn.usage.inputTokens = optionalInt(query->value(7));
            turn.usage.outputTokens = optionalInt(query->value(8));
            if (!query->value(9).isNull())
                turn.usage.costUsd = query->value(9).toDouble();
            turn.usage.durationMs = optionalInt(query->value(10));
            turn.conversationId = query->value(11).toString();
            turn.resumed = query->value(12).toBool();
            turn.newConversation = query->value(13).toBool();
            turn.start = query->value(14).toLongLong();
            turn.outputStart = query->value(15).toLongLong();
            turn.outputEnd = query->value(16).toLongLong();
            turn.instance = query->value(17).toString();
        }
        query->finish();

        // Sized once: growing a transcript of many megabytes chunk by chunk
        // costs several times the reading.
        query = run("SELECT SUM(text_length) FROM transcript_chunks WHERE session_id = ?"
                    " AND tool = ?",
                    {id, tool});
        if (!query)
            return std::nullopt;
        if (query->next())
            agent.transcript.reserve(query->value(0).toLongLong());
        query->finish();
        query = run("SELECT text, runs FROM transcript_chunks WHERE session_id = ? AND tool = ?"
                    " ORDER BY text_offset, id",
                    {id, tool});
        if (!query)
            return std::nullopt;
        while (query->next()) {
            agent.transcript += query->value(0).toString();
            decodeRuns(query->value(1).toByteArray(), agent.runs);
        }
        query->finish();

        if (agent.turns.isEmpty())
            continue;
        const int latest = agent.turns.back().index;
        query = run("SELECT channel, bytes FROM raw_chunks"
                    " WHERE session_id = ? AND tool = ? AND turn_index = ? ORDER BY id",
                    {id, tool, latest});
        if (!query)
            return std::nullopt;
        while (query->next()) {
            const int channel = query->value(0).toInt();
            if (channel == 0 || channel == 1)
                agent.rawOutput[channel] += query->value(1).toByteArray();
        }
        query->finish();
        query = run("SELECT outcome, exit_code, signal, error FROM checks"
                    " WHERE session_id = ? AND tool = ? AND turn_index = ?",
                    {id, tool, latest});
        if (!query)
            return std::nullopt;
        if (query->next())
            agent.check = {id,
                           tool,
                           latest,
                           query->value(0).toInt(),
                           query->value(1).toInt(),
                           query->value(2).toInt(),
                           query->value(3).toString()};
        query->finish();
    }
    return stored;
}

QList<WorktreeRow> HistoryDatabase::listWorktrees()
{
    return worktrees(QString(), false).value_or(QList<WorktreeRow>());
}

std::optional<QList<WorktreeRow>> HistoryDatabase::worktrees(const QString& sessionId, bool removed)
{
    // A state no row has: keeps every row.
    const int left = removed ? -1 : int(WorktreeRow::State::Removed);
    QSqlQuery* query = sessionId.isNull()
                           ? run("SELECT session_id, tool, repository_top, path, base_commit,"
                                 " subfolder, state FROM worktrees WHERE state <> ?"
                                 " ORDER BY rowid",
                                 {left})
                           : run("SELECT session_id, tool, repository_top, path, base_commit,"
                                 " subfolder, state FROM worktrees"
                                 " WHERE session_id = ? AND state <> ? ORDER BY rowid",
                                 {sessionId, left});
    if (!query)
        return std::nullopt;
    QList<WorktreeRow> rows;
    while (query->next()) {
        WorktreeRow& row = rows.emplace_back();
        row.sessionId = query->value(0).toString();
        row.tool = query->value(1).toString();
        row.repositoryTop = query->value(2).toByteArray();
        row.path = query->value(3).toByteArray();
        row.baseCommit = query->value(4).toString().toLatin1();
        row.subfolder = query->value(5).toByteArray();
        row.state = WorktreeRow::State(query->value(6).toInt());
    }
    query->finish();
    return rows;
}
