#include "platform/files.h"

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
