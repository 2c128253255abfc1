#pragma once

#include "agent/usage.h"
#include "catalog/runstate.h"
#include "catalog/toolspec.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

// One process of one tool in a session: what it was asked, how it stands,
// when it ran, what it cost, and where its text lies in the agent's
// transcript.
struct Turn {
    using Clock = std::chrono::steady_clock;

    QString prompt;
    RunState state = RunState::running();
    // The executable started; the tool's path when it was not.
    std::optional<QByteArray> ranPath;
    Clock::time_point startedAt;
    // Unset while it runs; equal to startedAt for a launch that failed.
    std::optional<Clock::time_point> endedAt;
    // The same, by the calendar, as the history keeps them.
    QDateTime startedWall;
    std::optional<QDateTime> endedWall;
    Usage usage;
    // The tool's conversation it started or continued; no id for a tool
    // that cannot continue one.
    Conversation conversation;
    // A follow-up that could not go on with the agent's conversation and
    // began a new one; its prompt line says so.
    bool newConversation = false;
    // The tool wrote something, on either stream.
    bool wroteAnything = false;
    // Where its prompt line starts in the transcript, and where what the
    // tool did starts, after it, and ends: -1 for the end of the transcript
    // while it is the latest turn.
    qsizetype start = 0;
    qsizetype outputStart = 0;
    qsizetype outputEnd = -1;
};
