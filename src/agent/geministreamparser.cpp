#include "geministreamparser.h"

using namespace Qt::StringLiterals;

void GeminiStreamParser::handle(const QJsonObject& object)
{
    const QString type = object.value("type"_L1).toString();
    if (type == "init"_L1) {
        noteSessionId(object.value("session_id"_L1));
    } else if (type == "message"_L1) {
        // The user's message is the prompt, which the transcript already shows.
        if (object.value("role"_L1).toString() == "assistant"_L1)
            addText(object.value("content"_L1).toString(), !object.value("delta"_L1).toBool());
    } else if (type == "tool_use"_L1) {
        addToolCall(object.value("tool_id"_L1).toString(), object.value("tool_name"_L1).toString(),
                    object.value("parameters"_L1).toObject());
    } else if (type == "tool_result"_L1) {
        const QJsonValue error = object.value("error"_L1);
        if (object.value("status"_L1).toString() == "error"_L1 || error.isObject()) {
            // Without a message, the error's type is the reason.
            QString reason = textOf(error);
            if (reason.isEmpty())
                reason = textOf(object.value("output"_L1));
            addToolFailure(object.value("tool_id"_L1).toString(), QString(),
                           reason.isEmpty() ? error["type"_L1].toString() : reason);
        }
    } else if (type == "error"_L1) {
        AgentEvent event;
        event.kind = object.value("severity"_L1).toString() == "warning"_L1
                         ? AgentEvent::Kind::Notice
                         : AgentEvent::Kind::Error;
        event.text = cleaned(textOf(object.value("message"_L1)));
        if (!event.text.isEmpty())
            add(std::move(event));
    } else if (type == "result"_L1) {
        AgentEvent event;
        event.kind = AgentEvent::Kind::Result;
        const QJsonObject stats = object.value("stats"_L1).toObject();
        event.usage.inputTokens = integerOf(stats.value("input_tokens"_L1));
        event.usage.outputTokens = integerOf(stats.value("output_tokens"_L1));
        event.usage.durationMs = integerOf(stats.value("duration_ms"_L1));
        const QJsonValue error = object.value("error"_L1);
        event.failed = object.value("status"_L1).toString() == "error"_L1 || error.isObject();
        if (event.failed)
            event.text = cleaned(textOf(error));
        add(std::move(event));
    }
}
