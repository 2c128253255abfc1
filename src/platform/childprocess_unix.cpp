#include "platform/childprocess_p.h"

#include "platform/mainthread.h"
#include "platform/processowner.h"
#include "platform/spawn.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

// Process discipline:
// - The child leads its own process group, so terminate() reaches whatever
//   the tool started as well.
// - Only the child's thread reaps, and only this pid (no waitpid(-1), no
//   SIGCHLD handler). It sees the exit without reaping (a process descriptor
//   or WNOWAIT), so the pid stays a zombie, and thus ours, until it is reaped
//   under the mutex that every kill() takes.
// - The zombie is kept until the end has been announced, so that a Stop in
//   between still reaches the group; after terminate(), until the group has
//   had its SIGKILL: the zombie leader keeps the group id from being reused.
// - Standard error on a pipe of its own is read by the same thread, in the
//   same poll, into the same queue, so what is read keeps its order across
//   the two; the end then waits for both pipes.

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype readChunkSize = 64 * 1024;
// Characters of output handed to the GUI thread in one turn of its event loop.
constexpr qsizetype maxDeliveredPerTurn = 256 * 1024;
// Past this many characters waiting for the GUI thread the pipe is left
// unread, so that a tool writing faster than the window takes it in waits
// in write() rather than filling memory.
constexpr qsizetype maxPendingChars = 4 * maxDeliveredPerTurn;
// Where no process descriptor can be polled, the exit is looked for this often.
constexpr std::chrono::milliseconds exitCheckInterval{50};

// A descriptor that turns readable when `pid` exits; invalid where the
// system has none.
UniqueFd openProcessFd(pid_t pid)
{
#if defined(__linux__) && defined(SYS_pidfd_open)
    return UniqueFd(int(::syscall(SYS_pidfd_open, pid, 0)));
#else
    Q_UNUSED(pid);
    return UniqueFd();
#endif
}

// How `pid` ended once it has exited, without reaping it.
std::optional<ChildExit> exitStatus(pid_t pid)
{
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return ChildExit::exited(-1); // not ours to wait for: nothing more will come of it
    if (info.si_pid == 0)
        return std::nullopt;
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
        return ChildExit::killedBy(info.si_status);
    return ChildExit::exited(info.si_status);
}

void reapLocked(ChildProcessShared& s)
{
    pid_t r;
    do {
        r = ::waitpid(s.pid, nullptr, 0);
    } while (r < 0 && errno == EINTR);
    s.isReaped = true;
}

void killGroupLocked(ChildProcessShared& s)
{
    if (!s.isReaped)
        ::kill(-s.pid, SIGKILL);
    s.groupKilled = true;
}

int pollTimeout(std::optional<Clock::time_point> deadline)
{
    if (!deadline)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// The child's thread: reads the pipes, sees the exit, announces the end,
// keeps the stop deadline and reaps. Returns once every pipe has ended or
// been closed and the child is reaped, or at once when `quit` is raised.
// The pipes are indexed by channel; standard error's is invalid when it
// shares the first.
void watchChild(ChildProcessShared& s, std::array<UniqueFd, 2> pipes, const WakeUpFd& quit)
{
    using Event = ChildProcessShared::Event;
    using Channel = ChildProcess::Channel;
    UniqueFd process = openProcessFd(s.pid);
    QByteArray buffer(readChunkSize, Qt::Uninitialized);
    std::optional<ChildExit> status;
    Clock::time_point endDueAt;
    std::optional<Clock::time_point> fullSince;
    bool endAnnounced = false;
    auto outputOpen = [&] { return pipes[0].valid() || pipes[1].valid(); };

    for (;;) {
        std::optional<Clock::time_point> wakeAt;
        auto wakeBy = [&](Clock::time_point t) { wakeAt = wakeAt ? std::min(*wakeAt, t) : t; };
        bool full;
        {
            std::lock_guard lock(s.mutex);
            if (s.killAt && !s.groupKilled)
                wakeBy(*s.killAt);
            full = s.pendingChars >= maxPendingChars;
            s.readerWaiting = full;
        }
        // The pause after the exit counts only time spent reading: what
        // waits unread in the pipes while the queue is full is the tool's.
        if (full && !fullSince)
            fullSince = Clock::now();
        if (!full && fullSince)
            endDueAt += Clock::now() - *std::exchange(fullSince, std::nullopt);
        if (status && !endAnnounced && !full)
            wakeBy(endDueAt);
        if (!status && !process.valid())
            wakeBy(Clock::now() + exitCheckInterval);

        pollfd fds[5] = {{quit.fd(), POLLIN, 0}, {s.doorbell.fd(), POLLIN, 0}};
        nfds_t count = 2;
        std::array<pollfd*, 2> pipeEntries{};
        for (size_t i = 0; i < pipes.size(); ++i) {
            if (pipes[i].valid() && !full) {
                pipeEntries[i] = &fds[count++];
                *pipeEntries[i] = {pipes[i].get(), POLLIN, 0};
            }
        }
        pollfd* processEntry = nullptr;
        if (!status && process.valid()) {
            processEntry = &fds[count++];
            *processEntry = {process.get(), POLLIN, 0};
        }
        if (::poll(fds, count, pollTimeout(wakeAt)) < 0 && errno != EINTR)
            return;

        if (quit.raised()) {
            std::lock_guard lock(s.mutex);
            // Stop means stopped, even when the app goes before the grace period ends.
            if (s.killAt && !s.groupKilled)
                killGroupLocked(s);
            if (status && !s.isReaped)
                reapLocked(s);
            return;
        }
        if (fds[1].revents) {
            s.doorbell.lower();
            std::lock_guard lock(s.mutex);
            // Our ends go: a job still writing gets SIGPIPE, and costs nothing more.
            if (s.outputClosed) {
                pipes = {};
                pipeEntries = {};
            }
        }

        // Two pipes have no order between them: when both are readable,
        // standard output goes first.
        for (size_t i = 0; i < pipes.size(); ++i) {
            if (!pipeEntries[i] || !pipeEntries[i]->revents)
                continue;
            const auto channel = static_cast<Channel>(i);
            const long n = readRetrying(pipes[i].get(), buffer.data(),
                                        static_cast<unsigned long>(buffer.size()));
            if (n > 0) {
                s.push(Event::ofOutput(
                    channel,
                    s.handlers.transform(channel, QByteArrayView(buffer.constData(), n), false)));
                continue;
            }
            pipes[i].reset();
            ChildProcess::Text tail = s.handlers.transform(channel, QByteArrayView(), true);
            if (!tail.text.isEmpty())
                s.push(Event::ofOutput(channel, std::move(tail)));
            if (endAnnounced && !outputOpen())
                s.push(Event::ofOutputEnd());
        }
        if (!status && (!processEntry || processEntry->revents)) {
            status = exitStatus(s.pid);
            if (status) {
                process.reset();
                endDueAt = Clock::now() + ChildProcess::endPause;
            }
        }

        // Once the pipes have ended, what the child wrote is all in; a pipe
        // held open by a background job may keep the end back only briefly.
        const bool endDue = status && (!outputOpen() || (!full && Clock::now() >= endDueAt));
        bool done = false;
        {
            std::lock_guard lock(s.mutex);
            if (s.killAt && !s.groupKilled && Clock::now() >= *s.killAt)
                killGroupLocked(s);
            // The zombie stays while a job of its group holds a pipe, so
            // that a Stop of that job still signals the right group.
            if (status && !outputOpen() && !s.isReaped && (!s.killAt || s.groupKilled))
                reapLocked(s);
            done = s.isReaped && !outputOpen();
        }
        if (endDue && !std::exchange(endAnnounced, true))
            s.push(Event::ofEnd(*status, outputOpen()));
        if (done)
            return;
    }
}

} // namespace

void ChildProcessShared::push(Event event)
{
    {
        std::lock_guard lock(mutex);
        if (outputClosed)
            return;
        pendingChars += event.text.text.size() + event.text.raw.size() / 2;
        pending.push_back(std::move(event));
        if (std::exchange(wakePosted, true))
            return;
    }
    // The unit owns the state until it has run: a thread that drops the
    // last other reference meanwhile cannot free it under the drain.
    owner->handOver([self = shared_from_this()]() { self->drain(); });
}

void ChildProcessShared::drain()
{
    // A slice at a time: under a flood the reader gets ahead of the GUI
    // thread, and delivering all it has queued at once would stall the window.
    std::vector<Event> events;
    bool more = false;
    bool room = false;
    {
        std::lock_guard lock(mutex);
        qsizetype taken = 0;
        while (!pending.empty() && taken < maxDeliveredPerTurn) {
            taken += pending.front().text.text.size() + pending.front().text.raw.size() / 2;
            events.push_back(std::move(pending.front()));
            pending.pop_front();
        }
        pendingChars -= taken;
        more = !pending.empty();
        wakePosted = more;
        room = readerWaiting && pendingChars < maxPendingChars;
        if (room)
            readerWaiting = false;
    }
    if (room)
        doorbell.raise();
    // Join consecutive texts of one channel: a burst of reads costs one delivery.
    ChildProcess::Text text;
    bool haveText = false;
    auto textChannel = ChildProcess::Channel::StandardOutput;
    // A handler may close the output (a new run replacing this one): what
    // is still in hand is then dropped. Only this thread writes the flag.
    auto flush = [&] {
        if (haveText && handlers.output && !outputClosed)
            handlers.output(textChannel, text);
        text = {};
        haveText = false;
    };
    for (Event& e : events) {
        switch (e.kind) {
        case Event::Kind::Output:
            if (textChannel != e.channel)
                flush();
            text.append(e.text);
            textChannel = e.channel;
            haveText = true;
            break;
        case Event::Kind::Ended:
            flush();
            if (handlers.ended && !outputClosed)
                handlers.ended(e.exit, e.outputOpen);
            break;
        case Event::Kind::OutputEnded:
            flush();
            if (handlers.outputEnded && !outputClosed)
                handlers.outputEnded();
            break;
        }
    }
    flush();
    // Posted last, so that what this slice scheduled (a render) runs first.
    if (more)
        owner->handOver([self = shared_from_this()]() { self->drain(); });
}

void ChildProcess::Text::append(const Text& other)
{
    const auto lastValue = [this] { return marks.isEmpty() ? 0 : marks.back().value; };
    const auto mark = [this, &lastValue](qsizetype start, int value) {
        if (value == lastValue())
            return;
        if (marks.isEmpty() && start > 0)
            marks.push_back({0, 0});
        marks.push_back({start, value});
    };
    if (other.marks.isEmpty() || other.marks.front().start > 0)
        mark(text.size(), 0);
    for (const Mark& m : other.marks)
        mark(text.size() + m.start, m.value);
    text += other.text;
    raw += other.raw;
    notes += other.notes;
}

ChildProcess::ChildProcess(std::shared_ptr<ChildProcessShared> shared)
    : m_shared(std::move(shared))
{
}

ChildProcess::~ChildProcess()
{
    closeOutput();
}

std::shared_ptr<ChildProcess> ChildProcess::start(ProcessOwner& owner, const Options& options,
                                                  Handlers handlers, QString* error)
{
    Q_ASSERT(MainThread::isCurrent());
    PipeFds output;
    PipeFds errors;
    if (!makePipe(output) || (options.separateErrors && !makePipe(errors))) {
        if (error)
            *error = systemErrorText(errno);
        return nullptr;
    }

    SpawnRequest request;
    request.program = options.program;
    request.arguments = options.arguments;
    request.environment = options.environment;
    request.workingDirectory = options.workingDirectory;
    request.stdoutFd = output.write.get();
    request.stderrFd = options.separateErrors ? errors.write.get() : output.write.get();
    const SpawnResult spawned = spawnProcess(request);
    // Our copies of the write ends must go now, or end of stream never comes.
    output.write.reset();
    errors.write.reset();
    if (!spawned.ok()) {
        if (error)
            *error = systemErrorText(spawned.error);
        return nullptr;
    }

    auto shared = std::make_shared<ChildProcessShared>();
    shared->owner = &owner;
    shared->handlers = std::move(handlers);
    shared->pid = spawned.pid;

    auto readEnds = std::make_shared<std::array<UniqueFd, 2>>(
        std::array<UniqueFd, 2>{std::move(output.read), std::move(errors.read)});
    owner.startThread([shared, readEnds](const WakeUpFd& quit) {
        watchChild(*shared, std::move(*readEnds), quit);
    });
    return std::shared_ptr<ChildProcess>(new ChildProcess(std::move(shared)));
}

pid_t ChildProcess::pid() const
{
    return m_shared->pid;
}

void ChildProcess::terminate()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->outputClosed = true;
        m_shared->pending.clear();
        m_shared->pendingChars = 0;
        if (!m_shared->isReaped) {
            ::kill(-m_shared->pid, SIGTERM);
            if (!m_shared->killAt)
                m_shared->killAt = Clock::now() + terminateGracePeriod;
        }
    }
    m_shared->doorbell.raise();
}

void ChildProcess::closeOutput()
{
    Q_ASSERT(MainThread::isCurrent());
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->outputClosed)
            return;
        m_shared->outputClosed = true;
        m_shared->pending.clear();
        m_shared->pendingChars = 0;
    }
    m_shared->doorbell.raise();
}

void ChildProcess::killNowIfTerminating()
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->killAt || m_shared->groupKilled)
            return;
        killGroupLocked(*m_shared);
    }
    m_shared->doorbell.raise();
}

bool ChildProcess::terminating() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->killAt && !m_shared->groupKilled;
}
