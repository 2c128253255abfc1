#include "git/git.h"

#include "platform/files.h"
#include "platform/spawn.h"

namespace {

// Where git usually is when PATH lacks it: an app started from the macOS
// Finder gets a short PATH (/usr/bin:/bin:/usr/sbin:/sbin), without
// Homebrew's folders.
const QList<QByteArray> fallbackFolders{"/opt/homebrew/bin", "/usr/local/bin"};

// The environment every git command starts from, over the inherited one.
const QList<QByteArray> baseEnvironment{
    "GIT_TERMINAL_PROMPT=0",
    // No command of ours needs the locks git takes only to refresh caches.
    "GIT_OPTIONAL_LOCKS=0",
    "GIT_DIR",
    "GIT_WORK_TREE",
    "GIT_COMMON_DIR",
    "GIT_INDEX_FILE",
    "GIT_OBJECT_DIRECTORY",
    "GIT_ALTERNATE_OBJECT_DIRECTORIES",
    "GIT_NAMESPACE",
    "GIT_PREFIX",
    "GIT_LITERAL_PATHSPECS",
    "GIT_GLOB_PATHSPECS",
    "GIT_NOGLOB_PATHSPECS",
    "GIT_ICASE_PATHSPECS",
};

QString subcommand(const Git::Command& command)
{
    return command.arguments.isEmpty() ? QString() : QString::fromUtf8(command.arguments.first());
}

} // namespace

namespace Git {

GitResult<QByteArray> program(const GitContext& context)
{
    if (!context.program.isEmpty())
        return context.program;
    if (std::optional<QByteArray> found = findInPath("git"))
        return *found;
    for (const QByteArray& folder : fallbackFolders) {
        QByteArray path = folder + "/git";
        if (isExecutableFile(path))
            return path;
    }
    return GitError{QStringLiteral("git is not installed: there is no program named git in "
                                   "PATH, nor in %1")
                        .arg(QString::fromUtf8(fallbackFolders.join(", ")))};
}

GitResult<CommandResult> run(const Command& command, const GitContext& context)
{
    GitResult<QByteArray> git = program(context);
    if (!git)
        return GitError{git.error()};
    CommandRequest request;
    request.program = *git;
    request.arguments = command.arguments;
    request.folder = command.folder;
    request.environment = baseEnvironment + command.environment;
    request.input = command.input;
    request.outputFd = command.outputFd;
    CommandResult result = runCommand(request, context.timeout, context.cancel);
    if (!result.started)
        return GitError{QStringLiteral("Could not start git (%1): %2")
                            .arg(QString::fromUtf8(*git), systemErrorText(result.error))};
    if (result.cancelled)
        return GitError{QStringLiteral("git %1 was cancelled").arg(subcommand(command))};
    if (result.timedOut)
        return GitError{QStringLiteral("git %1 did not finish within %2 s and was stopped")
                            .arg(subcommand(command))
                            .arg(std::chrono::ceil<std::chrono::seconds>(context.timeout).count())};
    if (result.signal != 0)
        return GitError{QStringLiteral("git %1 was killed by %2")
                            .arg(subcommand(command), signalName(result.signal))};
    return result;
}

GitResult<QByteArray> output(const Command& command, const GitContext& context)
{
    GitResult<CommandResult> result = run(command, context);
    if (!result)
        return GitError{result.error()};
    if (result->exitStatus != 0)
        return failure(command, *result);
    return std::move(result).value().output;
}

GitError failure(const Command& command, const CommandResult& result)
{
    const QString message = QString::fromUtf8(result.errorOutput).trimmed();
    if (!message.isEmpty())
        return GitError{message};
    return GitError{QStringLiteral("git %1 exited with status %2")
                        .arg(subcommand(command))
                        .arg(result.exitStatus)};
}

} // namespace Git
