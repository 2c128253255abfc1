#include "transcript/transcriptdocument.h"

#include <algorithm>

TranscriptDocument::TranscriptDocument(QObject* parent)
    : QObject(parent)
{
}

TranscriptDocument::~TranscriptDocument() = default;

void TranscriptDocument::append(QStringView text, TextRole role)
{
    if (text.isEmpty())
        return;
    const qsizetype from = m_text.size();
    m_text.append(text);
    // The same role again extends the last run, which ends at the text's end.
    if (m_runs.empty() || m_runs.back().role != role)
        m_runs.push_back({from, role});
    Q_EMIT appended(from);
}

void TranscriptDocument::beginTurn()
{
    m_turns.push_back(m_text.size());
    Q_EMIT turnBegun(turnCount() - 1);
}

void TranscriptDocument::clear()
{
    m_text.clear();
    m_runs.clear();
    m_turns.clear();
    Q_EMIT cleared();
}

void TranscriptDocument::restore(QStringView text, std::span<const StyleRun> runs,
                                 std::span<const qsizetype> turnStarts)
{
    clear();
    if (text.isEmpty())
        return;
    m_text.append(text);
    m_runs.push_back({0, TextRole::Normal});
    for (const StyleRun& run : runs) {
        if (run.start < m_runs.back().start || run.start >= text.size() ||
            run.role == m_runs.back().role)
            continue;
        if (run.start == m_runs.back().start)
            m_runs.back().role = run.role;
        else
            m_runs.push_back(run);
        if (m_runs.size() > 1 && m_runs.end()[-2].role == m_runs.back().role)
            m_runs.pop_back();
    }
    for (const qsizetype start : turnStarts) {
        if (start >= 0 && start <= text.size() && (m_turns.empty() || start >= m_turns.back()))
            m_turns.push_back(start);
    }
    Q_EMIT appended(0);
}

std::span<const StyleRun> TranscriptDocument::runsIn(qsizetype from, qsizetype to) const
{
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, m_text.size());
    if (from >= to)
        return {};
    // The run holding `from` is the last that starts at or before it; the
    // first run starts at 0, so there is one.
    auto first = std::upper_bound(m_runs.begin(), m_runs.end(), from,
                                  [](qsizetype at, const StyleRun& run) { return at < run.start; });
    --first;
    auto last = std::lower_bound(first, m_runs.end(), to,
                                 [](const StyleRun& run, qsizetype at) { return run.start < at; });
    return {first, last};
}
