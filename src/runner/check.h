#pragma once

#include <QString>

// How the user's check command ended in an agent's worktree. A check is
// not a turn: it runs after one, and says whether the agent's work passes.
struct CheckResult {
    // Kept in the history by number: new outcomes go at the end. Running
    // is never kept.
    enum class Outcome { Running, Passed, Failed, Killed, TimedOut, Stopped, NotStarted };

    Outcome outcome = Outcome::Running;
    int exitCode = 0; // Failed
    int signal = 0;   // Killed
    QString error;    // NotStarted: why

    bool running() const { return outcome == Outcome::Running; }
    friend bool operator==(const CheckResult&, const CheckResult&) = default;
};
