#pragma once

#include "agent/usage.h"

#include <QString>

// One thing an agent tool reported on its structured output, as a person
// reads it. Every text in it is already cleaned of escape sequences.
struct AgentEvent {
    enum class Kind : quint8 {
        // The tool's own id of the conversation (in `text`); again only when it changes.
        SessionId,
        // A piece of the assistant's answer as it streams. `startsBlock` marks
        // the first piece of a new block of text, which starts on a new line.
        Text,
        // A line of standard output that is not a JSON object, as it came
        // ('\n' included, but for a last line without one).
        PlainText,
        // The assistant called `tool` with `text` as its main argument (a path,
        // a command, a pattern, a URL; one line, already cut short; may be empty).
        ToolCall,
        // A call of `tool` failed, with the first line of the reason in `text`;
        // `refused` when it failed for want of permission.
        ToolFailed,
        // The tool retries its request: `attempt` of `maxAttempts` (0: not
        // given), for the reason in `text`.
        Retry,
        // Something went wrong outside a tool call; the message in `text`.
        Error,
        // A warning or notice of the tool itself, in `text`.
        Notice,
        // The turn ended: what it cost in `usage`; `failed` with the message in
        // `text` (empty when the same message was just shown as an Error).
        Result,
    };

    Kind kind = Kind::Text;
    QString text;
    QString tool;
    Usage usage;
    int attempt = 0;
    int maxAttempts = 0;
    bool startsBlock = false;
    bool refused = false;
    bool failed = false;

    friend bool operator==(const AgentEvent&, const AgentEvent&) = default;
};
