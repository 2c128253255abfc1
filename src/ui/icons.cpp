#include "ui/icons.h"

#include <QPainter>

#include <algorithm>

namespace Icons {

namespace {

// Pixels at 1x; drawn at 2x so that it stays sharp on high-density screens.
constexpr int copyIconSize = 16;
constexpr qreal drawnScale = 2;

} // namespace

QIcon copy(const QColor& color)
{
    QPixmap pixmap(int(copyIconSize * drawnScale), int(copyIconSize * drawnScale));
    pixmap.setDevicePixelRatio(drawnScale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(2.5, 1.5, 8, 10), 1.5, 1.5);
    // The front sheet hides the back one where they overlap.
    painter.setBrush(Qt::black);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.drawRoundedRect(QRectF(5.5, 4.5, 8, 10), 1.5, 1.5);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(5.5, 4.5, 8, 10), 1.5, 1.5);
    painter.end();
    return QIcon::fromTheme(QStringLiteral("edit-copy"), QIcon(pixmap));
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
