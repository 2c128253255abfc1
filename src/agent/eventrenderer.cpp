#include "eventrenderer.h"

using namespace Qt::StringLiterals;

void EventRenderer::render(const AgentEvent& event, QList<StyledText>& out)
{
    using Kind = AgentEvent::Kind;
    switch (event.kind) {
    case Kind::SessionId:
        return;
    case Kind::Text:
        if (event.startsBlock && !m_atLineStart)
            append(u"\n"_s, TextRole::Normal, out);
        append(event.text, TextRole::Normal, out);
        return;
    case Kind::PlainText:
        if (!m_atLineStart)
            append(u"\n"_s, TextRole::Normal, out);
        append(event.text, TextRole::Normal, out);
        return;
    case Kind::ToolCall: {
        const QString name = event.tool.isEmpty() ? u"tool"_s : event.tool;
        appendLine(u"\u2192 "_s + name + (event.text.isEmpty() ? QString() : u' ' + event.text),
                   TextRole::Tool, out);
        return;
    }
    case Kind::ToolFailed: {
        // A refused write must not read like a written file.
        const QString name = event.tool.isEmpty() ? u"Tool"_s : event.tool;
        QString line = name + (event.refused ? u" refused"_s : u" failed"_s);
        if (!event.text.isEmpty())
            line += u": "_s + event.text;
        appendLine(line, TextRole::Error, out);
        return;
    }
    case Kind::Retry: {
        QString line = u"retrying"_s;
        if (event.attempt > 0 && event.maxAttempts > 0)
            line += u" (%1/%2)"_s.arg(event.attempt).arg(event.maxAttempts);
        else if (event.attempt > 0)
            line += u" (%1)"_s.arg(event.attempt);
        if (!event.text.isEmpty())
            line += u": "_s + event.text;
        appendLine(line, TextRole::Dim, out);
        return;
    }
    case Kind::Error:
        appendLine(event.text, TextRole::Error, out);
        return;
    case Kind::Notice:
        appendLine(event.text, TextRole::Dim, out);
        return;
    case Kind::Result: {
        const QString usage = describeUsage(event.usage);
        if (event.failed && (!event.text.isEmpty() || usage.isEmpty()))
            appendLine(event.text.isEmpty() ? u"failed"_s : event.text, TextRole::Error, out);
        appendLine(usage, TextRole::Dim, out);
        return;
    }
    }
}

void EventRenderer::noteAppended(QStringView text)
{
    if (!text.isEmpty())
        m_atLineStart = text.endsWith(u'\n');
}

void EventRenderer::append(QString text, TextRole role, QList<StyledText>& out)
{
    if (text.isEmpty())
        return;
    m_atLineStart = text.endsWith(u'\n');
    if (!out.isEmpty() && out.last().role == role)
        out.last().text += text;
    else
        out.append({std::move(text), role});
}

void EventRenderer::appendLine(const QString& text, TextRole role, QList<StyledText>& out)
{
    if (text.isEmpty())
        return;
    if (!m_atLineStart)
        append(u"\n"_s, TextRole::Normal, out);
    append(text.endsWith(u'\n') ? text : text + u'\n', role, out);
}
