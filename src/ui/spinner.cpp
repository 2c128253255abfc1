#include "ui/spinner.h"

#include <QPainter>
#include <QTimerEvent>

#include <algorithm>

Spinner::Spinner(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Spinner::sizeHint() const
{
    return {16, 16};
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal outer = side / 2 - 1;
    const qreal inner = outer / 2;
    painter.translate(width() / 2.0, height() / 2.0);
    QColor color = palette().color(QPalette::WindowText);
    for (int i = 0; i < spokes; ++i) {
        // The spoke at the current step is darkest; those behind it fade.
        const int age = (m_step - i + spokes) % spokes;
        color.setAlphaF(1.0 - 0.8 * age / (spokes - 1));
        painter.setPen(QPen(color, side / 8, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.rotate(360.0 / spokes);
    }
}

void Spinner::showEvent(QShowEvent*)
{
    m_timer.start(int(stepInterval.count()), this);
}

void Spinner::hideEvent(QHideEvent*)
{
    m_timer.stop();
}

void Spinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_step = (m_step + 1) % spokes;
    update();
}
