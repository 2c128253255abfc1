#pragma once

// What this test process holds right now, read from /proc (Linux only): open
// descriptors, threads, resident memory, and the processes it is the parent
// of. Also whether some other process is gone. Header-only, so that any test
// executable can use it without a change to the build.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace ProcessProbe {

inline bool available()
{
    return QFile::exists(QStringLiteral("/proc/self/status"));
}

// Entries of a /proc directory. Listing /proc/self/fd shows the listing's own
// descriptor as well, but always exactly one, so counts stay comparable.
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

// VmRSS in KiB, or -1.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmRSS:");
    return at < 0 ? -1 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong();
}

// The state ('Z' for a zombie) and parent of `pid`, from /proc/<pid>/stat.
// The command name before them may itself hold blanks and parentheses: so
// parse from the last ')'. False when there is no such process.
inline bool readStat(pid_t pid, char& state, pid_t& parent)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty())
        return false;
    state = fields[0][0];
    parent = static_cast<pid_t>(fields[1].toLong());
    return true;
}

// Every process whose parent is this one, zombies included.
inline QList<pid_t> children()
{
    QList<pid_t> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = static_cast<pid_t>(name.toLong());
        char state = 0;
        pid_t parent = 0;
        if (pid > 0 && readStat(pid, state, parent) && parent == ::getpid())
            found << pid;
    }
    return found;
}

// True once `pid` no longer runs. A zombie counts as gone only if it is not
// ours: an unreaped child of this process is exactly what tests look for.
inline bool gone(pid_t pid)
{
    char state = 0;
    pid_t parent = 0;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    return readStat(pid, state, parent) && state == 'Z' && parent != ::getpid();
}

// Reads a decimal pid that a fake tool wrote to a file; 0 when there is none.
inline pid_t pidFrom(const QByteArray& text)
{
    return static_cast<pid_t>(text.trimmed().toLong());
}

} // namespace ProcessProbe
