#include "ui/frameclock.h"

#include "ui/columnview.h"
#include "ui/spinner.h"
#include "ui/transcriptview.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimerEvent>
#include <QWidget>

#include <algorithm>

namespace {

template <typename T> bool contains(const std::vector<QPointer<T>>& list, const QObject* object)
{
    return std::any_of(list.begin(), list.end(), [&](const QPointer<T>& p) { return p == object; });
}

template <typename T>
void eraseGone(std::vector<QPointer<T>>& list, const QObject* object = nullptr)
{
    std::erase_if(list, [&](const QPointer<T>& p) { return !p || p == object; });
}

// Adds `object` to a list that ticks every `interval`; the first one of the
// list starts the count, so a late joiner does not reset the others' beat.
template <typename T>
bool addTicking(std::vector<QPointer<T>>& list, T* object, qint64& nextTickMs, qint64 nowMs,
                std::chrono::milliseconds interval)
{
    if (contains(list, object))
        return false;
    if (list.empty())
        nextTickMs = nowMs + interval.count();
    list.emplace_back(object);
    return true;
}

} // namespace

FrameClock* FrameClock::of(QWidget* widget)
{
    QWidget* window = widget->window();
    if (auto* clock = window->findChild<FrameClock*>(QString(), Qt::FindDirectChildrenOnly))
        return clock;
    auto* clock = new FrameClock(window);
    clock->m_sinceStart.start();
    return clock;
}

void FrameClock::requestFrame(TranscriptView* view)
{
    if (contains(m_painting, view) || contains(m_waiting, view))
        return;
    m_waiting.emplace_back(view);
    reschedule();
}

void FrameClock::requestWork(TranscriptView* view)
{
    if (contains(m_working, view))
        return;
    m_working.emplace_back(view);
    reschedule();
}

void FrameClock::addSpinner(Spinner* spinner)
{
    if (addTicking(m_spinners, spinner, m_nextStepMs, m_sinceStart.elapsed(), spinnerInterval))
        reschedule();
}

void FrameClock::addTimedColumn(ColumnView* column)
{
    if (addTicking(m_timed, column, m_nextSecondMs, m_sinceStart.elapsed(), elapsedInterval))
        reschedule();
}

void FrameClock::remove(QObject* object)
{
    eraseGone(m_timed, object);
    eraseGone(m_waiting, object);
    eraseGone(m_painting, object);
    eraseGone(m_working, object);
    eraseGone(m_spinners, object);
    reschedule();
}

void FrameClock::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    eraseGone(m_spinners);
    const qint64 now = m_sinceStart.elapsed();
    if (!m_spinners.empty() && now >= m_nextStepMs) {
        m_step = (m_step + 1) % Spinner::spokes;
        m_nextStepMs = std::max(m_nextStepMs + spinnerInterval.count(), now + 1);
        for (const QPointer<Spinner>& spinner : m_spinners)
            spinner->update();
    }
    eraseGone(m_timed);
    if (!m_timed.empty() && now >= m_nextSecondMs) {
        m_nextSecondMs = std::max(m_nextSecondMs + elapsedInterval.count(), now + 1);
        for (const QPointer<ColumnView>& column : m_timed)
            column->renderElapsed();
    }
    eraseGone(m_painting);
    eraseGone(m_waiting);
    const bool frameDue = m_lastFrameMs < 0 || now - m_lastFrameMs >= frameInterval.count();
    if (m_painting.empty() && !m_waiting.empty() && frameDue) {
        m_lastFrameMs = now;
        m_painting = std::exchange(m_waiting, {});
    }
    // A paint or a slice of work per turn, never both.
    if (!m_painting.empty())
        paintNext();
    else
        work();
    reschedule();
}

void FrameClock::paintNext()
{
    eraseGone(m_painting);
    if (m_painting.empty())
        return;
    TranscriptView* view = m_painting.front();
    m_painting.erase(m_painting.begin());
    view->applyFrame();
    // Forced rather than left to the posted, low-priority update request,
    // which a flood of posted output can hold back for long.
    if (view->isVisible())
        QCoreApplication::sendPostedEvents(view->window(), QEvent::UpdateRequest);
}

void FrameClock::work()
{
    const QDeadlineTimer deadline(workSliceTime);
    // Whoever did not finish goes to the back: the next turn starts with the next view.
    while (!m_working.empty() && !deadline.hasExpired()) {
        const QPointer<TranscriptView> view = m_working.front();
        m_working.erase(m_working.begin());
        if (view && view->workSlice(deadline))
            m_working.push_back(view);
    }
}

void FrameClock::reschedule()
{
    const qint64 now = m_sinceStart.elapsed();
    qint64 wait = -1;
    auto wakeIn = [&](qint64 ms) { wait = wait < 0 ? ms : std::min(wait, ms); };
    if (!m_painting.empty() || !m_working.empty())
        wakeIn(0); // the rest of a frame or of the work goes on at the next turn
    else if (!m_waiting.empty())
        wakeIn(m_lastFrameMs < 0
                   ? 0
                   : std::max<qint64>(0, m_lastFrameMs + frameInterval.count() - now));
    if (!m_spinners.empty())
        wakeIn(std::max<qint64>(0, m_nextStepMs - now));
    if (!m_timed.empty())
        wakeIn(std::max<qint64>(0, m_nextSecondMs - now));
    if (wait < 0)
        m_timer.stop();
    else
        m_timer.start(int(wait), this);
}
