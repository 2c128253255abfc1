#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// Icons the platform theme may lack, drawn here when it does.
namespace Icons {

// The theme's "edit-copy", else two overlapping sheets outlined in `color`.
QIcon copy(const QColor& color);

// A circle with an x inside, `size` device-independent pixels square, for
// "not installed". Always drawn, so that it takes the caller's colour.
QPixmap notInstalled(int size, const QColor& color, qreal devicePixelRatio);

} // namespace Icons
