#pragma once

#include <cstdint>

// The state of one runner's latest run. Only `done` carries a value: the
// child's termination status (its exit code, or the signal that ended it).
// Code matches on the case; there is deliberately no equality or text form.
class RunState {
public:
    enum class Case { Done, Idle, Running, Stopped, Failed };

    static constexpr RunState done(std::int32_t status) { return RunState(Case::Done, status); }
    static constexpr RunState idle() { return RunState(Case::Idle); }
    static constexpr RunState running() { return RunState(Case::Running); }
    static constexpr RunState stopped() { return RunState(Case::Stopped); }
    static constexpr RunState failed() { return RunState(Case::Failed); }

    constexpr Case kind() const { return m_case; }
    constexpr bool isDone() const { return m_case == Case::Done; }
    constexpr bool isIdle() const { return m_case == Case::Idle; }
    constexpr bool isRunning() const { return m_case == Case::Running; }
    constexpr bool isStopped() const { return m_case == Case::Stopped; }
    constexpr bool isFailed() const { return m_case == Case::Failed; }
    // The status carried by `done`; 0 for every other case.
    constexpr std::int32_t status() const { return m_status; }

private:
    constexpr explicit RunState(Case c, std::int32_t status = 0)
        : m_case(c)
        , m_status(status)
    {
    }

    Case m_case;
    std::int32_t m_status;
};
