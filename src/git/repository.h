#pragma once

#include "git/git.h"
#include "git/gitparsers.h"

#include <QByteArray>

// The repository a folder belongs to, as git sees it.
struct GitRepository {
    // What the repository is in the middle of, as its own git folder shows.
    enum class Operation { None, Merge, Rebase, CherryPick, Revert };

    bool found = false; // false: the folder is in no repository; the rest is empty
    bool bare = false;
    QByteArray topLevel;  // the work tree's top folder; empty in a bare repository and
                          // in a git folder itself
    QByteArray gitDir;    // absolute; a linked worktree's own
    QByteArray commonDir; // absolute; shared by all the worktrees
    Operation inProgress = Operation::None;
    QByteArray head; // the commit HEAD names; empty before the first commit

    bool hasCommit() const { return !head.isEmpty(); }
};

namespace Git {

// The repository `folder` is in; a folder in none is found == false, not an
// error. Errors: the folder cannot be entered, git is missing or refuses the
// repository (one owned by someone else, say).
GitResult<GitRepository> discover(const QByteArray& folder, const GitContext& context = {});

// A commit of the work tree at `repoTop` as the user sees it: HEAD with
// every staged and unstaged change and every untracked file that is not
// ignored, with `parent` as its parent (none when empty, as in a repository
// without a commit). It is built in a private copy of the index, and made
// by Brevane as author and committer, so the user's index, HEAD, refs,
// stash and files stay exactly as they were, and it needs no identity
// configured. Nothing refers to the commit: set a ref to keep it.
GitResult<QByteArray> snapshot(const QByteArray& repoTop, const QByteArray& parent,
                               const GitContext& context = {});

// Puts the files of the work tree at `worktreeTop` back as they were in
// `commit`, as far as snapshot() sees them: files added since (and not
// ignored) are removed, those changed or removed are written back, ignored
// ones stay. Through a private index: the work tree's own index and HEAD
// are left as they are. Meant for Brevane's own worktrees, never the user's.
GitResult<void> restoreFiles(const QByteArray& worktreeTop, const QByteArray& commit,
                             const GitContext& context = {});

// A commit of `tree` (or of a commit's tree) with `parent` as its only
// parent (none when empty), made by Brevane as author and committer.
GitResult<QByteArray> commitTree(const QByteArray& repo, const QByteArray& tree,
                                 const QByteArray& parent, const GitContext& context = {});

// Points `ref` at `commit`. Only refs under "refs/brevane/" may be set,
// so that no ref of the user's is ever moved.
GitResult<void> setRef(const QByteArray& repo, const QByteArray& ref, const QByteArray& commit,
                       const GitContext& context = {});

// Deletes every ref under `prefix` (a whole path component: "refs/brevane/a"
// is not a prefix of "refs/brevane/ab/base"), which must be
// "refs/brevane/" or lie under it.
GitResult<void> deleteRefs(const QByteArray& repo, const QByteArray& prefix,
                           const GitContext& context = {});

// A commit on `base` that holds, for each of `picks` (changes as git's
// raw diff gives them, from `base` to some commit of this repository),
// what that change did: the file's new contents and mode, its deletion, or
// its rename. Made through a private index; nothing of the user's is
// touched.
GitResult<QByteArray> combine(const QByteArray& repo, const QByteArray& base,
                              const QList<GitFileChange>& picks, const GitContext& context = {});

} // namespace Git
