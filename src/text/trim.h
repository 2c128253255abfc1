#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// Blanks: U+0009 and the Unicode space separators (general category Zs).
bool isBlank(char32_t c);
// Line breaks: U+000A to U+000D, U+0085, U+2028, U+2029.
bool isLineBreak(char32_t c);

// Without leading and trailing blanks.
QString trimmedBlanks(QStringView text);
// Without leading and trailing blanks and line breaks.
QString trimmedBlanksAndLineBreaks(QStringView text);
// True when trimmedBlanksAndLineBreaks() would leave nothing.
bool holdsOnlyBlanksAndLineBreaks(QStringView text);
// The lines of `text`: split at each line break (CR LF counts as one), empty
// lines dropped.
QStringList nonEmptyLines(QStringView text);
