#pragma once

#include <cstddef>

// A range of address space reserved up front and made usable from its start
// as it is needed, so that what has been written there never moves: a
// reader may keep a pointer into it while it grows. Reserving costs neither
// memory nor swap; only the pages written to do.
class ReservedMemory {
public:
    // Reserves up to `bytes`; less when the address space is short (see
    // capacity()), none at all when even a little cannot be had.
    explicit ReservedMemory(std::size_t bytes);
    ~ReservedMemory();
    ReservedMemory(const ReservedMemory&) = delete;
    ReservedMemory& operator=(const ReservedMemory&) = delete;

    char* data() const { return m_data; }
    std::size_t capacity() const { return m_capacity; }
    // Makes the first `bytes` usable. False when that is beyond the
    // capacity or the system refuses; what was usable stays so.
    bool commit(std::size_t bytes);

private:
    char* m_data = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_committed = 0;
};
