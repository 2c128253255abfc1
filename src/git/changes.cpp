#include "git/changes.h"

namespace {

// diff-tree rather than diff: plumbing reads none of the user's diff
// settings (colour, external diff tools, relative paths, prefixes), so the
// output is the same on every machine.

bool validRevisions(const QByteArray& from, const QByteArray& to)
{
    return !from.isEmpty() && !to.isEmpty() && !from.startsWith('-') && !to.startsWith('-');
}

GitError badRevisions(const QByteArray& from, const QByteArray& to)
{
    return GitError{QStringLiteral("Not a pair of commits: %1 %2")
                        .arg(QString::fromUtf8(from), QString::fromUtf8(to))};
}

} // namespace

namespace Git {

GitResult<QList<GitFileChange>> changes(const QByteArray& repo, const QByteArray& from,
                                        const QByteArray& to, const GitContext& context)
{
    if (!validRevisions(from, to))
        return badRevisions(from, to);
    GitResult<QByteArray> out =
        output({repo, {"diff-tree", "-r", "-z", "--raw", "--numstat", "--find-renames", from, to}},
               context);
    if (!out)
        return GitError{out.error()};
    return parseRawNumstat(*out);
}

GitResult<QByteArray> diffText(const QByteArray& repo, const QByteArray& from, const QByteArray& to,
                               const QByteArray& path, const QByteArray& oldPath,
                               const GitContext& context)
{
    if (!validRevisions(from, to))
        return badRevisions(from, to);
    QList<QByteArray> arguments{"diff-tree", "-r", "-p", "--find-renames", from, to, "--", path};
    if (!oldPath.isEmpty() && oldPath != path)
        arguments << oldPath;
    // Paths are names, never patterns: "*.txt" is a file called that.
    return output({repo, arguments, {"GIT_LITERAL_PATHSPECS=1"}}, context);
}

GitResult<QByteArray> wholeFileDiff(const QByteArray& repo, const QByteArray& from,
                                    const QByteArray& to, const QByteArray& path,
                                    const GitContext& context)
{
    if (!validRevisions(from, to))
        return badRevisions(from, to);
    return output(
        {repo,
         {"diff-tree", "-r", "-p", "--no-renames", "--unified=2147483647", from, to, "--", path},
         {"GIT_LITERAL_PATHSPECS=1"}},
        context);
}

} // namespace Git
