#pragma once

#include <chrono>
#include <sys/types.h>

// A child that leads its own process group, killed with its group and
// reaped if still unreaped when this goes. It is reaped by its exact pid
// only, and the group is signalled only while that pid is unreaped, so the
// group id cannot have been reused.
class GroupLeader {
public:
    using Clock = std::chrono::steady_clock;

    explicit GroupLeader(pid_t pid)
        : m_pid(pid)
    {
    }
    GroupLeader(const GroupLeader&) = delete;
    GroupLeader& operator=(const GroupLeader&) = delete;
    ~GroupLeader() { killGroupAndReap(); }

    // True once the child is reaped; false if `deadline` or a cancel (the
    // descriptor turning readable; -1 for none) came first.
    bool reapBefore(Clock::time_point deadline, int cancelFd);
    // SIGKILL to the whole group, then reaps; nothing once reaped.
    void killGroupAndReap();

    // The wait status of the reaped child (see waitpid); -1 until reaped,
    // and when it was not ours to wait for.
    int waitStatus() const { return m_status; }

private:
    pid_t m_pid;
    int m_status = -1;
};
