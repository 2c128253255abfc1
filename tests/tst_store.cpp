#include "runner/check.h"
#include "store/historyschema.h"
#include "store/historystore.h"
#include "storesupport.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// A connection of the test's own to a history file, beside the store's.
class RawConnection {
public:
    explicit RawConnection(const QString& path)
        : m_db(QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name))
    {
        m_db.setDatabaseName(path);
        m_db.open();
    }
    ~RawConnection()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString& sql)
    {
        QSqlQuery query(m_db);
        const bool ok = query.exec(sql);
        if (!ok)
            qWarning() << sql << query.lastError().text();
        return ok;
    }
    QVariant value(const QString& sql)
    {
        QSqlQuery query(m_db);
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }

private:
    const QString m_name = u"test-"_s + QString::number(quintptr(this), 16);
    QSqlDatabase m_db;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// A store over a file in a temporary folder, with the owner of the threads
// that answer it; the store goes first.
struct Rig {
    QTemporaryDir dir;
    ProcessOwner owner;
    const QString path = dir.filePath(u"history/history.db"_s);
    std::unique_ptr<HistoryStore> store;

    bool open(const QString& at = QString())
    {
        store = std::make_unique<HistoryStore>(owner, at.isEmpty() ? path : at, u"me"_s);
        QSignalSpy opened(store.get(), &HistoryStore::opened);
        return opened.wait(deadline);
    }
    bool commit() { return commitHistory(*store); }
    std::optional<StoredSession> load(const QString& id)
    {
        bool answered = false;
        std::optional<StoredSession> result;
        store->loadSession(id, [&](std::optional<StoredSession> session) {
            result = std::move(session);
            answered = true;
        });
        return waitFor([&] { return answered; }) ? result : std::nullopt;
    }
    QList<SessionSummary> summaries(const QString& filter, bool transcripts = false)
    {
        std::optional<QList<SessionSummary>> result;
        store->listSessions(filter, transcripts, [&](QList<SessionSummary> s) { result = s; });
        return waitFor([&] { return result.has_value(); }) ? *result : QList<SessionSummary>();
    }
    QStringList list(const QString& filter, bool transcripts = false)
    {
        QStringList ids;
        for (const SessionSummary& session : summaries(filter, transcripts))
            ids << session.id;
        return ids;
    }
    // Runs every unit handed over so far: those of a store included.
    void drainOwner()
    {
        bool ran = false;
        owner.handOver([&] { ran = true; });
        QVERIFY(waitFor([&] { return ran; }));
    }
};

const QDateTime epoch = QDateTime::fromMSecsSinceEpoch(1700000000000);

SessionRow session(const QString& id, const QString& title, int minutes = 0)
{
    return {id, "/home/me/caf\xe9-\xff", epoch, epoch.addSecs(60 * minutes), title};
}

TurnRow turn(const QString& id, const QString& tool, int index, const QString& prompt)
{
    TurnRow row;
    row.sessionId = id;
    row.tool = tool;
    row.index = index;
    row.prompt = prompt;
    row.startedAt = epoch.addSecs(index);
    row.endedAt = epoch.addSecs(index + 1);
    return row;
}

// One agent with one ended turn whose output is `output`, indexed.
void writeAgent(HistoryStore& store, const QString& id, const QString& tool, const QString& prompt,
                const QString& output, const QString& instance = {})
{
    store.write(AgentRow{id, tool, u"conv-"_s + tool, true, "/work"});
    TurnRow row = turn(id, tool, 0, prompt);
    const QString promptLine = u"> "_s + prompt + u'\n';
    row.outputStart = promptLine.size();
    row.instance = instance;
    store.write(row);
    store.append(TranscriptChunk{id, tool, 0, promptLine + output, {{0, TextRole::Prompt}}, {}});
    if (instance.isEmpty())
        store.indexTurn(id, tool, 0);
}

} // namespace

// The history: written and read back through a real SQLite file, with the
// store's own threads answering through a real owner.
class TestStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Everything written comes back as it was: non-ASCII text, folders that
    // are not UTF-8, style runs across chunks, usage with figures missing,
    // and the raw output of each agent's latest turn. Chunks committed one
    // by one and chunks merged into one row read alike.
    void roundTrip_data()
    {
        QTest::addColumn<bool>("commitEachChunk");
        QTest::newRow("merged in one batch") << false;
        QTest::newRow("committed one by one") << true;
    }
    void roundTrip()
    {
        QFETCH(bool, commitEachChunk);
        Rig rig;
        QVERIFY(rig.open());
        QVERIFY(rig.store->isOn());

        StoredSession expected;
        expected.session = session(u"s1"_s, u"Grüße, 世界 🌍"_s);
        rig.store->write(expected.session);
        const QStringList pieces{u"> Grüße\n"_s, u"Antwort: 漢字"_s, u" und 🌍\n"_s, u"Fehler!\n"_s};
        for (const QString& tool : {u"claude"_s, u"gemini"_s}) {
            StoredAgent& agent = expected.agents.emplace_back();
            agent.agent = {u"s1"_s, tool, u"c-"_s + tool, tool == u"claude"_s,
                           "/work/tree-\xfe/" + tool.toUtf8()};
            rig.store->write(agent.agent);
            for (int index = 0; index < 2; ++index) {
                TurnRow row = turn(u"s1"_s, tool, index, u"Grüße"_s);
                row.stateCase = index;
                row.stateValue = 9;
                row.usage.inputTokens = 1234;
                row.usage.costUsd = 0.0123;
                row.conversationId = agent.agent.conversationId;
                row.resumed = index > 0;
                row.start = agent.transcript.size();
                row.outputStart = row.start + pieces[0].size();
                row.outputEnd = index == 0 ? row.start + 40 : -1;
                row.instance = index == 1 ? u"me"_s : QString();
                if (index == 1)
                    row.endedAt.reset();
                rig.store->write(row);
                agent.turns << row;
                for (int i = 0; i < pieces.size(); ++i) {
                    // Every other piece as a window hands it over: shared
                    // with its transcript, copied by the writer.
                    const bool shared = i % 2;
                    // One role no Brevane knows (a newer one's): read back as Normal.
                    const bool unknownRole = i == 1;
                    const TranscriptChunk chunk{
                        u"s1"_s,
                        tool,
                        agent.transcript.size(),
                        shared ? QString() : pieces[i],
                        {{agent.transcript.size(),
                          unknownRole ? TextRole(200) : TextRole((i + 2) % 5)}},
                        shared ? TranscriptText::Snapshot::of(pieces[i])
                               : TranscriptText::Snapshot{}};
                    rig.store->append(chunk);
                    agent.transcript += chunk.view();
                    agent.runs.push_back(
                        {chunk.runs[0].start, unknownRole ? TextRole::Normal : chunk.runs[0].role});
                    if (commitEachChunk)
                        QVERIFY(rig.commit());
                }
                for (int channel = 0; channel < 2; ++channel) {
                    const QByteArray bytes = "{\"x\":\xff}\n" + QByteArray::number(index);
                    rig.store->append(RawChunk{u"s1"_s, tool, index, channel, bytes});
                    rig.store->append(RawChunk{u"s1"_s, tool, index, channel, bytes});
                    if (index == 1)
                        agent.rawOutput[channel] = bytes + bytes;
                }
            }
        }
        // Rewriting an agent keeps its turns (a REPLACE would cascade).
        expected.agents[0].agent.canResume = false;
        rig.store->write(expected.agents[0].agent);
        QVERIFY(rig.commit());
        const std::optional<StoredSession> loaded = rig.load(u"s1"_s);
        QVERIFY(loaded);
        QCOMPARE(loaded->session.baseFolder, expected.session.baseFolder);
        QCOMPARE(loaded->agents.size(), 2);
        QCOMPARE(loaded->agents[1].transcript, expected.agents[1].transcript);
        QCOMPARE(loaded->agents[1].rawOutput[1], expected.agents[1].rawOutput[1]);
        QVERIFY(loaded->agents[1].runs == expected.agents[1].runs);
        QVERIFY(loaded->agents[1].turns == expected.agents[1].turns);
        QVERIFY(*loaded == expected);
        QVERIFY(!rig.load(u"nothing"_s));
    }

    // A file of each earlier version, made with its own statements, is
    // brought to the current version with its rows kept; what it held is
    // searchable, and the tables of later versions are there to be written.
    void migratesFromEarlierVersions_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("transcripts");
        QTest::newRow("1, title") << 1 << u"old task"_s << false;
        QTest::newRow("1, prompt") << 1 << u"renamed"_s << false;
        QTest::newRow("1, output") << 1 << u"lexer"_s << true;
        QTest::newRow("2, title") << 2 << u"old task"_s << false;
        QTest::newRow("2, output") << 2 << u"lexer"_s << true;
        QTest::newRow("3, title") << 3 << u"old task"_s << false;
    }
    void migratesFromEarlierVersions()
    {
        QFETCH(int, version);
        QFETCH(QString, filter);
        QFETCH(bool, transcripts);
        Rig rig;
        QVERIFY(QDir().mkpath(QFileInfo(rig.path).path()));
        {
            RawConnection raw(rig.path);
            for (int step = 1; step <= version; ++step) {
                for (const char* statement : HistorySchema::stepTo(step))
                    QVERIFY(raw.exec(QString::fromUtf8(statement)));
            }
            QVERIFY(raw.exec(u"PRAGMA user_version = "_s + QString::number(version)));
            QVERIFY(raw.exec(
                u"INSERT INTO sessions VALUES ('s1', x'2f746d70', 1, 2, 'The old task')"_s));
            QVERIFY(raw.exec(u"INSERT INTO agents VALUES ('s1', 'claude', 'c1', 1, x'2f')"_s));
            QVERIFY(raw.exec(u"INSERT INTO turns (session_id, tool, turn_index, prompt, state_case,"
                             " output_start, instance) VALUES ('s1', 'claude', 0,"
                             " 'renamed it', 0, 13, '')"_s));
            QVERIFY(raw.exec(u"INSERT INTO transcript_chunks (session_id, tool, text_offset,"
                             " text_length, text) VALUES ('s1', 'claude', 0, 17,"
                             " '> renamed it\nthe'), ('s1', 'claude', 17, 10, ' lexer ok\n')"_s));
            // A file of version 2 on had its text indexed as it was written.
            if (version >= 2) {
                QVERIFY(raw.exec(u"INSERT INTO search_rows VALUES (1, 's1', '', -1, 0),"
                                 " (2, 's1', 'claude', 0, 2)"_s));
                QVERIFY(raw.exec(u"INSERT INTO search_text (rowid, body) VALUES"
                                 " (1, 'The old task'), (2, 'the lexer ok')"_s));
            }
        }
        QVERIFY(rig.open());
        QVERIFY2(rig.store->isOn(), qPrintable(rig.store->whyOff()));
        QCOMPARE(rig.list(filter, transcripts), QStringList{u"s1"_s});
        std::optional<StoredSession> loaded = rig.load(u"s1"_s);
        QVERIFY(loaded);
        QCOMPARE(loaded->session.title, u"The old task"_s);
        QCOMPARE(loaded->session.baseFolder, QByteArray("/tmp"));
        QCOMPARE(loaded->agents.value(0).agent.conversationId, u"c1"_s);
        QCOMPARE(loaded->agents.value(0).turns.value(0).prompt, u"renamed it"_s);
        QCOMPARE(loaded->agents.value(0).transcript, u"> renamed it\nthe lexer ok\n"_s);
        QVERIFY(loaded->agents.value(0).check == CheckRow());
        const WorktreeRow worktree{
            u"s1"_s, u"claude"_s, "/r", "/w", "abc", {}, WorktreeRow::State::Ready};
        rig.store->write(worktree);
        const CheckRow check{u"s1"_s, u"claude"_s, 0, 1, 0, 0, {}};
        rig.store->write(check);
        QVERIFY(rig.commit());
        loaded = rig.load(u"s1"_s);
        QVERIFY(loaded);
        QVERIFY(loaded->worktrees == QList<WorktreeRow>{worktree});
        QVERIFY(loaded->agents.value(0).check == check);
        rig.store.reset();
        QCOMPARE(RawConnection(rig.path).value(u"PRAGMA user_version"_s).toInt(),
                 HistorySchema::current);
    }

    // Worktree rows come back as written, with folders that are not UTF-8:
    // a session has all of its own, removed ones too; the list has those
    // of every session that are not removed. A row replaces the one of its
    // agent, and one without its session is dropped.
    void worktreesRoundTrip()
    {
        Rig rig;
        QVERIFY(rig.open());
        using State = WorktreeRow::State;
        rig.store->write(session(u"a"_s, u"A"_s));
        rig.store->write(session(u"b"_s, u"B"_s));
        const QByteArray top = "/home/me/caf\xe9 repo";
        const QByteArray data = "/home/me/.local/share/Brevane/worktrees/caf\xe9 repo-";
        QList<WorktreeRow> rows;
        for (const QString& id : {u"a"_s, u"b"_s}) {
            for (const QString& tool : {u"claude"_s, u"gemini"_s, u"hermes"_s}) {
                rows << WorktreeRow{id,
                                    tool,
                                    top,
                                    data + id.toUtf8() + '/' + tool.toUtf8(),
                                    "0123456789abcdef0123456789abcdef01234567",
                                    tool == u"hermes"_s ? QByteArray() : "sub/\xff dir",
                                    State::Creating};
                rig.store->write(rows.back());
            }
        }
        rig.store->write(WorktreeRow{u"none"_s, u"claude"_s, top, "/x", "1", {}, State::Ready});
        QVERIFY(rig.commit());
        rows[1].state = State::Ready;
        rows[2].state = State::Removed;
        rows[3].state = State::Ready;
        for (int i : {1, 2, 3})
            rig.store->write(rows[i]);
        QVERIFY(rig.commit());

        const std::optional<StoredSession> a = rig.load(u"a"_s);
        QVERIFY(a);
        QVERIFY(a->worktrees == rows.mid(0, 3));
        std::optional<QList<WorktreeRow>> listed;
        rig.store->listWorktrees([&](QList<WorktreeRow> worktrees) { listed = worktrees; });
        QVERIFY(waitFor([&] { return listed.has_value(); }));
        QCOMPARE(listed->size(), 5);
        QVERIFY(!listed->contains(rows[2]));
        for (int i : {0, 1, 3, 4, 5})
            QVERIFY2(listed->contains(rows[i]), qPrintable(QString::number(i)));
    }

    // A check's result comes back with its latest turn, its outcome kept as
    // a number that never changes; an earlier turn's does not, and a row
    // without an outcome removes the turn's.
    void checksRoundTrip_data()
    {
        using Outcome = CheckResult::Outcome;
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("error");
        QTest::newRow("passed") << int(Outcome::Passed) << 1 << 0 << 0 << QString();
        QTest::newRow("failed") << int(Outcome::Failed) << 2 << 2 << 0 << QString();
        QTest::newRow("killed") << int(Outcome::Killed) << 3 << 0 << 9 << QString();
        QTest::newRow("timed out") << int(Outcome::TimedOut) << 4 << 0 << 0 << QString();
        QTest::newRow("stopped") << int(Outcome::Stopped) << 5 << 0 << 0 << QString();
        QTest::newRow("not started")
            << int(Outcome::NotStarted) << 6 << 0 << 0 << u"zsh: kein Befehl 🌍"_s;
    }
    void checksRoundTrip()
    {
        QFETCH(int, outcome);
        QFETCH(int, kept);
        QFETCH(int, exitCode);
        QFETCH(int, signal);
        QFETCH(QString, error);
        Rig rig;
        QVERIFY(rig.open());
        rig.store->write(session(u"s1"_s, u"Checked"_s));
        rig.store->write(AgentRow{u"s1"_s, u"claude"_s, u"c"_s, true, "/work"});
        for (int index = 0; index < 2; ++index)
            rig.store->write(turn(u"s1"_s, u"claude"_s, index, u"go"_s));
        rig.store->write(CheckRow{u"s1"_s, u"claude"_s, 0, 2, 7, 0, {}});
        const CheckRow check{u"s1"_s, u"claude"_s, 1, outcome, exitCode, signal, error};
        rig.store->write(check);
        QVERIFY(rig.commit());
        QVERIFY(rig.load(u"s1"_s).value_or(StoredSession()).agents.value(0).check == check);
        QCOMPARE(RawConnection(rig.path)
                     .value(u"SELECT outcome FROM checks WHERE turn_index = 1"_s)
                     .toInt(),
                 kept);
        rig.store->write(CheckRow{u"s1"_s, u"claude"_s, 1, std::nullopt, 0, 0, {}});
        QVERIFY(rig.commit());
        QVERIFY(rig.load(u"s1"_s).value_or(StoredSession()).agents.value(0).check == CheckRow());
    }

    // A file that is not a database, or one cut short, is moved aside with
    // its -wal and -shm files, never deleted, and a new history starts.
    void damagedFileIsMovedAside_data()
    {
        QTest::addColumn<bool>("truncated");
        QTest::newRow("random bytes") << false;
        QTest::newRow("truncated") << true;
    }
    void damagedFileIsMovedAside()
    {
        QFETCH(bool, truncated);
        Rig rig;
        QByteArray damaged;
        if (truncated) {
            QVERIFY(rig.open());
            for (int i = 0; i < 40; ++i) {
                const QString id = QString::number(i);
                rig.store->write(session(id, QString(200, u'x')));
                writeAgent(*rig.store, id, u"claude"_s, u"p"_s, QString(5000, u'y'));
            }
            QVERIFY(rig.commit());
            rig.store.reset();
            damaged = readAll(rig.path);
            QVERIFY(damaged.size() > 100000);
            damaged.truncate(damaged.size() / 2);
        } else {
            QVERIFY(QDir().mkpath(QFileInfo(rig.path).path()));
            damaged = randomBytes(8192);
            QVERIFY(writeAll(rig.path + u"-wal"_s, randomBytes(4096)));
            QVERIFY(writeAll(rig.path + u"-shm"_s, randomBytes(4096)));
        }
        QVERIFY(writeAll(rig.path, damaged));

        QVERIFY(rig.open());
        QVERIFY2(rig.store->isOn(), qPrintable(rig.store->whyOff()));
        QVERIFY(rig.store->whyOff().isEmpty());
        QVERIFY(rig.store->note().contains(rig.path));
        const QDir folder(QFileInfo(rig.path).path());
        const QStringList aside = folder.entryList({u"history.db.damaged-*"_s}, QDir::Files);
        QCOMPARE(aside.size(), truncated ? 1 : 3);
        QVERIFY(rig.store->note().contains(folder.filePath(aside[0])));
        QCOMPARE(readAll(folder.filePath(aside[0])), damaged);
        if (!truncated) {
            QCOMPARE(aside[1], aside[0] + u"-shm"_s);
            QCOMPARE(aside[2], aside[0] + u"-wal"_s);
        }

        rig.store->write(session(u"new"_s, u"After"_s));
        QVERIFY(rig.commit());
        QVERIFY(rig.load(u"new"_s));
        QCOMPARE(rig.list(QString()), QStringList{u"new"_s});
    }

    // A file that cannot be opened or written, or one made by a newer
    // Brevane, turns history off at once, saying which file; writes and
    // reads answer "nothing". A newer one's file stays as it was, byte for
    // byte: nothing is written to it, not even the log.
    void cannotOpenTurnsHistoryOff_data()
    {
        QTest::addColumn<QString>("blocked");
        for (const char* blocked :
             {"folder is a file", "read-only folder", "read-only file", "newer version"})
            QTest::newRow(blocked) << QString::fromLatin1(blocked);
    }
    void cannotOpenTurnsHistoryOff()
    {
        QFETCH(QString, blocked);
        const bool newer = blocked == u"newer version"_s;
        if (blocked.startsWith(u"read-only"_s) && ::geteuid() == 0)
            QSKIP("root writes whatever the permissions say");
        Rig rig;
        QString path = rig.path;
        const QString folder = QFileInfo(rig.path).path();
        if (blocked == u"folder is a file"_s) {
            QVERIFY(writeAll(folder, "a file"));
            path = folder + u"/history.db"_s;
        } else if (blocked == u"read-only folder"_s) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(::chmod(QFile::encodeName(folder), 0555) == 0);
        } else if (blocked == u"read-only file"_s) {
            QVERIFY(rig.open());
            QVERIFY(rig.store->isOn());
            rig.store.reset();
            QVERIFY(::chmod(QFile::encodeName(rig.path), 0444) == 0);
        } else {
            QVERIFY(QDir().mkpath(folder));
            RawConnection raw(rig.path);
            QVERIFY(raw.exec(u"CREATE TABLE future (x)"_s));
            QVERIFY(raw.exec(u"PRAGMA user_version = "_s +
                             QString::number(HistorySchema::current + 1)));
        }
        const QByteArray before = readAll(path);
        const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(folder), 0755); });
        QVERIFY(rig.open(path));
        QVERIFY(!rig.store->isOn());
        QVERIFY2(rig.store->whyOff().contains(path), qPrintable(rig.store->whyOff()));
        QCOMPARE(rig.store->whyOff().contains(u"newer"_s), newer);
        rig.store->write(session(u"s1"_s, u"Lost"_s));
        QVERIFY(!rig.commit());
        QCOMPARE(rig.list(QString()), QStringList());
        if (newer) {
            rig.store.reset();
            QCOMPARE(readAll(rig.path), before);
            QVERIFY(!QFileInfo::exists(rig.path + u"-wal"_s));
        }
    }

    // The disk filling under the writer turns history off and says so; a
    // file size limit stands in for a full disk.
    void failedWriteTurnsHistoryOff()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.store->write(session(u"s1"_s, u"Title"_s));
        rig.store->write(AgentRow{u"s1"_s, u"claude"_s, {}, false, {}});
        QVERIFY(rig.commit());
        QSignalSpy turnedOff(rig.store.get(), &HistoryStore::turnedOff);

        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t size =
            std::max(QFileInfo(rig.path).size(), QFileInfo(rig.path + u"-wal"_s).size());
        rlimit limit{size + 4096, old.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldSignal);
        });
        rig.store->append(TranscriptChunk{u"s1"_s, u"claude"_s, 0, QString(1 << 20, u'z'), {}, {}});
        QVERIFY(!rig.commit());
        QCOMPARE(turnedOff.size(), 1);
        QVERIFY(!rig.store->isOn());
        QVERIFY2(rig.store->whyOff().contains(rig.path), qPrintable(rig.store->whyOff()));
    }

    // Another connection holding the write lock is waited out: the rows
    // land once it lets go, and history stays on.
    void lockIsWaitedOut()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.store->write(session(u"s1"_s, u"Title"_s));
        QVERIFY(rig.commit());

        RawConnection other(rig.path);
        QVERIFY(other.exec(u"BEGIN IMMEDIATE"_s));
        rig.store->write(session(u"s2"_s, u"Second"_s));
        std::optional<bool> committed;
        rig.store->commitNow([&](bool ok) { committed = ok; });
        bool heldBack = false;
        QTimer::singleShot(1000, [&] {
            heldBack = !committed.has_value();
            other.exec(u"COMMIT"_s);
        });
        QVERIFY(waitFor([&] { return committed.has_value(); }));
        QVERIFY(heldBack);
        QVERIFY(*committed);
        QVERIFY(rig.store->isOn());
        QCOMPARE(rig.list(QString()), (QStringList{u"s2"_s, u"s1"_s}));
    }

    // Writes are batched: a flood of chunks costs one transaction per MiB or
    // so, a trickle one per quarter second, never one per chunk.
    void writesAreBatched_data()
    {
        QTest::addColumn<int>("chunks");
        QTest::addColumn<int>("chunkSize");
        QTest::addColumn<int>("most");
        QTest::newRow("flood of 4 MiB") << 1024 << 4096 << 6;
        QTest::newRow("trickle") << 50 << 10 << 1;
    }
    void writesAreBatched()
    {
        QFETCH(int, chunks);
        QFETCH(int, chunkSize);
        QFETCH(int, most);
        Rig rig;
        QVERIFY(rig.open());
        rig.store->write(session(u"s1"_s, u"Title"_s));
        rig.store->write(AgentRow{u"s1"_s, u"claude"_s, {}, false, {}});
        QVERIFY(rig.commit());
        const int before = rig.store->transactionCount();
        QString expected;
        for (int i = 0; i < chunks; ++i) {
            const QString text(chunkSize, QChar(u'a' + i % 26));
            rig.store->append(TranscriptChunk{u"s1"_s, u"claude"_s, expected.size(), text, {}, {}});
            expected += text;
        }
        // No commitNow: the batch's own time or size commits it.
        QVERIFY(waitFor([&] { return rig.store->transactionCount() > before; }));
        const std::optional<StoredSession> loaded = rig.load(u"s1"_s);
        QVERIFY(loaded);
        QCOMPARE(loaded->agents.value(0).transcript.size(), expected.size());
        QVERIFY(loaded->agents.value(0).transcript == expected);
        QVERIFY2(rig.store->transactionCount() - before <= most,
                 qPrintable(QString::number(rig.store->transactionCount() - before)));
    }

    // Sessions come newest first; a filter finds titles and prompts, and
    // transcripts only when asked; shorter than a trigram, it still finds.
    void listsAndFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("transcripts");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all, newest first")
            << QString() << false << QStringList{u"c"_s, u"b"_s, u"a"_s};
        QTest::newRow("title") << u"parser"_s << false << QStringList{u"a"_s};
        QTest::newRow("title, any case") << u"PARSER"_s << false << QStringList{u"a"_s};
        QTest::newRow("prompt") << u"tests pass"_s << false << QStringList{u"a"_s};
        QTest::newRow("output, not asked") << u"lexer"_s << false << QStringList();
        QTest::newRow("output, asked") << u"lexer"_s << true << QStringList{u"a"_s};
        QTest::newRow("output of both") << u"Segmentation"_s << true << QStringList{u"b"_s, u"a"_s};
        QTest::newRow("non-ASCII") << u"Kölner"_s << false << QStringList{u"b"_s};
        QTest::newRow("two characters") << u"öl"_s << false << QStringList{u"b"_s};
        QTest::newRow("LIKE's wildcard") << u"%"_s << false << QStringList{u"c"_s};
        QTest::newRow("FTS5's quote") << u"\"xy\""_s << false << QStringList{u"c"_s};
        QTest::newRow("nothing") << u"zzz"_s << true << QStringList();
    }
    void listsAndFilters()
    {
        QFETCH(QString, filter);
        QFETCH(bool, transcripts);
        QFETCH(QStringList, expected);
        Rig rig;
        QVERIFY(rig.open());
        HistoryStore& store = *rig.store;
        store.write(session(u"a"_s, u"Fix the parser"_s, 1));
        writeAgent(store, u"a"_s, u"claude"_s, u"make the tests pass"_s,
                   u"Segmentation fault in the lexer"_s);
        store.write(session(u"b"_s, u"Write docs"_s, 2));
        writeAgent(store, u"b"_s, u"gemini"_s, u"describe the Kölner Dom"_s, u"Segmentation"_s);
        store.write(session(u"c"_s, u"100% \"xy\" done"_s, 3));
        QVERIFY(rig.commit());
        QCOMPARE(rig.list(filter, transcripts), expected);
    }

    // Deleting sessions deletes every row of theirs, the searchable text
    // too, and nothing of the others.
    void deletesSessionsWithTheirRows()
    {
        Rig rig;
        QVERIFY(rig.open());
        for (const QString& id : {u"a"_s, u"b"_s, u"c"_s}) {
            rig.store->write(session(id, u"Title "_s + id));
            writeAgent(*rig.store, id, u"claude"_s, u"prompt "_s + id, u"output "_s + id);
            rig.store->append(RawChunk{id, u"claude"_s, 0, 0, "raw"});
            rig.store->write(WorktreeRow{
                id, u"claude"_s, "/repo", "/w/" + id.toUtf8(), "1", {}, WorktreeRow::State::Ready});
            rig.store->write(CheckRow{id, u"claude"_s, 0, 1, 0, 0, {}});
        }
        rig.store->deleteSessions({u"a"_s, u"c"_s});
        QVERIFY(rig.commit());
        QCOMPARE(rig.list(QString()), QStringList{u"b"_s});
        QCOMPARE(rig.list(u"title"_s), QStringList{u"b"_s});
        QVERIFY(!rig.load(u"a"_s));
        RawConnection raw(rig.path);
        for (const QString& table :
             {u"agents"_s, u"turns"_s, u"transcript_chunks"_s, u"raw_chunks"_s, u"search_rows"_s,
              u"worktrees"_s, u"checks"_s}) {
            QCOMPARE(raw.value(u"SELECT count(*) FROM "_s + table + u" WHERE session_id <> 'b'"_s)
                         .toInt(),
                     0);
        }
        // Title, prompt and output of b.
        QCOMPARE(raw.value(u"SELECT count(*) FROM search_text"_s).toInt(), 3);
        QCOMPARE(raw.value(u"SELECT count(*) FROM worktrees"_s).toInt(), 1);
    }

    // Turns left running by a Brevane that is gone become Interrupted, with
    // an end and no instance; those of a live one are left alone.
    void marksInterruptedTurns()
    {
        Rig rig;
        QVERIFY(rig.open());
        constexpr int interrupted = 6;
        rig.store->write(session(u"gone"_s, u"Gone"_s));
        writeAgent(*rig.store, u"gone"_s, u"claude"_s, u"lost prompt"_s, u"half"_s, u"dead"_s);
        rig.store->write(session(u"live"_s, u"Live"_s));
        writeAgent(*rig.store, u"live"_s, u"claude"_s, u"live prompt"_s, u"going"_s, u"alive"_s);
        rig.store->write(session(u"ended"_s, u"Ended"_s));
        writeAgent(*rig.store, u"ended"_s, u"claude"_s, u"old prompt"_s, u"done"_s);
        QStringList asked;
        std::optional<int> count;
        rig.store->markInterrupted(
            [&](const QString& instance) {
                asked << instance; // the writer's thread; read once count came
                return instance == u"alive"_s;
            },
            interrupted, [&](int n) { count = n; });
        QVERIFY(waitFor([&] { return count.has_value(); }));
        QCOMPARE(*count, 1);
        asked.sort();
        QCOMPARE(asked, (QStringList{u"alive"_s, u"dead"_s}));

        const TurnRow gone = rig.load(u"gone"_s).value().agents.value(0).turns.value(0);
        QCOMPARE(gone.stateCase, interrupted);
        QVERIFY(gone.instance.isEmpty());
        QVERIFY(gone.endedAt && gone.endedAt->secsTo(QDateTime::currentDateTime()) < 600);
        const TurnRow live = rig.load(u"live"_s).value().agents.value(0).turns.value(0);
        QCOMPARE(live.stateCase, 0);
        QCOMPARE(live.instance, u"alive"_s);
        // Its prompt became searchable as that of any ended turn.
        QCOMPARE(rig.list(u"lost prompt"_s), QStringList{u"gone"_s});
        QCOMPARE(rig.list(u"live prompt"_s), QStringList());
        const QList<SessionSummary> summaries = rig.summaries(QString());
        QCOMPARE(summaries.size(), 3);
        for (const SessionSummary& summary : summaries) {
            QCOMPARE(summary.running, summary.id == u"live"_s);
            const int state = summary.id == u"gone"_s ? interrupted : 0;
            QCOMPARE(summary.lastStates, (QList<std::pair<QString, int>>{{u"claude"_s, state}}));
        }
    }

    // Closing commits what was queued, leaves one file, and no answer comes
    // once the store is gone.
    void closingCommitsAndAnswersNoMore()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.store->write(session(u"s1"_s, u"Queued"_s));
        bool answered = false;
        rig.store->listSessions(QString(), false, [&](QList<SessionSummary>) { answered = true; });
        rig.store->commitNow([&](bool) { answered = true; });
        rig.store.reset();
        rig.drainOwner();
        QVERIFY(!answered);
        // The last connection folded the log into the file.
        QVERIFY(!QFileInfo::exists(rig.path + u"-wal"_s));
        QVERIFY(rig.open());
        QCOMPARE(rig.list(QString()), QStringList{u"s1"_s});
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
