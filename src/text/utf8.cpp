#include "utf8.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char16_t replacementCharacter = 0xFFFD;

// How a sequence starting with a given byte must go on (Unicode table 3-7):
// its total length and the range its second byte must fall in. Later bytes
// are always 80..BF. Length 0 marks a byte that cannot start a sequence.
struct Lead {
    std::uint8_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
};

constexpr std::array<Lead, 256> leads = [] {
    std::array<Lead, 256> t{};
    for (int b = 0; b < 0x80; ++b)
        t[b] = {1, 0, 0};
    for (int b = 0xC2; b <= 0xDF; ++b)
        t[b] = {2, 0x80, 0xBF};
    for (int b = 0xE1; b <= 0xEF; ++b)
        t[b] = {3, 0x80, 0xBF};
    t[0xE0] = {3, 0xA0, 0xBF}; // no overlongs
    t[0xED] = {3, 0x80, 0x9F}; // no surrogates
    for (int b = 0xF1; b <= 0xF3; ++b)
        t[b] = {4, 0x80, 0xBF};
    t[0xF0] = {4, 0x90, 0xBF}; // no overlongs
    t[0xF4] = {4, 0x80, 0x8F}; // nothing above U+10FFFF
    return t;
}();

enum class Outcome { Complete, Invalid, Incomplete };

struct Sequence {
    Outcome outcome;
    int length; // bytes taken: the whole sequence, or its maximal ill-formed subpart
    char32_t codePoint;
};

// Reads one non-ASCII sequence at p (p < end). An ill-formed one stops at the
// first byte that cannot continue it, so that byte starts the next sequence.
inline Sequence readSequence(const unsigned char* p, const unsigned char* end)
{
    const Lead lead = leads[*p];
    if (lead.length == 0)
        return {Outcome::Invalid, 1, 0};
    char32_t c = *p & (0x7F >> lead.length);
    for (int k = 1; k < lead.length; ++k) {
        if (p + k == end)
            return {Outcome::Incomplete, k, 0};
        const unsigned char b = p[k];
        if (k == 1 ? (b < lead.low || b > lead.high) : (b < 0x80 || b > 0xBF))
            return {Outcome::Invalid, k, 0};
        c = (c << 6) | (b & 0x3F);
    }
    return {Outcome::Complete, lead.length, c};
}

inline char16_t* put(char16_t* out, const Sequence& s)
{
    if (s.outcome != Outcome::Complete) {
        *out++ = replacementCharacter;
    } else if (s.codePoint < 0x10000) {
        *out++ = char16_t(s.codePoint);
    } else {
        *out++ = char16_t(0xD800 + ((s.codePoint - 0x10000) >> 10));
        *out++ = char16_t(0xDC00 + (s.codePoint & 0x3FF));
    }
    return out;
}

// Decodes [p, end) into out, which has room for end - p units (no byte ever
// yields more than one). Stops before an incomplete trailing sequence and
// points *rest at it (*rest == end when there is none).
char16_t* decodeRun(const unsigned char* p, const unsigned char* end, char16_t* out,
                    const unsigned char** rest)
{
    constexpr std::uint64_t highBits = 0x8080808080808080u;
    while (p < end) {
        if (*p < 0x80) {
            // Agent output is mostly ASCII: test and widen 16 bytes per round.
            while (end - p >= 16) {
                std::uint64_t a, b;
                std::memcpy(&a, p, 8);
                std::memcpy(&b, p + 8, 8);
                if ((a | b) & highBits)
                    break;
                for (int k = 0; k < 16; ++k)
                    out[k] = p[k];
                p += 16;
                out += 16;
            }
            while (p < end && *p < 0x80)
                *out++ = *p++;
            continue;
        }
        const Sequence s = readSequence(p, end);
        if (s.outcome == Outcome::Incomplete) {
            *rest = p;
            return out;
        }
        out = put(out, s);
        p += s.length;
    }
    *rest = end;
    return out;
}

const unsigned char* bytesOf(QByteArrayView v)
{
    return reinterpret_cast<const unsigned char*>(v.data());
}

} // namespace

QString decodeUtf8(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    auto* begin = reinterpret_cast<char16_t*>(text.data());
    const unsigned char* rest = nullptr;
    char16_t* out = decodeRun(bytesOf(bytes), bytesOf(bytes) + bytes.size(), begin, &rest);
    if (rest != bytesOf(bytes) + bytes.size())
        *out++ = replacementCharacter; // a truncated sequence is one maximal subpart
    text.truncate(out - begin);
    return text;
}

Utf8Step utf8StepAt(QByteArrayView bytes, qsizetype at)
{
    const unsigned char* p = bytesOf(bytes) + at;
    if (*p < 0x80)
        return {*p, 1};
    const Sequence s = readSequence(p, bytesOf(bytes) + bytes.size());
    return {s.outcome == Outcome::Complete ? s.codePoint : char32_t(replacementCharacter),
            s.length};
}

QString Utf8Decoder::decode(QByteArrayView chunk)
{
    // Nothing to add to the carry; an empty view may also hold a null data
    // pointer, which memcpy must never see.
    if (chunk.isEmpty())
        return {};
    const unsigned char* p = bytesOf(chunk);
    const unsigned char* const end = p + chunk.size();
    QString text(chunk.size() + m_carryLength, Qt::Uninitialized);
    auto* const begin = reinterpret_cast<char16_t*>(text.data());
    char16_t* out = begin;

    if (m_carryLength > 0) {
        // The carry is a valid prefix needing at most 3 more bytes: finish
        // that one sequence in a scratch buffer, then go on in the chunk.
        unsigned char joined[7];
        std::memcpy(joined, m_carry, m_carryLength);
        const int taken = int(std::min<qsizetype>(3, chunk.size()));
        std::memcpy(joined + m_carryLength, p, taken);
        const Sequence s = readSequence(joined, joined + m_carryLength + taken);
        if (s.outcome == Outcome::Incomplete) {
            std::memcpy(m_carry, joined, s.length);
            m_carryLength = s.length;
            return {};
        }
        out = put(out, s);
        p += s.length - m_carryLength;
        m_carryLength = 0;
    }

    const unsigned char* rest = nullptr;
    out = decodeRun(p, end, out, &rest);
    m_carryLength = int(end - rest);
    std::memcpy(m_carry, rest, m_carryLength);
    text.truncate(out - begin);
    return text;
}

QString Utf8Decoder::finish()
{
    if (m_carryLength == 0)
        return {};
    m_carryLength = 0;
    return QString(QChar(replacementCharacter));
}
