#include "runner/turnprocess.h"

#include "agent/eventrenderer.h"
#include "platform/spawn.h"
#include "text/tooloutput.h"

#include <algorithm>

namespace {

const QByteArray shellProgram = QByteArrayLiteral("/bin/zsh");

// The tool's path comes from the environment and every argument is one of
// the shell's own: the script is fixed text. Under -c the first word after
// the script is $0.
const QByteArray toolScript = QByteArrayLiteral("exec \"$BV_BIN\" \"$@\"");
const QByteArray scriptName = QByteArrayLiteral("brevane");

QList<QByteArray> environmentFor(const TurnProcess::Launch& launch)
{
    // Inherited entries are copied as raw bytes: a value that is not valid
    // text must reach the tool unchanged.
    const QList<QByteArray> own = {"BV_BIN=" + launch.toolPath, "BV_TASK=" + launch.prompt,
                                   QByteArrayLiteral("NO_COLOR=1"), QByteArrayLiteral("TERM=dumb")};
    QList<QByteArray> entries;
    for (const QByteArray& entry : currentEnvironment()) {
        const bool replaced = std::any_of(own.begin(), own.end(), [&](const QByteArray& mine) {
            const qsizetype nameEnd = mine.indexOf('=') + 1;
            return entry.startsWith(QByteArrayView(mine).first(nameEnd));
        });
        if (!replaced)
            entries.push_back(entry);
    }
    entries += own;
    return entries;
}

// Decoded and cleaned text, all in one role.
class TextReader : public OutputReader {
public:
    explicit TextReader(TextRole role)
        : m_role(role)
    {
    }
    ChildProcess::Text read(QByteArrayView bytes) override
    {
        return marked(m_decoder.decode(bytes));
    }
    ChildProcess::Text finish() override { return marked(m_decoder.finish()); }

private:
    ChildProcess::Text marked(QString text) const
    {
        ChildProcess::Text out(std::move(text));
        if (m_role != TextRole::Normal)
            out.marks.push_back({0, int(m_role)});
        return out;
    }

    ToolOutputDecoder m_decoder;
    TextRole m_role;
};

// JSON lines parsed into events, shown as the renderer puts them.
class StructuredReader : public OutputReader {
public:
    explicit StructuredReader(StreamParser::Format format)
        : m_parser(StreamParser::create(format))
    {
    }
    ChildProcess::Text read(QByteArrayView bytes) override { return shown(m_parser->feed(bytes)); }
    ChildProcess::Text finish() override { return shown(m_parser->finish()); }

private:
    ChildProcess::Text shown(const QList<AgentEvent>& events)
    {
        QList<StyledText> pieces;
        ChildProcess::Text out;
        for (const AgentEvent& event : events) {
            m_renderer.render(event, pieces);
            if (event.kind == AgentEvent::Kind::Result)
                out.notes.push_back(QVariant::fromValue(event.usage));
        }
        for (const StyledText& piece : pieces) {
            ChildProcess::Text text(piece.text);
            text.marks.push_back({0, int(piece.role)});
            out.append(text);
        }
        return out;
    }

    std::unique_ptr<StreamParser> m_parser;
    EventRenderer m_renderer;
};

} // namespace

std::function<std::unique_ptr<OutputReader>()>
TurnProcess::structuredReader(StreamParser::Format format)
{
    return [format] { return std::make_unique<StructuredReader>(format); };
}

std::unique_ptr<TurnProcess> TurnProcess::start(ProcessOwner& owner, const Launch& launch,
                                                Handlers handlers, QString* error)
{
    // exec() would end the argument at the first NUL and hand the tool a
    // shortened prompt without a word: refuse to launch instead.
    const bool nul = std::any_of(launch.arguments.begin(), launch.arguments.end(),
                                 [](const QByteArray& arg) { return arg.contains('\0'); });
    if (nul || launch.prompt.contains('\0') || launch.userCommand.contains('\0')) {
        *error = QStringLiteral("The task contains a NUL character, which no program can receive");
        return nullptr;
    }

    ChildProcess::Options options;
    options.program = shellProgram;
    options.arguments =
        launch.userCommand.isEmpty()
            ? QList<QByteArray>{QByteArrayLiteral("-lc"), toolScript, scriptName} + launch.arguments
            : QList<QByteArray>{QByteArrayLiteral("-lc"), launch.userCommand};
    options.environment = environmentFor(launch);
    options.workingDirectory = launch.folder;

    // The transform runs on the reader thread and owns a reader per
    // channel; with one pipe, standard error is part of standard output.
    options.separateErrors = bool(launch.makeOutputReader);
    std::shared_ptr<OutputReader> readers[2] = {
        launch.makeOutputReader ? std::shared_ptr<OutputReader>(launch.makeOutputReader())
                                : std::make_shared<TextReader>(TextRole::Normal),
        std::make_shared<TextReader>(TextRole::Dim)};
    ChildProcess::Handlers process;
    process.transform = [readers, keepRaw = launch.keepRaw](
                            ChildProcess::Channel channel, QByteArrayView bytes, bool endOfStream) {
        OutputReader& reader = *readers[channel == ChildProcess::Channel::StandardError];
        if (endOfStream)
            return reader.finish();
        ChildProcess::Text text = reader.read(bytes);
        if (keepRaw)
            text.raw = bytes.toByteArray();
        return text;
    };
    process.output = [output = std::move(handlers.output), raw = std::move(handlers.raw),
                      usage = std::move(handlers.usage)](ChildProcess::Channel channel,
                                                         const ChildProcess::Text& text) {
        if (raw && !text.raw.isEmpty())
            raw(text.raw, channel == ChildProcess::Channel::StandardError);
        if (text.marks.isEmpty())
            output(text.text, TextRole::Normal);
        for (qsizetype i = 0; i < text.marks.size(); ++i) {
            const qsizetype start = text.marks[i].start;
            const qsizetype end =
                i + 1 < text.marks.size() ? text.marks[i + 1].start : text.text.size();
            output(text.text.sliced(start, end - start), TextRole(text.marks[i].value));
        }
        for (const QVariant& note : text.notes) {
            if (usage && note.canConvert<Usage>())
                usage(note.value<Usage>());
        }
    };
    process.ended = std::move(handlers.ended);
    process.outputEnded = std::move(handlers.outputEnded);
    std::shared_ptr<ChildProcess> child =
        ChildProcess::start(owner, options, std::move(process), error);
    if (!child)
        return nullptr;
    return std::unique_ptr<TurnProcess>(new TurnProcess(std::move(child)));
}
