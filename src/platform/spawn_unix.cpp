#include "platform/spawn.h"

#include "platform/fd.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

std::vector<char*> pointerList(const QList<QByteArray>& items, const QByteArray* first)
{
    std::vector<char*> list;
    list.reserve(items.size() + 2);
    if (first)
        list.push_back(const_cast<char*>(first->constData()));
    for (const QByteArray& item : items)
        list.push_back(const_cast<char*>(item.constData()));
    list.push_back(nullptr);
    return list;
}

} // namespace

SpawnResult spawnProcess(const SpawnRequest& request)
{
    SpawnResult result;
    UniqueFd null = openNullDevice();
    if (!null.valid()) {
        result.error = errno;
        return result;
    }
    auto pick = [&](int fd) { return fd >= 0 ? fd : null.get(); };

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the target, so exactly 0, 1 and 2 survive exec.
    posix_spawn_file_actions_adddup2(&actions, pick(request.stdinFd), 0);
    posix_spawn_file_actions_adddup2(&actions, pick(request.stdoutFd), 1);
    posix_spawn_file_actions_adddup2(&actions, pick(request.stderrFd), 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Our own descriptors are close-on-exec already; this also keeps from the
    // child whatever Brevane itself inherited without that flag.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    // glibc 2.29 and macOS 10.15 have it; the spawn fails with chdir's errno.
    if (!request.workingDirectory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, request.workingDirectory.constData());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
#if defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    posix_spawnattr_setflags(&attr, flags);
    // Ignored signals (Qt ignores SIGPIPE) would survive exec: reset them all.
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigdefault(&attr, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);

    std::vector<char*> argv = pointerList(request.arguments, &request.program);
    std::vector<char*> envp;
    if (request.environment)
        envp = pointerList(*request.environment, nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, request.program.constData(), &actions, &attr, argv.data(),
                                 request.environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        result.error = rc;
        return result;
    }
    result.pid = pid;
    return result;
}

QList<QByteArray> currentEnvironment()
{
    QList<QByteArray> entries;
    for (char** e = environ; *e; ++e)
        entries.push_back(QByteArray(*e));
    return entries;
}

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString signalName(int signal)
{
    // The C library's own table; glibc has had it since 2.32, the BSDs and
    // macOS always (lower case there).
#if defined(__GLIBC__)
    const char* name = ::sigabbrev_np(signal);
#else
    const char* name = signal > 0 && signal < NSIG ? sys_signame[signal] : nullptr;
#endif
    if (!name || !*name)
        return QString();
    return QStringLiteral("SIG") + QString::fromLatin1(name).toUpper();
}
