#include "transcript/transcriptlayout.h"

#include <algorithm>
#include <limits>

using Transcript::Cluster;
using Transcript::clusterAt;
using Transcript::ClusterKind;
using Transcript::isLineBreak;

namespace {

// A block of the index ends at the first row start past either bound.
constexpr qint64 blockRows = 64;
constexpr qsizetype blockChars = 4096;

bool isPrintableAscii(char16_t c)
{
    return c >= 0x20 && c < 0x7f;
}

} // namespace

// Lays out clusters one after another, calling `onRow(lineStart)` at every
// row that starts at or past `notifyRow` or `notifyOffset`, after the first
// row that starts after the first; it returns true to stop. Decisions are
// only taken on clusters that can no longer grow, so a flow may stop at the
// end of the text and go on when more arrives.
struct TranscriptLayout::Flow : FlowState {
    int columns = 1;
    qint64 notifyRow = 0;
    qsizetype notifyOffset = 0;

    template <typename OnRow> bool newRow(qsizetype at, bool lineStart, OnRow& onRow)
    {
        ++row;
        if (lineStart)
            ++line;
        rowStart = at;
        cell = 0;
        breakAt = -1;
        prevSpace = prevWide = hanging = false;
        if (row < notifyRow && at < notifyOffset)
            return false;
        return onRow(lineStart);
    }

    // Lays out text[pos, end). With `final`, the text ends at `end`; without,
    // a cluster that reaches `end` waits for what follows.
    template <typename OnRow> void run(QStringView text, qsizetype end, bool final, OnRow&& onRow)
    {
        if (std::exchange(afterCarriageReturn, false) && pos < end && text[pos] == u'\n') {
            // The CR before ended the line already: the pair is one break.
            ++pos;
            rowStart = pos;
            if (onRow(true))
                return;
        }
        // text[asciiStart, asciiEnd) is known to be single-cell ASCII; a wrap
        // may step back before it.
        qsizetype asciiStart = 0;
        qsizetype asciiEnd = -1;
        while (pos < end) {
            const char16_t c = text[pos].unicode();
            if (isPrintableAscii(c)) {
                if (pos >= asciiEnd || pos < asciiStart) {
                    asciiStart = pos;
                    asciiEnd = pos + 1;
                    while (asciiEnd < end && isPrintableAscii(text[asciiEnd].unicode()))
                        ++asciiEnd;
                    // The run's last character may take marks that follow.
                    if (asciiEnd == end ? !final
                                        : Transcript::mayJoinPrevious(text[asciiEnd].unicode()))
                        --asciiEnd;
                }
                if (pos < asciiEnd) {
                    if (runAscii(text, asciiEnd, onRow))
                        return;
                    continue;
                }
            } else if (isLineBreak(c)) {
                qsizetype length = 1;
                if (c == u'\r') {
                    if (pos + 1 < end && text[pos + 1] == u'\n')
                        length = 2;
                    else
                        afterCarriageReturn = pos + 1 == end && !final;
                }
                pos += length;
                if (newRow(pos, true, onRow))
                    return;
                continue;
            }
            const Cluster k = clusterAt(text, pos, end);
            if (k.end == end && !final)
                return;
            if (place(k, onRow))
                return;
        }
    }

    // Single-cell ASCII clusters in bulk: a row's worth at a time.
    template <typename OnRow> bool runAscii(QStringView text, qsizetype runEnd, OnRow& onRow)
    {
        while (pos < runEnd) {
            if (hanging) {
                while (pos < runEnd && text[pos] == u' ')
                    ++pos;
                if (pos == runEnd)
                    return false;
                if (newRow(pos, false, onRow))
                    return true;
            }
            const qsizetype take = std::clamp<qsizetype>(columns - cell, 0, runEnd - pos);
            if (take > 0) {
                // The last place to wrap in what fits: before a non-space after a space.
                for (qsizetype q = pos + take - 1; q >= pos; --q) {
                    if (text[q] != u' ' && (q == pos ? prevSpace : text[q - 1] == u' ')) {
                        if (q > rowStart)
                            breakAt = q;
                        break;
                    }
                }
                cell += int(take);
                pos += take;
                prevSpace = text[pos - 1] == u' ';
                prevWide = false;
            }
            if (pos == runEnd)
                return false;
            // The row is full and text[pos] does not fit.
            if (text[pos] == u' ') {
                hanging = true;
                continue;
            }
            if (prevSpace && pos > rowStart)
                breakAt = pos;
            // The next row may start before this run: the caller looks again.
            const qsizetype at = breakAt > rowStart ? breakAt : pos;
            pos = at;
            return newRow(at, false, onRow);
        }
        return false;
    }

    template <typename OnRow> bool place(const Cluster& k, OnRow& onRow)
    {
        const bool space = k.kind == ClusterKind::Space || k.kind == ClusterKind::Tab;
        if (hanging) {
            if (space) {
                pos = k.end;
                return false;
            }
            if (newRow(k.start, false, onRow))
                return true;
        }
        if (space) {
            const int width = k.kind == ClusterKind::Tab ? tabWidth - cell % tabWidth : 1;
            if (cell + width > columns && cell > 0)
                hanging = true;
            else
                cell = std::min(cell + width, std::max(columns, cell + 1));
            prevSpace = true;
            prevWide = false;
            pos = k.end;
            return false;
        }
        if (k.kind == ClusterKind::Control) {
            pos = k.end;
            return false;
        }
        if ((prevSpace || (prevWide && k.width == 2)) && k.start > rowStart)
            breakAt = k.start;
        if (cell + k.width > columns && k.start > rowStart) {
            const qsizetype at = breakAt > rowStart ? breakAt : k.start;
            pos = at;
            return newRow(at, false, onRow);
        }
        cell += k.width;
        prevSpace = false;
        prevWide = k.width == 2;
        pos = k.end;
        return false;
    }
};

int TranscriptLayout::Row::cells() const
{
    int cells = 0;
    for (const Placed& p : clusters)
        cells = std::max(cells, p.cell + p.width);
    return cells;
}

void TranscriptLayout::reset()
{
    m_length = 0;
    m_lineCount = 1;
    m_rowCount = 1;
    // Swapped out rather than cleared so that a long earlier run gives its memory back.
    std::vector<Block>{{0, 0, 0}}.swap(m_blocks);
    m_state = {};
}

void TranscriptLayout::addRow(Flow& flow)
{
    Block& last = m_blocks.back();
    if (flow.row == last.row) { // a CR LF completed: its line starts one later
        last.start = flow.rowStart;
    } else if (flow.row - last.row >= blockRows || flow.rowStart - last.start >= blockChars) {
        m_blocks.push_back({flow.rowStart, flow.line, flow.row});
    }
    // The flow calls again only where the next block may start.
    flow.notifyRow = m_blocks.back().row + blockRows;
    flow.notifyOffset = m_blocks.back().start + blockChars;
}

void TranscriptLayout::append(QStringView text)
{
    if (text.size() <= m_length)
        return;
    Flow flow;
    static_cast<FlowState&>(flow) = m_state;
    flow.columns = m_columns;
    flow.notifyRow = m_blocks.back().row + blockRows;
    flow.notifyOffset = m_blocks.back().start + blockChars;
    flow.run(text, text.size(), false, [&](bool) {
        addRow(flow);
        return false;
    });
    m_state = flow;
    m_length = text.size();
    // What waits at the end counts as laid out as it stands now.
    flow.notifyRow = std::numeric_limits<qint64>::max();
    flow.notifyOffset = std::numeric_limits<qsizetype>::max();
    flow.run(text, text.size(), true, [](bool) { return false; });
    m_rowCount = flow.row + 1;
    m_lineCount = flow.line + 1;
}

void TranscriptLayout::setColumns(QStringView text, int columns)
{
    columns = std::max(1, columns);
    if (columns == m_columns)
        return;
    const qsizetype length = std::min(m_length, text.size());
    m_columns = columns;
    reset();
    append(text.first(length));
}

TranscriptLayout::Flow TranscriptLayout::flowFrom(const Block& block) const
{
    Flow flow;
    flow.pos = flow.rowStart = block.start;
    flow.row = block.row;
    flow.line = block.line;
    flow.columns = m_columns;
    return flow;
}

std::vector<TranscriptLayout::Row> TranscriptLayout::rows(QStringView text, qint64 first,
                                                          qint64 count) const
{
    std::vector<Row> result;
    first = std::max<qint64>(first, 0);
    count = std::min(count, m_rowCount - first);
    if (count <= 0 || text.size() < m_length)
        return result;
    text = text.first(m_length);
    const auto after = std::upper_bound(m_blocks.begin(), m_blocks.end(), first,
                                        [](qint64 row, const Block& b) { return row < b.row; });
    Flow flow = flowFrom(*(after - 1));
    flow.notifyRow = first;
    flow.notifyOffset = std::numeric_limits<qsizetype>::max();
    result.reserve(size_t(count));
    auto open = [&] {
        Row r;
        r.index = flow.row;
        r.start = flow.rowStart;
        result.push_back(std::move(r));
    };
    if (flow.row >= first)
        open();
    flow.run(text, m_length, true, [&](bool lineStart) {
        if (!result.empty()) {
            result.back().next = flow.rowStart;
            result.back().endsLine = lineStart;
        }
        if (flow.row >= first + count)
            return true;
        if (flow.row >= first)
            open();
        return false;
    });
    Row& last = result.back();
    if (last.next == 0) {
        last.next = m_length;
        last.endsLine = true;
    }
    for (Row& r : result) {
        r.end = r.next;
        // Every line but the text's last ends in a break, CR LF or one character.
        if (r.endsLine && r.index != m_rowCount - 1) {
            r.end = r.next - 1;
            if (r.end > r.start && text[r.end] == u'\n' && text[r.end - 1] == u'\r')
                --r.end;
        }
        placeClusters(text, r);
    }
    return result;
}

void TranscriptLayout::placeClusters(QStringView text, Row& row) const
{
    int cell = 0;
    for (qsizetype at = row.start; at < row.end;) {
        const Cluster k = clusterAt(text, at, row.end);
        Placed p{k.start, k.end, cell, k.width, k.kind};
        if (k.kind == ClusterKind::Space || k.kind == ClusterKind::Tab) {
            p.width = k.kind == ClusterKind::Tab ? tabWidth - cell % tabWidth : 1;
            if (cell + p.width > m_columns)
                p.width = cell > 0 ? 0 : m_columns;
        }
        cell += p.width;
        row.clusters.push_back(p);
        at = k.end;
    }
    if (!row.endsLine) {
        // Spaces at a wrap hang: no cells, not drawn.
        for (auto it = row.clusters.rbegin(); it != row.clusters.rend(); ++it) {
            if (it->kind != ClusterKind::Space && it->kind != ClusterKind::Tab)
                break;
            it->width = 0;
        }
        int end = 0;
        for (Placed& p : row.clusters) {
            if (p.width == 0 && (p.kind == ClusterKind::Space || p.kind == ClusterKind::Tab))
                p.cell = end;
            end = std::max(end, p.cell + p.width);
        }
    }
}

TranscriptLayout::Row TranscriptLayout::row(QStringView text, qint64 index) const
{
    std::vector<Row> found = rows(text, index, 1);
    return found.empty() ? Row{} : std::move(found.front());
}

TranscriptLayout::Position TranscriptLayout::positionOf(QStringView text, qsizetype offset) const
{
    offset = std::clamp<qsizetype>(offset, 0, m_length);
    if (text.size() < m_length)
        return {};
    const auto after = std::upper_bound(m_blocks.begin(), m_blocks.end(), offset,
                                        [](qsizetype at, const Block& b) { return at < b.start; });
    Flow flow = flowFrom(*(after - 1));
    flow.notifyRow = std::numeric_limits<qint64>::max();
    flow.notifyOffset = offset + 1;
    qint64 rowIndex = -1;
    flow.run(text.first(m_length), m_length, true, [&](bool) {
        rowIndex = flow.row - 1; // the row before the first that starts past `offset`
        return true;
    });
    if (rowIndex < 0)
        rowIndex = flow.row;
    const Row r = row(text, rowIndex);
    int end = 0;
    for (const Placed& p : r.clusters) {
        if (offset < p.end)
            return {rowIndex, p.cell};
        end = std::max(end, p.cell + p.width);
    }
    return {rowIndex, end};
}

qsizetype TranscriptLayout::offsetAt(QStringView text, qint64 rowIndex, double cell) const
{
    if (m_length == 0 || text.size() < m_length)
        return 0;
    if (rowIndex < 0)
        return 0;
    if (rowIndex >= m_rowCount)
        return m_length;
    return offsetAt(text, row(text, rowIndex), cell);
}

qsizetype TranscriptLayout::offsetAt(QStringView, const Row& row, double cell) const
{
    // Clusters of no width at the row's end (hanging spaces, controls) sit
    // at its last cell; the first of them is where the row visibly ends.
    qsizetype zeroWidthRun = -1;
    for (const Placed& p : row.clusters) {
        if (p.width == 0) {
            if (zeroWidthRun < 0)
                zeroWidthRun = p.start;
            continue;
        }
        if (cell < p.cell + p.width / 2.0)
            return p.start;
        zeroWidthRun = -1;
    }
    if (zeroWidthRun >= 0)
        return zeroWidthRun;
    return row.endsLine ? row.end : row.next;
}
