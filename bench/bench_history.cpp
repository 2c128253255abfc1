// Reads the history back as a user does, on the offscreen platform, and
// prints each figure beside the time SQLite itself takes to read the same
// rows in the same run:
//   list  the history panel over 1,000 sessions of 100 KiB each, from the
//         question until the list shows them;
//   open  one session of 3 × 20 MiB, from Open until every column has laid
//         out its whole transcript.
// The history's own cost during a flood is bench_stream's "history" case.
//
//   bench_history [runs]   medians of `runs` (default 3)

#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "store/historystore.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/historypanel.h"
#include "ui/mainwindow.h"
#include "ui/transcriptview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int sessionCount = 1000;
constexpr qsizetype sessionChars = 100 * 1024;
constexpr qsizetype bigAgentChars = 20 * 1024 * 1024;
// The recorder hands text over in pieces of about this size during a flood.
constexpr qsizetype chunkChars = 256 * 1024;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Runs the event loop until `condition` holds; false after ten minutes.
bool waitUntil(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 600000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QString text(qsizetype chars, int seed)
{
    const QString line = QStringLiteral("%1 the quick brown fox jumps over the lazy dog, "
                                        "and then reads src/agent/streamparser.cpp again\n")
                             .arg(seed, 6, 10, QLatin1Char('0'));
    return line.repeated(chars / line.size() + 1).first(chars);
}

// One session of three agents of one turn each, `chars` characters in all.
void writeSession(HistoryStore& store, const QString& id, qsizetype chars, int seed)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    store.write(SessionRow{id, "/home/user/work/project", now, now.addSecs(seed),
                           QStringLiteral("Task number %1").arg(seed)});
    for (const QString& tool :
         {QStringLiteral("claude"), QStringLiteral("gemini"), QStringLiteral("hermes")}) {
        store.write(AgentRow{id, tool, QUuid::createUuid().toString(QUuid::WithoutBraces), true,
                             "/home/user/work/project"});
        TurnRow turn;
        turn.sessionId = id;
        turn.tool = tool;
        turn.prompt = QStringLiteral("Task number %1").arg(seed);
        turn.stateCase = int(RunState::Case::Done);
        turn.startedAt = now;
        turn.endedAt = now.addSecs(30);
        store.write(turn);
        const QString body =
            QStringLiteral("> ") + turn.prompt + QLatin1Char('\n') + text(chars / 3, seed);
        for (qsizetype at = 0; at < body.size(); at += chunkChars) {
            TranscriptChunk chunk{id, tool, at, body.mid(at, chunkChars), {}, {}};
            chunk.runs.push_back({at, at == 0 ? TextRole::Prompt : TextRole::Normal});
            if (at == 0)
                chunk.runs.push_back({turn.prompt.size() + 3, TextRole::Normal});
            store.append(chunk);
        }
        store.indexTurn(id, tool, 0);
    }
}

bool commit(HistoryStore& store)
{
    bool done = false;
    bool ok = false;
    store.commitNow([&](bool written) {
        ok = written;
        done = true;
    });
    return waitUntil([&] { return done; }) && ok;
}

// SQLite alone: reads every row `sql` selects, to the last column.
double sqliteMs(const QString& path, const QString& sql, const QVariantList& values = {})
{
    double ms = 0;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        db.open();
        QElapsedTimer clock;
        clock.start();
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        query.exec();
        qsizetype bytes = 0;
        while (query.next()) {
            for (int i = 0; i < query.record().count(); ++i)
                bytes += query.value(i).toByteArray().size();
        }
        ms = double(clock.nsecsElapsed()) / 1e6;
        if (bytes == 0)
            std::fprintf(stderr, "no rows for: %s\n", qPrintable(sql));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTemporaryDir dir;
    ProcessOwner owner;
    const QString listPath = dir.filePath(QStringLiteral("list.sqlite3"));
    const QString openPath = dir.filePath(QStringLiteral("open.sqlite3"));
    const QString bigId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QElapsedTimer clock;
        clock.start();
        HistoryStore store(owner, listPath, QStringLiteral("bench"));
        for (int i = 0; i < sessionCount; ++i)
            writeSession(store, QUuid::createUuid().toString(QUuid::WithoutBraces), sessionChars,
                         i);
        if (!commit(store))
            return 1;
        std::printf("wrote %d sessions of 100 KiB in %.0f ms (%d transactions)\n", sessionCount,
                    double(clock.nsecsElapsed()) / 1e6, store.transactionCount());
        HistoryStore big(owner, openPath, QStringLiteral("bench"));
        writeSession(big, bigId, 3 * bigAgentChars, 1);
        if (!commit(big))
            return 1;
    }

    QList<double> listMs, listRaw, openMs, openRaw, listStoreMs, openStoreMs;
    for (int run = 0; run < runs; ++run) {
        {
            HistoryStore store(owner, listPath, QStringLiteral("bench"));
            HistoryPanel panel(store);
            bool listed = false;
            QObject::connect(&panel, &HistoryPanel::listed, [&] { listed = true; });
            QElapsedTimer clock;
            clock.start();
            panel.show();
            if (!waitUntil([&] { return listed; }) || panel.sessions().size() != sessionCount)
                return 1;
            listMs << double(clock.nsecsElapsed()) / 1e6;
            clock.start();
            bool answered = false;
            store.listSessions(QString(), false,
                               [&](const QList<SessionSummary>&) { answered = true; });
            waitUntil([&] { return answered; });
            listStoreMs << double(clock.nsecsElapsed()) / 1e6;
        }
        listRaw << sqliteMs(listPath,
                            QStringLiteral("SELECT s.id, s.title, s.base_folder, s.updated_at, "
                                           "t.tool, t.state_case, t.instance FROM sessions s "
                                           "JOIN turns t ON t.session_id = s.id "
                                           "ORDER BY s.updated_at DESC"));
        {
            HistoryStore store(owner, openPath, QStringLiteral("bench"));
            MainWindow window(AppServices{owner, &store});
            window.show();
            const QList<ColumnView*>& columns = window.contentView()->columns();
            QElapsedTimer clock;
            clock.start();
            double restoredMs = 0;
            window.openSession(
                bigId, [&](MainWindow*) { restoredMs = double(clock.nsecsElapsed()) / 1e6; });
            if (!waitUntil([&] {
                    return std::all_of(columns.begin(), columns.end(), [](ColumnView* column) {
                        const qsizetype length = column->runner()->output().size();
                        return length > bigAgentChars &&
                               column->transcript()->indexedLength() == length;
                    });
                }))
                return 1;
            openMs << double(clock.nsecsElapsed()) / 1e6;
            std::fprintf(stderr, "restored at %.0f ms, shown at %.0f ms\n", restoredMs,
                         openMs.back());
            clock.start();
            bool answered = false;
            store.loadSession(bigId, [&](const std::optional<StoredSession>&) { answered = true; });
            waitUntil([&] { return answered; });
            openStoreMs << double(clock.nsecsElapsed()) / 1e6;
            // While the store is open, as its reader reads.
            openRaw << sqliteMs(openPath,
                                QStringLiteral("SELECT text, runs FROM transcript_chunks WHERE "
                                               "session_id = ? ORDER BY tool, text_offset"),
                                {bigId});
        }
    }
    std::printf("%-6s %10s %10s %12s %8s\n", "case", "brevane_ms", "store_ms", "sqlite_ms",
                "ratio");
    std::printf("%-6s %10.0f %10.0f %12.0f %8.2f\n", "list", median(listMs), median(listStoreMs),
                median(listRaw), median(listMs) / median(listRaw));
    std::printf("%-6s %10.0f %10.0f %12.0f %8.2f\n", "open", median(openMs), median(openStoreMs),
                median(openRaw), median(openMs) / median(openRaw));
    return 0;
}
