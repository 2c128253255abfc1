#include "transcript/sidebyside.h"

#include <algorithm>

namespace {

// "@@ -a[,b] +c[,d] @@": starts and counts; a count left out is 1.
struct HunkHeader {
    qint64 leftStart = 0, leftCount = 0, rightStart = 0, rightCount = 0;
};

std::optional<qint64> number(QByteArrayView text, qsizetype& at)
{
    const qsizetype begin = at;
    qint64 value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 18)
        value = value * 10 + (text[at++] - '0');
    if (at == begin)
        return std::nullopt;
    return value;
}

std::optional<std::pair<qint64, qint64>> range(QByteArrayView text, qsizetype& at, char sign)
{
    if (at >= text.size() || text[at] != sign)
        return std::nullopt;
    ++at;
    const std::optional<qint64> start = number(text, at);
    if (!start)
        return std::nullopt;
    qint64 count = 1;
    if (at < text.size() && text[at] == ',') {
        ++at;
        const std::optional<qint64> given = number(text, at);
        if (!given)
            return std::nullopt;
        count = *given;
    }
    return std::pair{*start, count};
}

std::optional<HunkHeader> hunkHeader(QByteArrayView line)
{
    if (!line.startsWith("@@ "))
        return std::nullopt;
    qsizetype at = 3;
    const auto left = range(line, at, '-');
    if (!left || at >= line.size() || line[at++] != ' ')
        return std::nullopt;
    const auto right = range(line, at, '+');
    if (!right)
        return std::nullopt;
    return HunkHeader{left->first, left->second, right->first, right->second};
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// Where each word (or lone character) of `text` starts, and its end.
QList<qsizetype> wordStarts(QStringView text)
{
    QList<qsizetype> starts;
    for (qsizetype i = 0; i < text.size();) {
        starts << i;
        if (isWordCharacter(text[i])) {
            while (i < text.size() && isWordCharacter(text[i]))
                ++i;
        } else {
            ++i;
        }
    }
    starts << text.size();
    return starts;
}

} // namespace

QList<SideBySideRow> alignUnifiedDiff(QByteArrayView diff)
{
    QList<SideBySideRow> rows;
    // A run of removed lines waiting for the added ones that may face it.
    QList<SideLine> removed;
    qsizetype paired = 0; // how many of `removed` an added line faces already
    const auto flush = [&] {
        for (qsizetype i = paired; i < removed.size(); ++i)
            rows.push_back({SideBySideRow::Kind::Removed, removed[i], std::nullopt});
        removed.clear();
        paired = 0;
    };
    qint64 leftNext = 1;
    qint64 rightNext = 1;
    qint64 leftLeft = 0; // lines of the hunk still to come on each side
    qint64 rightLeft = 0;
    qsizetype at = 0;
    bool seenHunk = false;
    while (at < diff.size()) {
        qsizetype end = diff.indexOf('\n', at);
        if (end < 0)
            end = diff.size();
        const QByteArrayView line = diff.sliced(at, end - at);
        at = end + 1;
        if (leftLeft <= 0 && rightLeft <= 0) {
            const std::optional<HunkHeader> header = hunkHeader(line);
            if (!header)
                continue;
            flush();
            const qint64 leftStart =
                header->leftCount == 0 ? header->leftStart + 1 : header->leftStart;
            const qint64 rightStart =
                header->rightCount == 0 ? header->rightStart + 1 : header->rightStart;
            // Hunks go forward; one that would show lines again is not git's.
            if (seenHunk && (leftStart < leftNext || rightStart < rightNext))
                continue;
            if (seenHunk && (leftStart > leftNext || rightStart > rightNext))
                rows.push_back({SideBySideRow::Kind::Gap, std::nullopt, std::nullopt});
            seenHunk = true;
            leftNext = leftStart;
            rightNext = rightStart;
            leftLeft = std::max<qint64>(0, header->leftCount);
            rightLeft = std::max<qint64>(0, header->rightCount);
            continue;
        }
        const char sign = line.isEmpty() ? ' ' : line.front();
        const QByteArray text = line.isEmpty() ? QByteArray() : line.sliced(1).toByteArray();
        if (sign == '\\') // "\ No newline at end of file"
            continue;
        if (sign == '-' && leftLeft > 0) {
            if (paired > 0) // a removal after additions starts a new run
                flush();
            removed.push_back({leftNext++, text});
            --leftLeft;
        } else if (sign == '+' && rightLeft > 0) {
            const SideLine added{rightNext++, text};
            --rightLeft;
            if (paired < removed.size())
                rows.push_back({SideBySideRow::Kind::Changed, removed[paired++], added});
            else
                rows.push_back({SideBySideRow::Kind::Added, std::nullopt, added});
        } else if (sign == ' ' && leftLeft > 0 && rightLeft > 0) {
            flush();
            rows.push_back({SideBySideRow::Kind::Same, SideLine{leftNext++, text},
                            SideLine{rightNext++, text}});
            --leftLeft;
            --rightLeft;
        } else {
            // Not what the hunk's counts allow: the hunk ends here.
            leftLeft = rightLeft = 0;
            flush();
        }
    }
    flush();
    return rows;
}

std::pair<ChangedSpan, ChangedSpan> changedWords(QStringView left, QStringView right)
{
    const QList<qsizetype> a = wordStarts(left);
    const QList<qsizetype> b = wordStarts(right);
    const qsizetype wordsA = a.size() - 1;
    const qsizetype wordsB = b.size() - 1;
    const auto word = [](QStringView text, const QList<qsizetype>& starts, qsizetype i) {
        return text.sliced(starts[i], starts[i + 1] - starts[i]);
    };
    qsizetype head = 0;
    while (head < wordsA && head < wordsB && word(left, a, head) == word(right, b, head))
        ++head;
    qsizetype tail = 0;
    while (tail < wordsA - head && tail < wordsB - head &&
           word(left, a, wordsA - 1 - tail) == word(right, b, wordsB - 1 - tail))
        ++tail;
    const ChangedSpan inLeft{a[head], a[wordsA - tail] - a[head]};
    const ChangedSpan inRight{b[head], b[wordsB - tail] - b[head]};
    return {inLeft, inRight};
}
