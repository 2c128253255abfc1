#include "ui/sidebysideview.h"

#include "ui/painting.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr int margin = 4;
constexpr int tabWidth = 4;

QString shown(const QByteArray& text)
{
    QString line = QString::fromUtf8(text);
    line.replace(u'\t', QString(tabWidth, u' '));
    return line;
}

} // namespace

SideBySideView::SideBySideView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void SideBySideView::setRows(QList<SideBySideRow> rows)
{
    m_rows = std::move(rows);
    m_message.clear();
    m_widestLine = 0;
    for (const SideBySideRow& row : std::as_const(m_rows)) {
        for (const std::optional<SideLine>* side : {&row.left, &row.right}) {
            if (*side)
                m_widestLine =
                    std::max(m_widestLine,
                             (*side)->text.size() + (*side)->text.count('\t') * (tabWidth - 1));
        }
    }
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void SideBySideView::setMessage(const QString& message)
{
    m_rows.clear();
    m_message = message;
    m_widestLine = 0;
    updateScrollBars();
    viewport()->update();
}

void SideBySideView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void SideBySideView::updateScrollBars()
{
    const QFontMetrics metrics(font());
    const int rowHeight = metrics.lineSpacing();
    const int visibleRows = std::max(1, viewport()->height() / rowHeight);
    verticalScrollBar()->setRange(0, std::max<int>(0, int(m_rows.size()) - visibleRows));
    verticalScrollBar()->setPageStep(visibleRows);
    const int paneText =
        viewport()->width() / 2 - metrics.horizontalAdvance(QStringLiteral("00000 ")) - margin;
    const int widest =
        int(std::min<qsizetype>(m_widestLine, 1 << 20)) * metrics.horizontalAdvance(u'M');
    horizontalScrollBar()->setRange(0, std::max(0, widest - paneText));
    horizontalScrollBar()->setPageStep(std::max(1, paneText));
}

void SideBySideView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& colours = palette();
    const QFontMetrics metrics(font());
    const int rowHeight = metrics.lineSpacing();
    const int paneWidth = viewport()->width() / 2;
    const int numberWidth = metrics.horizontalAdvance(QStringLiteral("00000 "));
    if (!m_message.isEmpty()) {
        painter.setPen(colours.color(QPalette::PlaceholderText));
        painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin),
                         Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, m_message);
        return;
    }
    const bool dark = colours.color(QPalette::Base).lightness() < 128;
    const QColor removed = dark ? QColor(90, 30, 30) : QColor(255, 225, 225);
    const QColor added = dark ? QColor(30, 80, 40) : QColor(220, 250, 225);
    const QColor removedWord = dark ? QColor(150, 45, 45) : QColor(255, 180, 180);
    const QColor addedWord = dark ? QColor(45, 130, 60) : QColor(160, 235, 175);
    const int first = verticalScrollBar()->value();
    const int shift = horizontalScrollBar()->value();
    const qsizetype last =
        std::min<qsizetype>(m_rows.size(), first + viewport()->height() / rowHeight + 2);
    for (qsizetype i = first; i < last; ++i) {
        const SideBySideRow& row = m_rows[i];
        const int top = int(i - first) * rowHeight;
        if (row.kind == SideBySideRow::Kind::Gap) {
            painter.setPen(colours.color(QPalette::PlaceholderText));
            painter.drawText(QRect(0, top, viewport()->width(), rowHeight), Qt::AlignCenter,
                             QStringLiteral("\u22ef"));
            continue;
        }
        const bool changed = row.kind == SideBySideRow::Kind::Changed;
        const QString leftText = row.left ? shown(row.left->text) : QString();
        const QString rightText = row.right ? shown(row.right->text) : QString();
        const auto [leftSpan, rightSpan] =
            changed ? changedWords(leftText, rightText) : std::pair<ChangedSpan, ChangedSpan>{};
        for (int side = 0; side < 2; ++side) {
            const std::optional<SideLine>& line = side == 0 ? row.left : row.right;
            const QRect pane(side * paneWidth, top, paneWidth, rowHeight);
            if (!line) {
                painter.fillRect(pane, colours.color(QPalette::AlternateBase));
                continue;
            }
            const bool tinted = row.kind != SideBySideRow::Kind::Same;
            if (tinted)
                painter.fillRect(pane, side == 0 ? removed : added);
            painter.setPen(colours.color(QPalette::PlaceholderText));
            painter.drawText(QRect(pane.left(), top, numberWidth - margin, rowHeight),
                             Qt::AlignRight | Qt::AlignVCenter, QString::number(line->number));
            const QString& text = side == 0 ? leftText : rightText;
            const int x = pane.left() + numberWidth - shift;
            painter.save();
            painter.setClipRect(pane.adjusted(numberWidth, 0, 0, 0));
            if (changed) {
                const ChangedSpan span = side == 0 ? leftSpan : rightSpan;
                const int from = x + metrics.horizontalAdvance(text.left(span.start));
                const int width = metrics.horizontalAdvance(text.mid(span.start, span.length));
                painter.fillRect(QRect(from, top, width, rowHeight),
                                 side == 0 ? removedWord : addedWord);
            }
            painter.setPen(colours.color(QPalette::Text));
            painter.drawText(QPoint(x, top + metrics.ascent()), text);
            painter.restore();
        }
    }
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawLine(paneWidth, 0, paneWidth, viewport()->height());
}
