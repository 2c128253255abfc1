#pragma once

#include <QBasicTimer>
#include <QWidget>

// An indeterminate progress spinner: a ring of fading spokes that turns while
// the widget is visible and stops when it is hidden, so a spinner on a hidden
// page costs nothing. Drawn with the palette's text colour.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    // `diameter` in device-independent pixels.
    explicit BusyIndicator(int diameter, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // True while the spokes turn (the widget is shown).
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_diameter;
    int m_step = 0;
    QBasicTimer m_timer;
};
