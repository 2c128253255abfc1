#pragma once

#include "git/git.h"
#include "git/gitparsers.h"

#include <QByteArray>
#include <QList>

namespace Git {

// Makes a new worktree of `repo` at `path` (absolute; it must not exist or
// be an empty folder) with `commit` checked out on a detached HEAD, so that
// no branch is made or moved.
GitResult<void> addWorktree(const QByteArray& repo, const QByteArray& path,
                            const QByteArray& commit, const GitContext& context = {});

// Removes the worktree at `path` with its folder, whatever changes it holds.
// Only this worktree: the others, even those whose folders are gone, stay
// listed.
GitResult<void> removeWorktree(const QByteArray& repo, const QByteArray& path,
                               const GitContext& context = {});

// Moves Brevane's own worktree at `path` to `commit` (detached), its
// files made those of the commit: changes and files that are not ignored
// go, ignored ones (what a setup installed) stay. Never for the user's.
GitResult<void> moveWorktree(const QByteArray& path, const QByteArray& commit,
                             const GitContext& context = {});

// Every worktree of `repo`, the main one first.
GitResult<QList<GitWorktree>> listWorktrees(const QByteArray& repo, const GitContext& context = {});

// Copies into the worktree at `worktree` the files of `repoTop` that its
// ignore rules keep out of a snapshot but that `repoTop`/.worktreeinclude
// names (in the ignore files' own syntax, which git matches): settings
// such as .env that a tool needs to build or run. Modes are kept; where the
// file system can, the copies share the originals' blocks. A file already
// in the worktree is left alone. No .worktreeinclude: nothing is copied.
// The paths copied, relative to the top.
GitResult<QList<QByteArray>> copyWorktreeIncludes(const QByteArray& repoTop,
                                                  const QByteArray& worktree,
                                                  const GitContext& context = {});

} // namespace Git
