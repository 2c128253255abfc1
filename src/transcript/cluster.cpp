#include "transcript/cluster.h"

#include <utf8proc.h>

namespace Transcript {
namespace {

constexpr char32_t replacement = 0xfffd;
constexpr char32_t zeroWidthJoiner = 0x200d;
constexpr char32_t textPresentation = 0xfe0e;  // VS15
constexpr char32_t emojiPresentation = 0xfe0f; // VS16

// Reads one code point at `at` and moves past it; a lone surrogate reads as U+FFFD.
char32_t decode(QStringView text, qsizetype& at, qsizetype limit)
{
    const char16_t c = text[at++].unicode();
    if (QChar::isHighSurrogate(c)) {
        if (at < limit && QChar::isLowSurrogate(text[at].unicode()))
            return QChar::surrogateToUcs4(c, text[at++].unicode());
        return replacement;
    }
    return QChar::isLowSurrogate(c) ? replacement : c;
}

Cluster asciiCluster(qsizetype pos, char16_t c)
{
    if (c == u' ')
        return {pos, pos + 1, 1, ClusterKind::Space};
    if (c == u'\t')
        return {pos, pos + 1, 0, ClusterKind::Tab};
    if (c < 0x20 || c == 0x7f)
        return {pos, pos + 1, 0, ClusterKind::Control};
    return {pos, pos + 1, 1, ClusterKind::Glyph};
}

} // namespace

namespace detail {

// Taken from utf8proc once, at start-up (about a millisecond). Surrogates
// may be part of anything, so they count as joining.
struct UnitTable {
    quint8 values[0x10000] = {};
    UnitTable()
    {
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c)) {
                values[c] = joinsPrevious;
                continue;
            }
            const auto* property = utf8proc_get_property(utf8proc_int32_t(c));
            const int width = utf8proc_charwidth(utf8proc_int32_t(c));
            if (property->boundclass == UTF8PROC_BOUNDCLASS_OTHER && (width == 1 || width == 2))
                values[c] = standsAlone | quint8(width);
            else if (property->boundclass == UTF8PROC_BOUNDCLASS_EXTEND ||
                     property->boundclass == UTF8PROC_BOUNDCLASS_ZWJ ||
                     property->boundclass == UTF8PROC_BOUNDCLASS_SPACINGMARK ||
                     property->boundclass == UTF8PROC_BOUNDCLASS_E_MODIFIER)
                values[c] = joinsPrevious;
        }
    }
};
const UnitTable table;
const quint8* const unitProperties = table.values;

} // namespace detail

Cluster clusterAt(QStringView text, qsizetype pos, qsizetype limit)
{
    const char16_t c = text[pos].unicode();
    // No ASCII character joins the one before or after it, so two in a row
    // are always two clusters.
    if (c < 0x80 && (pos + 1 == limit || text[pos + 1].unicode() < 0x80))
        return asciiCluster(pos, c);
    // Most other text (accented letters, CJK, symbols) is one unit a cluster too.
    const quint8* units = detail::unitProperties;
    if ((units[c] & detail::standsAlone) &&
        (pos + 1 == limit || !mayJoinPrevious(text[pos + 1].unicode())))
        return {pos, pos + 1, units[c] & detail::widthBits, ClusterKind::Glyph};

    qsizetype at = pos;
    const char32_t first = decode(text, at, limit);
    const utf8proc_property_t* firstProperty = utf8proc_get_property(utf8proc_int32_t(first));
    utf8proc_int32_t state = 0;
    char32_t previous = first;
    int codePoints = 1;
    int regionalIndicators = firstProperty->boundclass == UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR;
    bool joined = false;
    bool asksText = false;
    bool asksEmoji = false;
    bool halfPairAtLimit = false;
    while (at < limit) {
        // Half a pair at the limit: its other half, still to come, decides.
        if (at + 1 == limit && QChar::isHighSurrogate(text[at].unicode())) {
            at = limit;
            halfPairAtLimit = true;
            break;
        }
        qsizetype next = at;
        const char32_t cp = decode(text, next, limit);
        if (utf8proc_grapheme_break_stateful(utf8proc_int32_t(previous), utf8proc_int32_t(cp),
                                             &state))
            break;
        ++codePoints;
        joined |= cp == zeroWidthJoiner;
        asksText |= cp == textPresentation;
        asksEmoji |= cp == emojiPresentation;
        regionalIndicators += utf8proc_get_property(utf8proc_int32_t(cp))->boundclass ==
                              UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR;
        previous = cp;
        at = next;
    }

    if (codePoints == 1 && first < 0x80 && !halfPairAtLimit)
        return asciiCluster(pos, char16_t(first));
    if (codePoints == 1 && firstProperty->boundclass == UTF8PROC_BOUNDCLASS_CONTROL &&
        !halfPairAtLimit)
        return {pos, at, 0, ClusterKind::Control};
    int width;
    if (asksText)
        width = 1;
    else if (asksEmoji || regionalIndicators == 2 ||
             (joined && firstProperty->boundclass == UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC))
        width = 2;
    else // a mark with no base before it still needs a cell to show in
        width = std::clamp(utf8proc_charwidth(utf8proc_int32_t(first)), 1, 2);
    return {pos, at, width, ClusterKind::Glyph};
}

namespace {

enum class Boundary { Yes, No, Maybe };

char32_t codePointAt(QStringView text, qsizetype pos)
{
    qsizetype at = pos;
    return decode(text, at, text.size());
}

char32_t codePointBefore(QStringView text, qsizetype pos)
{
    const char16_t c = text[pos - 1].unicode();
    if (QChar::isLowSurrogate(c) && pos >= 2 && QChar::isHighSurrogate(text[pos - 2].unicode()))
        return QChar::surrogateToUcs4(text[pos - 2].unicode(), c);
    return QChar::isSurrogate(c) ? replacement : c;
}

// The rules of grapheme breaking that look no further than the two code
// points around `pos`; Maybe where an earlier part of the cluster decides
// (regional indicator pairs, emoji joined by ZWJ, Hangul, prepended marks).
Boundary boundaryByPair(QStringView text, qsizetype pos)
{
    if (pos <= 0 || pos >= text.size())
        return Boundary::Yes;
    const char16_t a = text[pos - 1].unicode();
    const char16_t b = text[pos].unicode();
    if (a < 0x80 && b < 0x80)
        return a == u'\r' && b == u'\n' ? Boundary::No : Boundary::Yes;
    if (QChar::isHighSurrogate(a) && QChar::isLowSurrogate(b))
        return Boundary::No;
    const int before =
        utf8proc_get_property(utf8proc_int32_t(codePointBefore(text, pos)))->boundclass;
    const int after = utf8proc_get_property(utf8proc_int32_t(codePointAt(text, pos)))->boundclass;
    auto isControl = [](int c) {
        return c == UTF8PROC_BOUNDCLASS_CONTROL || c == UTF8PROC_BOUNDCLASS_CR ||
               c == UTF8PROC_BOUNDCLASS_LF;
    };
    if (isControl(before) || isControl(after))
        return Boundary::Yes;
    switch (after) {
    case UTF8PROC_BOUNDCLASS_EXTEND:
    case UTF8PROC_BOUNDCLASS_ZWJ:
    case UTF8PROC_BOUNDCLASS_SPACINGMARK:
    case UTF8PROC_BOUNDCLASS_E_MODIFIER:
        return Boundary::No;
    default:
        break;
    }
    switch (before) {
    case UTF8PROC_BOUNDCLASS_PREPEND:
    case UTF8PROC_BOUNDCLASS_ZWJ:
    case UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR:
    case UTF8PROC_BOUNDCLASS_L:
    case UTF8PROC_BOUNDCLASS_V:
    case UTF8PROC_BOUNDCLASS_T:
    case UTF8PROC_BOUNDCLASS_LV:
    case UTF8PROC_BOUNDCLASS_LVT:
        return Boundary::Maybe;
    default:
        return Boundary::Yes;
    }
}

} // namespace

bool isClusterBoundary(QStringView text, qsizetype pos)
{
    const Boundary pair = boundaryByPair(text, pos);
    if (pair != Boundary::Maybe)
        return pair == Boundary::Yes;
    // Back to a certain boundary, then cluster by cluster up to `pos`.
    qsizetype at = pos - 1;
    while (boundaryByPair(text, at) != Boundary::Yes)
        --at;
    while (at < pos)
        at = clusterAt(text, at, text.size()).end;
    return at == pos;
}

int clusterWidth(QStringView text)
{
    return text.isEmpty() ? 0 : clusterAt(text, 0, text.size()).width;
}

} // namespace Transcript
