#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <chrono>

// A small indeterminate progress indicator: spokes that fade round a circle.
// It animates only while visible, so a hidden spinner costs no CPU.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    static constexpr int spokes = 8;
    // One spoke further at each step: a full turn per second.
    static constexpr std::chrono::milliseconds stepInterval{125};

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer m_timer;
    int m_step = 0;
};
