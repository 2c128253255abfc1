#pragma once

#include "agent/streamparser.h"

#include <QHash>
#include <QString>

// claude's stream-json output (`-p --output-format stream-json --verbose`,
// with or without `--include-partial-messages`).
//
// With partial messages, text and tool calls arrive twice: first in pieces
// (stream_event: content_block_start, then text_delta or input_json_delta
// pieces, then content_block_stop), then whole in an `assistant` message
// with the same message id, which may come before the block's stop. Each is
// shown once: text as its pieces come, a tool call at whichever of the two
// brings its arguments first.
class ClaudeStreamParser final : public StreamParser {
protected:
    void handle(const QJsonObject& object) override;

private:
    void handleStreamEvent(const QJsonObject& event);
    void handleAssistant(const QJsonObject& object);
    void handleUser(const QJsonObject& object);
    void handleResult(const QJsonObject& object);

    // The message whose text arrives in pieces, how much text its pieces
    // brought and how much of it its whole text blocks have covered since:
    // a whole block shows only what its pieces did not.
    QString m_streamedMessage;
    qsizetype m_streamedLength = 0;
    qsizetype m_coveredLength = 0;

    // The tool calls whose arguments arrive in pieces, by block index.
    struct StreamedCall {
        QString id;
        QString name;
        QString arguments; // JSON text, so far
    };
    QHash<qint64, StreamedCall> m_streamedCalls;

    // The last error shown, so that the result does not repeat it.
    QString m_lastError;
};
