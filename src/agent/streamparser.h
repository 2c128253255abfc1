#pragma once

#include "agent/agentevent.h"
#include "text/escapes.h"
#include "text/linesplitter.h"

#include <QByteArrayView>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

// Reads what an agent tool writes on standard output in its JSON-lines mode:
// bytes cut anywhere in, events out, the same events however the bytes are
// cut. Each line is read on its own. A line that is not a JSON object is
// passed on as plain text; an object of a type the tool's parser does not
// know gives nothing (the raw output keeps it). A parser is made per stream
// and touches nothing but itself, so it runs on whichever thread reads.
class StreamParser {
public:
    enum class Format : quint8 { Claude, Gemini, Hermes };
    static std::unique_ptr<StreamParser> create(Format format);

    virtual ~StreamParser() = default;

    // The events of the lines `chunk` completes.
    QList<AgentEvent> feed(QByteArrayView chunk);
    // End of stream: the events of a last line without '\n'.
    QList<AgentEvent> finish();

protected:
    StreamParser() = default;
    StreamParser(const StreamParser&) = delete;
    StreamParser& operator=(const StreamParser&) = delete;

    // Reads one JSON object of the stream, adding what it reports.
    virtual void handle(const QJsonObject& object) = 0;

    // A piece of streamed assistant text, cleaned here: an escape sequence cut
    // between two pieces goes as a whole. Empty pieces add nothing, though a
    // block they start starts with the next piece.
    void addText(QStringView text, bool startsBlock);
    // Any other event; it ends the running text, so an escape sequence left
    // open at its end goes.
    void add(AgentEvent event);
    // Adds a SessionId event when `id` is a string other than the last one.
    void noteSessionId(const QJsonValue& id);
    // Adds a ToolCall event, unless one with the same non-empty `id` was added.
    void addToolCall(const QString& id, const QString& name, const QJsonObject& arguments);
    bool hasToolCall(const QString& id) const { return m_toolNames.contains(id); }
    // Adds a ToolFailed event for the call `id` (named `name` when the call
    // is unknown), with the first line of `reason`.
    void addToolFailure(const QString& id, const QString& name, QStringView reason);

    // What a JSON string holds, as shown: lone surrogates become U+FFFD (as
    // ill-formed UTF-8 does elsewhere) and escape sequences go.
    static QString cleaned(QStringView text);
    static QString withoutLoneSurrogates(QStringView text);
    // The first line of `text` with something on it, without surrounding
    // blanks, cleaned and cut short.
    static QString firstLine(QStringView text);
    // The text a JSON value holds: a string, the texts of an array of text
    // blocks joined, or the "message" or "text" of an object.
    static QString textOf(const QJsonValue& value);
    // What a person needs to know of a tool call's arguments: the first of a
    // path, command, pattern, URL or query found among them, on one line and
    // cut short (a path loses its head, anything else its tail).
    static QString mainArgument(const QJsonObject& arguments);
    // Whether the reason a tool call failed says it was not allowed.
    static bool saysRefused(QStringView reason);
    // A number as a count, or nothing when it is not a number.
    static std::optional<qint64> integerOf(const QJsonValue& value);
    static std::optional<double> numberOf(const QJsonValue& value);

private:
    void handleLine(QByteArrayView line);
    void endText();

    LineSplitter m_lines;
    EscapeCleaner m_textCleaner;
    bool m_inText = false;
    bool m_blockPending = false;
    QString m_sessionId;
    // The name of each call added, by its id.
    QHash<QString, QString> m_toolNames;
    QList<AgentEvent> m_events;
};
