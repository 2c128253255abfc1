#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

// Blanks: U+0009 and the Unicode space separators (general category Zs).
bool isBlank(char32_t c);
// Line breaks: U+000A to U+000D, U+0085, U+2028, U+2029.
bool isLineBreak(char32_t c);

// Without leading and trailing blanks and line breaks.
QString trimmedBlanksAndLineBreaks(QStringView text);
// True when trimmedBlanksAndLineBreaks() would leave nothing.
bool holdsOnlyBlanksAndLineBreaks(QStringView text);
// The lines of UTF-8 `bytes`, split at each line break, each without leading
// and trailing blanks, and those left empty dropped. The lines stay bytes:
// an ill-formed sequence inside one is kept exactly as it was.
QList<QByteArray> blankTrimmedLines(QByteArrayView bytes);
