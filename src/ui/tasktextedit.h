#pragma once

#include <QPlainTextEdit>

// The task field: a plain-text editor that grows from one to maxLines lines
// with its content (wrapped lines count) and scrolls beyond. Return or Enter
// asks for a submit; Shift or Alt with them inserts a line break.
class TaskTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int maxLines = 4;

    explicit TaskTextEdit(QWidget* parent = nullptr);

    // The text as typed: block breaks become "\n", every other character
    // (no-break spaces included) stays as it is.
    QString text() const;
    // Replaces the text without emitting textEdited(), keeping the cursor at
    // the same offset (clamped to the new length). Does nothing when equal.
    void setTextKeepingCursor(const QString& text);

Q_SIGNALS:
    // The user changed the text (typing, pasting, undo); not setTextKeepingCursor().
    void textEdited(const QString& text);
    // Return or Enter without Shift or Alt: the caller decides whether it runs.
    void submitRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void handleTextChanged();
    void updateHeight();
    void updateWrapMode(QStringView incoming);

    bool m_settingText = false;
    int m_visibleLines = 1;
};
