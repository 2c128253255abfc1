#pragma once

#include "git/gitresult.h"
#include "platform/command.h"

#include <QByteArray>
#include <QList>

#include <chrono>

class WakeUpFd;

// The git layer runs the user's own `git` as a child process, one command at
// a time, with an argv: no shell ever sees a path or a name. Every function
// of it blocks until git is done and is meant for a worker thread. Paths are
// bytes, exactly as the file system and git give them.

// How git is run: which program, for how long at most per command, and what
// cancels it.
struct GitContext {
    static constexpr std::chrono::milliseconds defaultTimeout{5 * 60 * 1000};

    QByteArray program; // empty: "git" from PATH, else from a few usual folders
    std::chrono::milliseconds timeout = defaultTimeout;
    const WakeUpFd* cancel = nullptr; // raised: the running command is killed
};

namespace Git {

// What git is to be run for `context`; an error that says where it was
// looked for when there is none.
GitResult<QByteArray> program(const GitContext& context);

// One git command, run in `folder` with `arguments`; `environment` and
// `input` as for CommandRequest. Besides that environment, git is told
// never to prompt, and the variables that would point it at another
// repository or index (GIT_DIR, GIT_INDEX_FILE and the like, perhaps set
// around Brevane by a hook) are removed. An error when git could not be
// started, overran its time, was cancelled or killed; any exit status
// is a result.
struct Command {
    QByteArray folder;
    QList<QByteArray> arguments;
    QList<QByteArray> environment = {};
    QByteArray input = {};
    int outputFd = -1;
};
GitResult<CommandResult> run(const Command& command, const GitContext& context);

// Like run(), but an exit status other than 0 is an error too, with git's
// message; the standard output otherwise.
GitResult<QByteArray> output(const Command& command, const GitContext& context);

// The error for a command that ran and failed: git's message on standard
// error, or its exit status when it said nothing.
GitError failure(const Command& command, const CommandResult& result);

} // namespace Git
