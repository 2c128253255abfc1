#include "escapes.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

constexpr char16_t bel = 0x07;
constexpr char16_t can = 0x18;
constexpr char16_t sub = 0x1A;
constexpr char16_t escape = 0x1B;
constexpr char16_t del = 0x7F;
constexpr char16_t nel = 0x85;
constexpr char16_t dcs = 0x90;
constexpr char16_t sos = 0x98;
constexpr char16_t csi = 0x9B;
constexpr char16_t osc = 0x9D;
constexpr char16_t pm = 0x9E;
constexpr char16_t apc = 0x9F;

// A control string still open after this many units is given up: they go,
// and what follows is shown as text. Long enough for a title or a link, short
// enough that a stray ESC ] costs a run only this much of its output.
constexpr qsizetype maxStringLength = 4096;

bool isC1(char16_t c)
{
    return char16_t(c - 0x80) < 0x20;
}

// Copies units from p to o up to the first ESC or C1 control, or up to end:
// nothing else needs a look outside a sequence. Plain text takes most of the
// time, so where there are vectors it goes 16 units a round, narrowed with
// saturation to bytes for the test: ESC and the C1 controls keep their values
// and no other unit takes one of them (from U+0100 up they turn into 0xFF, or
// into 0 under SSE2, which narrows as signed).
void copyText(const char16_t*& p, const char16_t* end, char16_t*& o)
{
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16, o += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        const __m128i x = _mm_packus_epi16(a, b);
        const __m128i c1 =
            _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(char(0xE0))), _mm_set1_epi8(char(0x80)));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(escape)), c1)))
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), b);
    }
#elif defined(__aarch64__)
    for (; end - p >= 16; p += 16, o += 16) {
        const uint16x8_t a = vld1q_u16(reinterpret_cast<const std::uint16_t*>(p));
        const uint16x8_t b = vld1q_u16(reinterpret_cast<const std::uint16_t*>(p + 8));
        const uint8x16_t x = vcombine_u8(vqmovn_u16(a), vqmovn_u16(b));
        const uint8x16_t c1 = vceqq_u8(vandq_u8(x, vdupq_n_u8(0xE0)), vdupq_n_u8(0x80));
        if (vmaxvq_u8(vorrq_u8(vceqq_u8(x, vdupq_n_u8(escape)), c1)))
            break;
        vst1q_u16(reinterpret_cast<std::uint16_t*>(o), a);
        vst1q_u16(reinterpret_cast<std::uint16_t*>(o + 8), b);
    }
#endif
    while (p < end && *p != escape && !isC1(*p))
        *o++ = *p++;
}

} // namespace

enum class EscapeCleaner::State : unsigned char {
    Ground, // ordinary text
    Escape, // after ESC
    EscapeIntermediates,
    Csi,
    Osc,           // ends at BEL or ST
    ControlString, // DCS, SOS, PM, APC: ends at ST
};

void EscapeCleaner::openString(State state)
{
    m_state = state;
    m_stringLength = 0;
}

// Outside a sequence only ESC and the C1 controls come here.
void EscapeCleaner::take(char16_t c, char16_t*& out)
{
    if (m_state != State::Ground) {
        // These end whatever sequence is open, as in a terminal.
        if (c == escape || c == can || c == sub) {
            m_state = c == escape ? State::Escape : State::Ground;
            return;
        }
        if (isC1(c))
            m_state = State::Ground;
    }
    switch (m_state) {
    case State::Ground:
        switch (c) {
        case escape:
            m_state = State::Escape;
            break;
        case csi:
            m_state = State::Csi;
            break;
        case osc:
            openString(State::Osc);
            break;
        case dcs:
        case sos:
        case pm:
        case apc:
            openString(State::ControlString);
            break;
        case nel:
            *out++ = c;
            break;
        default: // any other C1 control, ST alone included
            break;
        }
        return;
    case State::Escape:
        switch (c) {
        case u'[':
            m_state = State::Csi;
            return;
        case u']':
            openString(State::Osc);
            return;
        case u'P':
        case u'X':
        case u'^':
        case u'_':
            openString(State::ControlString);
            return;
        default:
            break;
        }
        [[fallthrough]];
    case State::EscapeIntermediates:
        if (c >= 0x20 && c <= 0x2F) {
            m_state = State::EscapeIntermediates;
            return;
        }
        if (c >= 0x30 && c <= 0x7E) {
            m_state = State::Ground;
            return;
        }
        break;
    case State::Csi:
        if (c >= 0x20 && c <= 0x3F)
            return;
        if (c >= 0x40 && c <= 0x7E) {
            m_state = State::Ground;
            return;
        }
        break;
    case State::Osc:
        if (c == bel) {
            m_state = State::Ground;
            return;
        }
        [[fallthrough]];
    case State::ControlString:
        // At the limit, the unit that completes a surrogate pair still goes,
        // so that the text shown afterwards starts on a whole character.
        if (m_stringLength < maxStringLength ||
            (m_stringLength == maxStringLength && QChar::isLowSurrogate(c))) {
            ++m_stringLength;
            return;
        }
        m_state = State::Ground;
        *out++ = c;
        return;
    }
    // A CSI or escape sequence met what its grammar has no place for (ESC, CAN,
    // SUB and C1 went above): a C0 control is carried out, which for us means
    // kept, and the sequence goes on; DEL is ignored; anything from U+00A0 up
    // ends the sequence and is shown.
    if (c < 0x20)
        *out++ = c;
    else if (c != del) {
        m_state = State::Ground;
        *out++ = c;
    }
}

QString removeEscapes(QStringView text)
{
    EscapeCleaner cleaner;
    QString out = cleaner.clean(text);
    out += cleaner.finish();
    return out;
}

QString EscapeCleaner::clean(QStringView chunk)
{
    const char16_t* p = chunk.utf16();
    const char16_t* const end = p + chunk.size();
    // No unit gives more than itself.
    QString out(chunk.size(), Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* o = begin;
    while (p < end) {
        if (m_state == State::Ground) {
            copyText(p, end, o);
            if (p == end)
                break;
        }
        take(*p++, o);
    }
    out.truncate(o - begin);
    return out;
}

QString EscapeCleaner::finish()
{
    m_state = State::Ground;
    return QString();
}
