#include "streamparser.h"

#include "agent/claudestreamparser.h"
#include "agent/geministreamparser.h"
#include "agent/hermesstreamparser.h"
#include "text/trim.h"
#include "text/utf8.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// How much of a tool call's argument and of a failure's reason a line shows.
constexpr qsizetype maxArgumentLength = 100;
constexpr qsizetype maxReasonLength = 300;

constexpr QChar ellipsis(0x2026);

QString cutTail(const QString& text, qsizetype length)
{
    if (text.size() <= length)
        return text;
    qsizetype keep = length - 1;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.first(keep) + ellipsis;
}

QString cutHead(const QString& text, qsizetype length)
{
    if (text.size() <= length)
        return text;
    qsizetype keep = length - 1;
    if (text.at(text.size() - keep).isLowSurrogate())
        --keep;
    return ellipsis + QStringView(text).last(keep).toString();
}

// The first line of `text` with something on it, without surrounding blanks,
// and whether more with something on it follows.
std::pair<QString, bool> splitFirstLine(QStringView text)
{
    QString first;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = from;
        while (end < text.size() && !isLineBreak(text.at(end).unicode()))
            ++end;
        QString line = trimmedBlanksAndLineBreaks(text.sliced(from, end - from));
        if (!line.isEmpty()) {
            if (!first.isEmpty())
                return {first, true};
            first = std::move(line);
        }
        from = end + 1;
    }
    return {first, false};
}

struct ArgumentKey {
    QLatin1StringView name;
    bool isPath;
};

// In the order they are looked for: where a tool takes a pattern and a
// folder to search, the pattern says more.
constexpr ArgumentKey argumentKeys[] = {
    {"command"_L1, false},      {"pattern"_L1, false},      {"file_path"_L1, true},
    {"absolute_path"_L1, true}, {"notebook_path"_L1, true}, {"path"_L1, true},
    {"paths"_L1, true},         {"dir_path"_L1, true},      {"url"_L1, false},
    {"query"_L1, false},        {"description"_L1, false},  {"prompt"_L1, false},
};

} // namespace

std::unique_ptr<StreamParser> StreamParser::create(Format format)
{
    switch (format) {
    case Format::Claude:
        return std::make_unique<ClaudeStreamParser>();
    case Format::Gemini:
        return std::make_unique<GeminiStreamParser>();
    case Format::Hermes:
        return std::make_unique<HermesStreamParser>();
    }
    return nullptr;
}

QList<AgentEvent> StreamParser::feed(QByteArrayView chunk)
{
    m_lines.feed(chunk, [this](QByteArrayView line) { handleLine(line); });
    return std::exchange(m_events, {});
}

QList<AgentEvent> StreamParser::finish()
{
    m_lines.finish([this](QByteArrayView line) { handleLine(line); });
    endText();
    return std::exchange(m_events, {});
}

void StreamParser::handleLine(QByteArrayView line)
{
    // Only an object can be an event: anything else is shown, unparsed.
    const QByteArrayView trimmed = line.trimmed();
    if (trimmed.startsWith('{') && trimmed.endsWith('}')) {
        const QByteArray json = QByteArray::fromRawData(trimmed.data(), trimmed.size());
        QJsonParseError error;
        QJsonDocument document = QJsonDocument::fromJson(json, &error);
        // Qt refuses ill-formed UTF-8 anywhere in a document; read it as
        // every other output is read, each ill-formed part one U+FFFD.
        if (error.error == QJsonParseError::IllegalUTF8String)
            document = QJsonDocument::fromJson(decodeUtf8(trimmed).toUtf8());
        if (document.isObject()) {
            handle(document.object());
            return;
        }
    }
    AgentEvent event;
    event.kind = AgentEvent::Kind::PlainText;
    event.text = removeEscapes(decodeUtf8(line));
    add(std::move(event));
}

void StreamParser::addText(QStringView text, bool startsBlock)
{
    if (startsBlock) {
        endText();
        m_blockPending = true;
    }
    AgentEvent event;
    event.kind = AgentEvent::Kind::Text;
    event.text = m_textCleaner.clean(withoutLoneSurrogates(text));
    m_inText = true;
    if (event.text.isEmpty())
        return;
    event.startsBlock = std::exchange(m_blockPending, false);
    m_events.append(std::move(event));
}

void StreamParser::add(AgentEvent event)
{
    endText();
    m_events.append(std::move(event));
}

void StreamParser::endText()
{
    if (std::exchange(m_inText, false))
        m_textCleaner.finish();
    m_blockPending = false;
}

void StreamParser::noteSessionId(const QJsonValue& id)
{
    const QString text = id.toString();
    if (text.isEmpty() || text == m_sessionId)
        return;
    m_sessionId = text;
    AgentEvent event;
    event.kind = AgentEvent::Kind::SessionId;
    event.text = cleaned(text);
    add(std::move(event));
}

void StreamParser::addToolCall(const QString& id, const QString& name, const QJsonObject& arguments)
{
    if (!id.isEmpty()) {
        if (m_toolNames.contains(id))
            return;
        m_toolNames.insert(id, name);
    }
    AgentEvent event;
    event.kind = AgentEvent::Kind::ToolCall;
    event.tool = firstLine(name);
    event.text = mainArgument(arguments);
    add(std::move(event));
}

void StreamParser::addToolFailure(const QString& id, const QString& name, QStringView reason)
{
    AgentEvent event;
    event.kind = AgentEvent::Kind::ToolFailed;
    event.tool = firstLine(m_toolNames.value(id, name));
    event.text = firstLine(reason);
    event.refused = saysRefused(event.text);
    add(std::move(event));
}

QString StreamParser::cleaned(QStringView text)
{
    return removeEscapes(withoutLoneSurrogates(text));
}

QString StreamParser::withoutLoneSurrogates(QStringView text)
{
    QString out = text.toString();
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out.at(i);
        if (c.isHighSurrogate() && i + 1 < out.size() && out.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

QString StreamParser::firstLine(QStringView text)
{
    return cutTail(splitFirstLine(cleaned(text)).first, maxReasonLength);
}

QString StreamParser::textOf(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isArray()) {
        QStringList parts;
        for (const QJsonValue& part : value.toArray()) {
            const QString text = part.isString() ? part.toString() : part["text"_L1].toString();
            if (!text.isEmpty())
                parts << text;
        }
        return parts.join(u'\n');
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        const QJsonValue message = object.value("message"_L1);
        return message.isString() ? message.toString() : object.value("text"_L1).toString();
    }
    return {};
}

QString StreamParser::mainArgument(const QJsonObject& arguments)
{
    for (const ArgumentKey& key : argumentKeys) {
        const QJsonValue value = arguments.value(key.name);
        QString text;
        if (value.isString()) {
            text = value.toString();
        } else if (value.isArray()) {
            QStringList parts;
            for (const QJsonValue& part : value.toArray())
                if (part.isString())
                    parts << part.toString();
            text = parts.join(u' ');
        }
        auto [line, more] = splitFirstLine(cleaned(text));
        if (line.isEmpty())
            continue;
        if (more)
            line += QStringView(u" \u2026"); // more lines follow
        return key.isPath ? cutHead(line, maxArgumentLength) : cutTail(line, maxArgumentLength);
    }
    return {};
}

bool StreamParser::saysRefused(QStringView reason)
{
    return reason.contains("permission"_L1, Qt::CaseInsensitive) ||
           reason.contains("denied"_L1, Qt::CaseInsensitive);
}

std::optional<qint64> StreamParser::integerOf(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // Far beyond any real count, and inside what a qint64 holds exactly.
    constexpr double limit = 1e15;
    return qint64(std::clamp(std::round(value.toDouble()), -limit, limit));
}

std::optional<double> StreamParser::numberOf(const QJsonValue& value)
{
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}
