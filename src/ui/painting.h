#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// The platform's red for destructive actions and errors, as on macOS.
inline const QColor destructiveRed(0xd9, 0x2d, 0x20);

// Paints `bounds` in `color` with corners rounded to `radius`, where only
// `dirty` needs painting. The curves are drawn only when `dirty` reaches a
// corner: most repaints (a spinner step, a new row of text) lie inside, and
// a plain fill costs a fraction of an antialiased rounded path.
void fillRoundedRect(QPainter& painter, const QRect& bounds, qreal radius, const QRect& dirty,
                     const QColor& color);
