#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <vector>

class FrameClock;

// A small indeterminate progress indicator: spokes that fade round a circle.
// It animates only while visible, so a hidden spinner costs no CPU. The
// spinners of a window step together on its FrameClock, so that a window
// showing several repaints once per step rather than once per spinner.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);
    ~Spinner() override;

    QSize sizeHint() const override;

    static constexpr int spokes = 8;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void drawFrames();

    // One picture per step, drawn once: stroking round-capped spokes at
    // every step would cost several times the blit.
    std::vector<QPixmap> m_frames;
    QPointer<FrameClock> m_clock;
    QColor m_framesColor;
    QSize m_framesSize;
    qreal m_framesRatio = 0;
};
