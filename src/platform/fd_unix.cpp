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
