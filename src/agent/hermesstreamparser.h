#pragma once

#include "agent/streamparser.h"

// hermes's stream-json output (`chat -q TASK --format stream-json`):
// system/init, text pieces, tool_use and tool_result paired by tool_call_id,
// and a result with its tokens and exit code.
class HermesStreamParser final : public StreamParser {
protected:
    void handle(const QJsonObject& object) override;
};
