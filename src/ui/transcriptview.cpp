#include "ui/transcriptview.h"

#include "platform/clipboard.h"
#include "ui/painting.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTimerEvent>
#include <QtMath>

#include <algorithm>
#include <climits>

using namespace std::chrono_literals;

namespace {

// How often a drag held above or below the view scrolls it further.
constexpr auto dragScrollInterval = 50ms;
constexpr qreal backgroundRadius = 6;

// The cell just after a character that starts at `cell`.
qsizetype nextCell(qsizetype cell, QChar ch)
{
    if (ch == u'\t')
        return (cell / TranscriptView::tabWidth + 1) * TranscriptView::tabWidth;
    return cell + 1;
}

qsizetype advanceCells(qsizetype cell, QStringView segment)
{
    if (!segment.contains(u'\t'))
        return cell + segment.size();
    for (QChar ch : segment)
        cell = nextCell(cell, ch);
    return cell;
}

// Control characters left in a transcript would draw as boxes or nothing at
// all; a blank keeps every later character in its cell.
QChar displayed(QChar ch)
{
    return ch.unicode() < 0x20 || ch.unicode() == 0x7f ? QChar(u' ') : ch;
}

bool isWordCharacter(QChar ch)
{
    return ch.isLetterOrNumber() || ch == u'_';
}

} // namespace

// The one clock that paces every view's frames. A view asks for a frame
// after taking in text; when the frame is due, the views that asked apply
// their changes and paint, one view per event-loop turn, so that input and
// timers get a turn between two paints. The paint is forced rather than
// left to the posted, low-priority update request, which a flood of posted
// output can hold back for long.
class TranscriptFrameClock : public QObject {
public:
    static void request(TranscriptView* view)
    {
        TranscriptFrameClock* clock = instance();
        if (!clock || contains(clock->m_painting, view) || contains(clock->m_waiting, view))
            return;
        clock->m_waiting.push_back(view);
        if (!clock->m_timer.isActive())
            clock->startTimer();
    }

    static void forget(TranscriptView* view)
    {
        if (!s_clock)
            return;
        std::erase(s_clock->m_waiting, view);
        std::erase(s_clock->m_painting, view);
    }

protected:
    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != m_timer.timerId())
            return;
        m_timer.stop();
        if (m_painting.empty()) {
            m_sinceFrame.start();
            m_painting = std::exchange(m_waiting, {});
        }
        if (!m_painting.empty()) {
            TranscriptView* view = m_painting.front();
            m_painting.erase(m_painting.begin());
            view->applyFrame();
            if (view->isVisible())
                QCoreApplication::sendPostedEvents(view->window(), QEvent::UpdateRequest);
        }
        if (!m_painting.empty() || !m_waiting.empty())
            startTimer();
    }

private:
    using QObject::QObject;

    static TranscriptFrameClock* instance()
    {
        // Owned by the application, so that no timer outlives its event loop.
        if (!s_clock && QCoreApplication::instance())
            s_clock = new TranscriptFrameClock(QCoreApplication::instance());
        return s_clock;
    }

    static bool contains(const std::vector<TranscriptView*>& views, TranscriptView* view)
    {
        return std::find(views.begin(), views.end(), view) != views.end();
    }

    // The rest of a frame goes on at the next turn; a new frame waits until
    // the interval since the last one has passed.
    void startTimer()
    {
        qint64 wait = 0;
        if (m_painting.empty() && m_sinceFrame.isValid())
            wait =
                std::max<qint64>(0, TranscriptView::frameInterval.count() - m_sinceFrame.elapsed());
        m_timer.start(int(wait), this);
    }

    static inline QPointer<TranscriptFrameClock> s_clock;
    QBasicTimer m_timer;
    QElapsedTimer m_sinceFrame;
    std::vector<TranscriptView*> m_waiting;
    std::vector<TranscriptView*> m_painting;
};

TranscriptView::TranscriptView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The rounded background is painted by the area itself; a filled
    // viewport would square its corners.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);

    updateMetrics();
}

TranscriptView::~TranscriptView()
{
    TranscriptFrameClock::forget(this);
}

void TranscriptView::setSource(Source source)
{
    m_source = std::move(source);
    resetText();
}

void TranscriptView::setPlaceholderText(const QString& text)
{
    if (text == m_placeholder)
        return;
    m_placeholder = text;
    if (m_indexed == 0)
        viewport()->update();
}

void TranscriptView::resetText()
{
    ++m_resetCount;
    // Swapped out rather than cleared so that a long earlier run gives its memory back.
    std::vector<qsizetype>{0}.swap(m_lineStarts);
    std::vector<qint64>{0, 1}.swap(m_rowStarts);
    std::vector<std::pair<qsizetype, qsizetype>>().swap(m_wideLines);
    m_openCells = 0;
    m_indexed = 0;
    moveSelection(0, 0);
    indexTail(text());
    m_rangeStale = true;
    scheduleFrame();
}

void TranscriptView::extendText()
{
    const QStringView all = text();
    if (all.size() < m_indexed) {
        resetText();
        return;
    }
    if (all.size() == m_indexed)
        return;
    indexTail(all);
    m_rangeStale = true;
    scheduleFrame();
}

void TranscriptView::indexTail(QStringView all)
{
    qsizetype pos = m_indexed;
    const qsizetype end = all.size();
    while (pos < end) {
        const qsizetype newline = all.indexOf(u'\n', pos);
        const qsizetype stop = newline < 0 ? end : newline;
        m_openCells = advanceCells(m_openCells, all.sliced(pos, stop - pos));
        if (newline < 0)
            break;
        closeOpenLine(newline + 1);
        pos = newline + 1;
    }
    m_indexed = end;
    m_rowStarts.back() = m_rowStarts[m_rowStarts.size() - 2] + rowsFor(m_openCells);
}

void TranscriptView::closeOpenLine(qsizetype nextLineStart)
{
    const qsizetype line = lineCount() - 1;
    if (m_openCells != nextLineStart - 1 - m_lineStarts.back())
        m_wideLines.emplace_back(line, m_openCells);
    const qint64 next = m_rowStarts[line] + rowsFor(m_openCells);
    m_rowStarts.back() = next;
    m_rowStarts.push_back(next + 1);
    m_lineStarts.push_back(nextLineStart);
    m_openCells = 0;
}

qsizetype TranscriptView::lineEnd(qsizetype line) const
{
    return line + 1 < lineCount() ? m_lineStarts[line + 1] - 1 : m_indexed;
}

qsizetype TranscriptView::cellsOf(qsizetype line) const
{
    if (line + 1 == lineCount())
        return m_openCells;
    const auto wide = std::lower_bound(m_wideLines.begin(), m_wideLines.end(),
                                       std::pair<qsizetype, qsizetype>(line, 0));
    if (wide != m_wideLines.end() && wide->first == line)
        return wide->second;
    return lineEnd(line) - m_lineStarts[line];
}

qint64 TranscriptView::rowsFor(qsizetype cells) const
{
    return cells <= 0 ? 1 : (cells + m_columns - 1) / m_columns;
}

void TranscriptView::recountRows()
{
    const qsizetype lines = lineCount();
    m_rowStarts.resize(lines + 1);
    qint64 row = 0;
    std::size_t wide = 0;
    for (qsizetype line = 0; line < lines; ++line) {
        m_rowStarts[line] = row;
        qsizetype cells;
        if (line + 1 == lines)
            cells = m_openCells;
        else if (wide < m_wideLines.size() && m_wideLines[wide].first == line)
            cells = m_wideLines[wide++].second;
        else
            cells = m_lineStarts[line + 1] - 1 - m_lineStarts[line];
        row += rowsFor(cells);
    }
    m_rowStarts[lines] = row;
}

void TranscriptView::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_advance = std::max<qreal>(1, metrics.horizontalAdvance(u'M'));
    m_lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    m_ascent = qCeil(metrics.ascent());
    verticalScrollBar()->setSingleStep(m_lineHeight);
    m_columns = 0; // forces the rows to be counted again
    resizeEvent(nullptr);
}

void TranscriptView::updateScrollRange()
{
    const qint64 content = 2 * padding + rowCount() * m_lineHeight;
    // Past INT_MAX pixels (over a hundred million rows) the end is out of reach; accepted.
    const qint64 maximum = std::clamp<qint64>(content - viewport()->height(), 0, INT_MAX);
    verticalScrollBar()->setRange(0, int(maximum));
}

void TranscriptView::scheduleFrame()
{
    TranscriptFrameClock::request(this);
}

void TranscriptView::applyFrame()
{
    if (std::exchange(m_rangeStale, false))
        updateScrollRange();
    if (std::exchange(m_endScrollPending, false))
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
}

void TranscriptView::scrollToEnd()
{
    m_endScrollPending = false;
    m_rangeStale = false;
    updateScrollRange();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TranscriptView::scheduleScrollToEnd()
{
    m_endScrollPending = true;
    scheduleFrame();
}

TranscriptView::Row TranscriptView::rowAt(qint64 row) const
{
    row = std::clamp<qint64>(row, 0, rowCount() - 1);
    const auto after = std::upper_bound(m_rowStarts.begin(), m_rowStarts.end(), row);
    Row result;
    result.line = qsizetype(after - m_rowStarts.begin()) - 1;
    result.firstCell = (row - m_rowStarts[result.line]) * m_columns;
    result.endCell = std::min<qsizetype>(result.firstCell + m_columns, cellsOf(result.line));
    return result;
}

qsizetype TranscriptView::cellOfOffset(QStringView all, qsizetype line, qsizetype offset) const
{
    const qsizetype start = m_lineStarts[line];
    offset = std::clamp(offset, start, lineEnd(line));
    if (cellsOf(line) == lineEnd(line) - start)
        return offset - start;
    return advanceCells(0, all.sliced(start, offset - start));
}

qsizetype TranscriptView::offsetOfCell(QStringView all, qsizetype line, qsizetype cell) const
{
    const qsizetype start = m_lineStarts[line];
    const qsizetype end = lineEnd(line);
    if (cellsOf(line) == end - start)
        return start + std::clamp<qsizetype>(cell, 0, end - start);
    qsizetype at = 0;
    for (qsizetype i = start; i < end; ++i) {
        if (at >= cell)
            return i;
        at = nextCell(at, all[i]);
    }
    return end;
}

QString TranscriptView::rowDisplayText(QStringView all, const Row& row) const
{
    const qsizetype start = m_lineStarts[row.line];
    const qsizetype end = lineEnd(row.line);
    QString out;
    out.reserve(row.endCell - row.firstCell + 1);
    qsizetype first = offsetOfCell(all, row.line, row.firstCell);
    qsizetype last = first; // one past the last character taken
    qsizetype cell = cellOfOffset(all, row.line, first);
    // A tab that began on the row before leaves its remaining cells blank.
    const qsizetype lead = cell - row.firstCell;
    out.append(QString(lead, u' '));
    for (; last < end && cell < row.endCell; ++last) {
        const QChar ch = all[last];
        const qsizetype next = nextCell(cell, ch);
        if (ch == u'\t')
            out.append(QString(std::min(next, row.endCell) - cell, u' '));
        else
            out.append(displayed(ch));
        cell = next;
    }
    // A surrogate pair split by the wrap is drawn whole on the row where it starts.
    if (last > first && last < end && all[last - 1].isHighSurrogate() && all[last].isLowSurrogate())
        out.append(all[last]);
    if (first > start && first < end && all[first - 1].isHighSurrogate() &&
        all[first].isLowSurrogate() && out.size() > lead)
        out[lead] = u' ';
    return out;
}

qint64 TranscriptView::rowOfOffset(QStringView all, qsizetype offset) const
{
    const auto after = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    const qsizetype line = std::max<qsizetype>(0, qsizetype(after - m_lineStarts.begin()) - 1);
    const qsizetype cell = cellOfOffset(all, line, offset);
    return m_rowStarts[line] + std::min<qint64>(cell / m_columns, rowsFor(cellsOf(line)) - 1);
}

qsizetype TranscriptView::offsetAt(QPoint viewportPos) const
{
    const QStringView all = text();
    if (all.size() < m_indexed || m_indexed == 0)
        return 0;
    const qint64 y = qint64(viewportPos.y()) + verticalScrollBar()->value() - padding;
    if (y < 0)
        return 0;
    const qint64 row = y / m_lineHeight;
    if (row >= rowCount())
        return m_indexed;
    const Row r = rowAt(row);
    const qsizetype cell = std::clamp<qsizetype>(
        r.firstCell + qRound((viewportPos.x() - padding) / m_advance), r.firstCell, r.endCell);
    return offsetOfCell(all, r.line, cell);
}

std::pair<qsizetype, qsizetype> TranscriptView::wordAt(qsizetype offset) const
{
    const QStringView all = text();
    if (offset >= all.size())
        return {offset, offset};
    if (!isWordCharacter(all[offset]))
        return {offset, offset + 1};
    qsizetype start = offset;
    qsizetype end = offset;
    while (start > 0 && isWordCharacter(all[start - 1]))
        --start;
    while (end < all.size() && isWordCharacter(all[end]))
        ++end;
    return {start, end};
}

qsizetype TranscriptView::selectionStart() const
{
    return std::min(m_anchor, m_cursor);
}

qsizetype TranscriptView::selectionEnd() const
{
    return std::max(m_anchor, m_cursor);
}

QString TranscriptView::selectedText() const
{
    const QStringView all = text();
    const qsizetype start = std::min(selectionStart(), all.size());
    const qsizetype end = std::min(selectionEnd(), all.size());
    return all.sliced(start, end - start).toString();
}

void TranscriptView::setSelection(qsizetype anchor, qsizetype position)
{
    moveSelection(anchor, position);
}

void TranscriptView::moveSelection(qsizetype anchor, qsizetype position)
{
    anchor = std::clamp<qsizetype>(anchor, 0, m_indexed);
    position = std::clamp<qsizetype>(position, 0, m_indexed);
    if (anchor == m_anchor && position == m_cursor)
        return;
    const bool had = hasSelection();
    const bool changed = selectionStart() != std::min(anchor, position) ||
                         selectionEnd() != std::max(anchor, position);
    m_anchor = anchor;
    m_cursor = position;
    if (changed)
        viewport()->update();
    if (had != hasSelection())
        Q_EMIT copyAvailable(hasSelection());
}

void TranscriptView::copy()
{
    if (hasSelection())
        Clipboard::setPlainText(selectedText());
}

void TranscriptView::selectAll()
{
    moveSelection(0, m_indexed);
}

QSize TranscriptView::sizeHint() const
{
    return {qCeil(40 * m_advance) + 2 * padding, 10 * m_lineHeight + 2 * padding};
}

QSize TranscriptView::minimumSizeHint() const
{
    return {qCeil(4 * m_advance) + 2 * padding, m_lineHeight + 2 * padding};
}

bool TranscriptView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Copy and Select All act on this view while it has focus, even when
        // a window-wide shortcut claims the same keys.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::Paint: {
        QPainter painter(this);
        fillRoundedRect(painter, rect(), backgroundRadius, static_cast<QPaintEvent*>(event)->rect(),
                        palette().color(QPalette::Base));
        break;
    }
    default:
        break;
    }
    return QAbstractScrollArea::event(event);
}

void TranscriptView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QStringView all = text();
    const int top = verticalScrollBar()->value();
    // A text shorter than its index was replaced without telling the view;
    // it shows nothing until resetText() catches up.
    if (all.isEmpty() || all.size() < m_indexed) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        const QRect area(padding, padding - top, viewport()->width() - 2 * padding,
                         viewport()->height() + top);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, m_placeholder);
        return;
    }

    const QRect dirty = event->rect();
    const qint64 firstRow =
        std::max<qint64>(0, (qint64(dirty.top()) + top - padding) / m_lineHeight);
    const qint64 lastRow =
        std::min<qint64>(rowCount() - 1, (qint64(dirty.bottom()) + top - padding) / m_lineHeight);
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    const QColor textColor = palette().color(QPalette::Text);
    const QColor highlight = palette().color(QPalette::Highlight);
    const QColor highlightedText = palette().color(QPalette::HighlightedText);

    for (qint64 rowIndex = firstRow; rowIndex <= lastRow; ++rowIndex) {
        const Row row = rowAt(rowIndex);
        const int y = int(padding + rowIndex * m_lineHeight - top);
        const QString shown = rowDisplayText(all, row);

        QRectF selected;
        const qsizetype start = m_lineStarts[row.line];
        const qsizetype end = lineEnd(row.line);
        if (selStart < selEnd && selStart <= end && selEnd > start) {
            const qsizetype from =
                std::max(row.firstCell, cellOfOffset(all, row.line, std::max(selStart, start)));
            qsizetype to =
                std::min(row.endCell, cellOfOffset(all, row.line, std::min(selEnd, end)));
            // A selected line break shows as one highlighted cell after the line.
            const bool lastRowOfLine = row.endCell >= cellsOf(row.line);
            if (selEnd > end && lastRowOfLine && end < m_indexed)
                to = row.endCell + 1;
            if (to > from)
                selected = QRectF(padding + (from - row.firstCell) * m_advance, y,
                                  (to - from) * m_advance, m_lineHeight);
        }

        const QPointF baseline(padding, y + m_ascent);
        if (!selected.isEmpty())
            painter.fillRect(selected, highlight);
        painter.setPen(textColor);
        painter.drawText(baseline, shown);
        if (!selected.isEmpty()) {
            painter.save();
            painter.setClipRect(selected);
            painter.setPen(highlightedText);
            painter.drawText(baseline, shown);
            painter.restore();
        }
    }
}

void TranscriptView::resizeEvent(QResizeEvent*)
{
    const int columns = std::max(1, int((viewport()->width() - 2 * padding) / m_advance));
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(std::max(1, viewport()->height()));
    // A view scrolled to its end stays there; one whose text fits stays at the top.
    const bool atEnd = m_endScrollPending || (bar->maximum() > 0 && bar->value() >= bar->maximum());
    qsizetype topOffset = -1;
    if (columns != m_columns) {
        // Keep the text at the top of the view in place as rows rewrap.
        const QStringView all = text();
        if (!atEnd && bar->value() > 0 && m_columns > 0 && all.size() >= m_indexed) {
            const Row row = rowAt((bar->value() - padding) / m_lineHeight);
            topOffset = offsetOfCell(all, row.line, row.firstCell);
        }
        m_columns = columns;
        recountRows();
    }
    m_rangeStale = false;
    m_endScrollPending = false;
    updateScrollRange();
    if (atEnd)
        bar->setValue(bar->maximum());
    else if (topOffset >= 0)
        bar->setValue(int(
            std::min<qint64>(INT_MAX, padding + rowOfOffset(text(), topOffset) * m_lineHeight)));
}

void TranscriptView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

void TranscriptView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TranscriptView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype offset = offsetAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier)
        moveSelection(m_anchor, offset);
    else
        moveSelection(offset, offset);
    m_selecting = true;
    m_lastDragPos = event->position().toPoint();
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_selecting && (event->buttons() & Qt::LeftButton))
        dragTo(event->position().toPoint());
}

void TranscriptView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selecting) {
        dragTo(event->position().toPoint());
        m_selecting = false;
        m_dragScroll.stop();
    }
}

void TranscriptView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const auto [start, end] = wordAt(offsetAt(event->position().toPoint()));
    moveSelection(start, end);
}

void TranscriptView::dragTo(QPoint viewportPos)
{
    m_lastDragPos = viewportPos;
    moveSelection(m_anchor, offsetAt(viewportPos));
    const bool outside = viewportPos.y() < 0 || viewportPos.y() >= viewport()->height();
    if (outside && !m_dragScroll.isActive())
        m_dragScroll.start(int(dragScrollInterval.count()), this);
    else if (!outside)
        m_dragScroll.stop();
}

void TranscriptView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_dragScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    const int step = m_lastDragPos.y() < 0 ? -m_lineHeight : m_lineHeight;
    bar->setValue(bar->value() + step);
    moveSelection(m_anchor, offsetAt(m_lastDragPos));
}

void TranscriptView::keyPressEvent(QKeyEvent* event)
{
    QScrollBar* bar = verticalScrollBar();
    if (event->matches(QKeySequence::Copy))
        copy();
    else if (event->matches(QKeySequence::SelectAll))
        selectAll();
    else if (event->matches(QKeySequence::MoveToStartOfDocument) || event->key() == Qt::Key_Home)
        bar->setValue(0);
    else if (event->matches(QKeySequence::MoveToEndOfDocument) || event->key() == Qt::Key_End)
        scrollToEnd();
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void TranscriptView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("Copy"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    connect(copyAction, &QAction::triggered, this, &TranscriptView::copy);
    QAction* selectAllAction = menu.addAction(tr("Select All"));
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(m_indexed > 0);
    connect(selectAllAction, &QAction::triggered, this, &TranscriptView::selectAll);
    menu.exec(event->globalPos());
}
