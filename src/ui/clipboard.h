#pragma once

class QString;

// The system clipboard, for copying transcripts out of the app.
namespace Clipboard {

// Empties the clipboard, then puts `text` on it as plain text only. Results
// are not looked at: a clipboard that refuses leaves nothing to report.
// GUI thread only, with a QGuiApplication alive.
void setPlainText(const QString& text);

// Offers `text` as the primary selection (X11's middle-click paste) where
// the platform has one; elsewhere does nothing. GUI thread only.
void setPrimarySelection(const QString& text);

} // namespace Clipboard
