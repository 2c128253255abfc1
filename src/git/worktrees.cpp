#include "git/worktrees.h"

#include "platform/files.h"
#include "platform/spawn.h"

#include <sys/stat.h>

namespace {

GitError badPath(const QByteArray& path)
{
    return GitError{QStringLiteral("Not an absolute path: %1").arg(QString::fromUtf8(path))};
}

GitResult<void> done(const GitResult<QByteArray>& result)
{
    if (!result)
        return GitError{result.error()};
    return {};
}

// The parent folder of `relative`, empty for a file at the top.
QByteArray parentOf(const QByteArray& relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.first(slash);
}

} // namespace

namespace Git {

GitResult<void> addWorktree(const QByteArray& repo, const QByteArray& path,
                            const QByteArray& commit, const GitContext& context)
{
    if (!path.startsWith('/'))
        return badPath(path);
    if (commit.isEmpty() || commit.startsWith('-'))
        return GitError{QStringLiteral("Not a commit: %1").arg(QString::fromUtf8(commit))};
    return done(output({repo, {"worktree", "add", "--detach", path, commit}}, context));
}

GitResult<void> removeWorktree(const QByteArray& repo, const QByteArray& path,
                               const GitContext& context)
{
    if (!path.startsWith('/'))
        return badPath(path);
    return done(output({repo, {"worktree", "remove", "--force", path}}, context));
}

GitResult<void> moveWorktree(const QByteArray& path, const QByteArray& commit,
                             const GitContext& context)
{
    if (!path.startsWith('/'))
        return badPath(path);
    if (commit.isEmpty() || commit.startsWith('-'))
        return GitError{QStringLiteral("Not a commit: %1").arg(QString::fromUtf8(commit))};
    // A folder that is no worktree of its own would let git find the one
    // above it, and the user's files would be forced and cleaned.
    const GitResult<QByteArray> top = output({path, {"rev-parse", "--show-toplevel"}}, context);
    if (!top)
        return GitError{top.error()};
    if (*top != path + '\n')
        return GitError{
            QStringLiteral("Not a worktree of its own: %1").arg(QString::fromUtf8(path))};
    if (GitResult<void> moved =
            done(output({path, {"checkout", "--quiet", "--detach", "--force", commit}}, context));
        !moved)
        return moved;
    return done(output({path, {"clean", "-d", "--force", "--quiet"}}, context));
}

GitResult<QList<GitWorktree>> listWorktrees(const QByteArray& repo, const GitContext& context)
{
    GitResult<QByteArray> list = output({repo, {"worktree", "list", "--porcelain", "-z"}}, context);
    if (!list)
        return GitError{list.error()};
    return parseWorktreeList(*list);
}

GitResult<QList<QByteArray>> copyWorktreeIncludes(const QByteArray& repoTop,
                                                  const QByteArray& worktree,
                                                  const GitContext& context)
{
    const QByteArray includeFile = repoTop + "/.worktreeinclude";
    struct stat info {};
    if (::stat(includeFile.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return QList<QByteArray>();
    // Untracked files that the include file's patterns match...
    GitResult<QByteArray> matching = output(
        {repoTop, {"ls-files", "-z", "--others", "--ignored", "--exclude-from=" + includeFile}},
        context);
    if (!matching)
        return GitError{matching.error()};
    if (matching->isEmpty())
        return QList<QByteArray>();
    // ...that the repository's own rules ignore: the others are in the
    // snapshot the worktree was made from. Exit status 1: none is.
    const Command ignoredCommand{repoTop, {"check-ignore", "-z", "--stdin"}, {}, *matching};
    GitResult<CommandResult> ignored = run(ignoredCommand, context);
    if (!ignored)
        return GitError{ignored.error()};
    if (ignored->exitStatus > 1)
        return failure(ignoredCommand, *ignored);

    QList<QByteArray> copied;
    for (const QByteArray& path : ignored->output.split('\0')) {
        if (path.isEmpty())
            continue;
        const QByteArray target = worktree + '/' + path;
        if (::lstat(target.constData(), &info) == 0)
            continue;
        int error = makeFolders(worktree, parentOf(path));
        if (error == 0)
            error = copyFile(repoTop + '/' + path, target);
        if (error != 0)
            return GitError{QStringLiteral("Could not copy %1 into the worktree: %2")
                                .arg(QString::fromUtf8(path), systemErrorText(error))};
        copied.push_back(path);
    }
    return copied;
}

} // namespace Git
