// A transcript laid out as it arrives, in pieces cut anywhere, must be laid
// out as if it came at once, with every row's clusters inside the row; and
// the search over it must count the same matches either way.
#include "fuzzinput.h"
#include "text/utf8.h"
#include "transcript/transcriptlayout.h"
#include "transcript/transcriptsearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int columns = 1 + data[0] % 40;
    const int queryLength = 1 + data[1] % 4;
    const Input input(data + 2, size - 2);
    const QString text = decodeUtf8(input.payload);
    const QStringView all(text);

    TranscriptLayout whole;
    whole.setColumns({}, columns);
    whole.append(all);
    TranscriptLayout pieces;
    pieces.setColumns({}, columns);
    for (qsizetype cut : input.cuts(text.size()))
        pieces.append(all.first(cut));
    pieces.append(all);
    const auto expected = whole.rows(all, 0, whole.rowCount());
    const auto got = pieces.rows(all, 0, pieces.rowCount());
    require(got.size() == expected.size() && pieces.lineCount() == whole.lineCount(),
            "rows and lines as if appended at once");
    qsizetype next = 0;
    for (size_t r = 0; r < got.size(); ++r) {
        require(got[r].start == expected[r].start && got[r].next == expected[r].next,
                "rows start where they would at once");
        require(got[r].start == next, "rows follow one another");
        next = got[r].next;
        int glyphs = 0;
        for (const auto& p : got[r].clusters)
            glyphs += p.kind == Transcript::ClusterKind::Glyph;
        require(got[r].cells() <= columns || glyphs == 1, "only a lone cluster overflows");
    }
    require(next == text.size(), "rows cover the text");

    if (text.size() >= queryLength) {
        const QString query = text.first(queryLength);
        TranscriptSearch once;
        once.setQuery(query, Qt::CaseInsensitive);
        once.searchMore(all, text.size());
        TranscriptSearch growing;
        growing.setQuery(query, Qt::CaseInsensitive);
        for (qsizetype cut : input.cuts(text.size()))
            growing.searchMore(all.first(cut), 3);
        while (!growing.searchMore(all, 3)) {
        }
        require(growing.count() == once.count(), "the same count as searched at once");
        require(qsizetype(once.matchesIn(all, 0, text.size()).size()) == once.count(),
                "every counted match is found again");
    }
    return 0;
}
