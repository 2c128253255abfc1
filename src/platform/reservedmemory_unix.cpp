#include "platform/reservedmemory.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Below this, a reservation is not worth having: the caller copies instead.
constexpr std::size_t smallestReservation = std::size_t(1) << 20;
// Pages are made usable this many bytes at a time at least, so that a
// stream of small appends costs few system calls.
constexpr std::size_t commitStep = std::size_t(1) << 20;

// Under a limit on the address space (ulimit -v) one reservation takes no
// more than this fraction of it: several transcripts, and everything else
// the app allocates, must still fit. A text that outgrows it moves.
constexpr std::size_t limitShare = 64;

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

std::size_t addressSpaceCap()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return SIZE_MAX;
    return std::max<std::size_t>(std::size_t(limit.rlim_cur) / limitShare, smallestReservation);
}

} // namespace

ReservedMemory::ReservedMemory(std::size_t bytes)
{
    int flags = MAP_PRIVATE | MAP_ANON;
#if defined(MAP_NORESERVE)
    flags |= MAP_NORESERVE;
#endif
    // Halve until the system agrees: another process's limits (ulimit -v,
    // a sanitizer's shadow) may leave less address space than asked for.
    const std::size_t wanted = std::min(bytes, addressSpaceCap());
    for (std::size_t size = roundUp(wanted, commitStep); size >= smallestReservation; size /= 2) {
        void* p = ::mmap(nullptr, size, PROT_NONE, flags, -1, 0);
        if (p != MAP_FAILED) {
            m_data = static_cast<char*>(p);
            m_capacity = size;
            return;
        }
    }
}

ReservedMemory::~ReservedMemory()
{
    if (m_data)
        ::munmap(m_data, m_capacity);
}

bool ReservedMemory::commit(std::size_t bytes)
{
    if (bytes <= m_committed)
        return true;
    if (bytes > m_capacity)
        return false;
    // Grow by an eighth of what is there, so a large text takes few steps.
    const std::size_t wanted =
        std::min(m_capacity, roundUp(std::max(bytes, m_committed + m_committed / 8), commitStep));
    if (::mprotect(m_data + m_committed, wanted - m_committed, PROT_READ | PROT_WRITE) != 0)
        return false;
    m_committed = wanted;
    return true;
}
