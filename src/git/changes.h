#pragma once

#include "git/git.h"
#include "git/gitparsers.h"

#include <QByteArray>
#include <QList>

namespace Git {

// The files that differ between the commits (or trees) `from` and `to`,
// with renames found, and the lines added and removed in each.
GitResult<QList<GitFileChange>> changes(const QByteArray& repo, const QByteArray& from,
                                        const QByteArray& to, const GitContext& context = {});

// The unified diff of one file between `from` and `to`; for a renamed
// file, give its old path too.
GitResult<QByteArray> diffText(const QByteArray& repo, const QByteArray& from, const QByteArray& to,
                               const QByteArray& path, const QByteArray& oldPath = {},
                               const GitContext& context = {});

// Both versions of one file between `from` and `to` as one unified diff
// holding every line (the whole file is context), renames not looked for:
// what shows the two side by side.
GitResult<QByteArray> wholeFileDiff(const QByteArray& repo, const QByteArray& from,
                                    const QByteArray& to, const QByteArray& path,
                                    const GitContext& context = {});

} // namespace Git
