#pragma once

#include "transcript/transcriptdocument.h"
#include "transcript/transcriptlayout.h"
#include "transcript/transcriptsearch.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QHash>
#include <QPointer>
#include <QStaticText>
#include <QStringView>

#include <array>
#include <chrono>
#include <functional>
#include <span>
#include <utility>
#include <vector>

class FrameClock;
class QAction;
class QDeadlineTimer;

// A read-only, selectable view of a long plain text that grows at its end,
// such as a tool's transcript. It keeps no copy of the text: it reads it
// through a source function whenever it needs it and only indexes where
// lines start, so taking in an appended chunk costs time in proportion to
// the chunk, and a paint lays out just the visible rows. TranscriptLayout
// decides what goes where, in cells of a monospaced font; the view draws
// each cluster at its cell, so that wide and combined characters keep the
// columns aligned whatever font their glyphs come from.
//
// Each stretch of text may have a role (TextRole), which the view shows in
// a colour and weight of its own; a selection's colour wins over it. Roles
// never move a cell: a bold glyph is drawn in the cell of the regular one.
//
// The owner tells the view about every change of the text: extendText()
// after an append, resetText() after anything else. What that changes on
// screen (rows, scroll range, following the end) is applied at the next
// frame: every view in a window paints on the window's FrameClock, so a
// flood into several views costs one paint pass per window and frame
// however often text arrives.
class TranscriptView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Returns the text as it is now. Called on every paint and indexing; the
    // view never stores the result, so the text's owner may append in place
    // without the view holding a second reference that would force a copy.
    using Source = std::function<QStringView()>;
    // Returns the style runs of the text that overlap [from, to), in order,
    // as TranscriptDocument::runsIn does. Called once per paint, for the
    // rows in sight; the view never stores the result.
    using Styles = std::function<std::span<const StyleRun>(qsizetype from, qsizetype to)>;

    explicit TranscriptView(QWidget* parent = nullptr);
    ~TranscriptView() override;

    // Reads the text from `source` from now on, indexed from scratch.
    void setSource(Source source);
    // Shows the text in the roles `styles` gives from now on; none: all
    // Normal. Runs only ever change with the text, so no other call tells
    // the view about them.
    void setStyles(Styles styles);
    // The text was replaced: index it again from scratch and drop the selection.
    void resetText();
    // The text grew at its end, everything before staying as it was: index
    // only the new tail. A text that shrank is taken as replaced.
    void extendText();

    // Actions its owner adds to the context menu, after the view's own.
    void setExtraActions(const QList<QAction*>& actions) { m_extraActions = actions; }

    // Shown in the placeholder colour while the text is empty.
    QString placeholderText() const { return m_placeholder; }
    void setPlaceholderText(const QString& text);

    // The selection, in UTF-16 offsets into the text: [start, end).
    bool hasSelection() const { return selectionStart() != selectionEnd(); }
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;

    // What the index holds, for tests and benchmarks.
    qsizetype indexedLength() const { return m_layout.length(); }
    qsizetype lineCount() const { return qsizetype(m_layout.lineCount()); }
    qint64 rowCount() const { return m_layout.rowCount(); }
    int columnCount() const { return m_layout.columns(); }
    const TranscriptLayout& layout() const { return m_layout; }
    // The row at the top of the view (only partly in sight at the end).
    qint64 topRow() const { return m_topRow; }
    int resetCount() const { return m_resetCount; }
    // True while changes wait to reach the screen: text not yet laid out,
    // a re-wrap under way, or what the next frame applies.
    bool frameDue() const
    {
        return m_rangeStale || m_endScrollPending || m_reflowing ||
               m_layout.length() < text().size();
    }

    // Looks for `query` in the text, and in what arrives later, a slice per
    // turn of the event loop; every match is highlighted. An empty query
    // ends the search and takes the highlights away.
    void setFindQuery(const QString& query, Qt::CaseSensitivity sensitivity);
    QString findQuery() const { return m_search.query(); }
    // Matches found so far, and whether the whole text has been searched.
    qsizetype matchCount() const { return m_search.count(); }
    bool findDone() const { return m_search.isDone(text()); }
    // Start of the current match, highlighted more strongly; -1 for none.
    qsizetype currentMatch() const { return m_currentMatch; }
    // Makes the match after (before) the current one current, the first
    // (last) after the end, and scrolls to it. False when there is none.
    bool findNext();
    bool findPrevious();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Text is never drawn closer than this to the view's edges.
    static constexpr int padding = 8;
    // Tab stops lie every this many character cells.
    static constexpr int tabWidth = TranscriptLayout::tabWidth;

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
    // The match count changed, or the search reached the end of the text.
    void matchCountChanged();
    // Ctrl+wheel: the user asks for a larger (steps > 0) or smaller font.
    void zoomRequested(int steps);

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
    void wheelEvent(QWheelEvent* event) override;

private:
    friend class FrameClock;

    QStringView text() const { return m_source ? m_source() : QStringView(); }
    void updateMetrics();
    void takeInText();
    // Work done in slices on the window's clock: laying out text taken in,
    // a re-wrap, the search. Goes on until `deadline`; true while more is left.
    bool workSlice(const QDeadlineTimer& deadline);
    void requestWork();
    void reflowStep(const QDeadlineTimer& deadline);
    FrameClock* clock();
    void updateScrollRange();
    int rowsInSight() const;
    qint64 originY() const;
    qint64 rowAtY(int y) const;
    void scrollToRow(qint64 row);
    void scrollByWheel(QWheelEvent* event);
    void syncScrollBar();
    void scheduleFrame();
    void applyFrame();

    // The pen of each role, by TextRole's value.
    using RoleColors = std::array<QColor, std::size_t(TextRole::DiffHeader) + 1>;
    RoleColors roleColors() const;
    // Draws the row's clusters in the weight of their roles, and in their
    // colours unless `colors` is null (the painter's pen then stays).
    void drawRow(QPainter& painter, QStringView all, const TranscriptLayout::Row& row, qreal y,
                 std::span<const StyleRun> runs, const RoleColors* colors);
    void drawCluster(QPainter& painter, QStringView cluster, int cell, int cells, qreal y,
                     bool bold);
    bool isPlainGlyph(QChar ch, bool bold);
    qsizetype offsetAt(QPoint viewportPos) const;
    std::pair<qsizetype, qsizetype> wordAt(qsizetype offset) const;
    void moveSelection(qsizetype anchor, qsizetype position);
    void offerPrimarySelection();
    void dragTo(QPoint viewportPos);
    void searchSlice(const QDeadlineTimer& deadline);
    void showMatch(qsizetype offset);
    void fillMatch(QPainter& painter, const TranscriptLayout::Row& row, qsizetype from,
                   qsizetype to, qreal y, const QColor& color);

    Source m_source;
    QList<QAction*> m_extraActions;
    Styles m_styles;
    QPointer<FrameClock> m_clock;
    QString m_placeholder;
    TranscriptLayout m_layout;
    int m_resetCount = 0;

    // Metrics of the current font.
    qreal m_advance = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;
    qreal m_exactAscent = 0;
    // The font of the bold roles, laid out in the regular font's cells.
    QFont m_boldFont;
    // Characters whose glyph in the font takes exactly one cell, so that a
    // run of them is drawn in one call; and other clusters, shaped. Each
    // for the regular font [0] and the bold one [1].
    QHash<char16_t, bool> m_plainGlyphs[2];
    QHash<QString, QStaticText> m_clusterGlyphs[2];

    qsizetype m_anchor = 0;
    qsizetype m_cursor = 0;
    bool m_selecting = false;
    QPoint m_lastDragPos;
    QBasicTimer m_dragScroll;

    // The layout at a new width while it is being built, and where the view
    // stood before (at the end, or the offset at its top).
    TranscriptLayout m_nextLayout;
    bool m_reflowing = false;
    bool m_reflowAtEnd = false;
    qsizetype m_reflowTop = -1;

    // The search over the text, in slices until it is done.
    TranscriptSearch m_search;
    qsizetype m_currentMatch = -1;
    int m_zoomDelta = 0;

    // Where the view stands, in rows: a row count may pass what an int of
    // pixels, or even of rows, holds. The scroll bar is a proxy for it, in
    // steps of m_barScale rows; the view sets the bar under m_settingBar and
    // takes any other move of the bar as the user's.
    qint64 m_topRow = 0;
    qint64 m_maxTopRow = 0;
    qint64 m_barScale = 1;
    bool m_settingBar = false;
    // Wheel moves smaller than a row, kept until they add up to one.
    int m_wheelPixels = 0;
    int m_wheelAngle = 0;

    // Deferred to the next frame.
    bool m_rangeStale = false;
    bool m_endScrollPending = false;
};
