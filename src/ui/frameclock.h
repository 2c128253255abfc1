#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <vector>

class ColumnView;
class QWidget;
class Spinner;
class TranscriptView;

// The one timer of a window: it paces the transcripts' frames, gives them
// slices of time for long work, and turns the spinners. It runs only while
// a transcript waits for a frame or has work left, or a spinner is shown,
// so a window with nothing to do never wakes.
//
// Frames: a transcript asks for one after taking in text; when it is due
// (at once after a quiet spell, else frameInterval after the last one) the
// transcripts that asked apply their changes and paint, one per event-loop
// turn, so that input and other timers get a turn between two paints. A
// flood into every column thus costs one paint pass per window and frame.
// Work: between frames, one slice of workSliceTime per turn, shared by the
// transcripts that asked for it in turn, so however many take in a flood at
// once, the window is never kept busy for much longer than a slice.
// Spinners: all those of the window show the same step, and are repainted
// together at each one. Columns whose run is timed are told once a second.
class FrameClock : public QObject {
    Q_OBJECT
public:
    // The clock of the window `widget` is in, made on first use as a child
    // of that window.
    static FrameClock* of(QWidget* widget);

    static constexpr std::chrono::milliseconds frameInterval{40};
    // One spoke further at each step.
    static constexpr std::chrono::milliseconds spinnerInterval{125};
    static constexpr std::chrono::milliseconds elapsedInterval{1000};
    static constexpr std::chrono::milliseconds workSliceTime{6};

    void requestFrame(TranscriptView* view);
    // Calls view->workSlice() with a deadline, a turn at a time, until it
    // returns false.
    void requestWork(TranscriptView* view);
    void addSpinner(Spinner* spinner);
    // Calls column->renderElapsed() once a second until removed.
    void addTimedColumn(ColumnView* column);
    void remove(QObject* object);

    int spinnerStep() const { return m_step; }
    // True while the timer runs, for tests and benchmarks.
    bool isTicking() const { return m_timer.isActive(); }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    using QObject::QObject;
    void reschedule();
    void paintNext();
    void work();

    QBasicTimer m_timer;
    QElapsedTimer m_sinceStart;
    qint64 m_lastFrameMs = -1;
    qint64 m_nextStepMs = 0;
    int m_step = 0;
    std::vector<QPointer<TranscriptView>> m_waiting;
    std::vector<QPointer<TranscriptView>> m_painting;
    std::vector<QPointer<TranscriptView>> m_working;
    std::vector<QPointer<Spinner>> m_spinners;
    qint64 m_nextSecondMs = 0;
    std::vector<QPointer<ColumnView>> m_timed;
};
