#include "ui/busyindicator.h"

#include <QPainter>
#include <QTimerEvent>

#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr int spokeCount = 12;
// One spoke further per tick: a full turn a second, like the platform spinners.
constexpr auto tickInterval = 1000ms / spokeCount;

} // namespace

BusyIndicator::BusyIndicator(int diameter, QWidget* parent)
    : QWidget(parent)
    , m_diameter(diameter) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize BusyIndicator::sizeHint() const {
    return {m_diameter, m_diameter};
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);

    QColor colour = palette().color(QPalette::WindowText);
    QPen pen(colour, std::max(1.5, side / 10.0), Qt::SolidLine, Qt::RoundCap);
    const qreal outer = side / 2.0 - pen.widthF() / 2.0;
    const qreal inner = outer * 0.5;
    for (int i = 0; i < spokeCount; ++i) {
        // The leading spoke is darkest; the ones behind it fade out.
        const int age = (m_step - i + spokeCount) % spokeCount;
        colour.setAlphaF(1.0f - 0.75f * float(age) / float(spokeCount - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / spokeCount - 90.0);
        painter.drawLine(QPointF(inner, 0), QPointF(outer, 0));
        painter.restore();
    }
}

void BusyIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_step = (m_step + 1) % spokeCount;
    update();
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_timer.start(int(tickInterval.count()), this);
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_timer.stop();
}
