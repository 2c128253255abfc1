#include "git/apply.h"

#include "git/changes.h"
#include "git/repository.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "platform/spawn.h"

#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// git 2.38's merge-tree cannot be told the merge base (--merge-base came in
// 2.40): it takes the best common ancestor of the two commits it merges. So
// both sides are first recommitted with `base` as their only parent, which
// makes `base` that ancestor on every version.

namespace {

constexpr int symbolicLinkMode = 0120000;
constexpr int submoduleMode = 0160000;
constexpr int executableMode = 0100755;

using Change = GitFileChange;

QByteArray parentOf(const QByteArray& relative)
{
    const qsizetype slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.first(slash);
}

GitError fileError(const QByteArray& path, int error)
{
    return GitError{QStringLiteral("%1: %2").arg(QString::fromUtf8(path), systemErrorText(error))};
}

bool selected(const Change& change, const QSet<QByteArray>& paths)
{
    return paths.contains(change.path) ||
           (!change.oldPath.isEmpty() && paths.contains(change.oldPath));
}

// What is at `path`, not following a symbolic link: 0 for nothing.
mode_t typeAt(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// A file that a write to `path` would replace or pass through but that the
// snapshot did not hold (ignored, or made since): a write there would lose
// it, or write outside the folder through a link. Empty when there is none.
QByteArray obstacle(const QByteArray& top, const Change& change, const QSet<QByteArray>& removed)
{
    if (change.oldMode == 0 && typeAt(top + '/' + change.path) != 0)
        return change.path;
    for (QByteArray folder = parentOf(change.path); !folder.isEmpty(); folder = parentOf(folder)) {
        const mode_t type = typeAt(top + '/' + folder);
        if (type != 0 && type != S_IFDIR && !removed.contains(folder))
            return folder;
    }
    return {};
}

QByteArray temporaryName(const QByteArray& target)
{
    const quint64 random = QRandomGenerator::global()->generate64();
    return parentOf(target) + "/.brevane-" + QByteArray::number(random, 16) + ".tmp";
}

// Removes `relative` and then each folder above it that it leaves empty,
// up to the top.
int removeFile(const QByteArray& top, const QByteArray& relative)
{
    if (::unlink((top + '/' + relative).constData()) != 0 && errno != ENOENT)
        return errno;
    for (QByteArray folder = parentOf(relative); !folder.isEmpty(); folder = parentOf(folder)) {
        if (::rmdir((top + '/' + folder).constData()) != 0)
            break;
    }
    return 0;
}

// Writes the blob of `change` to its path: into a new file beside it that
// then takes its place, so no reader sees half a file.
GitResult<void> writeFile(const QByteArray& top, const Change& change, const GitContext& context)
{
    if (const int error = makeFolders(top, parentOf(change.path)))
        return fileError(change.path, error);
    const QByteArray target = top + '/' + change.path;
    const QByteArray temporary = temporaryName(target);
    if (change.newMode == symbolicLinkMode) {
        GitResult<QByteArray> link =
            Git::output({top, {"cat-file", "blob", change.newId}}, context);
        if (!link)
            return GitError{link.error()};
        if (::symlink(link->constData(), temporary.constData()) != 0)
            return fileError(change.path, errno);
    } else {
        // Created with the mode git would give, narrowed by the umask.
        UniqueFd file(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                             change.newMode == executableMode ? 0777 : 0666));
        if (!file.valid())
            return fileError(change.path, errno);
        // The work tree's form of the blob: line endings and smudge
        // filters as the repository's attributes ask.
        const Git::Command command{top,
                                   {"cat-file", "--filters", "--path=" + change.path, change.newId},
                                   {},
                                   {},
                                   file.get()};
        GitResult<CommandResult> written = Git::run(command, context);
        if (!written || written->exitStatus != 0) {
            ::unlink(temporary.constData());
            return written ? Git::failure(command, *written) : GitError{written.error()};
        }
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return fileError(change.path, error);
    }
    return {};
}

} // namespace

namespace Git {

GitResult<GitApplyResult> applyToFolder(const QByteArray& repoTop, const QByteArray& base,
                                        const QByteArray& agent, const QList<QByteArray>& paths,
                                        const GitContext& context)
{
    GitApplyResult result;
    GitResult<QList<Change>> agentChanges = changes(repoTop, base, agent, context);
    if (!agentChanges)
        return GitError{agentChanges.error()};
    const QSet<QByteArray> picked(paths.cbegin(), paths.cend());
    QSet<QByteArray> allowed;
    for (const Change& change : *agentChanges) {
        if (picked.isEmpty() || selected(change, picked)) {
            allowed.insert(change.path);
            if (!change.oldPath.isEmpty())
                allowed.insert(change.oldPath);
        }
    }
    if (allowed.isEmpty()) {
        result.applied = true;
        return result;
    }

    GitResult<QByteArray> now = snapshot(repoTop, base, context);
    if (!now)
        return GitError{now.error()};
    GitResult<QByteArray> theirs = commitTree(repoTop, agent, base, context);
    if (!theirs)
        return GitError{theirs.error()};
    const Command mergeCommand{repoTop,
                               {"merge-tree", "--write-tree", "--name-only", "-z", *now, *theirs}};
    GitResult<CommandResult> merged = run(mergeCommand, context);
    if (!merged)
        return GitError{merged.error()};
    // 129: a git before 2.38, which has no --write-tree.
    if (merged->exitStatus == 129)
        return GitError{QStringLiteral("Applying changes needs git 2.38 or later")};
    if (merged->exitStatus > 1)
        return failure(mergeCommand, *merged);
    const GitMergeOutput merge = parseMergeTree(merged->output);
    if (merge.tree.isEmpty())
        return GitError{QStringLiteral("git merge-tree gave no tree")};

    for (const QByteArray& path : merge.conflicts) {
        if (allowed.contains(path))
            result.conflicts.push_back(path);
    }
    if (!result.conflicts.isEmpty()) {
        for (const GitMergeMessage& message : merge.messages) {
            if (std::any_of(message.paths.cbegin(), message.paths.cend(),
                            [&](const QByteArray& path) { return allowed.contains(path); }))
                result.messages.push_back(message);
        }
        return result;
    }

    // What the merge changes in the folder, file by file: a rename is a
    // deletion and an addition here.
    GitResult<QByteArray> diff = output(
        {repoTop, {"diff-tree", "-r", "-z", "--raw", "--no-renames", *now, merge.tree}}, context);
    if (!diff)
        return GitError{diff.error()};
    QList<Change> deletions;
    QList<Change> writes;
    QSet<QByteArray> removedPaths;
    for (const Change& change : parseRawNumstat(*diff)) {
        if (!allowed.contains(change.path))
            continue;
        if (change.newMode == 0) {
            deletions.push_back(change);
            removedPaths.insert(change.path);
        } else if (change.newMode == submoduleMode) {
            result.skipped.push_back(change.path);
        } else {
            writes.push_back(change);
        }
    }
    for (const Change& change : std::as_const(writes)) {
        const QByteArray inTheWay = obstacle(repoTop, change, removedPaths);
        if (inTheWay.isEmpty())
            continue;
        result.conflicts.push_back(change.path);
        result.messages.push_back(
            {{change.path},
             "CONFLICT (untracked)",
             "CONFLICT (untracked): " + inTheWay +
                 " is in the way and git does not track it, so it was left alone\n"});
    }
    if (!result.conflicts.isEmpty())
        return result;

    for (const Change& change : std::as_const(deletions)) {
        if (const int error = removeFile(repoTop, change.path))
            return fileError(change.path, error);
        result.removed.push_back(change.path);
    }
    for (const Change& change : std::as_const(writes)) {
        GitResult<void> written = writeFile(repoTop, change, context);
        if (!written)
            return GitError{written.error()};
        result.written.push_back(change.path);
    }
    result.applied = true;
    return result;
}

} // namespace Git
