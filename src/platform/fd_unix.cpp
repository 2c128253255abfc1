#include "platform/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void UniqueFd::reset(int fd)
{
    // Never retry close(): the descriptor is gone even when it reports EINTR.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool makePipe(PipeFds& out)
{
    int fds[2];
#if defined(__APPLE__)
    // No pipe2() on macOS: set the flag at once; spawn also uses CLOEXEC_DEFAULT there.
    if (::pipe(fds) != 0)
        return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
#endif
    out.read.reset(fds[0]);
    out.write.reset(fds[1]);
    return true;
}

UniqueFd openNullDevice()
{
    return UniqueFd(::open("/dev/null", O_RDWR | O_CLOEXEC));
}

long readRetrying(int fd, void* buf, unsigned long size)
{
    ssize_t n;
    do {
        n = ::read(fd, buf, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

WakeUpFd::WakeUpFd()
{
    PipeFds pipe;
    if (!makePipe(pipe))
        return;
    // Neither end may block: a ringing doorbell needs no second byte.
    ::fcntl(pipe.read.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(pipe.write.get(), F_SETFL, O_NONBLOCK);
    m_read = std::move(pipe.read);
    m_write = std::move(pipe.write);
}

void WakeUpFd::raise()
{
    if (m_raised.exchange(true, std::memory_order_acq_rel))
        return;
    const char byte = 1;
    while (::write(m_write.get(), &byte, 1) < 0 && errno == EINTR) {
    }
}

void WakeUpFd::lower()
{
    // Drained before the flag drops: a raise() in between finds the flag
    // still up and writes nothing, and the caller reads its state afterwards.
    char buffer[64];
    while (::read(m_read.get(), buffer, sizeof buffer) > 0) {
    }
    m_raised.store(false, std::memory_order_release);
}
