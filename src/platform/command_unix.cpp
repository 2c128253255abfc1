#include "platform/command.h"

#include "platform/fd.h"
#include "platform/reaping.h"
#include "platform/spawn.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

// Writing standard input to a child that has exited (or closed it unread)
// raises SIGPIPE, whose default action would end Brevane. Where the system
// can turn that off for one descriptor (macOS) it is; elsewhere SIGPIPE is
// blocked on the calling thread while the child runs, and one it raised is
// taken off the thread's pending set before the mask comes back. A write
// then just fails with EPIPE, and the rest of the input is dropped.

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype readChunkSize = 64 * 1024;
constexpr qsizetype writeChunkSize = 64 * 1024;

class SigpipeBlocked {
public:
    SigpipeBlocked()
    {
#if !defined(F_SETNOSIGPIPE)
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
        m_wasPending = isPending();
#endif
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;
    ~SigpipeBlocked()
    {
#if !defined(F_SETNOSIGPIPE)
        if (!m_wasPending && isPending()) {
            const timespec zero{};
            while (::sigtimedwait(&m_pipe, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
#endif
    }

    static void disableOn([[maybe_unused]] int fd)
    {
#if defined(F_SETNOSIGPIPE)
        ::fcntl(fd, F_SETNOSIGPIPE, 1);
#endif
    }

private:
#if !defined(F_SETNOSIGPIPE)
    bool isPending() const
    {
        sigset_t pending;
        sigemptyset(&pending);
        return ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
    }

    sigset_t m_pipe;
    sigset_t m_old;
    bool m_wasPending = false;
#endif
};

int pollTimeout(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// The name part of "NAME=value", or all of a bare "NAME".
QByteArrayView variableName(const QByteArray& entry)
{
    const qsizetype equals = entry.indexOf('=');
    return QByteArrayView(entry).first(equals < 0 ? entry.size() : equals);
}

// Feeds the input and reads both outputs until all three are done, the
// deadline passes or the cancel is raised.
void exchange(const CommandRequest& request, UniqueFd& input, UniqueFd& output, UniqueFd& error,
              CommandResult& result, Clock::time_point deadline, int cancelFd)
{
    QByteArray buffer(readChunkSize, Qt::Uninitialized);
    qsizetype written = 0;
    auto drain = [&](UniqueFd& fd, QByteArray& into) {
        const long n =
            readRetrying(fd.get(), buffer.data(), static_cast<unsigned long>(buffer.size()));
        if (n > 0)
            into.append(buffer.constData(), n);
        else
            fd.reset();
    };
    while (input.valid() || output.valid() || error.valid()) {
        pollfd entries[4] = {{cancelFd, POLLIN, 0},
                             {input.get(), POLLOUT, 0},
                             {output.get(), POLLIN, 0},
                             {error.get(), POLLIN, 0}};
        const int ready = ::poll(entries, 4, pollTimeout(deadline));
        if (ready < 0 && errno != EINTR) {
            result.error = errno;
            result.timedOut = true;
            return;
        }
        if (entries[0].revents) {
            result.cancelled = true;
            return;
        }
        if (ready <= 0) {
            if (Clock::now() >= deadline) {
                result.timedOut = true;
                return;
            }
            continue;
        }
        if (entries[1].revents) {
            const qsizetype size = std::min(writeChunkSize, request.input.size() - written);
            const ssize_t n =
                ::write(input.get(), request.input.constData() + written, size_t(size));
            if (n > 0)
                written += n;
            // EPIPE: the child will read no more, so the rest is dropped.
            if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == request.input.size())
                input.reset();
        }
        if (entries[2].revents)
            drain(output, result.output);
        if (entries[3].revents)
            drain(error, result.errorOutput);
    }
}

} // namespace

QList<QByteArray> changedEnvironment(const QList<QByteArray>& base,
                                     const QList<QByteArray>& changes)
{
    QList<QByteArray> environment = base;
    for (const QByteArray& change : changes) {
        const QByteArrayView name = variableName(change);
        environment.removeIf([&](const QByteArray& entry) { return variableName(entry) == name; });
        if (change.size() > name.size())
            environment.push_back(change);
    }
    return environment;
}

CommandResult runCommand(const CommandRequest& request, std::chrono::milliseconds timeout,
                         const WakeUpFd* cancel)
{
    CommandResult result;
    const int cancelFd = cancel ? cancel->fd() : -1;
    const Clock::time_point deadline = Clock::now() + timeout;

    PipeFds input, output, error;
    const bool hasInput = !request.input.isEmpty();
    if ((hasInput && !makePipe(input)) || (request.outputFd < 0 && !makePipe(output)) ||
        !makePipe(error)) {
        result.error = errno;
        return result;
    }
    SpawnRequest spawn;
    spawn.program = request.program;
    spawn.arguments = request.arguments;
    if (!request.environment.isEmpty())
        spawn.environment = changedEnvironment(currentEnvironment(), request.environment);
    spawn.workingDirectory = request.folder;
    spawn.stdinFd = input.read.get(); // none: the null device
    spawn.stdoutFd = request.outputFd >= 0 ? request.outputFd : output.write.get();
    spawn.stderrFd = error.write.get();
    const SpawnResult spawned = spawnProcess(spawn);
    // Our copies of the child's ends must go now, or end of file never comes.
    input.read.reset();
    output.write.reset();
    error.write.reset();
    if (!spawned.ok()) {
        result.error = spawned.error;
        return result;
    }
    result.started = true;
    GroupLeader child(spawned.pid);

    SigpipeBlocked sigpipe;
    if (input.write.valid()) {
        ::fcntl(input.write.get(), F_SETFL, O_NONBLOCK);
        SigpipeBlocked::disableOn(input.write.get());
    }
    exchange(request, input.write, output.read, error.read, result, deadline, cancelFd);
    input.write.reset();
    if (!result.timedOut && !result.cancelled && !child.reapBefore(deadline, cancelFd)) {
        if (cancel && cancel->raised())
            result.cancelled = true;
        else
            result.timedOut = true;
    }
    child.killGroupAndReap();

    const int status = child.waitStatus();
    if (status != -1 && WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (status != -1 && WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}
