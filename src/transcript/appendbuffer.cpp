#include "transcript/appendbuffer.h"

#include "platform/reservedmemory.h"

#include <algorithm>
#include <cstring>
#include <new>

AppendBuffer::AppendBuffer(std::size_t reservation)
    : m_reservation(reservation)
{
}

AppendBuffer::~AppendBuffer() = default;

const char* AppendBuffer::data() const
{
    return m_memory ? m_memory->data() : nullptr;
}

void AppendBuffer::append(const void* bytes, std::size_t count)
{
    if (count == 0)
        return;
    const std::size_t needed = m_size + count;
    if (!m_memory || !m_memory->commit(needed)) {
        // The first append, or bytes that outgrew their reservation: move
        // to one at least twice as large.
        auto larger = std::make_shared<ReservedMemory>(
            std::max({m_reservation, needed * 2, m_memory ? m_memory->capacity() * 2 : 0}));
        if (!larger->commit(needed))
            throw std::bad_alloc();
        if (m_size)
            std::memcpy(larger->data(), m_memory->data(), m_size);
        m_memory = std::move(larger);
    }
    std::memcpy(m_memory->data() + m_size, bytes, count);
    m_size += count;
}

void AppendBuffer::clear()
{
    m_memory.reset();
    m_size = 0;
}
