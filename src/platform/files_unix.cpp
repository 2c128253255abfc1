#include "platform/files.h"

#include "platform/fd.h"

#include <QList>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

QByteArray homeDirectory()
{
    QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return home;

    // getpwuid_r rather than getpwuid: discovery runs on a background thread.
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < 1024 * 1024) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found || !found->pw_dir)
            return QByteArray();
        return QByteArray(found->pw_dir);
    }
}

QByteArray currentDirectory()
{
    QByteArray buffer(256, Qt::Uninitialized);
    for (;;) {
        if (::getcwd(buffer.data(), size_t(buffer.size())))
            return QByteArray(buffer.constData());
        if (errno != ERANGE || buffer.size() >= 1024 * 1024)
            return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
}

bool isDirectory(const QByteArray& path)
{
    if (path.isEmpty() || path.contains('\0'))
        return false;
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isExecutableFile(const QByteArray& path)
{
    // A NUL would cut the path short and test another file.
    if (path.isEmpty() || path.contains('\0'))
        return false;
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.constData(), X_OK) == 0;
}

int folderError(const QByteArray& path)
{
    if (path.isEmpty() || path.contains('\0'))
        return ENOENT;
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return errno;
    if (!S_ISDIR(info.st_mode))
        return ENOTDIR;
    return ::access(path.constData(), X_OK) == 0 ? 0 : errno;
}

std::optional<QByteArray> findInPath(const QByteArray& name)
{
    if (name.isEmpty() || name.contains('/') || name.contains('\0'))
        return std::nullopt;
    for (const QByteArray& dir : qgetenv("PATH").split(':')) {
        if (!dir.startsWith('/'))
            continue;
        QByteArray path = dir + '/' + name;
        if (isExecutableFile(path))
            return path;
    }
    return std::nullopt;
}

namespace {

int copySymbolicLink(const QByteArray& from, const QByteArray& to, off_t size)
{
    QByteArray target(qsizetype(size) + 1, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return errno;
        // A link retargeted since lstat() may have grown: read it again.
        if (n < target.size()) {
            target.truncate(n);
            break;
        }
        target.resize(target.size() * 2);
    }
    return ::symlink(target.constData(), to.constData()) == 0 ? 0 : errno;
}

int copyContent(int from, int to)
{
#if defined(__linux__) && defined(FICLONE)
    if (::ioctl(to, FICLONE, from) == 0)
        return 0;
#endif
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const long n = readRetrying(from, buffer.data(), buffer.size());
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        for (long done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return errno;
            done += w;
        }
    }
}

} // namespace

int copyFile(const QByteArray& from, const QByteArray& to)
{
    if (from.isEmpty() || to.isEmpty() || from.contains('\0') || to.contains('\0'))
        return EINVAL;
    struct stat info {};
    if (::lstat(from.constData(), &info) != 0)
        return errno;
    if (S_ISLNK(info.st_mode))
        return copySymbolicLink(from, to, info.st_size);
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    UniqueFd source(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!source.valid())
        return errno;
    const mode_t mode = info.st_mode & 0777;
    UniqueFd target(
        ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (!target.valid())
        return errno;
    int error = copyContent(source.get(), target.get());
    // The umask narrowed the mode given to open().
    if (error == 0 && ::fchmod(target.get(), mode) != 0)
        error = errno;
        // Last, as writing sets them. A copy of git's index needs its time: an
        // entry not older than the index file is compared by content, as it
        // may have changed within the same tick, and a newer time would make
        // git trust its stat data instead.
#if defined(__APPLE__)
    const timespec times[2] = {info.st_atimespec, info.st_mtimespec};
#else
    const timespec times[2] = {info.st_atim, info.st_mtim};
#endif
    if (error == 0 && ::futimens(target.get(), times) != 0)
        error = errno;
    if (error != 0)
        ::unlink(to.constData());
    return error;
}

int makeFolders(const QByteArray& root, const QByteArray& relative)
{
    if (root.contains('\0') || relative.contains('\0'))
        return EINVAL;
    QByteArray path = root;
    for (const QByteArray& part : relative.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return EINVAL;
        path += '/' + part;
        if (::mkdir(path.constData(), 0777) == 0)
            continue;
        if (errno != EEXIST)
            return errno;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            return errno;
        if (!S_ISDIR(info.st_mode))
            return ENOTDIR;
    }
    return 0;
}

namespace {

struct Usage {
    const WakeUpFd* cancel;
    qint64 bytes = 0;
    std::set<std::pair<dev_t, ino_t>> linked; // files with several links seen
};

// Adds what `name` in the folder `at` takes, and what it holds. Folders are
// opened relative to their parent, so a renamed ancestor can't redirect the walk.
bool addUsage(int at, const char* name, Usage& usage)
{
    if (usage.cancel && usage.cancel->raised())
        return false;
    struct stat info {};
    if (::fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return true;
    if (info.st_nlink > 1 && !S_ISDIR(info.st_mode) &&
        !usage.linked.insert({info.st_dev, info.st_ino}).second)
        return true;
    usage.bytes += qint64(info.st_blocks) * 512;
    if (!S_ISDIR(info.st_mode))
        return true;
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return true;
    DIR* folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return true;
    }
    bool going = true;
    while (going) {
        const dirent* entry = ::readdir(folder);
        if (!entry)
            break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        going = addUsage(::dirfd(folder), entry->d_name, usage);
    }
    ::closedir(folder);
    return going;
}

} // namespace

std::optional<qint64> diskUsage(const QByteArray& path, const WakeUpFd* cancel)
{
    Usage usage{cancel, 0, {}};
    if (path.contains('\0') || !addUsage(AT_FDCWD, path.constData(), usage))
        return std::nullopt;
    return usage.bytes;
}
