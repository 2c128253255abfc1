#pragma once

#include "git/git.h"
#include "git/gitparsers.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Separate worktrees: each agent of a session works in a git worktree of
// its own, made at one snapshot of the folder as the user sees it. What is
// made is Brevane's own and kept apart from what is the user's: the
// snapshot is held by refs/brevane/<session>/base, the worktrees live in
// Brevane's data folder, never inside the repository, and each is detached,
// so no branch is made or moved. The user's HEAD, index, refs, stash and
// files stay as they were.
//
// Every function here blocks on git and is meant for a worker thread. Git
// commands that change the repository's shared state run one after the
// other; the caller runs at most one of these functions per repository at
// a time.

// What is asked of prepareWorktrees().
struct WorktreePlan {
    QByteArray folder;     // the window's folder, in the repository or below its top
    QString sessionId;     // names the session's refs and folder: letters, digits, '-', '_', '.'
    QStringList tools;     // one worktree each; named like the session
    QByteArray dataFolder; // Brevane's own, absolute
    // A base made earlier for the session (under its refs): the worktrees
    // start there instead of at a new snapshot. Empty: snapshot the folder.
    QByteArray baseCommit = {};
};

// One worktree of the plan, as the history records it before it is made.
struct PlannedWorktree {
    QString tool;
    QByteArray repositoryTop;
    // <data folder>/worktrees/<repository name>-<session>/<tool>, with the
    // data folder's symbolic links resolved, as git lists it.
    QByteArray path;
    QByteArray baseCommit;
    // The window's folder below the repository's top, where the agent runs;
    // empty at the top.
    QByteArray subfolder;

    // Where the agent runs: `subfolder` in the worktree.
    QByteArray runFolder() const { return subfolder.isEmpty() ? path : path + '/' + subfolder; }

    friend bool operator==(const PlannedWorktree&, const PlannedWorktree&) = default;
};

// One worktree as prepareWorktrees() left it.
struct PreparedWorktree {
    PlannedWorktree worktree;
    // The worktree exists (to be recorded ready, so that it can be
    // discarded), even when `error` says something went wrong after git
    // made it.
    bool created = false;
    QString error; // empty: ready for the agent
    // The base has submodules, which a new worktree holds as empty folders.
    bool hasSubmodules = false;
};

// Makes the session's worktrees, one per tool, in order: finds the
// repository of the plan's folder, commits a snapshot of it (Git::snapshot)
// and points refs/brevane/<session>/base at it, works out each worktree,
// then hands them all to `recordBeforeCreating`, which returns only once
// they are on record (committed to the history). Then each is added at the
// base, with the ignored files that .worktreeinclude names copied in and
// the run folder made if the snapshot has none.
//
// An error when no worktree could be made: the folder is in no repository
// or in one without a work tree, the data folder lies inside the
// repository, git failed before the first worktree, or
// `recordBeforeCreating` returned false; then nothing is made and the
// session's refs are removed again. Otherwise one entry per tool, each with
// its own error if git failed for it.
GitResult<QList<PreparedWorktree>>
prepareWorktrees(const WorktreePlan& plan,
                 const std::function<bool(const QList<PlannedWorktree>&)>& recordBeforeCreating,
                 const GitContext& context = {});

// What discardWorktrees() did.
struct DiscardedWorktrees {
    QList<QByteArray> removed; // those that are gone now, also the ones that were already
    QStringList errors;        // git's messages, for those that stay and for the refs
};

// Removes the worktrees at `paths` of the repository at `repoTop`, each one
// alone and whatever changes it holds (never `git worktree prune`, which
// would drop the user's stale entries too), with the session's folder once
// empty. Once all are gone, so are the session's refs (refs/brevane/
// <session>/); an empty `sessionId` leaves refs alone.
DiscardedWorktrees discardWorktrees(const QByteArray& repoTop, const QString& sessionId,
                                    const QList<QByteArray>& paths, const GitContext& context = {});

// A worktree that the history knows of, not removed.
struct KnownWorktree {
    QString sessionId;
    QByteArray repositoryTop;
    QByteArray path;
    bool ready = false; // recorded as made; false: it was about to be

    friend bool operator==(const KnownWorktree&, const KnownWorktree&) = default;
};

// What findLeftovers() found.
struct WorktreeCheck {
    // Known worktrees whose folders are gone; git's entries for them are
    // removed. The history may mark them removed.
    QList<KnownWorktree> gone;
    // Worktrees in the data folder that git lists but that were never
    // recorded as made (a crash between making and recording one): the
    // user may discard them. Those the history has no row for at all come
    // with an empty session id.
    QList<KnownWorktree> leftovers;
    // Repositories that could not be read, or entries that could not be removed.
    QStringList errors;
};

// Holds the worktrees the history knows of (`known`) against what git
// lists in each of their repositories. Only Brevane's own are touched: the
// user's worktrees, stale ones included, stay as they are.
WorktreeCheck findLeftovers(const QList<KnownWorktree>& known, const QByteArray& dataFolder,
                            const GitContext& context = {});

// What an agent's worktree holds after a turn, against the session's base.
struct AgentSnapshot {
    QByteArray commit;   // the worktree as it was, under refs/brevane/<session>/<tool>/<turn>
    QByteArray turnFrom; // the snapshot of the turn before (or the base)
    QList<GitFileChange> whole; // base -> commit
    QList<GitFileChange> turn;  // turnFrom -> commit
};

// Snapshots `worktree` as it is now (the agent's own index is only read)
// as turn `turn` (counted from 1) of its agent, points the turn's ref at
// it, and works out what changed over the session and in this turn.
GitResult<AgentSnapshot> snapshotAgent(const PlannedWorktree& worktree, const QString& sessionId,
                                       int turn, const GitContext& context = {});
