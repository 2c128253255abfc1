#pragma once

#include "git/git.h"
#include "git/gitparsers.h"

#include <QByteArray>
#include <QList>

struct GitApplyResult {
    // False: some change would clash with the folder as it is now; then
    // nothing at all was written, and `conflicts` says where.
    bool applied = false;
    QList<QByteArray> conflicts;     // paths, relative to the top
    QList<GitMergeMessage> messages; // git's about them, and ours about a file
                                     // in the way that git does not track
    QList<QByteArray> written;       // files written (added, changed, renamed to)
    QList<QByteArray> removed;       // files removed (deleted, renamed from)
    QList<QByteArray> skipped;       // submodules, which are not written
};

namespace Git {

// Brings what an agent changed, from `base` to `agent` (commits), into the
// work tree at `repoTop` as it is now, like a merge: the folder is taken as
// it stands (a snapshot), the agent's changes are merged into it, and
// exactly the files the merge changes are written, deleted or renamed,
// with their modes, through the repository's own filters. The index, HEAD
// and refs are not touched. `paths` (empty: all) picks changes by their
// new or old path.
//
// When a picked change conflicts with the folder (the user changed the same
// lines, or an untracked or ignored file is in the way), nothing is
// written and the result names the conflicts. Needs git 2.38 or later.
GitResult<GitApplyResult> applyToFolder(const QByteArray& repoTop, const QByteArray& base,
                                        const QByteArray& agent,
                                        const QList<QByteArray>& paths = {},
                                        const GitContext& context = {});

} // namespace Git
