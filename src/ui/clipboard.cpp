#include "ui/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

namespace Clipboard {

void setPlainText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Clearing first drops every other format a previous owner offered, so
    // a paste can only ever see this text.
    clipboard->clear();
    clipboard->setText(text);
}

void setPrimarySelection(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection())
        clipboard->setText(text, QClipboard::Selection);
}

} // namespace Clipboard
