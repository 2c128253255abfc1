#pragma once

// What this test process holds right now, read from /proc (Linux only), and
// whether other processes are gone.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace ProcessProbe {

// Entries of a /proc folder (a listing of fd/ always shows its own one too).
inline int countEntries(const QString& path)
{
    return int(QDir(path).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}
inline int openDescriptors()
{
    return countEntries(QStringLiteral("/proc/self/fd"));
}
inline int threads()
{
    return countEntries(QStringLiteral("/proc/self/task"));
}

// The state ('Z' for a zombie) and parent of `pid`; the command name before
// them may hold blanks and parentheses, so the fields follow the last ')'.
inline QList<QByteArray> stat(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return line.isEmpty() ? QList<QByteArray>() : line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// True once `pid` no longer runs. A zombie counts as gone only if it is not
// ours: an unreaped child of this process is exactly what tests look for.
inline bool gone(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    const QList<QByteArray> fields = stat(pid);
    return fields.size() > 1 && fields[0] == "Z" && fields[1].toLong() != ::getpid();
}

// Every live process whose parent is this one (zombies included), or whose
// process group is `group`.
inline QList<pid_t> children(pid_t group = 0)
{
    QList<pid_t> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = static_cast<pid_t>(name.toLong());
        const QList<QByteArray> fields = pid > 0 ? stat(pid) : QList<QByteArray>();
        if (fields.size() > 2 &&
            (group ? fields[2].toLong() == group && !gone(pid) : fields[1].toLong() == ::getpid()))
            found << pid;
    }
    return found;
}

// A decimal pid that a fake tool wrote to a file; 0 when there is none.
inline pid_t pidFrom(const QByteArray& text)
{
    return static_cast<pid_t>(text.trimmed().toLong());
}

} // namespace ProcessProbe
