#pragma once

#include "transcript/transcripttext.h"

#include <QObject>
#include <QStringView>

#include <span>
#include <vector>

// How a stretch of a transcript is shown. Roles never change which cells a
// character takes or where a row wraps: only colour and weight.
enum class TextRole : quint8 {
    Normal,
    // Secondary text, such as what a tool writes besides its answer.
    Dim,
    // The text sent to the agent.
    Prompt,
    // A tool call the agent made.
    Tool,
    Error,
    // A diff's added lines, its removed lines, and its file and hunk headers.
    DiffAdded,
    DiffRemoved,
    DiffHeader,
};

// A role from `start` up to the next run's start (or the end of the text).
struct StyleRun {
    qsizetype start = 0;
    TextRole role = TextRole::Normal;

    friend bool operator==(const StyleRun&, const StyleRun&) = default;
};

// The transcript of one agent: the append-only text of every turn, with the
// role of each stretch of it and where each turn starts beside it. Layout,
// search and the view read it; only its owner writes it, on the GUI thread.
//
// The text keeps TranscriptText's promises: characters never move while
// the document grows, and a snapshot stays valid on any thread. A role is
// stored once per run of appends that share it, so an append costs work in
// proportion to its text, and the runs in a range are found by a binary
// search.
class TranscriptDocument : public QObject {
    Q_OBJECT
public:
    explicit TranscriptDocument(QObject* parent = nullptr);
    ~TranscriptDocument() override;

    // The text as it is now: valid until the next append or clear.
    QStringView text() const { return m_text.view(); }
    qsizetype size() const { return m_text.size(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    // The text as it stands now, for as long as the snapshot lives.
    TranscriptText::Snapshot snapshot() const { return m_text.snapshot(); }

    // Adds `text` at the end in `role`. Nothing for empty text.
    void append(QStringView text, TextRole role = TextRole::Normal);
    // A turn starts at the current end of the text.
    void beginTurn();
    // Empty again, without runs or turns, in new storage: snapshots keep the old.
    void clear();
    // Empties the document, then holds `text` with its runs and turn starts,
    // as kept elsewhere: one cleared() and one appended(0). Runs out of
    // order, past the end or repeating their neighbour's role are dropped.
    void restore(QStringView text, std::span<const StyleRun> runs,
                 std::span<const qsizetype> turnStarts);

    // The runs that overlap [from, to), in order; the first may start
    // before `from`. Empty for an empty range. Valid until the next append
    // or clear.
    std::span<const StyleRun> runsIn(qsizetype from, qsizetype to) const;

    qsizetype turnCount() const { return qsizetype(m_turns.size()); }
    // Where turn `index` starts in the text; it ends where the next starts.
    qsizetype turnStart(qsizetype index) const { return m_turns[std::size_t(index)]; }

Q_SIGNALS:
    // After every append of text, which begins at `from`.
    void appended(qsizetype from);
    // After beginTurn(): turn `index` (the last) starts at the end of the text.
    void turnBegun(qsizetype index);
    // After clear(): the text is empty.
    void cleared();

private:
    TranscriptText m_text;
    // Ordered by start, no two neighbours alike; the first starts at 0.
    std::vector<StyleRun> m_runs;
    std::vector<qsizetype> m_turns;
};
