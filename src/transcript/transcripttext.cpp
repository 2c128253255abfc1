#include "transcript/transcripttext.h"

#include "platform/reservedmemory.h"

#include <algorithm>
#include <cstring>
#include <new>

TranscriptText::Snapshot TranscriptText::Snapshot::of(const QString& text)
{
    auto kept = std::make_shared<const QString>(text);
    return {kept, QStringView(*kept)};
}

TranscriptText::TranscriptText(std::size_t reservation)
    : m_reservation(reservation)
{
}

TranscriptText::~TranscriptText() = default;

const QChar* TranscriptText::data() const
{
    return m_memory ? reinterpret_cast<const QChar*>(m_memory->data()) : nullptr;
}

void TranscriptText::append(QStringView text)
{
    if (text.isEmpty())
        return;
    const std::size_t needed = std::size_t(m_size + text.size()) * sizeof(QChar);
    if (!m_memory || !m_memory->commit(needed)) {
        // The first append, or a text that outgrew its reservation: move
        // to one at least twice as large.
        auto larger = std::make_shared<ReservedMemory>(
            std::max({m_reservation, needed * 2, m_memory ? m_memory->capacity() * 2 : 0}));
        if (!larger->commit(needed))
            throw std::bad_alloc();
        if (m_size)
            std::memcpy(larger->data(), m_memory->data(), std::size_t(m_size) * sizeof(QChar));
        m_memory = std::move(larger);
    }
    std::memcpy(m_memory->data() + std::size_t(m_size) * sizeof(QChar), text.data(),
                std::size_t(text.size()) * sizeof(QChar));
    m_size += text.size();
}

void TranscriptText::clear()
{
    m_memory.reset();
    m_size = 0;
}

TranscriptText::Snapshot TranscriptText::snapshot() const
{
    return {m_memory, view()};
}
