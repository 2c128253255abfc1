#pragma once

#include <QByteArrayView>
#include <QString>

// UTF-8 decoding that replaces each maximal ill-formed subpart with one
// U+FFFD, as the Unicode Standard recommends (F0 9F 98 41 -> U+FFFD "A";
// C0 AF -> two U+FFFD; ED A0 80 -> three).
QString decodeUtf8(QByteArrayView bytes);

// One step of that decoding: the scalar of the sequence at bytes[at] and the
// bytes it takes; an ill-formed or truncated sequence is U+FFFD over its
// maximal ill-formed subpart. `at` must lie inside `bytes`.
struct Utf8Step {
    char32_t scalar;
    int length;
};
Utf8Step utf8StepAt(QByteArrayView bytes, qsizetype at);

// The same decoding over a stream cut into chunks anywhere: an incomplete
// sequence at the end of a chunk is carried over to the next one, so the
// result is the same as decoding the whole stream at once.
class Utf8Decoder {
public:
    QString decode(QByteArrayView chunk);
    // End of stream: a leftover incomplete sequence becomes one U+FFFD.
    QString finish();

private:
    char m_carry[4] = {};
    int m_carryLength = 0;
};
