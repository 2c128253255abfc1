#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringView>

#include <optional>

// Two versions of a file side by side, aligned as git's unified diff of
// them says: lines both have face each other, a run of removed lines
// faces the run of added lines that follows it, and what one side lacks
// is left blank. Every line of each side shows once, in order.
struct SideLine {
    qint64 number = 0; // in its version, from 1
    QByteArray text;   // without its line break
    friend bool operator==(const SideLine&, const SideLine&) = default;
};

struct SideBySideRow {
    enum class Kind { Same, Changed, Removed, Added, Gap };
    Kind kind = Kind::Same;
    std::optional<SideLine> left;
    std::optional<SideLine> right;
    friend bool operator==(const SideBySideRow&, const SideBySideRow&) = default;
};

// The rows of `diff`, git's unified diff of one file (headers allowed). A
// Gap row stands where lines between two hunks are left out. Lines are
// read by the hunk headers' counts, so content that looks like a header
// stays content; a diff cut short gives the rows it holds.
QList<SideBySideRow> alignUnifiedDiff(QByteArrayView diff);

// Where two lines that face each other differ, by words: the part of each
// left after their common leading and trailing words (a word is a run of
// letters, digits and '_'; any other character is one on its own).
struct ChangedSpan {
    qsizetype start = 0;
    qsizetype length = 0;
    friend bool operator==(const ChangedSpan&, const ChangedSpan&) = default;
};
std::pair<ChangedSpan, ChangedSpan> changedWords(QStringView left, QStringView right);
