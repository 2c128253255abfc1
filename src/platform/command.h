#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>

class WakeUpFd;

// One program to run to its end, with everything it reads and writes in memory.
struct CommandRequest {
    QByteArray program;                 // absolute path; no PATH search
    QList<QByteArray> arguments = {};   // argv[1..]
    QByteArray folder = {};             // working directory; empty: this process's
    QList<QByteArray> environment = {}; // "NAME=value" set over the inherited environment;
                                        // a bare "NAME" removes that variable
    QByteArray input = {};              // all of standard input, which then ends
    int outputFd = -1;                  // >= 0: standard output goes straight to this descriptor
                                        // (a file, say) instead of into the result
};

struct CommandResult {
    bool started = false;   // false: the program could not be started
    int error = 0;          // why not, as an errno value
    int exitStatus = -1;    // the exit code, when it exited
    int signal = 0;         // the signal that ended it (SIGKILL when we killed it)
    bool timedOut = false;  // it overran its time and was killed with its group
    bool cancelled = false; // the cancel was raised and it was killed with its group
    QByteArray output;      // standard output (what came before the kill, if killed)
    QByteArray errorOutput; // standard error, likewise

    bool succeeded() const
    {
        return started && !timedOut && !cancelled && signal == 0 && exitStatus == 0;
    }
};

// Runs `request` in a process group of its own and waits for it: writes its
// input, reads standard output and standard error side by side (so a child
// that fills one pipe while we wait on the other cannot stall), then reaps
// it. Overrunning `timeout` or a raised `cancel` kills the whole group. The
// child has been reaped when this returns. Blocks the calling thread, which
// must not be the GUI thread; any other thread may call it.
CommandResult runCommand(const CommandRequest& request, std::chrono::milliseconds timeout,
                         const WakeUpFd* cancel = nullptr);

// `base` ("NAME=value" entries) with `changes` applied as CommandRequest's
// environment describes: a later entry replaces an earlier one of its name.
QList<QByteArray> changedEnvironment(const QList<QByteArray>& base,
                                     const QList<QByteArray>& changes);
