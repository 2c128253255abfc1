#pragma once

#include "transcript/appendbuffer.h"

#include <QString>
#include <QStringView>

#include <memory>

// Append-only UTF-16 text whose characters never move once written. A
// snapshot is a view of the text as it stands, which stays valid and
// unchanged while the text grows or is cleared, on any thread, for as long
// as the snapshot lives: saving a transcript that a tool still writes costs
// neither a copy nor a pause of the writer.
//
// The characters live in a large reservation of address space; should a
// text outgrow it (or the reservation be small, for want of address
// space), they move once into a larger one, and earlier snapshots keep the
// old one.
class TranscriptText {
public:
    // A view that keeps what it shows alive.
    struct Snapshot {
        std::shared_ptr<const void> keepAlive;
        QStringView text;

        // A snapshot of any string, kept alive by a copy of it (which shares
        // its characters: Qt strings are implicitly shared).
        static Snapshot of(const QString& text);
    };

    // How much address space a text reserves for its characters at first.
    static constexpr std::size_t defaultReservation = AppendBuffer::defaultReservation;

    explicit TranscriptText(std::size_t reservation = defaultReservation);
    ~TranscriptText();
    TranscriptText(const TranscriptText&) = delete;
    TranscriptText& operator=(const TranscriptText&) = delete;

    QStringView view() const { return QStringView(data(), size()); }
    qsizetype size() const { return qsizetype(m_bytes.size() / sizeof(QChar)); }
    bool isEmpty() const { return m_bytes.size() == 0; }

    void append(QStringView text);
    // Empty again, in new storage; snapshots keep the old.
    void clear();
    Snapshot snapshot() const;

private:
    const QChar* data() const { return reinterpret_cast<const QChar*>(m_bytes.data()); }

    AppendBuffer m_bytes;
};
