#include "ui/transcriptview.h"

#include "ui/clipboard.h"
#include "ui/frameclock.h"
#include "ui/painting.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStaticText>
#include <QTimerEvent>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <climits>

using namespace std::chrono_literals;

namespace {

// How often a drag held above or below the view scrolls it further.
constexpr auto dragScrollInterval = 50ms;
constexpr qreal backgroundRadius = 6;
// Text is laid out this many characters at a time, so that a slice of
// work ends soon after its deadline; an append up to this size is laid
// out at once, a larger one in slices on the window's clock.
constexpr qsizetype layoutChunk = 16 * 1024;
// The search goes through this many characters at a time.
constexpr qsizetype searchChunk = 256 * 1024;
// Matches, and the current one more strongly: a marker's yellow and orange.
const QColor matchColor(255, 214, 0, 120);
const QColor currentMatchColor(255, 140, 0, 200);

// At most this many shaped clusters are kept; past that the cache starts over.
constexpr qsizetype clusterGlyphCacheSize = 4096;

// How far a tool call's colour leans from the secondary text's to the link's.
constexpr qreal toolHue = 0.5;
// A diff's added and removed lines lean this far from the text's colour to
// a green and to the red: darker than the hue on a light background,
// lighter on a dark one, so both stay readable.
const QColor addedGreen(0x2e, 0xa0, 0x43);
constexpr qreal diffHue = 0.75;
// Headers lean less to the link than tool calls, to read as secondary.
constexpr qreal headerHue = 0.25;

QColor mixed(const QColor& from, const QColor& to, qreal part)
{
    auto mix = [part](qreal a, qreal b) { return a + (b - a) * part; };
    return QColor::fromRgbF(
        float(mix(from.redF(), to.redF())), float(mix(from.greenF(), to.greenF())),
        float(mix(from.blueF(), to.blueF())), float(mix(from.alphaF(), to.alphaF())));
}

bool isBold(TextRole role)
{
    return role == TextRole::Prompt;
}

// Lays out more of `all` into `layout`, a chunk at least, until `deadline`;
// true once it is all laid out.
bool layOutUntil(TranscriptLayout& layout, QStringView all, const QDeadlineTimer& deadline)
{
    while (layout.length() < all.size()) {
        layout.append(all.first(std::min(all.size(), layout.length() + layoutChunk)));
        if (deadline.hasExpired())
            break;
    }
    return layout.length() >= all.size();
}

// A cluster belongs to a word when its base does.
bool isWordCluster(QStringView cluster)
{
    char32_t base = cluster.front().unicode();
    if (cluster.size() > 1 && cluster[0].isHighSurrogate() && cluster[1].isLowSurrogate())
        base = QChar::surrogateToUcs4(cluster[0], cluster[1]);
    return QChar::isLetterOrNumber(base) || base == u'_';
}

} // namespace

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
    verticalScrollBar()->setSingleStep(1);

    updateMetrics();
}

TranscriptView::~TranscriptView()
{
    if (m_clock)
        m_clock->remove(this);
}

void TranscriptView::setSource(Source source)
{
    m_source = std::move(source);
    resetText();
}

void TranscriptView::setStyles(Styles styles)
{
    m_styles = std::move(styles);
    viewport()->update();
}

void TranscriptView::setPlaceholderText(const QString& text)
{
    if (text == m_placeholder)
        return;
    m_placeholder = text;
    if (m_layout.length() == 0)
        viewport()->update();
}

void TranscriptView::resetText()
{
    ++m_resetCount;
    // A re-wrap under way is for text that is gone: the new text is laid
    // out at the width it was heading for.
    if (std::exchange(m_reflowing, false))
        m_layout.setColumns({}, m_nextLayout.columns());
    m_layout.reset();
    m_nextLayout.reset();
    moveSelection(0, 0);
    if (m_search.isActive()) {
        m_search.restart();
        m_currentMatch = -1;
        Q_EMIT matchCountChanged();
    }
    takeInText();
}

void TranscriptView::extendText()
{
    const qsizetype length = text().size();
    if (length < m_layout.length())
        resetText();
    else if (length > m_layout.length())
        takeInText();
}

void TranscriptView::takeInText()
{
    const QStringView all = text();
    // A short append costs little at once; a flood is laid out in slices
    // on the window's clock, so that several views taking in text in the
    // same turn do not add up to one long stall.
    if (!m_reflowing && all.size() - m_layout.length() <= layoutChunk)
        m_layout.append(all);
    if (m_reflowing || m_layout.length() < all.size() ||
        (m_search.isActive() && !m_search.isDone(all)))
        requestWork();
    m_rangeStale = true;
    scheduleFrame();
}

void TranscriptView::setFindQuery(const QString& query, Qt::CaseSensitivity sensitivity)
{
    if (query == m_search.query() && sensitivity == m_search.caseSensitivity())
        return;
    // A newer query drops whatever the older one had left to do.
    m_search.setQuery(query, sensitivity);
    m_currentMatch = -1;
    if (m_search.isActive())
        requestWork();
    viewport()->update();
    Q_EMIT matchCountChanged();
}

void TranscriptView::requestWork()
{
    clock()->requestWork(this);
}

bool TranscriptView::workSlice(const QDeadlineTimer& deadline)
{
    const QStringView all = text();
    if (all.size() < m_layout.length())
        return false; // replaced: resetText() starts over
    if (m_reflowing) {
        reflowStep(deadline);
        if (m_reflowing)
            return true;
    }
    if (m_layout.length() < all.size()) {
        layOutUntil(m_layout, all, deadline);
        m_rangeStale = true;
        scheduleFrame();
    }
    if (m_search.isActive() && !deadline.hasExpired())
        searchSlice(deadline);
    return m_layout.length() < all.size() || (m_search.isActive() && !m_search.isDone(all));
}

// Searches what is laid out, until `deadline`.
void TranscriptView::searchSlice(const QDeadlineTimer& deadline)
{
    const QStringView laidOut = text().first(m_layout.length());
    const qsizetype before = m_search.count();
    bool done = false;
    while (!done && !deadline.hasExpired())
        done = m_search.searchMore(laidOut, searchChunk);
    if (done || m_search.count() != before) {
        viewport()->update();
        Q_EMIT matchCountChanged();
    }
}

bool TranscriptView::findNext()
{
    const QStringView all = text();
    qsizetype next = m_search.nextMatch(all, m_currentMatch + 1);
    if (next < 0)
        next = m_search.nextMatch(all, 0);
    if (next < 0)
        return false;
    showMatch(next);
    return true;
}

bool TranscriptView::findPrevious()
{
    const QStringView all = text();
    qsizetype previous = -1;
    if (m_currentMatch >= 0)
        previous = m_search.previousMatch(all, m_currentMatch);
    if (previous < 0)
        previous = m_search.previousMatch(all, all.size());
    if (previous < 0)
        return false;
    showMatch(previous);
    return true;
}

// Makes the match at `offset` current and scrolls its row to the middle.
void TranscriptView::showMatch(qsizetype offset)
{
    m_currentMatch = offset;
    const qint64 row = m_layout.positionOf(text(), offset).row;
    // As many rows above it as put its middle nearest the view's.
    const qreal middle = (viewport()->height() - m_lineHeight) / 2.0 - padding;
    m_rangeStale = false;
    updateScrollRange();
    scrollToRow(row - std::max(0, qRound(middle / m_lineHeight)));
    viewport()->update();
}

void TranscriptView::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_advance = std::max<qreal>(1, metrics.horizontalAdvance(u'M'));
    m_lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    m_ascent = qCeil(metrics.ascent());
    m_exactAscent = metrics.ascent();
    m_boldFont = font();
    m_boldFont.setBold(true);
    for (int bold : {0, 1}) {
        m_plainGlyphs[bold].clear();
        m_clusterGlyphs[bold].clear();
    }
    resizeEvent(nullptr);
}

void TranscriptView::updateScrollRange()
{
    m_maxTopRow = std::max<qint64>(0, rowCount() - rowsInSight());
    m_topRow = std::min(m_topRow, m_maxTopRow);
    syncScrollBar();
}

// Rows wholly inside the padding: what a page turns.
int TranscriptView::rowsInSight() const
{
    return std::max(1, (viewport()->height() - 2 * padding) / m_lineHeight);
}

// Viewport y of the top of row 0. At the end the last row's bottom lies on
// the bottom padding, so the end is in sight whatever rows' height is left
// over; elsewhere the top row's top lies on the top padding.
qint64 TranscriptView::originY() const
{
    if (m_maxTopRow > 0 && m_topRow >= m_maxTopRow)
        return viewport()->height() - padding - (m_topRow + rowsInSight()) * qint64(m_lineHeight);
    return padding - m_topRow * qint64(m_lineHeight);
}

// The row at viewport y, which may lie before the first or after the last.
qint64 TranscriptView::rowAtY(int y) const
{
    const qint64 below = y - originY();
    return below >= 0 ? below / m_lineHeight : -((m_lineHeight - 1 - below) / m_lineHeight);
}

void TranscriptView::scrollToRow(qint64 row)
{
    m_topRow = std::clamp<qint64>(row, 0, m_maxTopRow);
    syncScrollBar();
    viewport()->update();
}

void TranscriptView::syncScrollBar()
{
    // Past INT_MAX rows the bar moves in steps of several rows; its end
    // stands for the last top row exactly.
    m_barScale = m_maxTopRow / INT_MAX + 1;
    const int maximum = int((m_maxTopRow + m_barScale - 1) / m_barScale);
    QScrollBar* bar = verticalScrollBar();
    const bool wasSetting = std::exchange(m_settingBar, true);
    bar->setRange(0, maximum);
    bar->setPageStep(int(std::max<qint64>(1, rowsInSight() / m_barScale)));
    bar->setValue(m_topRow >= m_maxTopRow ? maximum : int(m_topRow / m_barScale));
    m_settingBar = wasSetting;
}

FrameClock* TranscriptView::clock()
{
    // The window's clock: the view may have moved to another window since.
    FrameClock* clock = FrameClock::of(this);
    if (m_clock && m_clock != clock)
        m_clock->remove(this);
    m_clock = clock;
    return clock;
}

void TranscriptView::scheduleFrame()
{
    clock()->requestFrame(this);
}

void TranscriptView::applyFrame()
{
    if (std::exchange(m_rangeStale, false))
        updateScrollRange();
    if (m_endScrollPending) {
        scrollToRow(m_maxTopRow);
        // The end moves on while text taken in is still being laid out.
        m_endScrollPending = m_reflowing || m_layout.length() < text().size();
    }
    viewport()->update();
}

void TranscriptView::scrollToEnd()
{
    m_endScrollPending = false;
    m_rangeStale = false;
    updateScrollRange();
    scrollToRow(m_maxTopRow);
}

void TranscriptView::scheduleScrollToEnd()
{
    m_endScrollPending = true;
    scheduleFrame();
}

qsizetype TranscriptView::offsetAt(QPoint viewportPos) const
{
    const QStringView all = text();
    if (all.size() < m_layout.length() || m_layout.length() == 0)
        return 0;
    const qint64 row = rowAtY(viewportPos.y());
    if (row < 0)
        return 0;
    if (row >= rowCount())
        return m_layout.length();
    return m_layout.offsetAt(all, row, (viewportPos.x() - padding) / m_advance);
}

std::pair<qsizetype, qsizetype> TranscriptView::wordAt(qsizetype offset) const
{
    const QStringView all = text();
    if (offset >= m_layout.length() || all.size() < m_layout.length())
        return {offset, offset};
    // The clusters of the offset's line, as far as a few screens of rows reach.
    constexpr qint64 reach = 64;
    const qint64 row = m_layout.positionOf(all, offset).row;
    std::vector<TranscriptLayout::Placed> line;
    bool lineEnded = false;
    for (const TranscriptLayout::Row& r : m_layout.rows(all, row - reach, 2 * reach + 1)) {
        if (lineEnded) {
            if (r.index > row)
                break;
            line.clear();
        }
        line.insert(line.end(), r.clusters.begin(), r.clusters.end());
        lineEnded = r.endsLine;
    }
    auto at = std::find_if(line.begin(), line.end(),
                           [offset](const TranscriptLayout::Placed& p) { return offset < p.end; });
    if (at == line.end() || at->start > offset) // a line break
        return {offset, offset + 1};
    auto isWord = [&](const TranscriptLayout::Placed& p) {
        return isWordCluster(all.sliced(p.start, p.end - p.start));
    };
    if (!isWord(*at))
        return {at->start, at->end};
    auto first = at;
    auto last = at;
    while (first != line.begin() && isWord(*(first - 1)))
        --first;
    while (last + 1 != line.end() && isWord(*(last + 1)))
        ++last;
    return {first->start, last->end};
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

void TranscriptView::moveSelection(qsizetype anchor, qsizetype position)
{
    anchor = std::clamp<qsizetype>(anchor, 0, m_layout.length());
    position = std::clamp<qsizetype>(position, 0, m_layout.length());
    if (anchor == m_anchor && position == m_cursor)
        return;
    const bool changed = selectionStart() != std::min(anchor, position) ||
                         selectionEnd() != std::max(anchor, position);
    m_anchor = anchor;
    m_cursor = position;
    if (changed)
        viewport()->update();
}

void TranscriptView::copy()
{
    if (hasSelection())
        Clipboard::setPlainText(selectedText());
}

void TranscriptView::selectAll()
{
    moveSelection(0, m_layout.length());
    offerPrimarySelection();
}

void TranscriptView::offerPrimarySelection()
{
    if (hasSelection())
        Clipboard::setPrimarySelection(selectedText());
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
    // A text shorter than its index was replaced without telling the view;
    // it shows nothing until resetText() catches up.
    if (all.isEmpty() || all.size() < m_layout.length()) {
        if (m_topRow > 0)
            return;
        painter.setPen(palette().color(QPalette::PlaceholderText));
        const QRect area(padding, padding, viewport()->width() - 2 * padding,
                         viewport()->height() - padding);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, m_placeholder);
        return;
    }

    const QRect dirty = event->rect();
    const qint64 origin = originY();
    const qint64 firstRow = std::max<qint64>(0, rowAtY(dirty.top()));
    const qint64 lastRow = std::min(rowCount() - 1, rowAtY(dirty.bottom()));
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    const RoleColors colors = roleColors();
    const QColor highlight = palette().color(QPalette::Highlight);
    const QColor highlightedText = palette().color(QPalette::HighlightedText);
    // Nothing reaches past the text area, whatever a glyph's extent.
    painter.setClipRect(QRect(padding, 0, viewport()->width() - 2 * padding, viewport()->height()));

    const std::vector<TranscriptLayout::Row> rows =
        m_layout.rows(all, firstRow, lastRow - firstRow + 1);
    std::vector<qsizetype> matches;
    if (m_search.isActive() && !rows.empty())
        matches = m_search.matchesIn(all, rows.front().start, rows.back().next);
    const qsizetype matchLength = m_search.matchLength();
    std::span<const StyleRun> runs;
    if (m_styles && !rows.empty())
        runs = m_styles(rows.front().start, rows.back().next);

    for (const TranscriptLayout::Row& row : rows) {
        const qreal y = qreal(origin + row.index * m_lineHeight);
        for (qsizetype match : matches) {
            if (match < row.next && match + matchLength > row.start)
                fillMatch(painter, row, match, match + matchLength, y,
                          match == m_currentMatch ? currentMatchColor : matchColor);
        }

        // The selection covers whole clusters; a selected line break shows
        // as one highlighted cell after the line.
        int from = INT_MAX;
        int to = -1;
        if (selStart < selEnd) {
            for (const TranscriptLayout::Placed& p : row.clusters) {
                if (p.start < selEnd && p.end > selStart) {
                    from = std::min(from, p.cell);
                    to = std::max(to, p.cell + p.width);
                }
            }
            if (row.endsLine && row.next > row.end && selStart <= row.end && selEnd > row.end) {
                const int cells = row.cells();
                from = std::min(from, cells);
                to = cells + 1;
            }
        }
        const QRectF selected =
            to > from ? QRectF(padding + from * m_advance, y, (to - from) * m_advance, m_lineHeight)
                      : QRectF();

        if (!selected.isEmpty())
            painter.fillRect(selected, highlight);
        drawRow(painter, all, row, y, runs, &colors);
        if (!selected.isEmpty()) {
            painter.save();
            painter.setClipRect(selected, Qt::IntersectClip);
            painter.setPen(highlightedText);
            drawRow(painter, all, row, y, runs, nullptr);
            painter.restore();
        }
    }
}

// Fills the cells of the row's clusters that lie in [from, to).
void TranscriptView::fillMatch(QPainter& painter, const TranscriptLayout::Row& row, qsizetype from,
                               qsizetype to, qreal y, const QColor& color)
{
    int first = INT_MAX;
    int last = -1;
    for (const TranscriptLayout::Placed& p : row.clusters) {
        if (p.start < to && p.end > from) {
            first = std::min(first, p.cell);
            last = std::max(last, p.cell + p.width);
        }
    }
    if (last > first)
        painter.fillRect(
            QRectF(padding + first * m_advance, y, (last - first) * m_advance, m_lineHeight),
            color);
}

TranscriptView::RoleColors TranscriptView::roleColors() const
{
    const QColor text = palette().color(QPalette::Text);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    RoleColors colors;
    colors[int(TextRole::Normal)] = text;
    colors[int(TextRole::Dim)] = secondary;
    colors[int(TextRole::Prompt)] = text;
    colors[int(TextRole::Tool)] = mixed(secondary, palette().color(QPalette::Link), toolHue);
    colors[int(TextRole::Error)] = destructiveRed;
    colors[int(TextRole::DiffAdded)] = mixed(text, addedGreen, diffHue);
    colors[int(TextRole::DiffRemoved)] = mixed(text, destructiveRed, diffHue);
    colors[int(TextRole::DiffHeader)] =
        mixed(secondary, palette().color(QPalette::Link), headerHue);
    return colors;
}

// Single-cell glyphs of the font go in runs, one call each; every other
// cluster is placed at its own cell, so a glyph of another width never
// shifts what follows. A change of role ends a run.
void TranscriptView::drawRow(QPainter& painter, QStringView all, const TranscriptLayout::Row& row,
                             qreal y, std::span<const StyleRun> runs, const RoleColors* colors)
{
    QString run;
    int runCell = 0;
    const qreal baseline = y + m_ascent;
    auto flush = [&] {
        if (!run.isEmpty())
            painter.drawText(QPointF(padding + runCell * m_advance, baseline), run);
        run.clear();
    };
    // The style run holding the row's start, and where the next one starts.
    auto next = std::upper_bound(runs.begin(), runs.end(), row.start,
                                 [](qsizetype at, const StyleRun& r) { return at < r.start; });
    auto roleBefore = [&] { return next == runs.begin() ? TextRole::Normal : (next - 1)->role; };
    bool bold = false;
    auto setRole = [&](TextRole role) {
        bold = isBold(role);
        painter.setFont(bold ? m_boldFont : font());
        if (colors)
            painter.setPen((*colors)[int(role)]);
    };
    setRole(roleBefore());
    for (const TranscriptLayout::Placed& p : row.clusters) {
        if (next != runs.end() && next->start <= p.start) {
            while (next != runs.end() && next->start <= p.start)
                ++next;
            flush();
            setRole(roleBefore());
        }
        if (p.width == 0 || p.kind == Transcript::ClusterKind::Tab)
            continue;
        const QStringView cluster = all.sliced(p.start, p.end - p.start);
        if (p.width == 1 && cluster.size() == 1 && isPlainGlyph(cluster.front(), bold)) {
            if (p.cell != runCell + run.size()) {
                flush();
                runCell = p.cell;
            }
            run.append(cluster.front());
            continue;
        }
        flush();
        drawCluster(painter, cluster, p.cell, p.width, y, bold);
    }
    flush();
}

void TranscriptView::drawCluster(QPainter& painter, QStringView cluster, int cell, int cells,
                                 qreal y, bool bold)
{
    // Shaping a cluster costs far more than drawing it: the shaped glyphs
    // are kept for the clusters seen lately, in each font.
    QHash<QString, QStaticText>& glyphs = m_clusterGlyphs[bold];
    const QString key = cluster.toString();
    auto known = glyphs.constFind(key);
    if (known == glyphs.constEnd()) {
        if (glyphs.size() >= clusterGlyphCacheSize)
            glyphs.clear();
        QStaticText glyph(key);
        glyph.setTextFormat(Qt::PlainText);
        glyph.prepare(QTransform(), bold ? m_boldFont : font());
        known = glyphs.insert(key, glyph);
    }
    const QRectF box(padding + cell * m_advance, y, cells * m_advance, m_lineHeight);
    const qreal advance = known->size().width();
    // Centred in its cells when narrower, clipped to them when wider.
    const QPointF topLeft(box.left() + std::max<qreal>(0, (box.width() - advance) / 2),
                          y + m_ascent - m_exactAscent);
    if (advance <= box.width()) {
        painter.drawStaticText(topLeft, *known);
        return;
    }
    painter.save();
    painter.setClipRect(box, Qt::IntersectClip);
    painter.drawStaticText(topLeft, *known);
    painter.restore();
}

// A glyph of the bold font is plain only if it too takes exactly the
// regular font's cell: otherwise it is drawn alone, centred in its cell.
bool TranscriptView::isPlainGlyph(QChar ch, bool bold)
{
    QHash<char16_t, bool>& plain = m_plainGlyphs[bold];
    auto known = plain.constFind(ch.unicode());
    if (known == plain.constEnd()) {
        const QFontMetricsF metrics(bold ? m_boldFont : font());
        known =
            plain.insert(ch.unicode(), metrics.inFont(ch) &&
                                           qAbs(metrics.horizontalAdvance(ch) - m_advance) < 0.01);
    }
    return *known;
}

void TranscriptView::resizeEvent(QResizeEvent*)
{
    // A view scrolled to its end stays there; one whose text fits stays at the top.
    const bool atEnd = m_endScrollPending || (m_maxTopRow > 0 && m_topRow >= m_maxTopRow);
    const int columns = std::max(1, int((viewport()->width() - 2 * padding) / m_advance));
    const TranscriptLayout& target = m_reflowing ? m_nextLayout : m_layout;
    if (columns != target.columns()) {
        if (!m_reflowing) {
            // Where the view stands is kept across the re-wrap.
            m_reflowAtEnd = atEnd;
            m_reflowTop = -1;
            const QStringView all = text();
            if (!atEnd && m_topRow > 0 && all.size() >= m_layout.length())
                m_reflowTop = m_layout.row(all, m_topRow).start;
        }
        m_nextLayout.reset();
        m_nextLayout.setColumns({}, columns);
        m_reflowing = true;
        // The rest of a long text on the clock: several views resized together
        // must not each take a slice in this one event.
        reflowStep(QDeadlineTimer(0));
        if (m_reflowing)
            requestWork();
    }
    // The rows shown meanwhile, those of the old width during a re-wrap,
    // are placed for the new height too.
    m_rangeStale = false;
    updateScrollRange();
    if (atEnd) {
        // A re-wrap under way goes to the end when done.
        if (!m_reflowing)
            m_endScrollPending = false;
        scrollToRow(m_maxTopRow);
    }
}

// Lays the text out again at the new width into a second layout, in slices
// on the window's clock, while the old one is still shown; a short text is
// done at once.
void TranscriptView::reflowStep(const QDeadlineTimer& deadline)
{
    const QStringView all = text();
    if (all.size() < m_layout.length()) {
        // Replaced without a word yet: shown once resetText() comes.
        m_layout = std::exchange(m_nextLayout, {});
        m_reflowing = false;
        return;
    }
    // At least a chunk each time: a short text is done at once.
    if (!layOutUntil(m_nextLayout, all, deadline))
        return;
    m_reflowing = false;
    m_layout = std::exchange(m_nextLayout, {});
    m_rangeStale = false;
    updateScrollRange();
    if (m_reflowAtEnd || m_endScrollPending) {
        m_endScrollPending = false;
        scrollToRow(m_maxTopRow);
    } else if (m_reflowTop >= 0) {
        scrollToRow(m_layout.positionOf(all, m_reflowTop).row);
    }
    viewport()->update();
}

void TranscriptView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

void TranscriptView::scrollContentsBy(int, int)
{
    // The user moved the bar: its end is the end, whatever its scale.
    if (!m_settingBar) {
        const QScrollBar* bar = verticalScrollBar();
        m_topRow = bar->value() >= bar->maximum() ? m_maxTopRow : bar->value() * m_barScale;
    }
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
        offerPrimarySelection();
    }
}

void TranscriptView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const auto [start, end] = wordAt(offsetAt(event->position().toPoint()));
    moveSelection(start, end);
    offerPrimarySelection();
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
    scrollToRow(m_topRow + (m_lastDragPos.y() < 0 ? -1 : 1));
    moveSelection(m_anchor, offsetAt(m_lastDragPos));
}

void TranscriptView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        scrollByWheel(event);
        return;
    }
    // Touchpads send small deltas: they add up to whole steps.
    m_zoomDelta += event->angleDelta().y();
    const int steps = m_zoomDelta / QWheelEvent::DefaultDeltasPerStep;
    m_zoomDelta -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0)
        Q_EMIT zoomRequested(steps);
    event->accept();
}

// Whole rows: a touchpad's pixels, and a fine wheel's parts of a notch,
// add up to them. Rows rather than pixels, since the bar's steps may be
// several rows each.
void TranscriptView::scrollByWheel(QWheelEvent* event)
{
    const int pixels = event->pixelDelta().y();
    const int angle = event->angleDelta().y() * QApplication::wheelScrollLines();
    // Turning back drops what was left over the other way.
    auto add = [](int& total, int delta, int perRow) {
        if ((total < 0) != (delta < 0))
            total = 0;
        total += delta;
        const int rows = total / perRow;
        total -= rows * perRow;
        return rows;
    };
    int rows = 0;
    if (pixels != 0)
        rows = add(m_wheelPixels, pixels, m_lineHeight);
    else if (angle != 0)
        rows = add(m_wheelAngle, angle, QWheelEvent::DefaultDeltasPerStep);
    else {
        event->ignore();
        return;
    }
    scrollToRow(m_topRow - rows);
    event->accept();
}

void TranscriptView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy))
        copy();
    else if (event->matches(QKeySequence::SelectAll))
        selectAll();
    else if (event->matches(QKeySequence::MoveToStartOfDocument) || event->key() == Qt::Key_Home)
        scrollToRow(0);
    else if (event->matches(QKeySequence::MoveToEndOfDocument) || event->key() == Qt::Key_End)
        scrollToEnd();
    else if (event->matches(QKeySequence::MoveToNextPage))
        scrollToRow(m_topRow + rowsInSight());
    else if (event->matches(QKeySequence::MoveToPreviousPage))
        scrollToRow(m_topRow - rowsInSight());
    else if (event->matches(QKeySequence::MoveToNextLine))
        scrollToRow(m_topRow + 1);
    else if (event->matches(QKeySequence::MoveToPreviousLine))
        scrollToRow(m_topRow - 1);
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
    selectAllAction->setEnabled(m_layout.length() > 0);
    connect(selectAllAction, &QAction::triggered, this, &TranscriptView::selectAll);
    if (!m_extraActions.isEmpty()) {
        menu.addSeparator();
        menu.addActions(m_extraActions);
    }
    menu.exec(event->globalPos());
}
