#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <sys/types.h>

class ProcessOwner;
struct ChildProcessShared;

// One child process whose standard output and standard error are one pipe,
// read and watched on a thread that the ProcessOwner owns.
//
// Delivery order, on the GUI thread: output(), zero or more times, in read
// order; ended() once, when the child has exited and its pipe has reached end
// of stream, so that every byte it wrote comes first. A background job that
// keeps the pipe open holds the end back for endPause at most; what it writes
// later still arrives, also after the ChildProcess object is gone: the
// handlers decide what to ignore. Destroying it does not stop the child.
class ChildProcess {
public:
    struct Handlers {
        // Reader thread: turns the bytes of one read() into text; called once
        // more with endOfStream set and no bytes. State it keeps is its own.
        std::function<QString(QByteArrayView bytes, bool endOfStream)> transform;
        // GUI thread: text of one or more reads, in order.
        std::function<void(const QString& text)> output;
        // GUI thread: the exit code, or the number of the signal that ended the child.
        std::function<void(int status)> ended;
    };

    struct Options {
        QByteArray program;
        QList<QByteArray> arguments;
        QList<QByteArray> environment; // the whole environment, "NAME=value"
        QByteArray workingDirectory;   // empty: this process's own
    };

    // How long terminate() waits after SIGTERM before it sends SIGKILL.
    static constexpr std::chrono::milliseconds terminateGracePeriod{3000};
    // How long after the exit a pipe still held open delays ended().
    static constexpr std::chrono::milliseconds endPause{150};

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Call on the GUI thread. On failure returns null, sets *error to a
    // readable description and nothing runs.
    static std::shared_ptr<ChildProcess> start(ProcessOwner& owner, const Options& options,
                                               Handlers handlers, QString* error);

    pid_t pid() const;
    // SIGTERM to the child's process group, then SIGKILL to the group after
    // the grace period, or at once when the owner goes first. Safe to call at
    // any time: no signal is sent once the child has been reaped, which
    // happens only after its end has been announced.
    void terminate();

private:
    explicit ChildProcess(std::shared_ptr<ChildProcessShared> shared);
    std::shared_ptr<ChildProcessShared> m_shared;
};
