#pragma once

#include "transcript/cluster.h"

#include <QStringView>

#include <vector>

// Lays out a plain text that grows at its end, such as a tool's transcript,
// into rows of a given number of cells, as a terminal-like view shows it:
// clusters of one or two cells, tab stops every 8 cells from the start of
// each row, lines broken at LF, CR LF, CR, VT, FF, NEL, LS and PS, and long
// lines wrapped after the last space that fits (spaces at a wrap hang at the
// end of their row, taking no cells), between two wide clusters, or, in a
// word longer than the row, before the cluster that does not fit.
//
// It keeps no copy of the text; every call that reads it takes the whole
// text as it is now. The index costs about a byte a line: it keeps one entry
// (where it starts, its first line and row) per block of up to 64 rows'
// starts or a few thousand characters, and finds anything within a block by
// laying the block out again. Taking in an append costs time in proportion
// to it; a new width lays out everything once.
class TranscriptLayout {
public:
    static constexpr int tabWidth = 8;

    // A cluster as placed on its row.
    struct Placed {
        qsizetype start = 0;
        qsizetype end = 0;
        int cell = 0;
        int width = 0; // 0 for controls and hanging spaces
        Transcript::ClusterKind kind = Transcript::ClusterKind::Glyph;
    };

    struct Row {
        qint64 index = 0;
        qsizetype start = 0;   // offset of the row's first cluster
        qsizetype end = 0;     // end of its clusters: the line's end on its last row
        qsizetype next = 0;    // where the next row starts (after a line break if any)
        bool endsLine = false; // the last row of its line
        std::vector<Placed> clusters;
        // Cells taken: one past the last cell of a cluster.
        int cells() const;
    };

    struct Position {
        qint64 row = 0;
        int cell = 0;
        friend bool operator==(const Position&, const Position&) = default;
    };

    // Forgets the text.
    void reset();
    // Takes in text[length(), text.size()): everything before it must be unchanged.
    void append(QStringView text);
    // Lays out the text again at `columns` cells a row (at least 1).
    void setColumns(QStringView text, int columns);

    int columns() const { return m_columns; }
    qsizetype length() const { return m_length; }
    qint64 lineCount() const { return m_lineCount; }
    qint64 rowCount() const { return m_rowCount; }
    // Bytes the index holds, for benchmarks.
    qsizetype indexBytes() const { return qsizetype(m_blocks.capacity() * sizeof(Block)); }

    // Rows [first, first + count), clamped to the rows there are.
    std::vector<Row> rows(QStringView text, qint64 first, qint64 count) const;
    Row row(QStringView text, qint64 index) const;
    // Where the cluster holding `offset` is drawn; an offset in a line break
    // is after its line's last cluster.
    Position positionOf(QStringView text, qsizetype offset) const;
    // The cluster boundary nearest to `cell` (in cells from the row's left
    // edge, fractions allowed) on a row.
    qsizetype offsetAt(QStringView text, qint64 row, double cell) const;
    qsizetype offsetAt(QStringView text, const Row& row, double cell) const;

private:
    struct Block {
        qsizetype start; // a row's start
        qint64 line;
        qint64 row;
    };
    struct Flow;

    void addRow(Flow& flow);
    Flow flowFrom(const Block& block) const;
    void placeClusters(QStringView text, Row& row) const;

    int m_columns = 80;
    qsizetype m_length = 0;
    qint64 m_lineCount = 1;
    qint64 m_rowCount = 1;
    std::vector<Block> m_blocks{{0, 0, 0}};
    // Where laying out stopped: the last cluster may still grow.
    struct FlowState {
        qsizetype pos = 0;
        qsizetype rowStart = 0;
        qsizetype breakAt = -1;
        qint64 row = 0;
        qint64 line = 0;
        int cell = 0;
        bool prevSpace = false;
        bool prevWide = false;
        bool hanging = false;
        bool afterCarriageReturn = false;
    } m_state;
};
