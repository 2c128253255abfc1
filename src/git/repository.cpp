#include "git/repository.h"

#include "platform/files.h"
#include "platform/spawn.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace {

const QByteArray ownRefs = "refs/brevane/";

bool exists(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

// Output that is one path and a newline: the path, whatever bytes it holds.
QByteArray onePath(QByteArray output)
{
    if (output.endsWith('\n'))
        output.chop(1);
    return output;
}

GitRepository::Operation operationIn(const QByteArray& gitDir)
{
    using Operation = GitRepository::Operation;
    if (exists(gitDir + "/rebase-merge") || exists(gitDir + "/rebase-apply"))
        return Operation::Rebase;
    if (exists(gitDir + "/MERGE_HEAD"))
        return Operation::Merge;
    if (exists(gitDir + "/CHERRY_PICK_HEAD"))
        return Operation::CherryPick;
    if (exists(gitDir + "/REVERT_HEAD"))
        return Operation::Revert;
    return Operation::None;
}

// A name or id that git could take for an option.
bool looksLikeOption(const QByteArray& word)
{
    return word.startsWith('-');
}

GitError notOwnRef(const QByteArray& ref)
{
    return GitError{QStringLiteral("Not a ref of Brevane's: %1").arg(QString::fromUtf8(ref))};
}

} // namespace

namespace Git {

GitResult<GitRepository> discover(const QByteArray& folder, const GitContext& context)
{
    if (const int error = folderError(folder))
        return GitError{
            QStringLiteral("%1: %2").arg(QString::fromUtf8(folder), systemErrorText(error))};
    // Not being in a repository is told apart from other failures by git's
    // message, which is read untranslated.
    GitResult<CommandResult> first =
        run({folder, {"rev-parse", "--is-bare-repository", "--absolute-git-dir"}, {"LC_ALL=C"}},
            context);
    if (!first)
        return GitError{first.error()};
    GitRepository repository;
    if (first->exitStatus != 0) {
        if (first->errorOutput.contains("not a git repository"))
            return repository;
        return failure({folder, {"rev-parse"}}, *first);
    }
    // "true" or "false", then the path, which may hold line breaks of its own.
    const QByteArray& out = first->output;
    const qsizetype lineEnd = out.indexOf('\n');
    if (lineEnd < 0)
        return GitError{QStringLiteral("git rev-parse gave no git folder")};
    repository.found = true;
    repository.bare = out.first(lineEnd) == "true";
    repository.gitDir = onePath(out.sliced(lineEnd + 1));

    GitResult<QByteArray> common =
        output({folder, {"rev-parse", "--path-format=absolute", "--git-common-dir"}}, context);
    if (!common)
        return GitError{common.error()};
    repository.commonDir = onePath(*common);

    if (!repository.bare) {
        // Fails inside the git folder, which has no work tree.
        GitResult<CommandResult> top = run({folder, {"rev-parse", "--show-toplevel"}}, context);
        if (!top)
            return GitError{top.error()};
        if (top->exitStatus == 0)
            repository.topLevel = onePath(top->output);
    }

    GitResult<CommandResult> head =
        run({folder, {"rev-parse", "--verify", "--quiet", "HEAD^{commit}"}}, context);
    if (!head)
        return GitError{head.error()};
    if (head->exitStatus == 0)
        repository.head = head->output.trimmed();

    repository.inProgress = operationIn(repository.gitDir);
    return repository;
}

namespace {

// A private index in `scratch`: nothing of the user's index is written.
GitResult<QByteArray> scratchIndex(const QTemporaryDir& scratch)
{
    if (!scratch.isValid())
        return GitError{
            QStringLiteral("Could not make a temporary folder: %1").arg(scratch.errorString())};
    return QFile::encodeName(scratch.filePath(QStringLiteral("index")));
}

// The work tree at `repoTop` as the user sees it, written as a tree through
// the private index in `scratch`, which then holds it. The work tree's own
// index is only read, by copying it: starting from it keeps what was
// staged (a file added despite an ignore rule, say) and its cached file
// stats, so unchanged files are not read again.
GitResult<QByteArray> writeWorkTree(const QByteArray& repoTop, const QTemporaryDir& scratch,
                                    const GitContext& context)
{
    const GitResult<QByteArray> privateIndex = scratchIndex(scratch);
    if (!privateIndex)
        return GitError{privateIndex.error()};
    GitResult<QByteArray> index = Git::output(
        {repoTop, {"rev-parse", "--path-format=absolute", "--git-path", "index"}}, context);
    if (!index)
        return GitError{index.error()};
    const int copyError = copyFile(onePath(*index), *privateIndex);
    if (copyError != 0 && copyError != ENOENT)
        return GitError{
            QStringLiteral("Could not copy the index: %1").arg(systemErrorText(copyError))};
    const QByteArray indexVariable = "GIT_INDEX_FILE=" + *privateIndex;
    GitResult<QByteArray> added =
        Git::output({repoTop, {"add", "--all"}, {indexVariable}}, context);
    if (!added)
        return GitError{added.error()};
    GitResult<QByteArray> tree = Git::output({repoTop, {"write-tree"}, {indexVariable}}, context);
    if (!tree)
        return GitError{tree.error()};
    return tree->trimmed();
}

} // namespace

GitResult<QByteArray> snapshot(const QByteArray& repoTop, const QByteArray& parent,
                               const GitContext& context)
{
    QTemporaryDir scratch;
    const GitResult<QByteArray> tree = writeWorkTree(repoTop, scratch, context);
    if (!tree)
        return GitError{tree.error()};
    return commitTree(repoTop, *tree, parent, context);
}

GitResult<void> restoreFiles(const QByteArray& worktreeTop, const QByteArray& commit,
                             const GitContext& context)
{
    if (commit.isEmpty() || looksLikeOption(commit))
        return GitError{QStringLiteral("Not a commit: %1").arg(QString::fromUtf8(commit))};
    QTemporaryDir scratch;
    const GitResult<QByteArray> now = writeWorkTree(worktreeTop, scratch, context);
    if (!now)
        return GitError{now.error()};
    GitResult<QByteArray> then =
        output({worktreeTop, {"rev-parse", "--verify", commit + "^{tree}"}}, context);
    if (!then)
        return GitError{then.error()};
    if (then->trimmed() == *now)
        return {};
    // Git's own switch from one tree to the other, through the index that
    // holds the first: only the files that differ are written or removed.
    if (GitResult<QByteArray> moved = output({worktreeTop,
                                              {"read-tree", "-m", "-u", *now, then->trimmed()},
                                              {"GIT_INDEX_FILE=" + *scratchIndex(scratch)}},
                                             context);
        !moved)
        return GitError{moved.error()};
    return {};
}

GitResult<QByteArray> combine(const QByteArray& repo, const QByteArray& base,
                              const QList<GitFileChange>& picks, const GitContext& context)
{
    QTemporaryDir scratch;
    const GitResult<QByteArray> privateIndex = scratchIndex(scratch);
    if (!privateIndex)
        return GitError{privateIndex.error()};
    const QByteArray indexVariable = "GIT_INDEX_FILE=" + *privateIndex;
    if (looksLikeOption(base))
        return GitError{QStringLiteral("Not a commit: %1").arg(QString::fromUtf8(base))};
    if (GitResult<QByteArray> read = output({repo, {"read-tree", base}, {indexVariable}}, context);
        !read)
        return GitError{read.error()};
    // "mode id<TAB>path", each ended by a NUL; mode 0 takes a path out.
    // Every removal goes before every addition, so that a rename away from
    // a path never takes out what another pick put there.
    QByteArray removals;
    QByteArray additions;
    QSet<QByteArray> picked;
    for (const GitFileChange& change : picks) {
        if (change.path.isEmpty() || change.path.contains('\0'))
            return GitError{QStringLiteral("Not a path: %1").arg(QString::fromUtf8(change.path))};
        if (change.kind != GitFileChange::Kind::Deleted)
            picked.insert(change.path);
    }
    for (const GitFileChange& change : picks) {
        const QByteArray none(std::max<qsizetype>(40, change.newId.size()), '0');
        const auto remove = [&](const QByteArray& path) {
            if (!picked.contains(path))
                removals += "0 " + none + '\t' + path + '\0';
        };
        if (change.kind == GitFileChange::Kind::Renamed && !change.oldPath.isEmpty())
            remove(change.oldPath);
        if (change.kind == GitFileChange::Kind::Deleted)
            remove(change.path);
        else
            additions += QByteArray::number(change.newMode, 8) + ' ' + change.newId + '\t' +
                         change.path + '\0';
    }
    const QByteArray entries = removals + additions;
    if (GitResult<QByteArray> updated = output(
            {repo, {"update-index", "-z", "--index-info"}, {indexVariable}, entries}, context);
        !updated)
        return GitError{updated.error()};
    GitResult<QByteArray> tree = output({repo, {"write-tree"}, {indexVariable}}, context);
    if (!tree)
        return GitError{tree.error()};
    return commitTree(repo, tree->trimmed(), base, context);
}

GitResult<QByteArray> commitTree(const QByteArray& repo, const QByteArray& tree,
                                 const QByteArray& parent, const GitContext& context)
{
    if (tree.isEmpty() || looksLikeOption(tree) || looksLikeOption(parent))
        return GitError{QStringLiteral("Not a tree and a commit: %1 %2")
                            .arg(QString::fromUtf8(tree), QString::fromUtf8(parent))};
    // Brevane makes its own commits, whatever identity (or none) the user
    // has, and never signs them with the user's key.
    const QByteArray date = "@" + QByteArray::number(QDateTime::currentSecsSinceEpoch()) + " +0000";
    const QList<QByteArray> identity{"GIT_AUTHOR_NAME=Brevane",
                                     "GIT_AUTHOR_EMAIL=brevane@brevane.invalid",
                                     "GIT_AUTHOR_DATE=" + date,
                                     "GIT_COMMITTER_NAME=Brevane",
                                     "GIT_COMMITTER_EMAIL=brevane@brevane.invalid",
                                     "GIT_COMMITTER_DATE=" + date};
    QList<QByteArray> arguments{"commit-tree", "--no-gpg-sign", "-m", "Brevane snapshot"};
    if (!parent.isEmpty())
        arguments << "-p" << parent;
    // A commit names its tree too.
    arguments << tree + "^{tree}";
    GitResult<QByteArray> commit = output({repo, arguments, identity}, context);
    if (!commit)
        return GitError{commit.error()};
    return commit->trimmed();
}

GitResult<void> setRef(const QByteArray& repo, const QByteArray& ref, const QByteArray& commit,
                       const GitContext& context)
{
    if (!ref.startsWith(ownRefs) || ref.size() == ownRefs.size())
        return notOwnRef(ref);
    if (looksLikeOption(commit) || commit.isEmpty())
        return GitError{QStringLiteral("Not a commit: %1").arg(QString::fromUtf8(commit))};
    GitResult<QByteArray> done = output({repo, {"update-ref", ref, commit}}, context);
    if (!done)
        return GitError{done.error()};
    return {};
}

GitResult<void> deleteRefs(const QByteArray& repo, const QByteArray& prefix,
                           const GitContext& context)
{
    if (!prefix.startsWith(ownRefs))
        return notOwnRef(prefix);
    GitResult<QByteArray> refs =
        output({repo, {"for-each-ref", "--format=%(refname)", prefix}}, context);
    if (!refs)
        return GitError{refs.error()};
    // A ref name holds no line break, and none of those listed can lie
    // outside the prefix; the check stays as a guard all the same.
    QByteArray commands;
    for (const QByteArray& ref : refs->split('\n')) {
        if (ref.startsWith(prefix))
            commands += "delete " + ref + '\0' + '\0';
    }
    if (commands.isEmpty())
        return {};
    GitResult<QByteArray> done =
        output({repo, {"update-ref", "--stdin", "-z"}, {}, commands}, context);
    if (!done)
        return GitError{done.error()};
    return {};
}

} // namespace Git
