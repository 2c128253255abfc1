#include "ui/tasktextedit.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// Room between the rounded border and the text.
constexpr qreal textMargin = 4;

bool isReturnKey(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Longer runs without a blank than this are wrapped anywhere.
constexpr qsizetype longWordLimit = 1000;

bool hasLongWord(QStringView text)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > longWordLimit)
            return true;
    }
    return false;
}

} // namespace

TaskTextEdit::TaskTextEdit(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setPlaceholderText(tr("Type a task for every agent…"));
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    document()->setDocumentMargin(textMargin);
    // The platform's rounded-border field; the highlight marks keyboard focus.
    setStyleSheet(
        QStringLiteral("TaskTextEdit { border: 1px solid palette(mid); border-radius: 6px;"
                       " background: palette(base); }"
                       "TaskTextEdit:focus { border: 1px solid palette(highlight); }"));
    connect(this, &QPlainTextEdit::textChanged, this, &TaskTextEdit::handleTextChanged);
    updateHeight();
}

QString TaskTextEdit::text() const
{
    // toPlainText() would also turn no-break spaces into spaces, changing the task.
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

void TaskTextEdit::setTextKeepingCursor(const QString& text)
{
    if (text == this->text())
        return;
    const int position = textCursor().position();
    updateWrapMode(text);
    {
        QScopedValueRollback guard(m_settingText, true);
        // Through a cursor rather than setPlainText(), so undo history survives.
        QTextCursor all(document());
        all.select(QTextCursor::Document);
        all.insertText(text);
    }
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::min(position, document()->characterCount() - 1));
    setTextCursor(cursor);
}

void TaskTextEdit::keyPressEvent(QKeyEvent* event)
{
    if (!isReturnKey(event)) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers & (Qt::ShiftModifier | Qt::AltModifier))
        insertPlainText(QStringLiteral("\n"));
    else if (modifiers == Qt::NoModifier)
        Q_EMIT submitRequested();
    // Control/Command-Return belongs to the window's Run shortcut; should it
    // reach the field, it does nothing rather than break the line.
    event->accept();
}

void TaskTextEdit::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    // A new width re-wraps the text, which may change the line count.
    updateHeight();
}

void TaskTextEdit::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateHeight();
}

void TaskTextEdit::insertFromMimeData(const QMimeData* source)
{
    if (source->hasText())
        updateWrapMode(source->text());
    QPlainTextEdit::insertFromMimeData(source);
}

void TaskTextEdit::updateWrapMode(QStringView incoming)
{
    // Qt's word-boundary wrapping rescans an unbreakable word for every line
    // it fills, which grows with the square of the word: a pasted megabyte of
    // minified text froze the window for minutes. Such text wraps anywhere.
    const bool anywhere = hasLongWord(incoming) || hasLongWord(toPlainText());
    const QTextOption::WrapMode mode =
        anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
    if (wordWrapMode() != mode)
        setWordWrapMode(mode);
}

void TaskTextEdit::handleTextChanged()
{
    if (!m_settingText)
        updateWrapMode({});
    updateHeight();
    if (!m_settingText)
        Q_EMIT textEdited(text());
}

void TaskTextEdit::updateHeight()
{
    // Lines as laid out, not the font's line spacing: a line with text from a
    // fallback font (CJK, emoji) is taller, and would otherwise be cut off
    // behind a scroll bar.
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const int emptyLine = int(std::ceil(QFontMetricsF(font()).lineSpacing()));
    int lines = 0;
    int linesHeight = 0;
    for (QTextBlock block = document()->firstBlock(); block.isValid() && lines < maxLines;
         block = block.next()) {
        layout->blockBoundingRect(block); // lays the block out at the current width
        const QTextLayout* text = block.layout();
        if (text->lineCount() == 0) {
            ++lines;
            linesHeight += emptyLine;
        }
        for (int i = 0; i < text->lineCount() && lines < maxLines; ++i, ++lines)
            linesHeight += int(std::ceil(text->lineAt(i).height()));
    }
    m_visibleLines = std::clamp(lines, 1, maxLines);

    // Whole pixels per line and one spare, as QPlainTextEdit counts them when
    // it decides whether the last line fits (else a scroll bar would show).
    const QMargins margins = contentsMargins();
    const int text = linesHeight + 2 * int(std::ceil(document()->documentMargin())) + 1;
    const int height = text + margins.top() + margins.bottom();
    if (height != this->height() || height != minimumHeight())
        setFixedHeight(height);
}
