#include "trim.h"

#include <QChar>

bool isBlank(char32_t c)
{
    return c == U'\t' || QChar::category(c) == QChar::Separator_Space;
}

bool isLineBreak(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

namespace {

// Every blank and line break lies in the BMP, so testing UTF-16 units one by
// one is exact: a surrogate half is never one of them.
template <typename Pred> QStringView trimmedWhere(QStringView text, Pred drop)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && drop(text[begin].unicode()))
        ++begin;
    while (end > begin && drop(text[end - 1].unicode()))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

QString trimmedBlanks(QStringView text)
{
    return trimmedWhere(text, isBlank).toString();
}

namespace {

bool isBlankOrLineBreak(char32_t c)
{
    return isBlank(c) || isLineBreak(c);
}

} // namespace

QString trimmedBlanksAndLineBreaks(QStringView text)
{
    return trimmedWhere(text, isBlankOrLineBreak).toString();
}

bool holdsOnlyBlanksAndLineBreaks(QStringView text)
{
    // Stops at the first visible character: no copy of the text.
    return trimmedWhere(text, isBlankOrLineBreak).isEmpty();
}

QStringList nonEmptyLines(QStringView text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!isLineBreak(c))
            continue;
        // CR LF leaves an empty piece between its halves; dropping empty
        // pieces makes it one separator.
        if (i > start)
            lines.append(text.sliced(start, i - start).toString());
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start).toString());
    return lines;
}
