#include "ui/painting.h"

#include <QPainter>
#include <QRegion>
#include <QtMath>

void fillRoundedRect(QPainter& painter, const QRect& bounds, qreal radius, const QRect& dirty,
                     const QColor& color)
{
    const int r = qCeil(radius);
    // The two bands that cross the rectangle between its corners are plain
    // fills; only the corner squares that need paint get an antialiased curve.
    const QRegion bands =
        (QRegion(bounds.adjusted(0, r, 0, -r)) + bounds.adjusted(r, 0, -r, 0)) & dirty;
    for (const QRect& band : bands)
        painter.fillRect(band, color);
    const QRect corners[] = {
        QRect(bounds.left(), bounds.top(), r, r),
        QRect(bounds.right() - r + 1, bounds.top(), r, r),
        QRect(bounds.left(), bounds.bottom() - r + 1, r, r),
        QRect(bounds.right() - r + 1, bounds.bottom() - r + 1, r, r),
    };
    for (const QRect& corner : corners) {
        const QRect area = corner & dirty;
        if (area.isEmpty())
            continue;
        // A rounded square twice the radius wide, placed so that one of its
        // corners fills this corner square, is a small path to rasterize.
        QRectF shape(corner.topLeft(), QSizeF(2 * r, 2 * r));
        if (corner.left() > bounds.left())
            shape.moveRight(bounds.right() + 1);
        if (corner.top() > bounds.top())
            shape.moveBottom(bounds.bottom() + 1);
        painter.save();
        painter.setClipRect(area, Qt::IntersectClip);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(shape, radius, radius);
        painter.restore();
    }
}
