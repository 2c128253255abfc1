#include "trim.h"

#include "utf8.h"

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

QList<QByteArray> blankTrimmedLines(QByteArrayView bytes)
{
    QList<QByteArray> lines;
    qsizetype first = -1; // the current line's first byte that is not a blank
    qsizetype last = -1;  // and the end of its last such character
    for (qsizetype i = 0; i < bytes.size();) {
        const Utf8Step step = utf8StepAt(bytes, i);
        if (isLineBreak(step.scalar)) {
            if (first >= 0)
                lines.append(bytes.sliced(first, last - first).toByteArray());
            first = -1;
        } else if (!isBlank(step.scalar)) {
            if (first < 0)
                first = i;
            last = i + step.length;
        }
        i += step.length;
    }
    if (first >= 0)
        lines.append(bytes.sliced(first, last - first).toByteArray());
    return lines;
}
