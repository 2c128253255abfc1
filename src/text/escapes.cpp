#include "escapes.h"

namespace {

constexpr char16_t escape = 0x1B;

// The three character classes of ESC \[[0-9;?]*[ -/]*[@-~]. They do not
// overlap, so the pattern never needs to backtrack: a candidate either runs
// into a final byte or fails at the first character no class admits.
bool isParameter(char16_t c)
{
    return (c >= u'0' && c <= u'9') || c == u';' || c == u'?';
}
bool isIntermediate(char16_t c)
{
    return c >= 0x20 && c <= 0x2F;
}
bool isFinal(char16_t c)
{
    return c >= 0x40 && c <= 0x7E;
}

} // namespace

enum class EscapeCleaner::Phase : unsigned char {
    AfterEscape,
    Parameters,
    Intermediates,
    // advance() stops before the end only in these two; the open phases above
    // sort before them.
    Matched, // stopped past the final byte
    Failed,  // stopped at the first character the pattern does not admit
};

// Continues a candidate sequence over [p, end) and returns where it stopped
// (end when it is still incomplete). None of the characters it accepts is
// ESC, so after a failure the next candidate can only start at the failing
// character or later.
const char16_t* EscapeCleaner::advance(Phase& phase, const char16_t* p, const char16_t* end)
{
    for (; p < end; ++p) {
        const char16_t c = *p;
        switch (phase) {
        case Phase::AfterEscape:
            if (c != u'[') {
                phase = Phase::Failed;
                return p;
            }
            phase = Phase::Parameters;
            break;
        case Phase::Parameters:
            if (isParameter(c))
                break;
            phase = Phase::Intermediates;
            [[fallthrough]];
        case Phase::Intermediates:
            if (isIntermediate(c))
                break;
            phase = isFinal(c) ? Phase::Matched : Phase::Failed;
            return phase == Phase::Matched ? p + 1 : p;
        case Phase::Matched:
        case Phase::Failed:
            return p;
        }
    }
    return end;
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
    QString out;

    if (!m_held.isEmpty()) {
        // Resume the held candidate where it stopped, so a long one that
        // grows chunk by chunk is scanned only once.
        const char16_t* const at = advance(m_phase, p, end);
        if (m_phase < Phase::Matched) {
            m_held.append(chunk);
            return out;
        }
        if (m_phase == Phase::Failed) {
            out = std::move(m_held);
            out.append(reinterpret_cast<const QChar*>(p), at - p);
        }
        m_held.clear();
        p = at;
    }

    out.reserve(out.size() + (end - p));
    while (p < end) {
        const qsizetype found = QStringView(p, end).indexOf(QChar(escape));
        const char16_t* const esc = found < 0 ? end : p + found;
        out.append(reinterpret_cast<const QChar*>(p), esc - p);
        if (esc == end)
            break;
        Phase phase = Phase::AfterEscape;
        const char16_t* const at = advance(phase, esc + 1, end);
        if (phase < Phase::Matched) {
            m_held = QStringView(esc, end).toString();
            m_phase = phase;
            break;
        }
        if (phase == Phase::Failed)
            out.append(reinterpret_cast<const QChar*>(esc), at - esc);
        p = at;
    }
    return out;
}

QString EscapeCleaner::finish()
{
    return std::exchange(m_held, QString());
}
