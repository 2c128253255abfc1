#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The window's find bar: the text to look for in every transcript, whether
// case matters, and buttons for the previous and next match. Return and
// Shift+Return in the field step to the next and previous match; Escape
// asks to close the bar.
class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(QWidget* parent = nullptr);

    QString query() const;
    Qt::CaseSensitivity caseSensitivity() const;
    QLineEdit* field() const { return m_field; }
    QCheckBox* matchCaseBox() const { return m_matchCase; }

    // Shows the bar with its text selected and the keyboard in it.
    void open();

Q_SIGNALS:
    // The text or the match-case choice changed.
    void queryChanged();
    void nextRequested();
    void previousRequested();
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_field;
    QCheckBox* m_matchCase;
    QPushButton* m_previous;
    QPushButton* m_next;
    QPushButton* m_close;
};
