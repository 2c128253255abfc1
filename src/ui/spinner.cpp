#include "ui/spinner.h"

#include "ui/frameclock.h"

#include <QPainter>

#include <algorithm>
#include <vector>

Spinner::Spinner(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

Spinner::~Spinner()
{
    if (m_clock)
        m_clock->remove(this);
}

QSize Spinner::sizeHint() const
{
    return {16, 16};
}

void Spinner::paintEvent(QPaintEvent*)
{
    const QColor color = palette().color(QPalette::WindowText);
    if (m_frames.empty() || m_framesColor != color || m_framesSize != size() ||
        m_framesRatio != devicePixelRatioF())
        drawFrames();
    QPainter painter(this);
    const int step = m_clock ? m_clock->spinnerStep() : 0;
    painter.drawPixmap(0, 0, m_frames[std::size_t(step)]);
}

void Spinner::drawFrames()
{
    m_framesColor = palette().color(QPalette::WindowText);
    m_framesSize = size();
    m_framesRatio = devicePixelRatioF();
    m_frames.assign(spokes, QPixmap());
    const qreal side = std::min(width(), height());
    const qreal outer = side / 2 - 1;
    const qreal inner = outer / 2;
    for (int step = 0; step < spokes; ++step) {
        QPixmap& frame = m_frames[std::size_t(step)];
        frame = QPixmap(size() * m_framesRatio);
        frame.setDevicePixelRatio(m_framesRatio);
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        QColor color = m_framesColor;
        for (int i = 0; i < spokes; ++i) {
            // The spoke at the current step is darkest; those behind it fade.
            const int age = (step - i + spokes) % spokes;
            color.setAlphaF(1.0 - 0.8 * age / (spokes - 1));
            painter.setPen(QPen(color, side / 8, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
            painter.rotate(360.0 / spokes);
        }
    }
}

void Spinner::showEvent(QShowEvent*)
{
    if (m_clock)
        m_clock->remove(this);
    m_clock = FrameClock::of(this);
    m_clock->addSpinner(this);
}

void Spinner::hideEvent(QHideEvent*)
{
    if (m_clock)
        m_clock->remove(this);
}
