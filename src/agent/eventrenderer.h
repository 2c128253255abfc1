#pragma once

#include "agent/agentevent.h"
#include "transcript/transcriptdocument.h"

#include <QList>
#include <QString>
#include <QStringView>

// A stretch of text and the role it is shown in.
struct StyledText {
    QString text;
    TextRole role = TextRole::Normal;

    friend bool operator==(const StyledText&, const StyledText&) = default;
};

// Turns agent events into the text a person reads, with roles: the answer as
// it streams, then a line for each tool call, failure, retry and the end of
// the turn. Every line but the answer's starts on a line of its own, so the
// renderer remembers whether the text so far ends with a line break; it holds
// nothing else and may run on any thread.
class EventRenderer {
public:
    // Appends to `out` what `event` shows as (nothing for a session id).
    // Neighbouring stretches of one role are joined.
    void render(const AgentEvent& event, QList<StyledText>& out);
    QList<StyledText> render(const AgentEvent& event)
    {
        QList<StyledText> out;
        render(event, out);
        return out;
    }

    // Whether the text rendered so far ends with a line break (or is empty).
    bool atLineStart() const { return m_atLineStart; }
    // Other text went into the same transcript since (standard error, a
    // prompt line): a line that follows must know whether to break first.
    void noteAppended(QStringView text);

private:
    void append(QString text, TextRole role, QList<StyledText>& out);
    // `text` on lines of its own.
    void appendLine(const QString& text, TextRole role, QList<StyledText>& out);

    bool m_atLineStart = true;
};
