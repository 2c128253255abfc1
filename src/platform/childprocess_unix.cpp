#include "platform/childprocess_p.h"

#include "platform/fd.h"
#include "platform/mainthread.h"
#include "platform/spawn.h"

#include <QThread>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <thread>

// Process discipline:
// - The child leads its own process group, so terminate() reaches whatever
//   the tool started as well.
// - Only the end watcher reaps, and only this pid (no waitpid(-1), no SIGCHLD
//   handler). It first waits with WNOWAIT, so the pid stays a zombie, and thus
//   ours, until it is reaped under the mutex that every kill() takes.
// - After terminate(), reaping waits until the group has had its SIGKILL: the
//   zombie leader keeps the group id from being reused by someone else.

namespace {

constexpr qsizetype readChunkSize = 64 * 1024;
// Characters of output handed to the GUI thread in one turn of its event loop.
constexpr qsizetype maxDeliveredPerTurn = 256 * 1024;

void reapLocked(ChildProcessShared& s)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(s.pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    s.isReaped = true;
    s.reaped.notify_all();
}

void readerLoop(std::shared_ptr<ChildProcessShared> s, UniqueFd fd)
{
    QByteArray buffer(readChunkSize, Qt::Uninitialized);
    for (;;) {
        const long n =
            readRetrying(fd.get(), buffer.data(), static_cast<unsigned long>(buffer.size()));
        if (n <= 0)
            break;
        s->push({false, s->handlers.transform(QByteArrayView(buffer.constData(), n), false), 0});
    }
    QString tail = s->handlers.transform(QByteArrayView(), true);
    if (!tail.isEmpty())
        s->push({false, std::move(tail), 0});
}

void watcherLoop(std::shared_ptr<ChildProcessShared> s)
{
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(s->pid), &info, WEXITED | WNOWAIT);
    } while (rc < 0 && errno == EINTR);

    int status = -1;
    if (rc == 0)
        status = info.si_status; // exit code, or the signal for CLD_KILLED / CLD_DUMPED
    {
        std::lock_guard lock(s->mutex);
        s->exited = true;
        if (!s->terminating || s->groupKilled)
            reapLocked(*s);
    }
    s->push({true, QString(), status});
}

void terminatorLoop(std::shared_ptr<ChildProcessShared> s)
{
    std::unique_lock lock(s->mutex);
    s->reaped.wait_for(lock, ChildProcess::terminateGracePeriod, [&] { return s->isReaped; });
    if (s->isReaped)
        return;
    ::kill(-s->pid, SIGKILL);
    s->groupKilled = true;
    if (s->exited)
        reapLocked(*s);
}

} // namespace

void ChildProcessShared::push(Event event)
{
    {
        std::lock_guard lock(mutex);
        pending.push_back(std::move(event));
        if (std::exchange(wakePosted, true))
            return;
    }
    // The unit owns the state until it has run: a reader that drops the last
    // other reference meanwhile cannot free it under the drain.
    MainThread::handOver([self = shared_from_this()]() { self->drain(); });
}

void ChildProcessShared::drain()
{
    // A slice at a time: under a flood the reader gets ahead of the GUI
    // thread, and delivering all it has queued at once would stall the window.
    std::vector<Event> events;
    bool more = false;
    {
        std::lock_guard lock(mutex);
        qsizetype taken = 0;
        while (!pending.empty() && taken < maxDeliveredPerTurn) {
            taken += pending.front().text.size();
            events.push_back(std::move(pending.front()));
            pending.pop_front();
        }
        more = !pending.empty();
        wakePosted = more;
    }
    // Join consecutive texts: a burst of reads costs one delivery.
    QString text;
    bool haveText = false;
    auto flush = [&] {
        if (haveText && handlers.output)
            handlers.output(text);
        text.clear();
        haveText = false;
    };
    for (Event& e : events) {
        if (e.isEnd) {
            flush();
            if (handlers.ended)
                handlers.ended(e.status);
        } else {
            text += e.text;
            haveText = true;
        }
    }
    flush();
    // Posted last, so that what this slice scheduled (a render) runs first.
    if (more)
        MainThread::handOver([self = shared_from_this()]() { self->drain(); });
}

ChildProcess::ChildProcess(std::shared_ptr<ChildProcessShared> shared)
    : m_shared(std::move(shared))
{
}

ChildProcess::~ChildProcess() = default;

std::shared_ptr<ChildProcess> ChildProcess::start(const Options& options, Handlers handlers,
                                                  QString* error)
{
    Q_ASSERT(MainThread::isCurrent());
    PipeFds pipe;
    if (!makePipe(pipe)) {
        if (error)
            *error = systemErrorText(errno);
        return nullptr;
    }

    SpawnRequest request;
    request.program = options.program;
    request.arguments = options.arguments;
    request.environment = options.environment;
    request.workingDirectory = options.workingDirectory;
    request.stdoutFd = pipe.write.get();
    request.stderrFd = pipe.write.get();
    request.newProcessGroup = true;
    const SpawnResult spawned = spawnProcess(request);
    // Our copy of the write end must go now, or end of stream never comes.
    pipe.write.reset();
    if (!spawned.ok()) {
        if (error)
            *error = systemErrorText(spawned.error);
        return nullptr;
    }

    auto shared = std::make_shared<ChildProcessShared>();
    shared->handlers = std::move(handlers);
    shared->pid = spawned.pid;

    std::thread(readerLoop, shared, std::move(pipe.read)).detach();
    std::thread(watcherLoop, shared).detach();
    return std::shared_ptr<ChildProcess>(new ChildProcess(std::move(shared)));
}

pid_t ChildProcess::pid() const
{
    return m_shared->pid;
}

bool ChildProcess::isRunning() const
{
    std::lock_guard lock(m_shared->mutex);
    return !m_shared->exited;
}

void ChildProcess::terminate()
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->isReaped)
        return;
    ::kill(-m_shared->pid, SIGTERM);
    if (std::exchange(m_shared->terminating, true))
        return;
    std::thread(terminatorLoop, m_shared).detach();
}
