#include "platform/capture.h"

#include "platform/fd.h"
#include "platform/spawn.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <thread>

// Process discipline, as for ChildProcess: the child leads its own group, so
// one SIGKILL also reaches what it started (a background job holding the
// pipe). It is reaped by its exact pid only, and the group is signalled only
// while that pid is unreaped, so the group id cannot have been reused.
//
// There is no portable waitpid() with a time limit, so the exit is awaited by
// looking with WNOHANG between short pauses. The child normally exits right
// after its output ends, so the first pauses are tiny.

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype readChunkSize = 16 * 1024;
constexpr std::chrono::microseconds firstExitPause{50};
constexpr std::chrono::microseconds longestExitPause{10'000};

// The child, killed with its group and reaped if still unreaped when this goes.
class Child {
public:
    explicit Child(pid_t pid)
        : m_pid(pid)
    {
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { killGroupAndReap(); }

    // True once the child is reaped; false if `deadline` came first.
    bool reapBefore(Clock::time_point deadline)
    {
        auto pause = firstExitPause;
        for (;;) {
            const pid_t r = ::waitpid(m_pid, nullptr, WNOHANG);
            if (r < 0 && errno == EINTR)
                continue;
            if (r != 0) {
                // Reaped, or (ECHILD) not ours to wait for: never signal it again.
                m_pid = -1;
                return true;
            }
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, longestExitPause);
        }
    }

    void killGroupAndReap()
    {
        if (m_pid <= 0)
            return;
        ::kill(-m_pid, SIGKILL);
        pid_t r;
        do {
            r = ::waitpid(m_pid, nullptr, 0);
        } while (r < 0 && errno == EINTR);
        m_pid = -1;
    }

private:
    pid_t m_pid;
};

// Milliseconds left until `deadline` for poll(), rounded up so that an
// early wake-up does not turn into a busy loop.
int pollTimeout(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Appends what `fd` yields to `out` until end of file (true) or until the
// deadline passes or reading fails (false).
bool readToEnd(int fd, Clock::time_point deadline, QByteArray& out)
{
    QByteArray buffer(readChunkSize, Qt::Uninitialized);
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, pollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (ready == 0) {
            if (Clock::now() >= deadline)
                return false;
            continue;
        }
        const long n = readRetrying(fd, buffer.data(), static_cast<unsigned long>(buffer.size()));
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        out.append(buffer.constData(), n);
    }
}

} // namespace

CaptureResult captureOutput(const QByteArray& program, const QList<QByteArray>& arguments,
                            std::chrono::milliseconds timeout)
{
    CaptureResult result;
    const Clock::time_point deadline = Clock::now() + timeout;

    PipeFds pipe;
    if (!makePipe(pipe))
        return result;
    // Standard input and standard error each get a null device of their own.
    UniqueFd nullInput = openNullDevice();
    UniqueFd nullError = openNullDevice();
    if (!nullInput.valid() || !nullError.valid())
        return result;

    SpawnRequest request;
    request.program = program;
    request.arguments = arguments;
    request.stdinFd = nullInput.get();
    request.stdoutFd = pipe.write.get();
    request.stderrFd = nullError.get();
    request.newProcessGroup = true;
    const SpawnResult spawned = spawnProcess(request);
    // Our copy of the write end must go now, or end of file never comes.
    pipe.write.reset();
    nullInput.reset();
    nullError.reset();
    if (!spawned.ok())
        return result;
    result.started = true;

    Child child(spawned.pid);
    if (!readToEnd(pipe.read.get(), deadline, result.output) || !child.reapBefore(deadline)) {
        result.timedOut = true;
        child.killGroupAndReap();
    }
    return result;
}
