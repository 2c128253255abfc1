#pragma once

#include <QStringView>

// Pure text work on user-perceived characters (extended grapheme clusters)
// and the cells a terminal-like view gives them.
namespace Transcript {

enum class ClusterKind : quint8 {
    Glyph,   // drawn; takes `width` cells
    Space,   // U+0020 alone: a place to wrap a line
    Tab,     // takes the cells up to the next tab stop
    Control, // not drawn and takes no cells (C0, DEL, C1, format characters)
};

struct Cluster {
    qsizetype start = 0;
    qsizetype end = 0; // one past the cluster's last UTF-16 unit
    int width = 0;     // cells; a tab's depends on where it lands
    ClusterKind kind = ClusterKind::Glyph;
};

// True for what ends a line on screen: LF, CR, VT, FF, NEL, LS and PS.
// (CR LF together is one break.)
constexpr bool isLineBreak(char16_t c)
{
    return (c >= 0x0a && c <= 0x0d) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The cluster that starts at `pos`, read no further than `limit`. A cluster
// never spans a line break. One that reaches `limit` may grow when more text
// follows. Plain ASCII is decided without a Unicode table look-up.
Cluster clusterAt(QStringView text, qsizetype pos, qsizetype limit);

namespace detail {
// Per UTF-16 unit: its width if it is a cluster of its own when no joining
// unit follows, and whether it may join the unit before it.
constexpr quint8 widthBits = 0x03;
constexpr quint8 standsAlone = 0x04;
constexpr quint8 joinsPrevious = 0x08;
extern const quint8* const unitProperties;
} // namespace detail

// False when a cluster surely ends before `c`, whatever came before it.
inline bool mayJoinPrevious(char16_t c)
{
    return c >= 0x80 && (detail::unitProperties[c] & detail::joinsPrevious);
}

// True when a cluster starts at `pos` (or `pos` is an end of `text`), as
// the layout sees the text as it stands: a later append may take marks onto
// the last cluster.
bool isClusterBoundary(QStringView text, qsizetype pos);

// The cells of the cluster `text` alone (a tab counts as 0), for tests and tools.
int clusterWidth(QStringView text);

} // namespace Transcript
