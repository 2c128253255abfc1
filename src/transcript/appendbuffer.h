#pragma once

#include <QByteArrayView>

#include <cstddef>
#include <memory>

class ReservedMemory;

// Append-only bytes that never move once written: a view of what is there
// stays valid and unchanged while more is appended, for as long as a share
// of the storage is held (see storage()). The bytes live in a large
// reservation of address space; should they outgrow it, they move once into
// a larger one, and holders of the old storage keep it.
class AppendBuffer {
public:
    // How much address space a buffer reserves at first.
    static constexpr std::size_t defaultReservation = std::size_t(64) << 30;

    explicit AppendBuffer(std::size_t reservation = defaultReservation);
    ~AppendBuffer();
    AppendBuffer(const AppendBuffer&) = delete;
    AppendBuffer& operator=(const AppendBuffer&) = delete;

    const char* data() const;
    std::size_t size() const { return m_size; }
    QByteArrayView view() const { return QByteArrayView(data(), qsizetype(m_size)); }

    void append(const void* bytes, std::size_t count);
    void append(QByteArrayView bytes) { append(bytes.data(), std::size_t(bytes.size())); }
    // Empty again, in new storage; holders keep the old.
    void clear();
    // A share of the storage now under data(); null while nothing was written.
    std::shared_ptr<const void> storage() const { return m_memory; }

private:
    std::size_t m_reservation;
    std::shared_ptr<ReservedMemory> m_memory;
    std::size_t m_size = 0;
};
