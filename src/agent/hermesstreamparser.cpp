#include "hermesstreamparser.h"

using namespace Qt::StringLiterals;

void HermesStreamParser::handle(const QJsonObject& object)
{
    const QString type = object.value("type"_L1).toString();
    if (type == "system"_L1) {
        if (object.value("subtype"_L1).toString() == "init"_L1)
            noteSessionId(object.value("session_id"_L1));
    } else if (type == "text"_L1) {
        addText(object.value("text"_L1).toString(), false);
    } else if (type == "tool_use"_L1) {
        addToolCall(object.value("tool_call_id"_L1).toString(), object.value("name"_L1).toString(),
                    object.value("input"_L1).toObject());
    } else if (type == "tool_result"_L1) {
        if (object.value("is_error"_L1).toBool()) {
            QString reason = textOf(object.value("error"_L1));
            if (reason.isEmpty())
                reason = textOf(object.value("output"_L1));
            addToolFailure(object.value("tool_call_id"_L1).toString(),
                           object.value("name"_L1).toString(), reason);
        }
    } else if (type == "result"_L1) {
        noteSessionId(object.value("session_id"_L1));
        AgentEvent event;
        event.kind = AgentEvent::Kind::Result;
        const QJsonObject tokens = object.value("tokens"_L1).toObject();
        // As with claude, tokens read from or written to the cache are input too.
        for (auto key : {"input"_L1, "cache_read"_L1, "cache_write"_L1})
            if (const auto n = integerOf(tokens.value(key)))
                event.usage.inputTokens = event.usage.inputTokens.value_or(0) + *n;
        event.usage.outputTokens = integerOf(tokens.value("output"_L1));
        event.usage.durationMs = integerOf(object.value("duration_ms"_L1));
        const QString error = textOf(object.value("error"_L1));
        const qint64 exitCode = integerOf(object.value("exit_code"_L1)).value_or(0);
        event.failed = !error.isEmpty() || exitCode != 0;
        if (event.failed)
            event.text = cleaned(error.isEmpty() ? u"exit code %1"_s.arg(exitCode) : error);
        add(std::move(event));
    }
}
