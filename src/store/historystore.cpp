#include "store/historystore.h"

#include "platform/mainthread.h"
#include "platform/processowner.h"
#include "platform/threadpriority.h"
#include "store/historydatabase.h"

#include <QDir>
#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

// The writer commits what was queued this long after the first of it came,
// or as soon as this much text is queued, whichever is first: a flood of
// output costs a few transactions a second, a lone row waits a moment.
constexpr auto batchInterval = 250ms;
constexpr qint64 batchText = 1 << 20;
// Chunks of one agent that arrive in one batch are stored as one row, up to
// about this many characters (or bytes).
constexpr qsizetype mergedChunkSize = 256 * 1024;
// How long a closing store waits for another Brevane's lock before it
// gives up what it still had to write.
constexpr auto closingPatience = 10s;

struct IndexTurnOp {
    QString sessionId;
    QString tool;
    int index = 0;
};
struct DeleteSessionsOp {
    QStringList ids;
};
struct MarkInterruptedOp {
    std::function<bool(const QString&)> isLive;
    int interruptedCase = 0;
    std::function<void(int)> done;
};
struct CommitOp {
    std::function<void(bool)> done;
};
// A read waits in the writer's queue until everything queued before it is
// committed, then goes to the reader. It returns the unit that hands its
// answer over; with no database (history off) it answers "nothing".
struct ReadOp {
    std::function<std::function<void()>(HistoryDatabase*)> read;
};
using WriterOp =
    std::variant<SessionRow, AgentRow, TurnRow, WorktreeRow, CheckRow, TranscriptChunk, RawChunk,
                 IndexTurnOp, DeleteSessionsOp, MarkInterruptedOp, CommitOp, ReadOp>;

template <typename... Fs> struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <typename... Fs> Overloaded(Fs...) -> Overloaded<Fs...>;

// Chunks of one batch gathered per agent (per turn and channel for raw
// output) while each keeps following the last, written when something
// else must see them or the batch ends.
class ChunkMerger {
public:
    // The chunk with its characters copied out of the transcript they were
    // shared with, which may then go.
    static TranscriptChunk owned(const TranscriptChunk& chunk)
    {
        TranscriptChunk copy = chunk;
        if (copy.text.isEmpty())
            copy.text = chunk.shared.text.toString();
        copy.shared = {};
        return copy;
    }

    bool add(HistoryDatabase& db, const TranscriptChunk& chunk)
    {
        for (TranscriptChunk& held : m_texts) {
            if (held.sessionId != chunk.sessionId || held.tool != chunk.tool)
                continue;
            if (held.offset + held.text.size() == chunk.offset &&
                held.text.size() < mergedChunkSize) {
                held.text += chunk.view();
                held.runs.insert(held.runs.end(), chunk.runs.begin(), chunk.runs.end());
                return true;
            }
            const bool ok = db.append(held);
            held = owned(chunk);
            return ok;
        }
        m_texts.push_back(owned(chunk));
        return true;
    }

    bool add(HistoryDatabase& db, const RawChunk& chunk)
    {
        for (RawChunk& held : m_raws) {
            if (held.sessionId != chunk.sessionId || held.tool != chunk.tool ||
                held.turnIndex != chunk.turnIndex || held.channel != chunk.channel)
                continue;
            if (held.bytes.size() < mergedChunkSize) {
                held.bytes += chunk.bytes;
                return true;
            }
            const bool ok = db.append(held);
            held = chunk;
            return ok;
        }
        m_raws.push_back(chunk);
        return true;
    }

    // False when a row failed; the rest are written all the same.
    bool flush(HistoryDatabase& db)
    {
        bool ok = true;
        for (const TranscriptChunk& held : m_texts)
            ok = db.append(held) && ok;
        for (const RawChunk& held : m_raws)
            ok = db.append(held) && ok;
        m_texts.clear();
        m_raws.clear();
        return ok;
    }

private:
    std::vector<TranscriptChunk> m_texts;
    std::vector<RawChunk> m_raws;
};

QString describeOff(const QString& path, const HistoryDatabase::Opened& opened)
{
    const QString file = QDir::toNativeSeparators(path);
    switch (opened.off) {
    case HistoryDatabase::OffReason::None:
        break;
    case HistoryDatabase::OffReason::NoFolder:
        return HistoryStore::tr("History is off: the folder for %1 cannot be made.").arg(file);
    case HistoryDatabase::OffReason::CannotOpen:
        return HistoryStore::tr("History is off: %1 cannot be opened (%2).")
            .arg(file, opened.detail);
    case HistoryDatabase::OffReason::Newer:
        return HistoryStore::tr("History is off: %1 was written by a newer version of Brevane.")
            .arg(file);
    case HistoryDatabase::OffReason::CannotMoveAside:
        return HistoryStore::tr("History is off: %1 is damaged and cannot be moved aside.")
            .arg(file);
    }
    return QString();
}

} // namespace

// What the store's threads share with it. The GUI-thread fields are read
// and written there only; the queues are guarded by their mutex; the rest
// is fixed from the start. Units handed over to the GUI thread hold it
// weakly and do nothing once the store is gone.
struct HistoryStoreShared : std::enable_shared_from_this<HistoryStoreShared> {
    HistoryStoreShared(ProcessOwner& owner, const QString& path, const QString& instance,
                       HistoryStore* store)
        : owner(owner)
        , path(path)
        , instance(instance)
        , store(store)
    {
    }

    ProcessOwner& owner;
    const QString path;
    const QString instance;
    HistoryStore* const store;

    // GUI thread.
    bool on = true;
    QString whyOff;
    QString note;

    std::atomic<int> transactions{0};
    std::atomic<bool> closing{false};

    // The writer's queue.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<WriterOp> ops;
    qint64 queuedText = 0;
    bool urgent = false;
    bool stopping = false;
    std::chrono::steady_clock::time_point batchStarted;

    // The reader's queue.
    std::mutex readerMutex;
    std::condition_variable readerWake;
    std::deque<ReadOp> reads;
    bool readerStopping = false;

    std::thread writer;
    std::thread reader;

    // Writer thread only.
    std::optional<std::chrono::steady_clock::time_point> closingSeen;

    // GUI thread.
    void enqueue(WriterOp op, qint64 text, bool isUrgent);

    // Writer or reader thread: runs `unit` on the GUI thread while the
    // store lives.
    void toStore(std::function<void(HistoryStore&)> unit)
    {
        owner.handOver([weak = weak_from_this(), unit = std::move(unit)] {
            if (const std::shared_ptr<HistoryStoreShared> shared = weak.lock())
                unit(*shared->store);
        });
    }
    void answer(std::function<void()> unit)
    {
        toStore([unit = std::move(unit)](HistoryStore&) { unit(); });
    }

    QString connectionName(const QString& role) const
    {
        return u"brevane-history-"_s + role + u'-' + QString::number(quintptr(this), 16);
    }

    void runWriter();
    bool keepWaiting();
    bool writeBatch(HistoryDatabase& db, const std::deque<WriterOp>& batch);
    bool applyBatch(HistoryDatabase& db, const std::deque<WriterOp>& batch,
                    std::vector<int>& counts);
    void answerBatch(const std::deque<WriterOp>& batch, bool committed,
                     const std::vector<int>& counts);
    void runReader();
};

void HistoryStoreShared::enqueue(WriterOp op, qint64 text, bool isUrgent)
{
    Q_ASSERT(MainThread::isCurrent());
    bool notify = false;
    {
        std::lock_guard lock(mutex);
        if (ops.empty())
            batchStarted = std::chrono::steady_clock::now();
        // The writer waits for the first op, then for a full batch or an
        // urgent one: only these wake it.
        notify = ops.empty() || (queuedText < batchText && queuedText + text >= batchText) ||
                 (isUrgent && !urgent);
        ops.push_back(std::move(op));
        queuedText += text;
        urgent = urgent || isUrgent;
    }
    if (notify)
        wake.notify_one();
}

bool HistoryStoreShared::keepWaiting()
{
    qWarning("History: %s is locked by another program; waiting", qPrintable(path));
    if (!closing.load())
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (!closingSeen)
        closingSeen = now;
    return now - *closingSeen < closingPatience;
}

// Writer thread.
void HistoryStoreShared::runWriter()
{
    // During a flood the history may lag behind; the columns may not.
    yieldToOtherThreads();
    HistoryDatabase db(connectionName(u"writer"_s), [this] { return keepWaiting(); });
    const HistoryDatabase::Opened opened = db.openForWriting(path);
    bool on = opened.off == HistoryDatabase::OffReason::None;
    const QString whyOff = describeOff(path, opened);
    QString note;
    if (!opened.movedTo.isEmpty()) {
        note = HistoryStore::tr("%1 was damaged: it was moved aside to %2 and a new history was "
                                "started.")
                   .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(opened.movedTo));
        qWarning("%s", qPrintable(note));
    }
    if (!on)
        qWarning("%s", qPrintable(whyOff));
    toStore([on, whyOff, note](HistoryStore& store) {
        store.m_shared->on = on;
        store.m_shared->whyOff = whyOff;
        store.m_shared->note = note;
        Q_EMIT store.opened();
    });

    std::deque<WriterOp> batch;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return !ops.empty() || stopping; });
            if (ops.empty())
                break;
            wake.wait_until(lock, batchStarted + batchInterval,
                            [&] { return queuedText >= batchText || urgent || stopping; });
            batch.swap(ops);
            queuedText = 0;
            urgent = false;
        }
        if (on)
            on = writeBatch(db, batch);
        else
            answerBatch(batch, false, {});
        batch.clear();
    }
    db.close();
}

// Writer thread: one transaction for the whole batch, begun again from the
// start if another connection took the lock halfway. False once history
// is off.
bool HistoryStoreShared::writeBatch(HistoryDatabase& db, const std::deque<WriterOp>& batch)
{
    // A commit or a read asked for with nothing new to write needs no
    // transaction.
    if (std::all_of(batch.begin(), batch.end(), [](const WriterOp& op) {
            return std::holds_alternative<CommitOp>(op) || std::holds_alternative<ReadOp>(op);
        })) {
        answerBatch(batch, true, {});
        return true;
    }
    for (;;) {
        db.clearFailure();
        std::vector<int> counts;
        if (db.begin() && applyBatch(db, batch, counts) && db.commit()) {
            transactions.fetch_add(1);
            answerBatch(batch, true, counts);
            return true;
        }
        const HistoryDatabase::Failure failure = db.failure();
        db.rollback();
        if (failure == HistoryDatabase::Failure::Busy && keepWaiting())
            continue;
        const QString whyOff = HistoryStore::tr("History is off: writing to %1 failed (%2).")
                                   .arg(QDir::toNativeSeparators(path), db.failureText());
        qWarning("%s", qPrintable(whyOff));
        toStore([whyOff](HistoryStore& store) {
            store.m_shared->on = false;
            store.m_shared->whyOff = whyOff;
            Q_EMIT store.turnedOff();
        });
        answerBatch(batch, false, {});
        return false;
    }
}

bool HistoryStoreShared::applyBatch(HistoryDatabase& db, const std::deque<WriterOp>& batch,
                                    std::vector<int>& counts)
{
    ChunkMerger merger;
    // A row that breaks a rule is dropped and the batch goes on; any other
    // failure ends it.
    const auto went = [&db](bool ok) {
        if (ok || db.failure() != HistoryDatabase::Failure::Row)
            return ok;
        qWarning("History: a row was dropped: %s", qPrintable(db.failureText()));
        db.clearFailure();
        return true;
    };
    for (const WriterOp& op : batch) {
        const bool ok = std::visit(
            Overloaded{
                [&](const SessionRow& row) { return went(db.write(row)); },
                [&](const AgentRow& row) { return went(db.write(row)); },
                [&](const TurnRow& row) { return went(db.write(row)); },
                [&](const WorktreeRow& row) { return went(db.write(row)); },
                [&](const CheckRow& row) { return went(db.write(row)); },
                [&](const TranscriptChunk& chunk) { return went(merger.add(db, chunk)); },
                [&](const RawChunk& chunk) { return went(merger.add(db, chunk)); },
                [&](const IndexTurnOp& index) {
                    return went(merger.flush(db)) &&
                           went(db.indexTurn(index.sessionId, index.tool, index.index));
                },
                [&](const DeleteSessionsOp& remove) {
                    return went(merger.flush(db)) && went(db.deleteSessions(remove.ids));
                },
                [&](const MarkInterruptedOp& mark) {
                    if (!went(merger.flush(db)))
                        return false;
                    const std::optional<int> count =
                        db.markInterrupted(mark.isLive, mark.interruptedCase);
                    counts.push_back(count.value_or(0));
                    return went(count.has_value());
                },
                [](const CommitOp&) { return true; },
                [](const ReadOp&) { return true; },
            },
            op);
        if (!ok)
            return false;
    }
    return went(merger.flush(db));
}

// Writer thread: answers what waited for the batch, in order; reads go on
// to the reader once what came before them is committed.
void HistoryStoreShared::answerBatch(const std::deque<WriterOp>& batch, bool committed,
                                     const std::vector<int>& counts)
{
    std::size_t mark = 0;
    for (const WriterOp& op : batch) {
        if (const auto* commit = std::get_if<CommitOp>(&op)) {
            if (commit->done)
                answer([done = commit->done, committed] { done(committed); });
        } else if (const auto* interrupted = std::get_if<MarkInterruptedOp>(&op)) {
            const int count = committed && mark < counts.size() ? counts[mark] : 0;
            ++mark;
            if (interrupted->done)
                answer([done = interrupted->done, count] { done(count); });
        } else if (const auto* read = std::get_if<ReadOp>(&op)) {
            if (!committed) {
                answer(read->read(nullptr));
                continue;
            }
            {
                std::lock_guard lock(readerMutex);
                reads.push_back(*read);
            }
            readerWake.notify_one();
        }
    }
}

// Reader thread.
void HistoryStoreShared::runReader()
{
    HistoryDatabase db(connectionName(u"reader"_s), [] { return true; });
    for (;;) {
        ReadOp read;
        {
            std::unique_lock lock(readerMutex);
            readerWake.wait(lock, [&] { return !reads.empty() || readerStopping; });
            // Answers would no longer be heard.
            if (readerStopping)
                break;
            read = std::move(reads.front());
            reads.pop_front();
        }
        if (!db.isOpen() && !db.openForReading(path))
            qWarning("History: %s cannot be read: %s", qPrintable(path),
                     qPrintable(db.failureText()));
        if (!db.isOpen()) {
            answer(read.read(nullptr));
            continue;
        }
        db.clearFailure();
        std::function<void()> unit;
        if (db.beginReading()) {
            unit = read.read(&db);
            db.endReading();
        }
        if (db.failure() != HistoryDatabase::Failure::None) {
            qWarning("History: reading %s failed: %s", qPrintable(path),
                     qPrintable(db.failureText()));
        }
        answer(unit ? unit : read.read(nullptr));
    }
    db.close();
}

HistoryStore::HistoryStore(ProcessOwner& owner, const QString& path, const QString& instance,
                           QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<HistoryStoreShared>(owner, path, instance, this))
{
    HistoryStoreShared* shared = m_shared.get();
    shared->writer = std::thread([shared] { shared->runWriter(); });
    shared->reader = std::thread([shared] { shared->runReader(); });
}

HistoryStore::~HistoryStore()
{
    // The writer commits everything queued, then the reader, which answers
    // no one any more, ends; the connection that closes last folds the log
    // into the file.
    m_shared->closing.store(true);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
    }
    m_shared->wake.notify_one();
    m_shared->writer.join();
    {
        std::lock_guard lock(m_shared->readerMutex);
        m_shared->readerStopping = true;
    }
    m_shared->readerWake.notify_one();
    m_shared->reader.join();
}

const QString& HistoryStore::path() const
{
    return m_shared->path;
}

const QString& HistoryStore::instance() const
{
    return m_shared->instance;
}

bool HistoryStore::isOn() const
{
    return m_shared->on;
}

QString HistoryStore::whyOff() const
{
    return m_shared->whyOff;
}

QString HistoryStore::note() const
{
    return m_shared->note;
}

int HistoryStore::transactionCount() const
{
    return m_shared->transactions.load();
}

void HistoryStore::write(const SessionRow& row)
{
    if (m_shared->on)
        m_shared->enqueue(row, row.title.size(), false);
}

void HistoryStore::write(const AgentRow& row)
{
    if (m_shared->on)
        m_shared->enqueue(row, 0, false);
}

void HistoryStore::write(const TurnRow& row)
{
    if (m_shared->on)
        m_shared->enqueue(row, row.prompt.size(), false);
}

void HistoryStore::write(const WorktreeRow& row)
{
    if (m_shared->on)
        m_shared->enqueue(row, 0, false);
}

void HistoryStore::write(const CheckRow& row)
{
    if (m_shared->on)
        m_shared->enqueue(row, row.error.size(), false);
}

void HistoryStore::append(const TranscriptChunk& chunk)
{
    if (m_shared->on)
        m_shared->enqueue(chunk, chunk.view().size(), false);
}

void HistoryStore::append(const RawChunk& chunk)
{
    if (m_shared->on)
        m_shared->enqueue(chunk, chunk.bytes.size(), false);
}

void HistoryStore::indexTurn(const QString& sessionId, const QString& tool, int index)
{
    if (m_shared->on)
        m_shared->enqueue(IndexTurnOp{sessionId, tool, index}, 0, false);
}

void HistoryStore::deleteSessions(const QStringList& ids)
{
    if (m_shared->on)
        m_shared->enqueue(DeleteSessionsOp{ids}, 0, false);
}

void HistoryStore::commitNow(std::function<void(bool ok)> done)
{
    m_shared->enqueue(CommitOp{std::move(done)}, 0, true);
}

void HistoryStore::markInterrupted(std::function<bool(const QString& instance)> isLive,
                                   int interruptedCase, std::function<void(int count)> done)
{
    m_shared->enqueue(MarkInterruptedOp{std::move(isLive), interruptedCase, std::move(done)}, 0,
                      true);
}

void HistoryStore::listSessions(const QString& filter, bool transcripts,
                                std::function<void(QList<SessionSummary>)> done)
{
    ReadOp read{[filter, transcripts, done = std::move(done)](HistoryDatabase* db) {
        QList<SessionSummary> sessions;
        if (db)
            sessions = db->listSessions(filter, transcripts);
        return std::function<void()>([done, sessions] { done(sessions); });
    }};
    m_shared->enqueue(std::move(read), 0, true);
}

void HistoryStore::loadSession(const QString& id,
                               std::function<void(std::optional<StoredSession>)> done)
{
    ReadOp read{[id, done = std::move(done)](HistoryDatabase* db) {
        std::optional<StoredSession> session;
        if (db)
            session = db->loadSession(id);
        return std::function<void()>([done, session] { done(session); });
    }};
    m_shared->enqueue(std::move(read), 0, true);
}

void HistoryStore::listWorktrees(std::function<void(QList<WorktreeRow>)> done)
{
    ReadOp read{[done = std::move(done)](HistoryDatabase* db) {
        QList<WorktreeRow> worktrees;
        if (db)
            worktrees = db->listWorktrees();
        return std::function<void()>([done, worktrees] { done(worktrees); });
    }};
    m_shared->enqueue(std::move(read), 0, true);
}
