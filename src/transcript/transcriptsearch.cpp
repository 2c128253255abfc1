#include "transcript/transcriptsearch.h"

#include "transcript/cluster.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype resumeEveryMatches = 64;
constexpr qsizetype resumeEveryChars = 64 * 1024;

// The text without half a surrogate pair at its end: whether a cluster ends
// before it is not known until its other half arrives.
QStringView settled(QStringView text)
{
    return !text.isEmpty() && text.back().isHighSurrogate() ? text.chopped(1) : text;
}

} // namespace

// Finds the query's matches one after another in a text, from a position
// that is not inside a match. A query that starts with an ASCII letter and
// ignores case is looked for by that letter in either case, four units at
// a time; any other by Qt's search.
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
        if (m_twoCases)
            m_small = first.toLower().unicode();
        // An ASCII query is compared unit by unit, its letters folded.
        const bool ascii =
            std::all_of(m_query.begin(), m_query.end(), [](QChar c) { return c.unicode() < 0x80; });
        if (m_twoCases && ascii) {
            for (QChar c : m_query) {
                const bool letter = c.toLower() != c.toUpper();
                m_letters.push_back(letter);
                m_folded.push_back(letter ? char16_t(c.toLower().unicode()) : c.unicode());
            }
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
            if (isBoundary(at) && isBoundary(at + n))
                return at;
            from = at + 1;
        }
        return -1;
    }

private:
    // Between two ASCII characters other than CR LF a cluster always ends.
    bool isBoundary(qsizetype pos) const
    {
        if (pos > 0 && pos < m_text.size()) {
            const char16_t before = m_text[pos - 1].unicode();
            const char16_t after = m_text[pos].unicode();
            if (before < 0x80 && after < 0x80)
                return before != u'\r' || after != u'\n';
        }
        return Transcript::isClusterBoundary(m_text, pos);
    }

    // The query at `at`, without regard to case, for a query all in ASCII.
    bool asciiMatchAt(const char16_t* units, qsizetype at) const
    {
        for (size_t k = 0; k < m_folded.size(); ++k) {
            const char16_t c = units[at + k];
            if (c >= 0x80 || (m_letters[k] ? (c | 0x20) : c) != m_folded[k])
                return false;
        }
        return true;
    }

    qsizetype occurrence(qsizetype from, qsizetype limit)
    {
        const qsizetype n = m_query.size();
        if (!m_twoCases) {
            const qsizetype at = m_text.first(limit + n - 1).indexOf(m_query, from, m_sensitivity);
            return at >= 0 && at < limit ? at : -1;
        }
        // The letter in either case: with bit 5 set, both cases read as the
        // small letter. Four units at a time, as one 64-bit word.
        const char16_t* units = m_text.utf16();
        const char16_t small = m_small;
        auto verify = [&](qsizetype at) {
            if (!m_folded.empty())
                return asciiMatchAt(units, at);
            return m_text.sliced(at, n).compare(m_query, Qt::CaseInsensitive) == 0;
        };
        constexpr quint64 lanes = 0x0001000100010001ULL;
        const quint64 pattern = lanes * small;
        qsizetype at = from;
        for (; at + 4 <= limit; at += 4) {
            quint64 word;
            std::memcpy(&word, units + at, sizeof word);
            word = (word | (lanes * 0x20)) ^ pattern;
            if (((word - lanes) & ~word & (lanes * 0x8000)) == 0)
                continue;
            for (qsizetype i = at; i < at + 4; ++i)
                if ((units[i] | 0x20) == small && verify(i))
                    return i;
        }
        for (; at < limit; ++at)
            if ((units[at] | 0x20) == small && verify(at))
                return at;
        return -1;
    }

    QStringView m_text;
    const QString& m_query;
    Qt::CaseSensitivity m_sensitivity;
    bool m_twoCases = false;
    char16_t m_small = 0;
    std::vector<char16_t> m_folded;
    std::vector<bool> m_letters;
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
    text = settled(text);
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
    text = settled(text);
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
    text = settled(text);
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
    text = settled(text);
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
    text = settled(text);
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
