#include "platform/capture.h"

#include "platform/fd.h"
#include "platform/reaping.h"
#include "platform/spawn.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <optional>
#include <poll.h>
#include <vector>

// Process discipline, as for ChildProcess: the child leads its own group, so
// one SIGKILL also reaches what it started (a background job holding the
// pipe); see GroupLeader.

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype readChunkSize = 16 * 1024;

// Milliseconds left until `deadline` for poll(), rounded up so that an
// early wake-up does not turn into a busy loop.
int pollTimeout(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// One started program: its pipe's read end until end of file, and the child.
struct Capture {
    CaptureResult* result;
    UniqueFd read;
    std::unique_ptr<GroupLeader> child;
};

// Starts `request` with its output on a new pipe; fills in `result` when that fails.
std::optional<Capture> startCapture(const CaptureRequest& request, CaptureResult& result)
{
    PipeFds pipe;
    // Standard input and standard error each get a null device of their own.
    UniqueFd nullInput = openNullDevice();
    UniqueFd nullError = openNullDevice();
    if (!makePipe(pipe) || !nullInput.valid() || !nullError.valid()) {
        result.error = errno;
        return std::nullopt;
    }
    SpawnRequest spawn;
    spawn.program = request.program;
    spawn.arguments = request.arguments;
    spawn.stdinFd = nullInput.get();
    spawn.stdoutFd = pipe.write.get();
    spawn.stderrFd = nullError.get();
    const SpawnResult spawned = spawnProcess(spawn);
    // Our copy of the write end must go now, or end of file never comes.
    pipe.write.reset();
    if (!spawned.ok()) {
        result.error = spawned.error;
        return std::nullopt;
    }
    result.started = true;
    return Capture{&result, std::move(pipe.read), std::make_unique<GroupLeader>(spawned.pid)};
}

// Reads every pipe until end of file, the deadline or a cancel. A pipe that
// fails to read is given up like one that ran out of time.
void readAllToEnd(std::vector<Capture>& captures, Clock::time_point deadline, int cancelFd)
{
    QByteArray buffer(readChunkSize, Qt::Uninitialized);
    for (;;) {
        std::vector<pollfd> entries{{cancelFd, POLLIN, 0}};
        std::vector<Capture*> open{nullptr};
        for (Capture& capture : captures) {
            if (capture.read.valid()) {
                entries.push_back({capture.read.get(), POLLIN, 0});
                open.push_back(&capture);
            }
        }
        if (entries.size() == 1)
            return;
        const int ready = ::poll(entries.data(), entries.size(), pollTimeout(deadline));
        if (ready < 0 && errno != EINTR)
            return;
        if (entries[0].revents)
            return;
        if (ready <= 0) {
            if (Clock::now() >= deadline)
                return;
            continue;
        }
        for (size_t i = 1; i < entries.size(); ++i) {
            if (entries[i].revents == 0)
                continue;
            Capture& capture = *open[i];
            const long n = readRetrying(capture.read.get(), buffer.data(),
                                        static_cast<unsigned long>(buffer.size()));
            if (n > 0) {
                capture.result->output.append(buffer.constData(), n);
                continue;
            }
            if (n < 0)
                capture.result->timedOut = true;
            capture.read.reset();
        }
    }
}

} // namespace

QList<CaptureResult> captureOutputs(const QList<CaptureRequest>& requests,
                                    std::chrono::milliseconds timeout, const WakeUpFd* cancel)
{
    const int cancelFd = cancel ? cancel->fd() : -1;
    const Clock::time_point deadline = Clock::now() + timeout;
    QList<CaptureResult> results(requests.size());
    std::vector<Capture> captures;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        if (std::optional<Capture> capture = startCapture(requests[i], results[i]))
            captures.push_back(std::move(*capture));
    }
    readAllToEnd(captures, deadline, cancelFd);
    // One deadline for all: a child that lingers after its output has ended
    // costs the others nothing beyond it.
    for (Capture& capture : captures) {
        if (capture.read.valid() || capture.result->timedOut ||
            !capture.child->reapBefore(deadline, cancelFd)) {
            capture.result->timedOut = true;
            capture.child->killGroupAndReap();
        }
    }
    return results;
}
