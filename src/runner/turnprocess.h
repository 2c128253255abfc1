#pragma once

#include "agent/streamparser.h"
#include "agent/usage.h"
#include "platform/childprocess.h"
#include "transcript/transcriptdocument.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class ProcessOwner;

// Turns what a tool writes on one stream into text with the roles it is
// shown in. Runs on the reader thread, fed the stream cut anywhere; its
// state is its own. Marks of the text it gives are TextRole values.
class OutputReader {
public:
    virtual ~OutputReader() = default;
    virtual ChildProcess::Text read(QByteArrayView bytes) = 0;
    // End of stream: what it still holds.
    virtual ChildProcess::Text finish() = 0;
};

// One process of one turn of an agent: the tool started through the user's
// login shell, every argument (the prompt included) an argv element of its
// own after a fixed script, so the shell parses nothing of them. What it
// writes is decoded and cleaned on the reader thread and reaches the
// handlers on the GUI thread, with the role it is shown in; nothing does
// once the output is closed, by stop(), closeOutput() or destroying this.
// Destroying it signals nobody.
class TurnProcess {
public:
    struct Launch {
        QByteArray toolPath;
        QList<QByteArray> arguments; // the tool's own
        // Instead of the tool: a command of the user's own, which the
        // login shell runs as written (no tool, no arguments).
        QByteArray userCommand;
        QByteArray prompt; // also in the environment, as BV_TASK
        QByteArray folder; // empty: Brevane's own
        // Standard output read apart from standard error (shown dim) by a
        // reader this makes; none: both on one pipe, shown as text.
        std::function<std::unique_ptr<OutputReader>()> makeOutputReader;
        // Whether the bytes go to Handlers::raw too: a run whose output is
        // shown as printed keeps no second copy of it.
        bool keepRaw = false;
    };

    struct Handlers {
        std::function<void(const QString& text, TextRole role)> output;
        // The bytes as the tool wrote them, before the text made of them.
        std::function<void(const QByteArray& bytes, bool standardError)> raw;
        // What a turn cost, each time the tool reports it (after the text
        // that came with it).
        std::function<void(const Usage& usage)> usage;
        // How the tool ended, and whether a process it started still holds
        // its output open; then, if so, outputEnded() once that ends too.
        std::function<void(ChildExit exit, bool outputOpen)> ended;
        std::function<void()> outputEnded;
    };

    // A reader of a tool's JSON lines in `format`: what the agent does, as a
    // person reads it, in roles.
    static std::function<std::unique_ptr<OutputReader>()>
    structuredReader(StreamParser::Format format);

    // On failure returns null, sets *error to a readable reason, and nothing runs.
    static std::unique_ptr<TurnProcess> start(ProcessOwner& owner, const Launch& launch,
                                              Handlers handlers, QString* error);

    // SIGTERM to the tool's process group, SIGKILL after the grace period,
    // and nothing more is read.
    void stop() { m_process->terminate(); }
    // Nothing more is read; a job still writing gets SIGPIPE.
    void closeOutput() { m_process->closeOutput(); }
    // After stop(), while the grace period runs: SIGKILL to the group now.
    void killNowIfTerminating() { m_process->killNowIfTerminating(); }
    bool terminating() const { return m_process->terminating(); }

private:
    explicit TurnProcess(std::shared_ptr<ChildProcess> process)
        : m_process(std::move(process))
    {
    }

    std::shared_ptr<ChildProcess> m_process;
};
