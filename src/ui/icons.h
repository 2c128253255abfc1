#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// Icons the platform theme may lack. Each is the theme's icon when it has
// one (the offscreen and minimal platforms usually don't), else drawn here in
// `colour`, and in `disabled` for a disabled button: the style's generated
// disabled look keeps a dark symbol too dark.
namespace Icons {

QIcon play(const QColor& colour, const QColor& disabled);
QIcon stop(const QColor& colour, const QColor& disabled);
QIcon reload(const QColor& colour, const QColor& disabled);
// Two overlapping sheets.
QIcon copy(const QColor& colour, const QColor& disabled);
// A check mark: done.
QIcon check(const QColor& colour, const QColor& disabled);

// A circle with an x inside, `size` device-independent pixels square, for
// "not installed". Always drawn, so that it takes the caller's colour.
QPixmap notInstalled(int size, const QColor& color, qreal devicePixelRatio);

// The side of the square the symbols above are drawn in.
constexpr int symbolSize = 16;

} // namespace Icons
