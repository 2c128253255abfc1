#pragma once

#include "agent/streamparser.h"

// gemini's stream-json output (`-p TASK --output-format stream-json`): init,
// messages (the assistant's text in pieces marked "delta"), tool_use and
// tool_result paired by tool_id, errors, and a result with `stats`.
class GeminiStreamParser final : public StreamParser {
protected:
    void handle(const QJsonObject& object) override;
};
