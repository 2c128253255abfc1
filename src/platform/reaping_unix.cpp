#include "platform/reaping.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>

// There is no portable waitpid() with a time limit, so the exit is awaited by
// looking with WNOHANG between short pauses, each cut short by a cancel. A
// child normally exits right after its output ends, so the first pauses are
// tiny.

namespace {

constexpr std::chrono::microseconds firstExitPause{50};
constexpr std::chrono::microseconds longestExitPause{10'000};

} // namespace

bool GroupLeader::reapBefore(Clock::time_point deadline, int cancelFd)
{
    auto pause = firstExitPause;
    for (;;) {
        if (m_pid <= 0)
            return true;
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r < 0 && errno == EINTR)
            continue;
        if (r != 0) {
            // Reaped, or (ECHILD) not ours to wait for: never signal it again.
            m_status = r > 0 ? status : -1;
            m_pid = -1;
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        const auto wait = std::min<Clock::duration>(pause, deadline - now);
        pollfd entry{cancelFd, POLLIN, 0};
        if (::poll(&entry, 1, int(std::chrono::ceil<std::chrono::milliseconds>(wait).count())) > 0)
            return false;
        pause = std::min(pause * 2, longestExitPause);
    }
}

void GroupLeader::killGroupAndReap()
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    m_status = r > 0 ? status : -1;
    m_pid = -1;
}
