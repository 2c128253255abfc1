#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// Finds a query in a text that grows at its end, such as a transcript, a
// slice at a time: matches do not overlap (the search goes on after each
// one's end) and start and end on cluster boundaries, so "e" never matches
// the letter of "e" + a combining mark. It keeps the count, and only a
// resume point every 64 matches or 64 Ki characters: the matches in any
// range are found again from the resume point before it, so that a query
// found millions of times costs little memory.
class TranscriptSearch {
public:
    // Starts over with `query`; an empty one finds nothing.
    void setQuery(const QString& query, Qt::CaseSensitivity sensitivity);
    // Starts over: the text was replaced.
    void restart();

    const QString& query() const { return m_query; }
    Qt::CaseSensitivity caseSensitivity() const { return m_sensitivity; }
    bool isActive() const { return !m_query.isEmpty(); }
    qsizetype matchLength() const { return m_query.size(); }

    // Searches on in `text` (the text so far, grown at its end since the
    // last call) through at most `budget` characters. True when all of it
    // has been searched.
    bool searchMore(QStringView text, qsizetype budget);
    bool isDone(QStringView text) const;
    // Matches in what has been searched.
    qsizetype count() const { return m_count; }

    // Starts of the matches that overlap [from, to), in order.
    std::vector<qsizetype> matchesIn(QStringView text, qsizetype from, qsizetype to) const;
    // The first match that starts at or after `offset`, or -1.
    qsizetype nextMatch(QStringView text, qsizetype offset) const;
    // The last match that starts before `offset`, or -1.
    qsizetype previousMatch(QStringView text, qsizetype offset) const;

private:
    struct ResumePoint {
        qsizetype from;  // where the search goes on
        qsizetype count; // matches before it
    };
    class Scanner;

    const ResumePoint& resumePointBefore(qsizetype offset) const;

    QString m_query;
    Qt::CaseSensitivity m_sensitivity = Qt::CaseInsensitive;
    std::vector<ResumePoint> m_resume{{0, 0}};
    qsizetype m_from = 0;
    qsizetype m_count = 0;
    qsizetype m_lastMatch = -1;
    qsizetype m_searchedLength = 0;
};
