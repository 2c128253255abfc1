#pragma once

//
//  W A R N I N G
//  -------------
//
// This file is not part of Brevane's public interface: it is shared only by
// the child-process implementation files.
//

#include "platform/childprocess.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// State shared by the GUI thread, the reader thread, the end watcher and the
// terminator. Each background thread holds it through a shared_ptr, so it
// lives until the last of them is done.
struct ChildProcessShared : std::enable_shared_from_this<ChildProcessShared> {
    struct Event {
        bool isEnd = false;
        QString text;
        int status = 0;
    };

    ChildProcess::Handlers handlers; // output/ended: GUI thread only

    std::mutex mutex;
    std::condition_variable reaped; // wakes the terminator early
    pid_t pid = -1;
    bool exited = false;      // the end has been seen (the child may still be a zombie)
    bool isReaped = false;    // after this, pid must never be signalled
    bool terminating = false; // terminate() was called: reaping waits for the group kill
    bool groupKilled = false;
    bool wakePosted = false;
    std::deque<Event> pending;

    void push(Event event); // any thread
    void drain();           // GUI thread
};
