#include "transcript/transcriptsearch.h"

#include "transcript/cluster.h"

#include <algorithm>

namespace {

constexpr qsizetype resumeEveryMatches = 64;
constexpr qsizetype resumeEveryChars = 64 * 1024;

} // namespace

// Finds the query's matches one after another in a text, from a position
// that is not inside a match. An ASCII letter that starts a query without
// regard to case is looked for in both cases with the fast search for one
// character, remembering where each case occurs next.
class TranscriptSearch::Scanner {
public:
    Scanner(const TranscriptSearch& search, QStringView text)
        : m_text(text)
        , m_query(search.m_query)
        , m_sensitivity(search.m_sensitivity)
    {
        const QChar first = m_query.front();
        m_twoCases = m_sensitivity == Qt::CaseInsensitive && first.unicode() < 0x80 &&
                     first.toLower() != first.toUpper();
        if (m_twoCases) {
            m_cases[0] = first.toLower();
            m_cases[1] = first.toUpper();
        }
    }

    // The first match that starts in [from, limit), or -1.
    qsizetype find(qsizetype from, qsizetype limit)
    {
        const qsizetype n = m_query.size();
        limit = std::min(limit, m_text.size() - n + 1);
        while (from < limit) {
            const qsizetype at = occurrence(from, limit);
            if (at < 0)
                return -1;
            if (Transcript::isClusterBoundary(m_text, at) &&
                Transcript::isClusterBoundary(m_text, at + n))
                return at;
            from = at + 1;
        }
        return -1;
    }

private:
    qsizetype occurrence(qsizetype from, qsizetype limit)
    {
        const qsizetype n = m_query.size();
        if (!m_twoCases) {
            const qsizetype at = m_text.first(limit + n - 1).indexOf(m_query, from, m_sensitivity);
            return at >= 0 && at < limit ? at : -1;
        }
        if (from < m_lastFrom) // gone back: what was remembered may skip some
            m_next[0] = m_next[1] = unknown;
        m_lastFrom = from;
        while (true) {
            for (int i = 0; i < 2; ++i) {
                if (m_next[i] == unknown || (m_next[i] >= 0 && m_next[i] < from))
                    m_next[i] = m_text.indexOf(m_cases[i], from);
            }
            qsizetype at = -1;
            for (qsizetype next : m_next)
                if (next >= 0 && (at < 0 || next < at))
                    at = next;
            if (at < 0 || at >= limit)
                return -1;
            if (m_text.sliced(at, n).compare(m_query, Qt::CaseInsensitive) == 0)
                return at;
            from = at + 1;
        }
    }

    QStringView m_text;
    const QString& m_query;
    Qt::CaseSensitivity m_sensitivity;
    bool m_twoCases = false;
    QChar m_cases[2];
    static constexpr qsizetype unknown = -2;
    qsizetype m_next[2] = {unknown, unknown}; // next occurrence of each case, -1 for none
    qsizetype m_lastFrom = 0;
};

void TranscriptSearch::setQuery(const QString& query, Qt::CaseSensitivity sensitivity)
{
    m_query = query;
    m_sensitivity = sensitivity;
    restart();
}

void TranscriptSearch::restart()
{
    std::vector<ResumePoint>{{0, 0}}.swap(m_resume);
    m_from = 0;
    m_count = 0;
    m_lastMatch = -1;
    m_searchedLength = 0;
}

bool TranscriptSearch::searchMore(QStringView text, qsizetype budget)
{
    if (!isActive())
        return true;
    const qsizetype n = m_query.size();
    // Marks that arrived after the last match can take its end off a boundary.
    if (text.size() > m_searchedLength && m_lastMatch >= 0 && m_lastMatch + n == m_searchedLength &&
        !Transcript::isClusterBoundary(text, m_lastMatch + n)) {
        --m_count;
        m_from = m_lastMatch + 1;
        while (m_resume.size() > 1 && m_resume.back().from > m_lastMatch)
            m_resume.pop_back();
        m_lastMatch = -1;
    }
    m_searchedLength = text.size();
    const qsizetype lastStart = text.size() - n;
    const qsizetype stop = std::min(lastStart + 1, m_from + budget);
    Scanner scanner(*this, text);
    while (m_from < stop) {
        const qsizetype at = scanner.find(m_from, stop);
        if (at < 0) {
            m_from = stop;
            break;
        }
        ++m_count;
        m_lastMatch = at;
        m_from = at + n;
        if (m_count - m_resume.back().count >= resumeEveryMatches)
            m_resume.push_back({m_from, m_count});
    }
    if (m_from - m_resume.back().from >= resumeEveryChars)
        m_resume.push_back({m_from, m_count});
    return isDone(text);
}

bool TranscriptSearch::isDone(QStringView text) const
{
    return !isActive() || m_from > text.size() - m_query.size();
}

const TranscriptSearch::ResumePoint& TranscriptSearch::resumePointBefore(qsizetype offset) const
{
    const auto after =
        std::upper_bound(m_resume.begin(), m_resume.end(), offset,
                         [](qsizetype at, const ResumePoint& r) { return at < r.from; });
    return *(after - 1);
}

std::vector<qsizetype> TranscriptSearch::matchesIn(QStringView text, qsizetype from,
                                                   qsizetype to) const
{
    std::vector<qsizetype> found;
    if (!isActive() || text.size() < m_searchedLength)
        return found;
    const qsizetype n = m_query.size();
    to = std::min(to, m_from);
    Scanner scanner(*this, text);
    for (qsizetype at = resumePointBefore(std::max<qsizetype>(0, from - n + 1)).from;;) {
        at = scanner.find(at, to);
        if (at < 0)
            break;
        if (at + n > from)
            found.push_back(at);
        at += n;
    }
    return found;
}

qsizetype TranscriptSearch::nextMatch(QStringView text, qsizetype offset) const
{
    if (!isActive() || text.size() < m_searchedLength)
        return -1;
    Scanner scanner(*this, text);
    for (qsizetype at = resumePointBefore(offset).from;;) {
        at = scanner.find(at, m_from);
        if (at < 0 || at >= offset)
            return at;
        at += m_query.size();
    }
}

qsizetype TranscriptSearch::previousMatch(QStringView text, qsizetype offset) const
{
    if (!isActive() || text.size() < m_searchedLength)
        return -1;
    offset = std::min(offset, m_from);
    Scanner scanner(*this, text);
    auto point = std::upper_bound(m_resume.begin(), m_resume.end(), offset - 1,
                                  [](qsizetype at, const ResumePoint& r) { return at < r.from; });
    while (point != m_resume.begin()) {
        --point;
        qsizetype last = -1;
        for (qsizetype at = point->from;;) {
            at = scanner.find(at, offset);
            if (at < 0)
                break;
            last = at;
            at += m_query.size();
        }
        if (last >= 0)
            return last;
        offset = point->from;
    }
    return -1;
}
