// Streams three fake tools into a real Brevane window on the offscreen
// platform and prints figures, one line per case: the wall time from Run until
// every column shows its whole transcript, throughput, the worst GUI-thread
// stall (largest gap of a 5 ms heartbeat), and peak resident memory. Each
// measured run is a process of its own, so that its peak memory is its own.
// Cases: flood (ASCII-heavy lines), history (the flood, each session kept
// in the history), json (the tools' own JSON lines), prose (long English lines that wrap at
// words), wide (CJK, emoji sequences, flags, marks), newlines (one tool
// writing 20 MiB of "\n"), drizzle, idle, quiet (nothing running), first
// output, resize (the longest the GUI thread is blocked re-wrapping 3 x 20 MiB
// at a new width), find (typing a query over 3 x 20 MiB), background (tools
// that leave a job flooding their output and exit: CPU before and after
// Stop) and save (Save of 3 x 100 MiB: the GUI stall and memory meanwhile).
//
//   bench_stream [runs] [case…]  every case (or those named), medians of `runs`
//                                (default 3), and the floods through tmux beside
//   bench_stream --case NAME ... one run of one case (used by the above)

#include "agent/eventrenderer.h"
#include "agent/streamparser.h"
#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "store/historystore.h"
#include "store/sessionrecorder.h"
#include "text/escapes.h"
#include "text/utf8.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/findbar.h"
#include "ui/transcriptview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qsizetype floodBytes = 20 * 1024 * 1024;
// The save case's transcripts are this many floods each.
constexpr int saveFloods = 5;
constexpr int drizzleLines = 200'000;
constexpr int idleSeconds = 10;
constexpr std::chrono::milliseconds caseDeadline{120'000};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the calling thread alone.
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
#if defined(__APPLE__)
    return double(u.ru_maxrss) / (1024.0 * 1024.0);
#else
    return double(u.ru_maxrss) / 1024.0;
#endif
}

QByteArray floodData()
{
    // Lines of about 90 characters; one in ten in colour; some multi-byte text.
    QRandomGenerator rng(42);
    const QByteArray words[] = {"agent",  "build", "patch", "review",   "naïve",  "→",
                                "日本語", "tests", "ok",    "refactor", "módulo", "λ"};
    QByteArray out;
    out.reserve(floodBytes + 256);
    int line = 0;
    while (out.size() < floodBytes) {
        QByteArray text = QByteArray::number(line) + ": ";
        while (text.size() < 88)
            text += words[rng.bounded(int(std::size(words)))] + ' ';
        if (line % 10 == 0)
            text = "\x1b[32m" + text + "\x1b[0m";
        out += text + '\n';
        ++line;
    }
    return out;
}

// English lines of 60 to 300 characters: every row of them ends at a word.
QByteArray proseData()
{
    QRandomGenerator rng(7);
    const QByteArray words[] = {"the",     "agent",   "reads",    "a",       "file",   "and",
                                "then",    "writes",  "changes",  "to",      "make",   "tests",
                                "pass;",   "it",      "explains", "why,",    "which",  "takes",
                                "several", "minutes", "of",       "careful", "review", "work."};
    QByteArray out;
    out.reserve(floodBytes + 512);
    while (out.size() < floodBytes) {
        const int length = 60 + rng.bounded(241);
        QByteArray line;
        while (line.size() < length)
            line += words[rng.bounded(int(std::size(words)))] + ' ';
        line.truncate(length);
        out += line + '\n';
    }
    return out;
}

// Lines that mix CJK, emoji with joiners and skin tones, flags and combining
// marks, one in five in colour.
QByteArray wideData()
{
    QRandomGenerator rng(11);
    const QByteArray words[] = {"\xe6\xbc\xa2\xe5\xad\x97",             // CJK
                                "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4", // Hangul
                                "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d"
                                "\xf0\x9f\x91\xa7",                 // family, joined
                                "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd", // skin tone
                                "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa", // flag
                                "e\xcc\x81te\xcc\x81",              // combining
                                "\xef\xbc\xa1\xef\xbc\x91",         // fullwidth
                                "ok",
                                "build",
                                "\xe2\x9c\x85",
                                "\xe2\x86\x92"};
    QByteArray out;
    out.reserve(floodBytes + 512);
    for (int line = 0; out.size() < floodBytes; ++line) {
        QByteArray text;
        while (text.size() < 100)
            text += words[rng.bounded(int(std::size(words)))] + ' ';
        if (line % 5 == 0)
            text = "\x1b[33m" + text + "\x1b[0m";
        out += text + '\n';
    }
    return out;
}

// A JSON string literal of `text`, quotes included.
QByteArray jsonString(const QByteArray& text)
{
    QByteArray out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + '"';
}

// What an agent's JSON lines are made of: ids, times, the pieces its answer
// streams in and the files its tool calls read. The same seed gives the same
// stream.
class AgentStreamMaker {
public:
    explicit AgentStreamMaker(quint32 seed)
        : m_rng(seed)
    {
    }

    int bounded(int lowest, int highest) { return lowest + m_rng.bounded(highest - lowest + 1); }
    bool chance(int inHowMany) { return m_rng.bounded(inHowMany) == 0; }

    QByteArray uuid()
    {
        QByteArray hex = QByteArray::number(m_rng.generate64(), 16).rightJustified(16, '0') +
                         QByteArray::number(m_rng.generate64(), 16).rightJustified(16, '0');
        return hex.mid(0, 8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' + hex.mid(16, 4) +
               '-' + hex.mid(20, 12);
    }

    // A moment of the run, a little later each time.
    QByteArray timestamp()
    {
        m_millis += bounded(5, 40);
        const qint64 s = m_millis / 1000;
        return QByteArrayLiteral("2026-12-07T") +
               QByteArray::number(2 + s / 3600).rightJustified(2, '0') + ':' +
               QByteArray::number(s / 60 % 60).rightJustified(2, '0') + ':' +
               QByteArray::number(s % 60).rightJustified(2, '0') + '.' +
               QByteArray::number(m_millis % 1000).rightJustified(3, '0') + 'Z';
    }

    // The pieces of one answer, as a model streams them: a word or a few,
    // now and then code, a list or a paragraph break.
    QList<QByteArray> answerPieces(int count)
    {
        static const QByteArray words[] = {"I'll",
                                           "read",
                                           "the",
                                           "parser",
                                           "first,",
                                           "then",
                                           "check",
                                           "how",
                                           "lines",
                                           "are",
                                           "split",
                                           "across",
                                           "chunks",
                                           "so",
                                           "that",
                                           "nothing",
                                           "is",
                                           "lost;",
                                           "the",
                                           "tests",
                                           "pass",
                                           "now.",
                                           "Looking",
                                           "at",
                                           "naïve",
                                           "→",
                                           "each",
                                           "event",
                                           "keeps",
                                           "its",
                                           "role",
                                           "and",
                                           "order",
                                           "in",
                                           "the",
                                           "transcript.",
                                           "日本語",
                                           "módulo",
                                           "λ",
                                           "**Note:**",
                                           "`src/agent/streamparser.cpp`",
                                           "`LineSplitter::feed()`"};
        QList<QByteArray> pieces;
        for (int i = 0; i < count; ++i) {
            QByteArray piece;
            if (i > 0 && chance(12))
                piece = chance(2) ? "\n\n" : "\n- ";
            const int n = bounded(1, 3);
            for (int w = 0; w < n; ++w)
                piece += words[m_rng.bounded(int(std::size(words)))] + ' ';
            pieces << piece;
        }
        return pieces;
    }

    QByteArray path()
    {
        return "/home/user/work/cA/src/" + m_files[m_rng.bounded(int(std::size(m_files)))];
    }

    // A source file as Read shows it: numbered lines.
    QByteArray numberedFile(int lines)
    {
        static const QByteArray code[] = {
            "#include \"agent/streamparser.h\"",
            "",
            "void StreamParser::handleLine(QByteArrayView line)",
            "{",
            "    const QByteArrayView trimmed = line.trimmed();",
            "    if (trimmed.startsWith('{') && trimmed.endsWith('}')) {",
            "        QJsonParseError error;",
            "        // Qt refuses ill-formed UTF-8 anywhere in a document.",
            "        return;",
            "    }",
            "}",
            "    for (const QJsonValue& value : message.value(\"content\"_L1).toArray()) {"};
        QByteArray out;
        for (int i = 1; i <= lines; ++i)
            out += QByteArray::number(i).rightJustified(6, ' ') + '\t' +
                   code[m_rng.bounded(int(std::size(code)))] + '\n';
        return out;
    }

    qint64 nextNumber() { return ++m_number; }

private:
    QRandomGenerator m_rng;
    qint64 m_millis = 0;
    qint64 m_number = 0;
    const QByteArray m_files[5] = {"agent/streamparser.cpp", "agent/eventrenderer.cpp",
                                   "text/linesplitter.h", "runner/turnprocess.cpp",
                                   "transcript/transcriptlayout.cpp"};
};

// claude's stream-json with partial messages, in the shapes of the recorded
// runs: turns of an answer streamed in text_delta pieces, repeated whole in
// an assistant message, then a tool call (mostly Read, some Grep and Bash,
// one in twenty failing) streamed and repeated whole, and its result.
QByteArray claudeJsonData()
{
    AgentStreamMaker make(23);
    const QByteArray session = make.uuid();
    const QByteArray tail =
        ",\"session_id\":\"" + session + "\",\"parent_tool_use_id\":null,\"uuid\":\"";
    auto streamEvent = [&](const QByteArray& event) {
        return "{\"type\":\"stream_event\",\"event\":" + event + tail + make.uuid() + "\"}\n";
    };
    const QByteArray usage = "\"usage\":{\"input_tokens\":120,\"output_tokens\":1,"
                             "\"cache_creation_input_tokens\":0,\"cache_read_input_tokens\":0}";
    auto assistant = [&](const QByteArray& id, const QByteArray& block) {
        return "{\"type\":\"assistant\",\"message\":{\"id\":\"" + id +
               "\",\"type\":\"message\",\"role\":\"assistant\",\"model\":\"claude-opus-4-8\","
               "\"content\":[" +
               block + "],\"stop_reason\":null,\"stop_sequence\":null," + usage +
               ",\"context_management\":null},\"parent_tool_use_id\":null,\"session_id\":\"" +
               session + "\",\"uuid\":\"" + make.uuid() + "\"}\n";
    };

    QByteArray out;
    out.reserve(floodBytes + 64 * 1024);
    out += "{\"type\":\"system\",\"subtype\":\"init\",\"cwd\":\"/home/user/work/"
           "cA\",\"session_id\":\"" +
           session +
           "\",\"tools\":[\"Task\",\"Bash\",\"Edit\",\"Glob\",\"Grep\",\"Read\",\"WebFetch\","
           "\"Write\"],"
           "\"mcp_servers\":[],\"model\":\"claude-opus-4-8[1m]\",\"permissionMode\":\"default\","
           "\"apiKeySource\":\"ANTHROPIC_API_KEY\",\"claude_code_version\":\"2.1.197\","
           "\"output_style\":\"default\",\"uuid\":\"" +
           make.uuid() + "\"}\n";
    int turns = 0;
    for (bool last = false; !last;) {
        last = out.size() > floodBytes - 24 * 1024;
        ++turns;
        const QByteArray id = "msg_" + QByteArray::number(make.nextNumber()).rightJustified(8, '0');
        out += "{\"type\":\"system\",\"subtype\":\"status\",\"status\":\"requesting\",\"uuid\":\"" +
               make.uuid() + "\",\"session_id\":\"" + session + "\"}\n";
        out += streamEvent(
            "{\"type\":\"message_start\",\"message\":{\"id\":\"" + id +
            "\",\"type\":\"message\",\"role\":\"assistant\",\"model\":\"claude-opus-4-8\","
            "\"content\":[],\"stop_reason\":null,\"stop_sequence\":null," +
            usage + "}}");
        out += streamEvent(
            R"({"type":"content_block_start","index":0,"content_block":{"type":"text","text":""}})");
        QByteArray answer;
        for (const QByteArray& piece : make.answerPieces(make.bounded(20, 80))) {
            answer += piece;
            out += streamEvent(
                R"({"type":"content_block_delta","index":0,"delta":{"type":"text_delta","text":)" +
                jsonString(piece) + "}}");
        }
        out += assistant(id, "{\"type\":\"text\",\"text\":" + jsonString(answer) + '}');
        out += streamEvent(R"({"type":"content_block_stop","index":0})");
        if (!last) {
            const QByteArray callId =
                "toolu_" + QByteArray::number(make.nextNumber()).rightJustified(8, '0');
            const int kind = make.bounded(0, 9); // 0-6 Read, 7-8 Grep, 9 Bash
            const QByteArray file = make.path();
            const QByteArray name = kind <= 6 ? "Read" : kind <= 8 ? "Grep" : "Bash";
            const QByteArray input =
                kind <= 6 ? "{\"file_path\":" + jsonString(file) + '}'
                : kind <= 8
                    ? QByteArray("{\"pattern\":\"handleLine\",\"path\":\"/home/user/work/cA/src\"}")
                    : "{\"command\":\"git status --short\"}";
            out += streamEvent(
                R"({"type":"content_block_start","index":1,"content_block":{"type":"tool_use","id":")" +
                callId + "\",\"name\":\"" + name + "\",\"input\":{}}}");
            for (qsizetype from = 0; from < input.size(); from += 20)
                out += streamEvent(
                    R"({"type":"content_block_delta","index":1,"delta":{"type":"input_json_delta","partial_json":)" +
                    jsonString(input.mid(from, 20)) + "}}");
            out += assistant(id, "{\"type\":\"tool_use\",\"id\":\"" + callId + "\",\"name\":\"" +
                                     name + "\",\"input\":" + input + '}');
            out += streamEvent(R"({"type":"content_block_stop","index":1})");
            out += streamEvent(
                R"({"type":"message_delta","delta":{"stop_reason":"tool_use","stop_sequence":null},"usage":{"output_tokens":30}})");
            out += streamEvent(R"({"type":"message_stop"})");
            // The tool_result block, then what claude adds about the call.
            QByteArray block;
            QByteArray toolResult;
            if (make.chance(20)) {
                block = "{\"type\":\"tool_result\",\"content\":\"<tool_use_error>File does not "
                        "exist.</tool_use_error>\",\"is_error\":true,\"tool_use_id\":\"" +
                        callId + "\"}";
                toolResult = "\"Error: File does not exist.\"";
            } else if (kind <= 6) {
                const int lines = make.bounded(20, 80);
                const QByteArray content = jsonString(make.numberedFile(lines));
                block = "{\"tool_use_id\":\"" + callId +
                        "\",\"type\":\"tool_result\",\"content\":" + content + '}';
                toolResult = "{\"type\":\"text\",\"file\":{\"filePath\":" + jsonString(file) +
                             ",\"content\":" + content +
                             ",\"numLines\":" + QByteArray::number(lines) +
                             ",\"startLine\":1,\"totalLines\":" + QByteArray::number(lines) + "}}";
            } else if (kind <= 8) {
                block = "{\"tool_use_id\":\"" + callId +
                        "\",\"type\":\"tool_result\",\"content\":\"Found 2 "
                        "files\\nsrc/agent/streamparser.cpp\\nsrc/agent/streamparser.h\"}";
                toolResult = "{\"mode\":\"files_with_matches\",\"filenames\":[\"src/agent/"
                             "streamparser.cpp\",\"src/agent/streamparser.h\"],\"numFiles\":2}";
            } else {
                block = "{\"tool_use_id\":\"" + callId +
                        "\",\"type\":\"tool_result\",\"content\":\" M "
                        "src/agent/streamparser.cpp\",\"is_error\":false}";
                toolResult = "{\"stdout\":\" M src/agent/streamparser.cpp\",\"stderr\":\"\","
                             "\"interrupted\":false,\"isImage\":false}";
            }
            out += "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[" + block +
                   "]},\"parent_tool_use_id\":null,\"session_id\":\"" + session + "\",\"uuid\":\"" +
                   make.uuid() + "\",\"timestamp\":\"" + make.timestamp() +
                   "\",\"tool_use_result\":" + toolResult + "}\n";
        } else {
            out += streamEvent(
                R"({"type":"message_delta","delta":{"stop_reason":"end_turn","stop_sequence":null},"usage":{"output_tokens":30}})");
            out += streamEvent(R"({"type":"message_stop"})");
        }
    }
    out += "{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,\"duration_ms\":719000,"
           "\"duration_api_ms\":553000,\"num_turns\":" +
           QByteArray::number(turns) +
           ",\"result\":\"Done.\",\"stop_reason\":\"end_turn\",\"session_id\":\"" + session +
           "\",\"total_cost_usd\":12.27,\"usage\":{\"input_tokens\":240,\"cache_creation_input_"
           "tokens\":0,"
           "\"cache_read_input_tokens\":0,\"output_tokens\":60},\"permission_denials\":[],\"uuid\":"
           "\"" +
           make.uuid() + "\"}\n";
    return out;
}

// gemini's stream-json in the shapes of the recorded runs: answers streamed
// as assistant message pieces, tool calls (mostly read_file) and their
// results, one in twenty failing. It has no whole message after the pieces,
// and a result carries no file contents.
QByteArray geminiJsonData()
{
    AgentStreamMaker make(29);
    QByteArray out;
    out.reserve(floodBytes + 64 * 1024);
    out += "{\"type\":\"init\",\"timestamp\":\"" + make.timestamp() + "\",\"session_id\":\"" +
           make.uuid() + "\",\"model\":\"gemini-2.5-flash\"}\n";
    out += "{\"type\":\"message\",\"timestamp\":\"" + make.timestamp() +
           "\",\"role\":\"user\",\"content\":\"bench\"}\n";
    int calls = 0;
    for (bool last = false; !last;) {
        last = out.size() > floodBytes - 8 * 1024;
        for (const QByteArray& piece : make.answerPieces(make.bounded(20, 80)))
            out += "{\"type\":\"message\",\"timestamp\":\"" + make.timestamp() +
                   "\",\"role\":\"assistant\",\"content\":" + jsonString(piece) +
                   ",\"delta\":true}\n";
        if (last)
            break;
        ++calls;
        const int kind = make.bounded(0, 9);
        const QByteArray name = kind <= 6   ? "read_file"
                                : kind <= 8 ? "search_file_content"
                                            : "run_shell_command";
        const QByteArray id =
            name + "__" + name + '_' + QByteArray::number(1796612169558 + make.nextNumber()) + "_0";
        const QByteArray parameters =
            kind <= 6 ? "{\"file_path\":" + jsonString(make.path()) + '}'
            : kind <= 8
                ? QByteArray("{\"pattern\":\"handleLine\",\"dir_path\":\"/home/user/work/gA/src\"}")
                : "{\"command\":\"git status --short\"}";
        out += "{\"type\":\"tool_use\",\"timestamp\":\"" + make.timestamp() +
               "\",\"tool_name\":\"" + name + "\",\"tool_id\":\"" + id +
               "\",\"parameters\":" + parameters + "}\n";
        out += "{\"type\":\"tool_result\",\"timestamp\":\"" + make.timestamp() +
               "\",\"tool_id\":\"" + id +
               (make.chance(20) ? "\",\"status\":\"error\",\"error\":{\"type\":\"file_not_found\","
                                  "\"message\":\"File not found.\"}}\n"
                                : "\",\"status\":\"success\"}\n");
    }
    out +=
        "{\"type\":\"result\",\"timestamp\":\"" + make.timestamp() +
        "\",\"status\":\"success\",\"stats\":{\"total_tokens\":300,\"input_tokens\":240,"
        "\"output_tokens\":60,\"cached\":0,\"input\":240,\"duration_ms\":315000,\"tool_calls\":" +
        QByteArray::number(calls) + "}}\n";
    return out;
}

// The drizzling tool: one write() per short line.
int drizzle(int lines)
{
    char buf[64];
    for (int i = 0; i < lines; ++i) {
        const int n = std::snprintf(buf, sizeof buf, "drizzle line %d\n", i);
        if (::write(1, buf, size_t(n)) != n)
            return 1;
    }
    return 0;
}

// With BENCH_TRACE_SLOW=ms set, names every event that kept the GUI thread
// busy longer than that, and for a heartbeat gap of twice that, every event
// of a millisecond or more that ran in it: a stall is often several shorter
// events back to back, which only the second list shows.
class TracingApp : public QApplication {
public:
    TracingApp(int& argc, char** argv)
        : QApplication(argc, argv)
        , m_thresholdMs(qEnvironmentVariableIntValue("BENCH_TRACE_SLOW"))
    {
    }

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_thresholdMs <= 0)
            return QApplication::notify(receiver, event);
        QElapsedTimer timer;
        timer.start();
        const int type = event->type();
        const QByteArray receiverClass = receiver->metaObject()->className();
        ++m_depth;
        const bool result = QApplication::notify(receiver, event);
        --m_depth;
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (m_depth == 0 && ms >= 1)
            m_sinceBeat +=
                QStringLiteral(" %1:%2=%3").arg(type).arg(receiverClass).arg(ms, 0, 'f', 1);
        if (ms >= m_thresholdMs)
            std::fprintf(stderr, "slow event %d to %s: %.1f ms\n", type, receiverClass.constData(),
                         ms);
        return result;
    }

    // Called at each heartbeat, with the time since the last one.
    void beat(double gapMs)
    {
        if (m_thresholdMs > 0 && gapMs >= 2 * m_thresholdMs)
            std::fprintf(stderr, "gap %.1f ms:%s\n", gapMs, qPrintable(m_sinceBeat));
        m_sinceBeat.clear();
    }

private:
    int m_thresholdMs;
    int m_depth = 0;
    QString m_sinceBeat;
};

// A 5 ms timer on the GUI thread: the largest gap between two of its beats
// is the longest the thread was kept busy.
class Heartbeat {
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worstGap = std::max(m_worstGap, now - m_lastBeat);
            m_lastBeat = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_lastBeat = 0;
        m_timer.start();
    }
    qint64 nsecsElapsed() const { return m_clock.nsecsElapsed(); }
    double worstGapMs() const { return double(m_worstGap) / 1e6; }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_lastBeat = 0;
    qint64 m_worstGap = 0;
};

// Re-wraps the whole window at a few widths after the flood, and prints the
// longest the GUI thread was kept from a 5 ms heartbeat meanwhile.
void measureResizes(ContentView& view)
{
    Heartbeat heartbeat;
    heartbeat.start();
    auto settled = [&] {
        for (ColumnView* column : view.columns())
            if (column->transcript()->frameDue())
                return false;
        return true;
    };
    for (int width : {1100, 1500, 900, 1300}) {
        view.resize(width, 900);
        do
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        while (!settled());
    }
    std::printf("resize block_ms=%.1f\n", heartbeat.worstGapMs());
}

// Types a 6-character query into the find bar one key at a time after the
// flood, and prints the longest wait from a key until every column's count
// is final, and the longest GUI stall meanwhile.
void measureFind(ContentView& view)
{
    Heartbeat heartbeat;
    view.showFind();
    QCoreApplication::processEvents();
    heartbeat.start();
    auto counted = [&] {
        for (ColumnView* column : view.columns())
            if (!column->transcript()->findDone())
                return false;
        return true;
    };
    qint64 worstKey = 0;
    qsizetype matches = 0;
    for (QChar key : QStringLiteral("review")) {
        const qint64 start = heartbeat.nsecsElapsed();
        view.findBar()->field()->insert(QString(key));
        while (!counted())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        worstKey = std::max(worstKey, heartbeat.nsecsElapsed() - start);
        QCoreApplication::processEvents();
    }
    for (ColumnView* column : view.columns())
        matches += column->transcript()->matchCount();
    std::printf("find key_ms=%.1f stall_ms=%.1f matches=%lld\n", double(worstKey) / 1e6,
                heartbeat.worstGapMs(), static_cast<long long>(matches));
}

// Runs the event loop for `ms` and returns the CPU seconds used meanwhile.
double cpuWhileRunning(int ms)
{
    const double before = cpuSeconds();
    QTimer::singleShot(ms, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return cpuSeconds() - before;
}

// Tools that left a job flooding their output and exited: the CPU the
// window spends reading it in a second, then in each of the two seconds
// after Stop.
void measureBackground(BrevaneModel& model)
{
    auto allHeld = [&] {
        for (const AgentSession* runner : model.runners())
            if (!runner->state().hasEnded() || !runner->outputStillArriving())
                return false;
        return true;
    };
    while (!allHeld())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double before = cpuWhileRunning(1000);
    model.stopAll();
    const double first = cpuWhileRunning(1000);
    const double second = cpuWhileRunning(1000);
    std::printf("background before_cpu_s=%.3f after_cpu_s=%.3f later_cpu_s=%.3f\n", before, first,
                second);
}

// Saves the window's transcripts and prints how long that took, the longest
// GUI stall meanwhile, and the peak memory before and after.
void measureSave(ContentView& view)
{
    QTemporaryDir dir;
    const double rssBefore = peakRssMiB();
    Heartbeat heartbeat;
    bool saved = false;
    bool ended = false;
    QObject::connect(&view, &ContentView::transcriptsSaved, [&](const QString&, bool ok) {
        saved = ok;
        ended = true;
    });
    heartbeat.start();
    view.saveTranscriptsTo(dir.filePath(QStringLiteral("saved.md")));
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("save save_ms=%.1f stall_ms=%.1f rss_before_mib=%.1f rss_after_mib=%.1f saved=%d\n",
                double(heartbeat.nsecsElapsed()) / 1e6, heartbeat.worstGapMs(), rssBefore,
                peakRssMiB(), int(saved));
}

// One measured run inside a real window; `expected` holds the length of
// what each column shows of the run, after the task's line.
int runCase(const QString& name, const QList<qsizetype>& expected)
{
    ProcessOwner owner;
    ContentView view(owner);
    view.resize(1500, 900);
    view.show();
    BrevaneModel* model = view.model();
    // The history case keeps the session as a window does, in a database of
    // its own.
    QTemporaryDir historyFolder;
    std::optional<HistoryStore> history;
    std::optional<SessionRecorder> recorder;
    if (name == QLatin1String("history")) {
        history.emplace(owner, historyFolder.filePath(QStringLiteral("history.sqlite3")),
                        QStringLiteral("bench"));
        recorder.emplace(*model, *history);
    }
    // A tool that never prints (a login profile that exits, say) must not
    // hang the whole benchmark.
    QTimer::singleShot(caseDeadline, qApp, [name] {
        std::fprintf(stderr, "%s: no result within %lld s\n", qPrintable(name),
                     static_cast<long long>(caseDeadline.count() / 1000));
        std::exit(2);
    });
    while (model->scanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The columns' first paint (fonts, glyph caches) is not part of a run.
    QCoreApplication::processEvents();
    view.repaint();

    QElapsedTimer clock;
    qint64 lastBeat = 0;
    qint64 worstGap = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        static_cast<TracingApp*>(qApp)->beat(double(now - lastBeat) / 1e6);
        worstGap = std::max(worstGap, now - lastBeat);
        lastBeat = now;
    });

    qint64 firstOutputNs = -1;
    for (AgentSession* runner : model->runners())
        QObject::connect(runner, &AgentSession::changed, runner, [&, runner] {
            if (firstOutputNs < 0 && runner->state().isRunning() && clock.isValid())
                QTimer::singleShot(0, runner, [&, runner] {
                    if (firstOutputNs < 0 && !runner->output().isEmpty())
                        firstOutputNs = clock.nsecsElapsed();
                });
        });

    auto allShown = [&] {
        for (int i = 0; i < view.columns().size(); ++i) {
            const ColumnView* column = view.columns()[i];
            const AgentSession* runner = column->runner();
            // The turn's own output, after the line with the task.
            const qsizetype length = expected.value(i);
            if (!runner->state().isDone() || runner->turnOutput().size() != length ||
                column->transcript()->indexedLength() != runner->output().size())
                return false;
        }
        return true;
    };

    // A window with nothing to do must not wake at all.
    if (name == QLatin1String("quiet")) {
        QTimer::singleShot(idleSeconds * 1000, qApp, &QCoreApplication::quit);
        const double before = cpuSeconds();
        QCoreApplication::exec();
        std::printf("quiet cpu_s=%.4f seconds=%d\n", cpuSeconds() - before, idleSeconds);
        return 0;
    }
    // Every case but json measures output shown as printed; json has claude
    // and gemini asked for JSON lines, as a window does by default.
    model->setPlainOutput(name != QLatin1String("json"));
    model->setTask(QStringLiteral("bench"));
    const double cpuBefore = cpuSeconds();
    const double guiCpuBefore = threadCpuSeconds();
    clock.start();
    heartbeat.start();
    model->start();
    if (name == QLatin1String("idle")) {
        QTimer::singleShot(idleSeconds * 1000, qApp, &QCoreApplication::quit);
        heartbeat.stop(); // the heartbeat itself would be the only CPU user
        const double before = cpuSeconds();
        QCoreApplication::exec();
        const double used = cpuSeconds() - before;
        model->stopAll();
        std::printf("idle cpu_s=%.4f seconds=%d\n", used, idleSeconds);
        return 0;
    }
    if (name == QLatin1String("background")) {
        heartbeat.stop();
        measureBackground(*model);
        return 0;
    }
    if (name == QLatin1String("first")) {
        while (firstOutputNs < 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        std::printf("first first_ms=%.2f\n", double(firstOutputNs) / 1e6);
        while (model->anyRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return 0;
    }
    while (!allShown())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (name == QLatin1String("resize")) {
        heartbeat.stop();
        measureResizes(view);
        return 0;
    }
    if (name == QLatin1String("find")) {
        heartbeat.stop();
        measureFind(view);
        return 0;
    }
    if (name == QLatin1String("save")) {
        heartbeat.stop();
        measureSave(view);
        return 0;
    }
    const double wallMs = double(clock.nsecsElapsed()) / 1e6;
    const double cpu = cpuSeconds() - cpuBefore;
    const double guiCpu = threadCpuSeconds() - guiCpuBefore;
    std::printf("%s wall_ms=%.1f stall_ms=%.1f rss_mib=%.1f cpu_s=%.2f gui_cpu_s=%.3f chars=%lld\n",
                qPrintable(name), wallMs, double(worstGap) / 1e6, peakRssMiB(), cpu, guiCpu,
                static_cast<long long>(expected.value(0)));
    return 0;
}

struct Figures {
    QMap<QString, double> values;
};

Figures parse(const QByteArray& line)
{
    Figures f;
    for (const QByteArray& part : line.trimmed().split(' ')) {
        const qsizetype eq = part.indexOf('=');
        if (eq > 0)
            f.values.insert(QString::fromLatin1(part.left(eq)), part.mid(eq + 1).toDouble());
    }
    return f;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

Figures runChild(const QString& self, const QString& home, const QString& name,
                 const QList<qsizetype>& expected)
{
    QStringList lengths;
    for (qsizetype length : expected)
        lengths << QString::number(length);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("ZDOTDIR"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(self, {QStringLiteral("--case"), name, lengths.join(u',')});
    p.waitForFinished(-1);
    return parse(p.readAllStandardOutput());
}

// The tool `name` runs `body`.
void writeTool(const QString& home, const char* name, const QByteArray& body)
{
    const QString path = home + QStringLiteral("/.local/bin/") + QLatin1String(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Every tool runs `body`, or only the first does and the others end at once.
void writeTools(const QString& home, const QByteArray& body, bool firstOnly = false)
{
    for (const char* name : {"claude", "gemini", "hermes"}) {
        const bool first = qstrcmp(name, "claude") == 0;
        writeTool(home, name, firstOnly && !first ? QByteArray("exit 0\n") : body);
    }
}

// The length of what a column shows of `data` read as JSON lines in
// `format`, rendered as the runner renders it.
qsizetype renderedLength(StreamParser::Format format, const QByteArray& data)
{
    const std::unique_ptr<StreamParser> parser = StreamParser::create(format);
    EventRenderer renderer;
    QList<StyledText> pieces;
    for (const AgentEvent& event : parser->feed(data) + parser->finish())
        renderer.render(event, pieces);
    qsizetype length = 0;
    for (const StyledText& piece : pieces)
        length += piece.text.size();
    return length;
}

double barZshStartMs()
{
    QList<double> times;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer t;
        t.start();
        QProcess::execute(QStringLiteral("/bin/zsh"),
                          {QStringLiteral("-lc"), QStringLiteral("true")});
        times << double(t.nsecsElapsed()) / 1e6;
    }
    return median(times);
}

// The same three floods through tmux panes, timed until the three cats end.
// Negative when tmux is missing or the run failed.
double tmuxFloodMs(const QString& file, int run)
{
    if (QProcess::execute(QStringLiteral("sh"),
                          {QStringLiteral("-c"), QStringLiteral("command -v tmux >/dev/null")}) !=
        0)
        return -1;
    // A server of its own per run (`run` numbers them): a server that is still shutting down
    // would refuse the next session.
    const QString sock = QStringLiteral("brevane-bench-%1-%2").arg(::getpid()).arg(run);
    bool ok = true;
    auto tmux = [&](QStringList args) {
        const int rc = QProcess::execute(
            QStringLiteral("tmux"), QStringList{QStringLiteral("-L"), sock, QStringLiteral("-f"),
                                                QStringLiteral("/dev/null")} +
                                        args);
        ok = ok && rc == 0;
    };
    auto pane = [&](int i) {
        return QStringLiteral("cat '%1'; tmux -L %2 wait-for -S done%3; sleep 100")
            .arg(file, sock)
            .arg(i);
    };
    QElapsedTimer t;
    t.start();
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-x"),
          QStringLiteral("240"), QStringLiteral("-y"), QStringLiteral("60"), pane(1)});
    tmux({QStringLiteral("split-window"), QStringLiteral("-h"), pane(2)});
    tmux({QStringLiteral("split-window"), QStringLiteral("-h"), pane(3)});
    for (int i = 1; i <= 3; ++i)
        tmux({QStringLiteral("wait-for"), QStringLiteral("done%1").arg(i)});
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const bool measured = ok;
    tmux({QStringLiteral("kill-server")});
    return measured ? ms : -1;
}

int orchestrate(const QString& self, int runs, const QStringList& only)
{
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral(".local/bin"));
    QFile(home.filePath(QStringLiteral(".zprofile"))).open(QIODevice::WriteOnly);
    auto wanted = [&](const char* name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };
    auto writeData = [&](const char* name, const QByteArray& data) {
        const QString path = home.filePath(QLatin1String(name) + QStringLiteral(".txt"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return path;
    };
    auto catTools = [&](const QString& file, bool firstOnly = false) {
        writeTools(home.path(), "exec cat '" + QFile::encodeName(file) + "'\n", firstOnly);
    };

    std::printf("machine: %d cores, %s\n", int(sysconf(_SC_NPROCESSORS_ONLN)),
                qPrintable(QSysInfo::prettyProductName()));
    std::printf("%-9s %10s %10s %12s %10s %9s\n", "case", "wall_ms", "MiB/s", "stall_ms", "rss_MiB",
                "cpu_s");
    struct Row {
        double wall, stall, rss;
    };
    auto report = [&](const char* name, const QList<Figures>& all, double mib) {
        QList<double> wall, stall, rss, cpu;
        for (const Figures& f : all) {
            wall << f.values.value(QStringLiteral("wall_ms"));
            stall << f.values.value(QStringLiteral("stall_ms"));
            rss << f.values.value(QStringLiteral("rss_mib"));
            cpu << f.values.value(QStringLiteral("cpu_s"));
        }
        const Row row{median(wall), *std::max_element(stall.begin(), stall.end()), median(rss)};
        std::printf("%-9s %10.0f %10.1f %12.1f %10.0f %9.2f\n", name, row.wall,
                    mib / (row.wall / 1000.0), row.stall, row.rss, median(cpu));
        std::fflush(stdout);
        return row;
    };
    // One streaming case: every tool (or the first alone) cats `data`.
    auto stream = [&](const char* name, const QByteArray& data, bool firstOnly = false) {
        const QString file = writeData(name, data);
        catTools(file, firstOnly);
        const qsizetype chars = removeEscapes(decodeUtf8(data)).size();
        const QList<qsizetype> expected{chars, firstOnly ? 0 : chars, firstOnly ? 0 : chars};
        QList<Figures> all;
        for (int i = 0; i < runs; ++i)
            all << runChild(self, home.path(), QLatin1String(name), expected);
        const Row row =
            report(name, all, (firstOnly ? 1.0 : 3.0) * double(data.size()) / (1 << 20));
        return std::pair(file, row);
    };
    QList<std::tuple<const char*, QString, double>> againstTmux;

    const QByteArray flood = floodData();
    // The json case is measured against the flood of this run.
    std::optional<Row> floodRow;
    if (wanted("flood") || wanted("json") || wanted("history")) {
        const auto [file, row] = stream("flood", flood);
        againstTmux.append({"flood", file, row.wall});
        floodRow = row;
    }
    if (wanted("history")) {
        // The flood again, each window's session kept in the history.
        const auto [file, row] = stream("history", flood);
        if (floodRow)
            std::printf("history: against the flood: wall %.2f x, worst stall %.1f ms (flood "
                        "%.1f ms), peak RSS %.2f x\n",
                        row.wall / floodRow->wall, row.stall, floodRow->stall,
                        row.rss / floodRow->rss);
        std::fflush(stdout);
    }
    if (wanted("json")) {
        // claude and gemini each write their own JSON lines; hermes, which
        // Brevane reads as plain text only, writes the flood.
        const QByteArray claude = claudeJsonData();
        const QByteArray gemini = geminiJsonData();
        writeTool(home.path(), "claude",
                  "exec cat '" + QFile::encodeName(writeData("json-claude", claude)) + "'\n");
        writeTool(home.path(), "gemini",
                  "exec cat '" + QFile::encodeName(writeData("json-gemini", gemini)) + "'\n");
        writeTool(home.path(), "hermes",
                  "exec cat '" + QFile::encodeName(writeData("flood", flood)) + "'\n");
        const QList<qsizetype> expected{renderedLength(StreamParser::Format::Claude, claude),
                                        renderedLength(StreamParser::Format::Gemini, gemini),
                                        removeEscapes(decodeUtf8(flood)).size()};
        QList<Figures> all;
        for (int i = 0; i < runs; ++i)
            all << runChild(self, home.path(), QStringLiteral("json"), expected);
        const Row row =
            report("json", all, double(claude.size() + gemini.size() + flood.size()) / (1 << 20));
        std::printf("json: claude %lld lines (%.1f MiB) shown as %lld characters, gemini %lld "
                    "lines (%.1f MiB) as %lld; against the flood: wall %.2f x, worst stall "
                    "%.1f ms (flood %.1f ms), peak RSS %.2f x\n",
                    static_cast<long long>(claude.count('\n')), double(claude.size()) / (1 << 20),
                    static_cast<long long>(expected[0]), static_cast<long long>(gemini.count('\n')),
                    double(gemini.size()) / (1 << 20), static_cast<long long>(expected[1]),
                    row.wall / floodRow->wall, row.stall, floodRow->stall, row.rss / floodRow->rss);
        std::fflush(stdout);
    }
    if (wanted("prose")) {
        const auto [file, row] = stream("prose", proseData());
        againstTmux.append({"prose", file, row.wall});
    }
    if (wanted("wide")) {
        const auto [file, row] = stream("wide", wideData());
        againstTmux.append({"wide", file, row.wall});
    }
    if (wanted("newlines"))
        stream("newlines", QByteArray(floodBytes, '\n'), true);

    if (wanted("resize")) {
        catTools(writeData("flood", flood));
        const qsizetype chars = removeEscapes(decodeUtf8(flood)).size();
        QList<double> blocks;
        for (int i = 0; i < runs; ++i)
            blocks << runChild(self, home.path(), QStringLiteral("resize"), {chars, chars, chars})
                          .values.value(QStringLiteral("block_ms"));
        std::printf("resize: a window holding 3 x 20 MiB re-wraps at a new width in %.1f ms "
                    "(median of the longest GUI stall in 4 resizes)\n",
                    median(blocks));
    }

    if (wanted("find")) {
        catTools(writeData("flood", flood));
        const qsizetype chars = removeEscapes(decodeUtf8(flood)).size();
        QList<double> keys, stalls;
        for (int i = 0; i < runs; ++i) {
            const Figures f =
                runChild(self, home.path(), QStringLiteral("find"), {chars, chars, chars});
            keys << f.values.value(QStringLiteral("key_ms"));
            stalls << f.values.value(QStringLiteral("stall_ms"));
        }
        std::printf("find: typing a 6-character query over 3 x 20 MiB, every count final "
                    "%.1f ms after a key at worst, GUI stall %.1f ms (medians)\n",
                    median(keys), median(stalls));
    }

    if (wanted("background")) {
        writeTools(home.path(), "yes 'a background job that outlived its tool' &\nexit 0\n");
        QList<double> before, after, later;
        for (int i = 0; i < runs; ++i) {
            const Figures f = runChild(self, home.path(), QStringLiteral("background"), {0, 0, 0});
            before << f.values.value(QStringLiteral("before_cpu_s"));
            after << f.values.value(QStringLiteral("after_cpu_s"));
            later << f.values.value(QStringLiteral("later_cpu_s"));
        }
        std::printf("background: reading three jobs left flooding, %.3f CPU s per s; in the "
                    "first second after Stop %.3f (%.3f x), in the next %.3f (medians)\n",
                    median(before), median(after), median(after) / median(before), median(later));
    }

    if (wanted("save")) {
        const QByteArray big = flood.repeated(saveFloods);
        catTools(writeData("save", big));
        const qsizetype chars = removeEscapes(decodeUtf8(big)).size();
        QList<double> ms, stalls, growth;
        QList<Figures> all;
        for (int i = 0; i < runs; ++i) {
            const Figures f =
                runChild(self, home.path(), QStringLiteral("save"), {chars, chars, chars});
            ms << f.values.value(QStringLiteral("save_ms"));
            stalls << f.values.value(QStringLiteral("stall_ms"));
            growth << f.values.value(QStringLiteral("rss_after_mib")) /
                          f.values.value(QStringLiteral("rss_before_mib"));
            all << f;
        }
        std::printf("save: 3 x %d MiB saved in %.0f ms, worst GUI stall %.1f ms (worst of %d), "
                    "peak memory x %.3f of what it was before Save (median; %.0f MiB before)\n",
                    saveFloods * 20, median(ms), *std::max_element(stalls.begin(), stalls.end()),
                    runs, median(growth),
                    all.first().values.value(QStringLiteral("rss_before_mib")));
    }

    if (wanted("drizzle")) {
        QByteArray drizzleText;
        for (int i = 0; i < drizzleLines; ++i)
            drizzleText += "drizzle line " + QByteArray::number(i) + '\n';
        writeTools(home.path(), "exec '" + QFile::encodeName(self) + "' --drizzle " +
                                    QByteArray::number(drizzleLines) + "\n");
        const qsizetype n = drizzleText.size();
        QList<Figures> drizzles;
        for (int i = 0; i < runs; ++i)
            drizzles << runChild(self, home.path(), QStringLiteral("drizzle"), {n, n, n});
        report("drizzle", drizzles, 3.0 * double(n) / (1 << 20));
    }

    if (wanted("idle")) {
        writeTools(home.path(), "exec sleep " + QByteArray::number(idleSeconds + 5) + "\n");
        const Figures idle = runChild(self, home.path(), QStringLiteral("idle"), {0, 0, 0});
        std::printf("idle: %.3f CPU seconds in %d s with three silent tools\n",
                    idle.values.value(QStringLiteral("cpu_s")), idleSeconds);
    }
    if (wanted("quiet")) {
        const Figures quiet = runChild(self, home.path(), QStringLiteral("quiet"), {0, 0, 0});
        std::printf("quiet: %.3f CPU seconds in %d s with nothing running\n",
                    quiet.values.value(QStringLiteral("cpu_s")), idleSeconds);
    }

    if (wanted("first")) {
        writeTools(home.path(), "echo hello\n");
        QList<double> firsts;
        for (int i = 0; i < std::max(runs, 5); ++i)
            firsts << runChild(self, home.path(), QStringLiteral("first"), {0, 0, 0})
                          .values.value(QStringLiteral("first_ms"));
        const double bare = barZshStartMs();
        std::printf("first output: %.1f ms from Run; bare /bin/zsh -lc true: %.1f ms (+%.1f ms)\n",
                    median(firsts), bare, median(firsts) - bare);
    }

    int tmuxRun = 0;
    for (const auto& [name, file, brevaneMs] : againstTmux) {
        QList<double> tmuxTimes;
        for (int i = 0; i < runs; ++i) {
            const double ms = tmuxFloodMs(file, tmuxRun++);
            if (ms >= 0)
                tmuxTimes << ms;
        }
        if (tmuxTimes.isEmpty()) {
            std::printf("tmux: not installed or failed, no comparison\n");
            break;
        }
        const double t = median(tmuxTimes);
        std::printf("tmux %s (3 panes, 2000 lines kept each): %.0f ms; Brevane/tmux = %.2f\n", name,
                    t, brevaneMs / t);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--drizzle") == 0)
        return drizzle(std::atoi(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], "--case") == 0) {
        TracingApp app(argc, argv);
        QList<qsizetype> expected;
        for (const QByteArray& length : QByteArray(argv[3]).split(','))
            expected << length.toLongLong();
        return runCase(QString::fromLatin1(argv[2]), expected);
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QStringList only;
    for (int i = 2; i < argc; ++i)
        only << QString::fromLocal8Bit(argv[i]);
    return orchestrate(QCoreApplication::applicationFilePath(), runs, only);
}
