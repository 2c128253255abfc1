#include "ui/spinner.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QTimerEvent>

#include <algorithm>
#include <vector>

namespace {

// Ticks only while some spinner is visible; the step it counts is shared.
class SpinnerClock : public QObject {
public:
    static SpinnerClock& instance()
    {
        // Owned by the application, so that no timer outlives its event loop.
        static QPointer<SpinnerClock> clock;
        if (!clock)
            clock = new SpinnerClock(QCoreApplication::instance());
        return *clock;
    }

    int step() const { return m_step; }

    void add(Spinner* spinner)
    {
        if (std::find(m_spinners.begin(), m_spinners.end(), spinner) == m_spinners.end())
            m_spinners.push_back(spinner);
        if (!m_timer.isActive())
            m_timer.start(int(Spinner::stepInterval.count()), this);
    }

    void remove(Spinner* spinner)
    {
        std::erase(m_spinners, spinner);
        if (m_spinners.empty())
            m_timer.stop();
    }

protected:
    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != m_timer.timerId())
            return;
        m_step = (m_step + 1) % Spinner::spokes;
        for (Spinner* spinner : m_spinners)
            spinner->update();
    }

private:
    using QObject::QObject;

    QBasicTimer m_timer;
    std::vector<Spinner*> m_spinners;
    int m_step = 0;
};

} // namespace

Spinner::Spinner(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

Spinner::~Spinner()
{
    SpinnerClock::instance().remove(this);
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
    painter.drawPixmap(0, 0, m_frames[std::size_t(SpinnerClock::instance().step())]);
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
    SpinnerClock::instance().add(this);
}

void Spinner::hideEvent(QHideEvent*)
{
    SpinnerClock::instance().remove(this);
}
