#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What a turn cost, as far as the tool reports it: each figure is absent when
// the tool does not give it. Summing keeps a figure absent only when it is
// absent on both sides, so the totals of a session add up what was reported.
struct Usage {
    std::optional<qint64> turns;
    // Every token the model read: for claude the cached ones included.
    std::optional<qint64> inputTokens;
    std::optional<qint64> outputTokens;
    std::optional<double> costUsd;
    std::optional<qint64> durationMs;

    bool isEmpty() const
    {
        return !turns && !inputTokens && !outputTokens && !costUsd && !durationMs;
    }
    Usage& operator+=(const Usage& other);
    friend Usage operator+(Usage a, const Usage& b) { return a += b; }
    friend bool operator==(const Usage&, const Usage&) = default;
};

// One compact line of what is present, e.g.
// "2 turns · 1,234 in / 56 out tokens · $0.0123 · 4.2 s"; empty when nothing is.
QString describeUsage(const Usage& usage);
