#include "agent/eventrenderer.h"
#include "agent/streamparser.h"
#include "agent/usage.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

using Format = StreamParser::Format;
using Events = QList<AgentEvent>;

Q_DECLARE_METATYPE(Format)
Q_DECLARE_METATYPE(Usage)
Q_DECLARE_METATYPE(AgentEvent::Kind)

namespace {

QByteArray recording(const QString& name)
{
    QFile file(QStringLiteral(BREVANE_AGENT_STREAMS "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read recording %s", qPrintable(name));
    return file.readAll();
}

// The events of `bytes` fed in pieces cut at `cuts` (ascending offsets).
Events parse(Format format, QByteArrayView bytes, const QList<qsizetype>& cuts = {})
{
    const auto parser = StreamParser::create(format);
    Events events;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        events += parser->feed(bytes.sliced(from, cut - from));
        from = cut;
    }
    events += parser->feed(bytes.sliced(from));
    return events + parser->finish();
}

// The text as a person reads it, each stretch not in the normal role marked
// with its role, e.g. "answer\n<tool>→ Read x\n</tool>".
QString rendered(const Events& events)
{
    static const char* const tags[] = {"", "dim", "prompt", "tool", "error"};
    EventRenderer renderer;
    QList<StyledText> pieces;
    for (const AgentEvent& event : events)
        renderer.render(event, pieces);
    QString out;
    for (const StyledText& piece : pieces) {
        const QString tag = QString::fromLatin1(tags[int(piece.role)]);
        out += tag.isEmpty() ? piece.text : u'<' + tag + u'>' + piece.text + u"</"_s + tag + u'>';
    }
    return out;
}

// JSON lines, each followed by '\n', written with ' for " so that they read
// easily here.
QByteArray lines(std::initializer_list<QByteArray> list)
{
    QByteArray out;
    for (const QByteArray& line : list)
        out += QByteArray(line).replace('\'', '"') + '\n';
    return out;
}

const QString ellipsis = u"\u2026"_s;

} // namespace

class TestAgent : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Recordings of the real tools, then input no tool should write: shown
    // or skipped, never a crash, never lost text. Each row is also fed cut
    // at every offset, and a byte at a time.
    void parses_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const QString written = u"2 turns · 240 in / 60 out tokens · $0.0027 · "_s;
        QTest::newRow("claude, write refused")
            << Format::Claude << recording("claude/write-denied.stream-json.stdout")
            << "I'll create the file.\n<tool>→ Write /home/user/work/cA/hello.txt\n</tool>"
               "<error>Write refused: Claude requested permissions to write to "
               "/home/user/work/cA/hello.txt, but you haven't granted it yet.\n</error>"
               "Done: the file is written.\n<dim>" +
                   written + "0.8 s\n</dim>";
        QTest::newRow("claude, partial messages: text and call once")
            << Format::Claude << recording("claude/write-accepted-partial.stream-json.stdout")
            << "I'll create the file.\n<tool>→ Write /home/user/work/cA/hello.txt\n</tool>"
               "Done: the file is written.\n<dim>" +
                   written + "0.7 s\n</dim>";
        const QString notLoggedIn = u"<error>Not logged in · Please run /login\n</error>"
                                    "<dim>1 turn · 0 in / 0 out tokens · $0 · 0.2 s\n</dim>"_s;
        QTest::newRow("claude, not logged in: the reason once")
            << Format::Claude << recording("claude/not-logged-in.stream-json.stdout")
            << notLoggedIn;
        QTest::newRow("claude, a lone result")
            << Format::Claude << recording("claude/not-logged-in.json.stdout") << notLoggedIn;
        QTest::newRow("claude, plain text")
            << Format::Claude << recording("claude/not-logged-in.text.stdout")
            << u"Not logged in · Please run /login\n"_s;
        QString retries;
        for (int attempt = 1; attempt <= 10; ++attempt)
            retries += u"retrying (%1/10): authentication_failed (401)\n"_s.arg(attempt);
        QTest::newRow("claude, rejected key: retries")
            << Format::Claude << recording("claude/rejected-key.stream-json.stdout")
            << "<dim>" + retries +
                   "</dim><error>Invalid API key · Fix external API key\n</error>"
                   "<dim>1 turn · 0 in / 0 out tokens · $0 · 3 min 7 s\n</dim>";
        QTest::newRow("gemini, a file edit")
            << Format::Gemini << recording("gemini/auto-edit.stream-json.stdout")
            << u"I'll create the file.\n<tool>→ write_file /home/user/work/gA/hello.txt\n</tool>"
               "Done: the file is written.\n<dim>240 in / 60 out tokens · 0.3 s\n</dim>"_s;
        QTest::newRow("gemini, text only")
            << Format::Gemini << recording("gemini/default-approval.stream-json.stdout")
            << u"ok\n<dim>120 in / 30 out tokens · 0.1 s\n</dim>"_s;
        QTest::newRow("gemini, rejected key")
            << Format::Gemini << recording("gemini/rejected-key.stream-json.stdout")
            << u"<error>[API Error: {\"error\":{\"code\":400,\"message\":\"API key not valid. "
               "Please pass a valid API "
               "key.\",\"status\":\"INVALID_ARGUMENT\",\"details\":[{\"@type\""
               ":\"type.googleapis.com/google.rpc.ErrorInfo\",\"reason\":\"API_KEY_INVALID\","
               "\"domain\":\"googleapis.com\"}]}}]\n</error>"
               "<dim>0 in / 0 out tokens · 0.0 s\n</dim>"_s;
        QTest::newRow("hermes") << Format::Hermes
                                << recording("hermes/shapes-from-its-source.stream-json.stdout")
                                << u"hello\n<tool>→ read_file x\n</tool>"
                                   "<dim>3 in / 2 out tokens · 0.8 s\n</dim>"_s;

        const QString f(QChar::ReplacementCharacter);
        QTest::newRow("invalid JSON") << Format::Claude << lines({"{'type':'assistant',}"})
                                      << u"{\"type\":\"assistant\",}\n"_s;
        QTest::newRow("array, number, string, blank")
            << Format::Claude << lines({"[{'type':'result'}]", "42", "'x'", ""})
            << u"[{\"type\":\"result\"}]\n42\n\"x\"\n\n"_s;
        QTest::newRow("NUL bytes, plain and in JSON")
            << Format::Hermes << "a\0b\n{\"type\":\"text\",\"text\":\"c\0d\\u0000e\"}"_ba
            << u"a\0b\nc\0d\0e"_s;
        QTest::newRow("invalid UTF-8 inside a JSON string")
            << Format::Hermes << lines({"{'type':'text','text':'a\xFF\xC3(b\xE2\x82'}"}).chopped(1)
            << u'a' + f + f + u"(b"_s + f;
        QTest::newRow("invalid UTF-8 in a plain line")
            << Format::Claude << QByteArray("x\xED\xA0\x80y\n") << u'x' + f.repeated(3) + u"y\n"_s;
        QTest::newRow("lone surrogate escapes")
            << Format::Gemini
            << lines({"{'type':'message','role':'assistant','content':'a\\ud800b\\udfff'}"})
            << u"a"_s + f + u'b' + f;
        QTest::newRow("escape sequences inside JSON strings")
            << Format::Claude
            << lines({"{'type':'assistant','message':{'content':["
                      "{'type':'text','text':'\\u001b[31mred\\u001b[0m \\u001b]0;title\\u0007ok'},"
                      "{'type':'tool_use','id':'t','name':'Bash\\u001b[1m',"
                      "'input':{'command':'\\u001b[2Jls'}}]}}",
                      "\x1b[1mplain\x1b[0m"})
            << u"red ok\n<tool>→ Bash ls\n</tool>plain\n"_s;
        QTest::newRow("escape sequence cut between text pieces")
            << Format::Gemini
            << lines({"{'type':'message','role':'assistant','content':'a\\u001b[3','delta':true}",
                      "{'type':'message','role':'assistant','content':'1mb','delta':true}"})
            << u"ab"_s;
        QTest::newRow("unknown types, no type: skipped")
            << Format::Claude
            << lines({"{'type':'mystery','text':'x'}", "{'text':'y'}",
                      "{'type':'system','subtype':'status'}"})
            << QString();
        QTest::newRow("claude events missing their fields")
            << Format::Claude
            << lines({"{'type':'assistant'}",
                      "{'type':'assistant','message':{'content':[{'type':'tool_use'},{}]}}",
                      "{'type':'stream_event'}",
                      "{'type':'stream_event','event':{'type':'content_block_delta'}}",
                      "{'type':'stream_event','event':{'type':'content_block_stop'}}",
                      "{'type':'user','message':{'content':[{'type':'tool_result','is_error':true}]"
                      "}}",
                      "{'type':'system','subtype':'api_retry','attempt':'x'}",
                      "{'type':'result','is_error':true}"})
            << u"<tool>→ tool\n</tool><error>Tool failed\n</error><dim>retrying\n</dim>"
               "<error>failed\n</error>"_s;
        QTest::newRow("gemini events missing their fields")
            << Format::Gemini
            << lines({"{'type':'message'}", "{'type':'tool_use'}",
                      "{'type':'tool_result','status':'error'}", "{'type':'result'}"})
            << u"<tool>→ tool\n</tool><error>Tool failed\n</error>"_s;
        QTest::newRow("too deeply nested: shown")
            << Format::Claude << QByteArray(2000, '{') + QByteArray(2000, '}')
            << QString(2000, u'{') + QString(2000, u'}');
        QTest::newRow("CRLF line ends, last line without one")
            << Format::Hermes
            << lines({"{'type':'text','text':'a'}\r", "{'type':'text','text':'b'}"}).chopped(1)
            << u"ab"_s;
        QTest::newRow("a plain line after unfinished text starts its own")
            << Format::Hermes << lines({"{'type':'text','text':'answer'}", "warning"})
            << u"answer\nwarning\n"_s;
        QTest::newRow("whole text blocks of separate messages")
            << Format::Claude
            << lines({"{'type':'assistant','message':{'id':'m1','content':[{'type':'text','text':'"
                      "one'}]}}",
                      "{'type':'assistant','message':{'id':'m2','content':[{'type':'text','text':'"
                      "two'}]}}"})
            << u"one\ntwo"_s;
        QTest::newRow("whole text shows what its pieces left out")
            << Format::Claude
            << lines(
                   {"{'type':'stream_event','event':{'type':'message_start','message':{'id':'m'}}}",
                    "{'type':'stream_event','event':{'type':'content_block_delta','index':0,"
                    "'delta':{'type':'text_delta','text':'ab'}}}",
                    "{'type':'assistant','message':{'id':'m','content':[{'type':'text','text':'"
                    "abcd'}]}}",
                    "{'type':'assistant','message':{'id':'m','content':[{'type':'text','text':'ef'}"
                    "]}}"})
            << u"abcd\nef"_s;
        QTest::newRow("streamed call without a whole message")
            << Format::Claude
            << lines(
                   {"{'type':'stream_event','event':{'type':'message_start','message':{'id':'m'}}}",
                    "{'type':'stream_event','event':{'type':'content_block_start','index':1,"
                    "'content_block':{'type':'tool_use','id':'t1','name':'Grep','input':{}}}}",
                    "{'type':'stream_event','event':{'type':'content_block_delta','index':1,"
                    "'delta':{'type':'input_json_delta','partial_json':'{\\'path\\':\\'src\\',\\'"
                    "pat'}}}",
                    "{'type':'stream_event','event':{'type':'content_block_delta','index':1,"
                    "'delta':{'type':'input_json_delta','partial_json':'tern\\':\\'TODO\\'}'}}}",
                    "{'type':'stream_event','event':{'type':'content_block_stop','index':1}}",
                    "{'type':'assistant','message':{'id':'m','content':[{'type':'tool_use',"
                    "'id':'t1','name':'Grep','input':{'path':'src','pattern':'TODO'}}]}}"})
            << u"<tool>→ Grep TODO\n</tool>"_s;
        const QByteArray longCommand = "echo " + QByteArray(200, 'x');
        const QByteArray longPath = '/' + QByteArray(120, 'd') + "/file.txt";
        QTest::newRow("long and multi-line arguments cut")
            << Format::Hermes
            << lines({"{'type':'tool_use','name':'terminal','input':{'command':'" + longCommand +
                          "'}}",
                      "{'type':'tool_use','name':'read_file','input':{'path':'" + longPath + "'}}",
                      "{'type':'tool_use','name':'terminal','input':{'command':'cat "
                      "<<EOF\\nx\\nEOF'}}"})
            << "<tool>→ terminal " + longCommand.first(99) + ellipsis + "\n→ read_file " +
                   ellipsis + longPath.last(99) + "\n→ terminal cat <<EOF " + ellipsis +
                   "\n</tool>";
        QTest::newRow("claude's failed call and failed result")
            << Format::Claude
            << lines(
                   {"{'type':'assistant','message':{'content':[{'type':'tool_use','id':'r',"
                    "'name':'Read','input':{'file_path':'/x'}}]}}",
                    "{'type':'user','message':{'content':[{'type':'tool_result','tool_use_id':'r',"
                    "'is_error':true,'content':[{'type':'text','text':"
                    "'\\n<tool_use_error>File does not exist.\\nMore.</tool_use_error>'}]}]}}",
                    "{'type':'result','subtype':'error_max_turns','is_error':true,'num_turns':3}"})
            << u"<tool>→ Read /x\n</tool><error>Read failed: File does not exist.\n"
               "error_max_turns\n</error><dim>3 turns\n</dim>"_s;
        QTest::newRow("gemini's refused call, error and warning events")
            << Format::Gemini
            << lines({"{'type':'tool_use','tool_name':'run_shell_command','tool_id':'s',"
                      "'parameters':{'command':'rm -rf build'}}",
                      "{'type':'tool_result','tool_id':'s','status':'error',"
                      "'error':{'type':'x','message':'Permission denied by policy'}}",
                      "{'type':'error','severity':'warning','message':'Loop detected'}",
                      "{'type':'error','severity':'error','message':'Quota exceeded'}"})
            << u"<tool>→ run_shell_command rm -rf build\n</tool>"
               "<error>run_shell_command refused: Permission denied by policy\n</error>"
               "<dim>Loop detected\n</dim><error>Quota exceeded\n</error>"_s;
        QTest::newRow("hermes's failed call and result")
            << Format::Hermes
            << lines({"{'type':'tool_result','name':'terminal','is_error':true,'output':'exit 2'}",
                      "{'type':'result','exit_code':1,'error':null}"})
            << u"<error>terminal failed: exit 2\nexit code 1\n</error>"_s;
    }
    void parses()
    {
        QFETCH(Format, format);
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        const Events whole = parse(format, input);
        QCOMPARE(rendered(whole), expected);
        for (qsizetype cut = 0; cut <= input.size(); ++cut)
            QVERIFY2(parse(format, input, {cut}) == whole, qPrintable(u"cut at %1"_s.arg(cut)));
        QList<qsizetype> everyByte;
        for (qsizetype at = 1; at < input.size(); ++at)
            everyByte << at;
        QVERIFY(parse(format, input, everyByte) == whole);
    }
};

QTEST_GUILESS_MAIN(TestAgent)
#include "tst_agent.moc"
