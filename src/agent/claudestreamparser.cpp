#include "claudestreamparser.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

// The tags claude puts around the reason a tool call failed.
QStringView withoutErrorTags(QStringView reason)
{
    const auto open = "<tool_use_error>"_L1;
    const auto close = "</tool_use_error>"_L1;
    const QStringView trimmed = reason.trimmed();
    if (trimmed.startsWith(open) && trimmed.endsWith(close))
        return trimmed.sliced(open.size(), trimmed.size() - open.size() - close.size());
    return reason;
}

} // namespace

void ClaudeStreamParser::handle(const QJsonObject& object)
{
    const QString type = object.value("type"_L1).toString();
    if (type == "stream_event"_L1) {
        handleStreamEvent(object.value("event"_L1).toObject());
    } else if (type == "assistant"_L1) {
        handleAssistant(object);
    } else if (type == "user"_L1) {
        handleUser(object);
    } else if (type == "result"_L1) {
        handleResult(object);
    } else if (type == "system"_L1) {
        const QString subtype = object.value("subtype"_L1).toString();
        if (subtype == "init"_L1) {
            noteSessionId(object.value("session_id"_L1));
        } else if (subtype == "api_retry"_L1) {
            AgentEvent event;
            event.kind = AgentEvent::Kind::Retry;
            event.attempt = int(integerOf(object.value("attempt"_L1)).value_or(0));
            event.maxAttempts = int(integerOf(object.value("max_retries"_L1)).value_or(0));
            event.text = firstLine(textOf(object.value("error"_L1)));
            if (const auto status = integerOf(object.value("error_status"_L1)))
                event.text += (event.text.isEmpty() ? u"status %1"_s : u" (%1)"_s).arg(*status);
            add(std::move(event));
        }
    }
}

void ClaudeStreamParser::handleStreamEvent(const QJsonObject& event)
{
    const QString type = event.value("type"_L1).toString();
    const qint64 index = integerOf(event.value("index"_L1)).value_or(-1);
    if (type == "message_start"_L1) {
        m_streamedMessage = event.value("message"_L1)["id"_L1].toString();
        m_streamedLength = m_coveredLength = 0;
        m_streamedCalls.clear();
    } else if (type == "content_block_start"_L1) {
        const QJsonObject block = event.value("content_block"_L1).toObject();
        const QString blockType = block.value("type"_L1).toString();
        if (blockType == "text"_L1) {
            const QString text = block.value("text"_L1).toString();
            m_streamedLength += text.size();
            addText(text, true);
        } else if (blockType == "tool_use"_L1) {
            m_streamedCalls.insert(index, {block.value("id"_L1).toString(),
                                           block.value("name"_L1).toString(), QString()});
        }
    } else if (type == "content_block_delta"_L1) {
        const QJsonObject delta = event.value("delta"_L1).toObject();
        const QString deltaType = delta.value("type"_L1).toString();
        if (deltaType == "text_delta"_L1) {
            const QString text = delta.value("text"_L1).toString();
            m_streamedLength += text.size();
            addText(text, false);
        } else if (deltaType == "input_json_delta"_L1) {
            const auto call = m_streamedCalls.find(index);
            if (call != m_streamedCalls.end())
                call->arguments += delta.value("partial_json"_L1).toString();
        }
    } else if (type == "content_block_stop"_L1) {
        const StreamedCall call = m_streamedCalls.take(index);
        if (!call.name.isEmpty() && !hasToolCall(call.id))
            addToolCall(call.id, call.name,
                        QJsonDocument::fromJson(call.arguments.toUtf8()).object());
    }
}

void ClaudeStreamParser::handleAssistant(const QJsonObject& object)
{
    const QJsonObject message = object.value("message"_L1).toObject();
    const bool streamed =
        !m_streamedMessage.isEmpty() && message.value("id"_L1).toString() == m_streamedMessage;
    // A message claude made up itself to say why it could not go on.
    const bool error = !object.value("error"_L1).toString().isEmpty();
    for (const QJsonValue& value : message.value("content"_L1).toArray()) {
        const QJsonObject block = value.toObject();
        const QString type = block.value("type"_L1).toString();
        if (type == "tool_use"_L1) {
            addToolCall(block.value("id"_L1).toString(), block.value("name"_L1).toString(),
                        block.value("input"_L1).toObject());
        } else if (type == "text"_L1) {
            const QString text = block.value("text"_L1).toString();
            if (error) {
                AgentEvent event;
                event.kind = AgentEvent::Kind::Error;
                event.text = cleaned(text);
                m_lastError = event.text;
                add(std::move(event));
            } else if (!streamed) {
                addText(text, true);
            } else {
                const qsizetype seen = m_streamedLength - m_coveredLength;
                m_coveredLength += text.size();
                m_streamedLength = std::max(m_streamedLength, m_coveredLength);
                if (seen <= 0)
                    addText(text, true);
                else if (seen < text.size())
                    addText(QStringView(text).sliced(seen), false);
            }
        }
    }
}

void ClaudeStreamParser::handleUser(const QJsonObject& object)
{
    for (const QJsonValue& value : object.value("message"_L1)["content"_L1].toArray()) {
        const QJsonObject block = value.toObject();
        if (block.value("type"_L1).toString() == "tool_result"_L1 &&
            block.value("is_error"_L1).toBool())
            addToolFailure(block.value("tool_use_id"_L1).toString(), QString(),
                           withoutErrorTags(textOf(block.value("content"_L1))));
    }
}

void ClaudeStreamParser::handleResult(const QJsonObject& object)
{
    noteSessionId(object.value("session_id"_L1));
    AgentEvent event;
    event.kind = AgentEvent::Kind::Result;
    Usage& usage = event.usage;
    usage.turns = integerOf(object.value("num_turns"_L1));
    usage.costUsd = numberOf(object.value("total_cost_usd"_L1));
    usage.durationMs = integerOf(object.value("duration_ms"_L1));
    const QJsonObject tokens = object.value("usage"_L1).toObject();
    // Input read from the cache is input too: without it a long session
    // looks almost free.
    for (auto key :
         {"input_tokens"_L1, "cache_creation_input_tokens"_L1, "cache_read_input_tokens"_L1})
        if (const auto n = integerOf(tokens.value(key)))
            usage.inputTokens = usage.inputTokens.value_or(0) + *n;
    usage.outputTokens = integerOf(tokens.value("output_tokens"_L1));

    // An error result may still say "subtype":"success": is_error decides.
    const QString subtype = object.value("subtype"_L1).toString();
    event.failed = object.value("is_error"_L1).toBool() || subtype.startsWith("error"_L1);
    if (event.failed) {
        QString message = textOf(object.value("result"_L1));
        if (message.isEmpty())
            message = textOf(object.value("errors"_L1));
        if (message.isEmpty())
            message = subtype;
        event.text = cleaned(message);
        if (event.text == m_lastError)
            event.text.clear();
    }
    add(std::move(event));
}
