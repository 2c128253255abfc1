#pragma once

#include <QColor>
#include <QWidget>

// A filled circle, 10 by 10, in one colour: whether a tool was found.
class StatusDot : public QWidget {
    Q_OBJECT
public:
    explicit StatusDot(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    static constexpr int diameter = 10;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
};
