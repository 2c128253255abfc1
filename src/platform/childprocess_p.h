#pragma once

//
//  W A R N I N G
//  -------------
//
// This file is not part of Brevane's public interface: it is shared only by
// the child-process implementation files.
//

#include "platform/childprocess.h"
#include "platform/fd.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

// State shared by the GUI thread and the child's thread. The thread holds it
// through a shared_ptr, so it lives until both are done with it.
struct ChildProcessShared : std::enable_shared_from_this<ChildProcessShared> {
    struct Event {
        enum class Kind { Output, Ended, OutputEnded };
        using Channel = ChildProcess::Channel;
        Kind kind = Kind::Output;
        Channel channel = Channel::StandardOutput;
        ChildProcess::Text text;
        ChildExit exit;
        bool outputOpen = false;

        static Event ofOutput(Channel channel, ChildProcess::Text text)
        {
            return {Kind::Output, channel, std::move(text), {}, false};
        }
        static Event ofEnd(ChildExit exit, bool outputOpen)
        {
            return {Kind::Ended, {}, QString(), exit, outputOpen};
        }
        static Event ofOutputEnd() { return {Kind::OutputEnded, {}, {}, {}, false}; }
    };

    ProcessOwner* owner = nullptr;   // outlives the thread
    ChildProcess::Handlers handlers; // output/ended: GUI thread only
    WakeUpFd doorbell;               // rung by terminate(), and when the queue has room again

    std::mutex mutex;
    pid_t pid = -1;
    bool isReaped = false; // after this, pid must never be signalled
    std::optional<std::chrono::steady_clock::time_point> killAt; // set by terminate()
    bool groupKilled = false;
    bool outputClosed = false; // nothing more is read, queued or delivered
    bool wakePosted = false;
    std::deque<Event> pending;
    qsizetype pendingChars = 0;
    bool readerWaiting = false; // for the queue to have room

    void push(Event event); // any thread
    void drain();           // GUI thread
};
