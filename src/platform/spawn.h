#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <sys/types.h>

// Starting a program with posix_spawn. The child gets exactly the given
// arguments and environment, the descriptors below on 0, 1 and 2 and nothing
// else, default signal dispositions and an empty signal mask, starts in the
// given working directory (or the parent's) and leads a process group of its
// own.
struct SpawnRequest {
    QByteArray program;                           // absolute path; no PATH search
    QList<QByteArray> arguments;                  // argv[1..]
    std::optional<QList<QByteArray>> environment; // "NAME=value" entries; none = inherit
    QByteArray workingDirectory; // empty: the parent's; failing to enter it fails the spawn
    int stdinFd = -1;            // -1: the null device
    int stdoutFd = -1;           // -1: the null device
    int stderrFd = -1;           // -1: the null device
};

struct SpawnResult {
    pid_t pid = -1;
    int error = 0; // errno of the failed spawn; 0 on success
    bool ok() const { return error == 0 && pid > 0; }
};

SpawnResult spawnProcess(const SpawnRequest& request);

// This process's own environment, "NAME=value" entries as raw bytes.
QList<QByteArray> currentEnvironment();

// The system's readable text for an errno value, e.g. "Argument list too long".
QString systemErrorText(int error);

// The name of a signal as the system spells it, e.g. "SIGSEGV"; empty for a
// signal without a name (a real-time one, say).
QString signalName(int signal);
