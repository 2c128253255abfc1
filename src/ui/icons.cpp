#include "ui/icons.h"

#include <QPainter>

#include <algorithm>
#include <utility>

namespace Icons {

namespace {

// Paints a symbol in a symbolSize square with the given colour.
using DrawSymbol = void (*)(QPainter&, const QColor&);

QIcon symbolIcon(const char* themeName, const QColor& colour, const QColor& disabled,
                 DrawSymbol draw)
{
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (!themed.isNull())
        return themed;
    QIcon icon;
    for (const auto& [mode, modeColour] :
         {std::pair{QIcon::Normal, colour}, std::pair{QIcon::Disabled, disabled}}) {
        // At one and two pixels per point, so that it stays sharp on dense screens.
        for (const int scale : {1, 2}) {
            QPixmap pixmap(symbolSize * scale, symbolSize * scale);
            pixmap.setDevicePixelRatio(scale);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(modeColour);
            draw(painter, modeColour);
            painter.end();
            icon.addPixmap(pixmap, mode);
        }
    }
    return icon;
}

void drawPlay(QPainter& p, const QColor&)
{
    const QPointF corners[] = {{4.5, 2.5}, {13.5, 8}, {4.5, 13.5}};
    p.drawPolygon(corners, 3);
}

void drawStop(QPainter& p, const QColor&)
{
    p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
}

// Most of a circle, open at the top right, with an arrowhead at its end.
void drawReload(QPainter& p, const QColor& colour)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 290 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const QPointF head[] = {{9.2, 0.8}, {13.6, 3.2}, {9.6, 6.4}};
    p.drawPolygon(head, 3);
}

void drawCopy(QPainter& p, const QColor& colour)
{
    p.setPen(QPen(colour, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 1.5, 8, 10), 1.5, 1.5);
    // The front sheet hides the back one where they overlap.
    p.setBrush(Qt::black);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawRoundedRect(QRectF(5.5, 4.5, 8, 10), 1.5, 1.5);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(5.5, 4.5, 8, 10), 1.5, 1.5);
}

void drawCheck(QPainter& p, const QColor& colour)
{
    p.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF mark[] = {{2.5, 8.5}, {6.2, 12.2}, {13.5, 3.8}};
    p.drawPolyline(mark, 3);
}

} // namespace

QIcon play(const QColor& colour, const QColor& disabled)
{
    return symbolIcon("media-playback-start", colour, disabled, drawPlay);
}

QIcon stop(const QColor& colour, const QColor& disabled)
{
    return symbolIcon("media-playback-stop", colour, disabled, drawStop);
}

QIcon reload(const QColor& colour, const QColor& disabled)
{
    return symbolIcon("view-refresh", colour, disabled, drawReload);
}

QIcon copy(const QColor& colour, const QColor& disabled)
{
    return symbolIcon("edit-copy", colour, disabled, drawCopy);
}

QIcon check(const QColor& colour, const QColor& disabled)
{
    return symbolIcon("dialog-ok", colour, disabled, drawCheck);
}

QPixmap notInstalled(int size, const QColor& color, qreal devicePixelRatio)
{
    QPixmap pixmap(qRound(size * devicePixelRatio), qRound(size * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal stroke = std::max<qreal>(1.5, size / 16.0);
    painter.setPen(QPen(color, stroke, Qt::SolidLine, Qt::RoundCap));
    const QRectF circle(stroke / 2, stroke / 2, size - stroke, size - stroke);
    painter.drawEllipse(circle);
    const qreal arm = size * 0.17;
    const QPointF centre = circle.center();
    painter.drawLine(centre + QPointF(-arm, -arm), centre + QPointF(arm, arm));
    painter.drawLine(centre + QPointF(-arm, arm), centre + QPointF(arm, -arm));
    return pixmap;
}

} // namespace Icons
