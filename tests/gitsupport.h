#pragma once

#include "git/git.h"
#include "testsupport.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// What the suites that run the real git share: a git of the tests' own,
// and files whose names need not be UTF-8, read and written byte for byte.

// Keeps every setting and identity of the developer's away from git; with
// a FakeHome for HOME, git then has no identity at all. For initTestCase().
inline void isolateGit()
{
    qputenv("GIT_CONFIG_NOSYSTEM", "1");
    for (const char* name : {"XDG_CONFIG_HOME", "GIT_CONFIG_GLOBAL", "GIT_AUTHOR_NAME",
                             "GIT_AUTHOR_EMAIL", "GIT_COMMITTER_NAME", "GIT_COMMITTER_EMAIL",
                             "EMAIL", "GIT_DIR", "GIT_WORK_TREE", "GIT_INDEX_FILE"})
        qunsetenv(name);
}

inline QByteArray bytes(const QString& path)
{
    return QFile::encodeName(path);
}

inline QByteArray canonical(const QByteArray& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : path;
}

// git for the test's own steps, with an identity of its own; a step meant
// to fail says so with `quiet`.
inline bool git(const QByteArray& folder, const QList<QByteArray>& arguments,
                QByteArray* out = nullptr, bool quiet = false)
{
    const QList<QByteArray> options{"-c", "user.name=Test",
                                    "-c", "user.email=test@example.com",
                                    "-c", "init.defaultBranch=main"};
    const CommandResult result = runCommand({*Git::program({}), options + arguments, folder},
                                            std::chrono::milliseconds(deadline));
    if (out)
        *out = result.output;
    if (!result.succeeded() && !quiet)
        qWarning() << "git" << arguments << "failed:" << result.errorOutput;
    return result.succeeded();
}

inline QByteArray gitOutput(const QByteArray& folder, const QList<QByteArray>& arguments)
{
    QByteArray out;
    return git(folder, arguments, &out) ? out.trimmed() : QByteArray("(failed)");
}

inline bool writeFile(const QByteArray& path, const QByteArray& content, mode_t mode = 0644)
{
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1))
        ::mkdir(path.first(slash).constData(), 0755);
    ::unlink(path.constData());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    ::close(fd);
    return ok && ::chmod(path.constData(), mode) == 0;
}

inline QByteArray readFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    QByteArray content;
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, n);
    if (fd >= 0)
        ::close(fd);
    return content;
}

inline mode_t modeOf(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 ? info.st_mode : 0;
}

// Every entry below `folder` but .git: its path, mode and content (a
// link's target), sorted, as one text.
inline QByteArray folderState(const QByteArray& folder, const QByteArray& relative = {})
{
    QList<QByteArray> entries;
    const QByteArray here = relative.isEmpty() ? folder : folder + '/' + relative;
    if (DIR* dir = ::opendir(here.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name = entry->d_name;
            if (name == "." || name == ".." || (relative.isEmpty() && name == ".git"))
                continue;
            const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
            const QByteArray full = folder + '/' + path;
            const mode_t mode = modeOf(full);
            QByteArray line = path + ' ' + QByteArray::number(mode, 8) + ' ';
            if (S_ISDIR(mode)) {
                line += '\n' + folderState(folder, path);
            } else if (S_ISLNK(mode)) {
                char target[PATH_MAX];
                const ssize_t n = ::readlink(full.constData(), target, sizeof target);
                line += QByteArray(target, std::max<ssize_t>(n, 0));
            } else {
                line += readFile(full);
            }
            entries.push_back(line);
        }
        ::closedir(dir);
    }
    std::sort(entries.begin(), entries.end());
    return entries.join('\n');
}

// Removes `path` and all below it. QTemporaryDir cannot: it loses names
// that are not UTF-8.
inline void removeTree(const QByteArray& path)
{
    if (!S_ISDIR(modeOf(path))) {
        ::unlink(path.constData());
        return;
    }
    if (DIR* dir = ::opendir(path.constData())) {
        QList<QByteArray> names;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        for (const QByteArray& name : names)
            removeTree(path + '/' + name);
    }
    ::rmdir(path.constData());
}

// All of a repository that is the user's besides the files: HEAD, the
// index, every ref (but those under `skippedRefs`, when given), the stash.
inline QByteArray repositoryState(const QByteArray& top, const QByteArray& skippedRefs = {})
{
    QList<QByteArray> refs =
        gitOutput(top, {"for-each-ref", "--format=%(refname) %(objectname)"}).split('\n');
    if (!skippedRefs.isEmpty())
        refs.removeIf([&](const QByteArray& ref) { return ref.startsWith(skippedRefs); });
    return readFile(top + "/.git/HEAD") + '\n' + readFile(top + "/.git/index") + '\n' +
           refs.join('\n') + '\n' + gitOutput(top, {"stash", "list"});
}
