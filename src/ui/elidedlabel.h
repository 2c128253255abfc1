#pragma once

#include <QWidget>

// One line of text that is cut in the middle, with an ellipsis, to fit the
// width it is given: the start and the end stay visible. It elides again
// whenever its width changes; text() keeps the whole text.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // What is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};
