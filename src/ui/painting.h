#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// Paints `bounds` in `color` with corners rounded to `radius`, where only
// `dirty` needs painting. The curves are drawn only when `dirty` reaches a
// corner: most repaints (a spinner step, a new row of text) lie inside, and
// a plain fill costs a fraction of an antialiased rounded path.
void fillRoundedRect(QPainter& painter, const QRect& bounds, qreal radius, const QRect& dirty,
                     const QColor& color);
