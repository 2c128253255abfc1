#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Pure readers of git's machine output (the -z forms, where every name is
// NUL-terminated and never quoted): no process, no disk. Each takes output
// as git wrote it and stops at the first record it cannot read, keeping the
// records before it.

// One entry of `git worktree list --porcelain -z`.
struct GitWorktree {
    QByteArray path;
    QByteArray head;   // the commit checked out; empty for a bare repository
    QByteArray branch; // "refs/heads/NAME"; empty when detached
    bool bare = false;
    bool detached = false;
    bool locked = false;
    QByteArray lockReason;
    bool prunable = false; // its folder is gone, so `git worktree prune` would drop it
    QByteArray prunableReason;
};
QList<GitWorktree> parseWorktreeList(QByteArrayView output);

// One file of a change set between two trees.
struct GitFileChange {
    enum class Kind { Added, Modified, Deleted, Renamed, Copied, TypeChanged };

    QByteArray path;    // the new path (the old one for a deletion)
    QByteArray oldPath; // renames and copies: where it came from; else empty
    Kind kind = Kind::Modified;
    int oldMode = 0;  // git's file modes, e.g. 0100644, 0100755, 0120000 (a
    int newMode = 0;  // symbolic link), 0160000 (a submodule); 0 where absent
    QByteArray oldId; // blob ids; all zeros where absent
    QByteArray newId;
    bool binary = false; // no line counts then
    qint64 addedLines = 0;
    qint64 removedLines = 0;
};
// The output of `git diff-tree -r -z --raw --numstat`: the raw records
// first, then the numstat ones, joined by path. A raw record with no
// numstat record keeps zero counts.
QList<GitFileChange> parseRawNumstat(QByteArrayView output);

// One message of `git merge-tree --write-tree -z`: the paths it is about, a
// stable type ("CONFLICT (contents)", "Auto-merging") and git's text for a
// person.
struct GitMergeMessage {
    QList<QByteArray> paths;
    QByteArray type;
    QByteArray text;
};
struct GitMergeOutput {
    QByteArray tree;             // the merged tree, conflict markers and all
    QList<QByteArray> conflicts; // the conflicted paths, each once
    QList<GitMergeMessage> messages;
};
// The output of `git merge-tree --write-tree --name-only -z`; empty `tree`
// when there is none.
GitMergeOutput parseMergeTree(QByteArrayView output);
