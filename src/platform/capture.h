#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>

class WakeUpFd;

struct CaptureRequest {
    QByteArray program;
    QList<QByteArray> arguments;
};

struct CaptureResult {
    bool started = false;  // false: the program could not be started
    int error = 0;         // why not (an errno value) when it could not
    bool timedOut = false; // the run overran its time, or was cancelled, and was killed
    QByteArray output;     // all of standard output (a part of it when timedOut)
};

// Runs every requested program at once, each in its own process group with
// standard input and standard error on the null device, reads each one's
// standard output to end of file and only then waits for it to exit. Exit
// statuses are not read. Whatever has not both reached end of file and exited
// within `timeout` (one bound for all of them) is killed with its whole
// group, as is everything at once when `cancel` (if given) is raised. Every
// child has been reaped when this returns. Results are in request order.
// Blocks the calling thread; any thread may call it.
QList<CaptureResult> captureOutputs(const QList<CaptureRequest>& requests,
                                    std::chrono::milliseconds timeout,
                                    const WakeUpFd* cancel = nullptr);
