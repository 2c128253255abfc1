#pragma once

#include <atomic>
#include <utility>

// File descriptors for the rest of the platform layer. Every descriptor made
// here is close-on-exec from birth, so no child inherits another child's pipe.

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

struct PipeFds {
    UniqueFd read;
    UniqueFd write;
};

// A flag one thread raises and others wait on with poll(): the read end of
// a pipe that turns readable once raise() is called. Raising is for good,
// unless the owner of the flag drains it with lower().
class WakeUpFd {
public:
    WakeUpFd();
    WakeUpFd(const WakeUpFd&) = delete;
    WakeUpFd& operator=(const WakeUpFd&) = delete;

    // Any thread.
    void raise();
    bool raised() const { return m_raised.load(std::memory_order_acquire); }
    // Empties the pipe and clears the flag: for a flag used as a doorbell.
    void lower();
    // Readable while raised; -1 if the pipe could not be made.
    int fd() const { return m_read.get(); }

private:
    UniqueFd m_read;
    UniqueFd m_write;
    std::atomic<bool> m_raised{false};
};

// Both ends close-on-exec. Returns false (errno set) on failure.
bool makePipe(PipeFds& out);
// The null device, opened for reading and writing, close-on-exec.
UniqueFd openNullDevice();
// read() that retries on EINTR.
long readRetrying(int fd, void* buf, unsigned long size);
