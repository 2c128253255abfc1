#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <utility>

// Cuts a byte stream that arrives in chunks cut anywhere into its lines. A
// line is handed over once its '\n' has arrived, '\n' included; the last one,
// at the end of the stream, may have none. Each byte is looked at once: a
// chunk costs work in proportion to its own length, however long the line
// held across chunks grows, and lines that lie whole inside a chunk are
// handed over without a copy.
class LineSplitter {
public:
    // Calls onLine(QByteArrayView line) for each line that `chunk` completes,
    // in order. A view is valid only during its call.
    template <typename OnLine> void feed(QByteArrayView chunk, OnLine&& onLine)
    {
        qsizetype from = 0;
        if (!m_held.isEmpty()) {
            const qsizetype end = chunk.indexOf('\n');
            if (end < 0) {
                m_held.append(chunk);
                return;
            }
            m_held.append(chunk.first(end + 1));
            onLine(QByteArrayView(m_held));
            m_held.clear();
            from = end + 1;
        }
        for (qsizetype end; (end = chunk.indexOf('\n', from)) >= 0; from = end + 1)
            onLine(chunk.sliced(from, end + 1 - from));
        m_held.append(chunk.sliced(from));
    }

    // End of stream: calls onLine with what is held of a line without '\n',
    // if anything. The splitter is then ready for a new stream.
    template <typename OnLine> void finish(OnLine&& onLine)
    {
        if (m_held.isEmpty())
            return;
        const QByteArray last = std::exchange(m_held, {});
        onLine(QByteArrayView(last));
    }

    // The bytes of the line still open.
    qsizetype heldSize() const { return m_held.size(); }

private:
    QByteArray m_held;
};
