#include "transcript/transcripttext.h"

TranscriptText::Snapshot TranscriptText::Snapshot::of(const QString& text)
{
    auto kept = std::make_shared<const QString>(text);
    return {kept, QStringView(*kept)};
}

TranscriptText::TranscriptText(std::size_t reservation)
    : m_bytes(reservation)
{
}

TranscriptText::~TranscriptText() = default;

void TranscriptText::append(QStringView text)
{
    m_bytes.append(text.data(), std::size_t(text.size()) * sizeof(QChar));
}

void TranscriptText::clear()
{
    m_bytes.clear();
}

TranscriptText::Snapshot TranscriptText::snapshot() const
{
    return {m_bytes.storage(), view()};
}
