#include "platform/files.h"

#include <QFile>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

QString homeDirectory()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QFile::decodeName(home);

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
            return QString();
        return QFile::decodeName(found->pw_dir);
    }
}

bool isExecutable(const QString& path)
{
    // A NUL would cut the path short and test another file.
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    return ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}
