#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>

struct CaptureResult {
    bool started = false;  // false: the program could not be started
    bool timedOut = false; // the run overran its time and was killed
    QByteArray output;     // all of standard output (a part of it when timedOut)
};

// Runs `program` with `arguments` in its own process group, with standard
// input and standard error on the null device, reads its standard output to
// end of file and only then waits for it to exit. The exit status is not
// read. If end of file and the exit have not both come within `timeout`, the
// whole process group is killed. Either way the child has been reaped when
// this returns. Blocks the calling thread; any thread may call it.
CaptureResult captureOutput(const QByteArray& program, const QList<QByteArray>& arguments,
                            std::chrono::milliseconds timeout);
