#pragma once

#include <cstdint>

// The state of one runner's latest run. `done` carries the tool's exit code,
// `killed` the signal that ended it: the two are never confused, since an
// exit code may well be a signal's number. Code matches on the case; there
// is deliberately no equality or text form.
class RunState {
public:
    // Kept in the history by number: new cases go at the end.
    enum class Case { Done, Killed, Idle, Running, Stopped, Failed, Interrupted, Preparing };

    static constexpr RunState done(std::int32_t status) { return RunState(Case::Done, status); }
    static constexpr RunState killed(std::int32_t signal) { return RunState(Case::Killed, signal); }
    static constexpr RunState idle() { return RunState(Case::Idle); }
    static constexpr RunState running() { return RunState(Case::Running); }
    static constexpr RunState stopped() { return RunState(Case::Stopped); }
    static constexpr RunState failed() { return RunState(Case::Failed); }
    // The Brevane that ran it ended, or its window closed, before the turn did.
    static constexpr RunState interrupted() { return RunState(Case::Interrupted); }
    // Its worktree is being made (or set up) before the tool starts.
    static constexpr RunState preparing() { return RunState(Case::Preparing); }
    // From the case and number kept for it (in the history).
    static constexpr RunState fromParts(int kind, std::int32_t value)
    {
        return kind >= 0 && kind <= int(Case::Preparing) ? RunState(Case(kind), value)
                                                         : RunState(Case::Interrupted);
    }
    constexpr std::int32_t value() const { return m_status; }

    constexpr Case kind() const { return m_case; }
    constexpr bool isDone() const { return m_case == Case::Done; }
    constexpr bool isKilled() const { return m_case == Case::Killed; }
    // The tool ended by itself: with an exit status or killed by a signal.
    constexpr bool hasEnded() const { return isDone() || isKilled(); }
    constexpr bool isIdle() const { return m_case == Case::Idle; }
    constexpr bool isRunning() const { return m_case == Case::Running; }
    constexpr bool isStopped() const { return m_case == Case::Stopped; }
    constexpr bool isFailed() const { return m_case == Case::Failed; }
    constexpr bool isInterrupted() const { return m_case == Case::Interrupted; }
    constexpr bool isPreparing() const { return m_case == Case::Preparing; }
    // The turn has not reached one of its ends yet.
    constexpr bool isActive() const { return isRunning() || isPreparing(); }
    // The exit code carried by `done`; 0 for every other case.
    constexpr std::int32_t status() const { return isDone() ? m_status : 0; }
    // The signal carried by `killed`; 0 for every other case.
    constexpr std::int32_t signal() const { return isKilled() ? m_status : 0; }

private:
    constexpr explicit RunState(Case c, std::int32_t status = 0)
        : m_case(c)
        , m_status(status)
    {
    }

    Case m_case;
    std::int32_t m_status;
};
