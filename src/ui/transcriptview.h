#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QStringView>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

// A read-only, selectable view of a long plain text that grows at its end,
// such as a tool's transcript. It keeps no copy of the text: it reads it
// through a source function whenever it needs it and only indexes where
// lines start, so taking in an appended chunk costs time in proportion to
// the chunk, and a paint lays out just the visible rows. Lines wrap at the
// width character by character, as in a terminal, in a monospaced font.
//
// The owner tells the view about every change of the text: extendText()
// after an append, resetText() after anything else. What that changes on
// screen (rows, scroll range, following the end) is applied at the next
// frame: every view in the application paints on one shared clock, at most
// once per frameInterval, so a flood into several views costs one paint
// pass per window and frame however often text arrives.
class TranscriptView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Returns the text as it is now. Called on every paint and indexing; the
    // view never stores the result, so the text's owner may append in place
    // without the view holding a second reference that would force a copy.
    using Source = std::function<QStringView()>;

    explicit TranscriptView(QWidget* parent = nullptr);
    ~TranscriptView() override;

    // Reads the text from `source` from now on, indexed from scratch.
    void setSource(Source source);
    // The text was replaced: index it again from scratch and drop the selection.
    void resetText();
    // The text grew at its end, everything before staying as it was: index
    // only the new tail. A text that shrank is taken as replaced.
    void extendText();

    // Shown in the placeholder colour while the text is empty.
    QString placeholderText() const { return m_placeholder; }
    void setPlaceholderText(const QString& text);

    // The selection, in UTF-16 offsets into the text: [start, end).
    bool hasSelection() const { return selectionStart() != selectionEnd(); }
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;
    // Selects from `anchor` to `position` (either order), clamped to the text.
    void setSelection(qsizetype anchor, qsizetype position);

    // What the index holds, for tests and benchmarks.
    qsizetype indexedLength() const { return m_indexed; }
    qsizetype lineCount() const { return qsizetype(m_lineStarts.size()); }
    qint64 rowCount() const { return m_rowStarts.back(); }
    int columnCount() const { return m_columns; }
    int resetCount() const { return m_resetCount; }
    // True while changes wait for the next frame to reach the screen.
    bool frameDue() const { return m_rangeStale || m_endScrollPending; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Text is never drawn closer than this to the view's edges.
    static constexpr int padding = 8;
    // Tab stops lie every this many character cells.
    static constexpr int tabWidth = 8;
    // Frames come at most this often while text streams in (as a terminal
    // batches a flood); a change after a quiet spell shows at once.
    static constexpr std::chrono::milliseconds frameInterval{40};

public Q_SLOTS:
    // Puts the selected text on the clipboard as plain text; nothing without a selection.
    void copy();
    void selectAll();
    // Scrolls so that the last row is at the bottom of the view, now.
    void scrollToEnd();
    // Scrolls to the end at the next frame, with the paint that shows the
    // text just taken in: for following output as it streams.
    void scheduleScrollToEnd();

Q_SIGNALS:
    // Fires when a selection appears or disappears, so that an Edit menu
    // can enable its Copy action.
    void copyAvailable(bool available);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    friend class TranscriptFrameClock;

    // One row of the wrapped text: a slice of one line.
    struct Row {
        qsizetype line = 0;
        qsizetype firstCell = 0; // cell of the row's start within its line
        qsizetype endCell = 0;   // one past the row's last cell
    };

    QStringView text() const { return m_source ? m_source() : QStringView(); }
    void indexTail(QStringView all);
    void closeOpenLine(qsizetype nextLineStart);
    qsizetype lineEnd(qsizetype line) const;
    qsizetype cellsOf(qsizetype line) const;
    qint64 rowsFor(qsizetype cells) const;
    void recountRows();
    void updateMetrics();
    void updateScrollRange();
    void scheduleFrame();
    void applyFrame();

    Row rowAt(qint64 row) const;
    qsizetype cellOfOffset(QStringView all, qsizetype line, qsizetype offset) const;
    qsizetype offsetOfCell(QStringView all, qsizetype line, qsizetype cell) const;
    QString rowDisplayText(QStringView all, const Row& row) const;
    qint64 rowOfOffset(QStringView all, qsizetype offset) const;
    qsizetype offsetAt(QPoint viewportPos) const;
    std::pair<qsizetype, qsizetype> wordAt(qsizetype offset) const;
    void moveSelection(qsizetype anchor, qsizetype position);
    void dragTo(QPoint viewportPos);

    Source m_source;
    QString m_placeholder;

    // Index of the text: where each line starts (line 0 at 0; a line ends
    // before the next one's '\n'), and the first row of each line, with the
    // total row count appended. Lines whose cells differ from their length
    // (tabs) are listed in m_wideLines, sorted, with their cell count, so
    // that the common line costs two integers. The last line is still open.
    std::vector<qsizetype> m_lineStarts{0};
    std::vector<qint64> m_rowStarts{0, 1};
    std::vector<std::pair<qsizetype, qsizetype>> m_wideLines;
    qsizetype m_openCells = 0;
    qsizetype m_indexed = 0;
    int m_resetCount = 0;

    // Layout for the current font and width.
    int m_columns = 1;
    qreal m_advance = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;

    qsizetype m_anchor = 0;
    qsizetype m_cursor = 0;
    bool m_selecting = false;
    QPoint m_lastDragPos;
    QBasicTimer m_dragScroll;

    // Deferred to the next frame.
    bool m_rangeStale = false;
    bool m_endScrollPending = false;
};
