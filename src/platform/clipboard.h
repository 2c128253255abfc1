#pragma once

class QString;

// The system clipboard, for copying transcripts out of the app.
namespace Clipboard {

// Empties the clipboard, then puts `text` on it as plain text only. Results
// are not looked at: a clipboard that refuses leaves nothing to report.
// GUI thread only, with a QGuiApplication alive.
void setPlainText(const QString& text);

} // namespace Clipboard
