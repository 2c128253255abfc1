#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <memory>
#include <sys/types.h>

class ProcessOwner;
struct ChildProcessShared;

// How a child ended: its exit code, or the signal that killed it.
struct ChildExit {
    int code = 0;
    int signal = 0; // non-zero: killed by this signal, and code means nothing

    static ChildExit exited(int code) { return {code, 0}; }
    static ChildExit killedBy(int signal) { return {0, signal}; }
};

// One child process whose standard output and standard error are one pipe,
// or two kept apart, read and watched on a thread that the ProcessOwner owns.
//
// Delivery order, on the GUI thread: output(), zero or more times, in read
// order across both channels; ended() once, when the child has exited and
// every pipe has reached end of stream, so that every byte it wrote comes
// first. A background job that keeps a pipe open holds the end back for
// endPause at most: ended() then says the output is still open, what the
// job writes later still arrives, and outputEnded() follows once every pipe
// has reached end of stream.
//
// Nothing is read or delivered any more once the output is closed: by
// closeOutput(), terminate() or destroying the object. A job still writing
// to either pipe then gets SIGPIPE. Destroying the object signals nobody.
class ChildProcess {
public:
    // Where the child wrote. With one pipe for both, everything is standard output.
    enum class Channel { StandardOutput, StandardError };

    // A mark the transform gives the text from `start` on (a style, say).
    struct Mark {
        qsizetype start = 0;
        int value = 0;
    };
    // Text handed from the reader thread to the GUI thread, with its marks
    // in ascending order of start; without any, all of it is marked 0.
    struct Text {
        QString text;
        QList<Mark> marks;
        // The bytes the text was made of, where the transform keeps them.
        QByteArray raw;
        // What else the transform found in those bytes, for the receiver
        // to take apart (a turn's cost, say), in the order found.
        QVariantList notes;

        Text() = default;
        Text(QString plain) // implicit: most transforms give plain text
            : text(std::move(plain))
        {
        }
        // Adds `other` at the end, its marks moved along, its bytes too.
        void append(const Text& other);
    };

    struct Handlers {
        // Reader thread: turns the bytes of one read() of `channel` into
        // text; called once more for each channel with endOfStream set and no
        // bytes. State it keeps is its own, one per channel: a character or
        // a line may be cut anywhere in either.
        std::function<Text(Channel channel, QByteArrayView bytes, bool endOfStream)> transform;
        // GUI thread: text of one or more reads of one channel, in read order
        // across both channels.
        std::function<void(Channel channel, const Text& text)> output;
        // GUI thread: how the child ended, and whether a process it left
        // behind still holds a pipe open.
        std::function<void(ChildExit exit, bool outputOpen)> ended;
        // GUI thread: the pipes held open at ended() have reached end of stream.
        std::function<void()> outputEnded;
    };

    struct Options {
        QByteArray program;
        QList<QByteArray> arguments;
        QList<QByteArray> environment; // the whole environment, "NAME=value"
        QByteArray workingDirectory;   // empty: this process's own
        // Standard error on a pipe of its own, delivered as such; otherwise
        // one pipe on both, which keeps the order the child wrote in.
        bool separateErrors = false;
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
    // the grace period, or at once when the owner goes first; and the output
    // is closed. Safe to call at any time: no signal is sent once the child
    // has been reaped, which happens only once its pipes are closed or at end
    // of stream: until then the zombie keeps the group id from being reused.
    void terminate();
    // Stops reading: nothing more is delivered, and whoever still writes to
    // either pipe gets SIGPIPE. No signal is sent.
    void closeOutput();
    // After terminate(), while the grace period runs: SIGKILL to the group now.
    void killNowIfTerminating();
    // terminate() was called and the group has not had its SIGKILL yet.
    bool terminating() const;

private:
    explicit ChildProcess(std::shared_ptr<ChildProcessShared> shared);
    std::shared_ptr<ChildProcessShared> m_shared;
};
