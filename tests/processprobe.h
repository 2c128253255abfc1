#pragma once

// What this test process holds right now, read from /proc (Linux only): open
// descriptors, threads, resident memory, and the processes it is the parent
// of. Also whether some other process is gone. Header-only, so that any test
// executable can use it without a change to the build.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

namespace ProcessProbe {

inline bool available()
{
    return QFile::exists(QStringLiteral("/proc/self/status"));
}

// Entries of a /proc directory, without "." and "..". The listing's own
// descriptor is left out, so the count is the same from call to call.
inline int countEntries(const char* path)
{
    DIR* dir = ::opendir(path);
    if (!dir)
        return -1;
    const int own = ::dirfd(dir);
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == ".." || name == QByteArray::number(own))
            continue;
        ++n;
    }
    ::closedir(dir);
    return n;
}

inline int openDescriptors()
{
    return countEntries("/proc/self/fd");
}

inline int threads()
{
    return countEntries("/proc/self/task");
}

// VmRSS in KiB, or -1.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct ProcessInfo {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = '?'; // 'Z' for a zombie
};

// The fields of /proc/<pid>/stat that follow the command name, which may
// itself hold blanks and parentheses: so parse from the last ')'.
inline bool readInfo(pid_t pid, ProcessInfo& info)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty())
        return false;
    info.pid = pid;
    info.state = fields[0].at(0);
    info.parent = static_cast<pid_t>(fields[1].toLong());
    return true;
}

// Every process whose parent is this one, zombies included.
inline QList<ProcessInfo> children()
{
    QList<ProcessInfo> found;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return found;
    const pid_t self = ::getpid();
    while (const dirent* e = ::readdir(dir)) {
        bool isNumber = false;
        const pid_t pid = static_cast<pid_t>(QByteArray(e->d_name).toLong(&isNumber));
        ProcessInfo info;
        if (isNumber && readInfo(pid, info) && info.parent == self)
            found.push_back(info);
    }
    ::closedir(dir);
    return found;
}

// True once `pid` no longer runs. A zombie counts as gone only if it is not
// ours: an unreaped child of this process is exactly what tests look for.
inline bool gone(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    ProcessInfo info;
    return readInfo(pid, info) && info.state == 'Z' && info.parent != ::getpid();
}

// Reads a decimal pid that a fake tool wrote to a file; 0 when there is none.
inline pid_t pidFrom(const QByteArray& text)
{
    return static_cast<pid_t>(text.trimmed().toLong());
}

} // namespace ProcessProbe
