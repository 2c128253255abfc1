#pragma once

#include <QLabel>

// A one-line label that is cut in the middle, with an ellipsis, to fit the
// width it is given: the start and the end stay visible. It elides again
// whenever its width changes, while text() keeps the whole text for anyone
// reading the label (tests, accessibility).
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // What is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
