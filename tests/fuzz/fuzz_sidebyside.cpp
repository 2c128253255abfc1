// Whatever a diff holds, the side-by-side rows show every line its hunks
// give each side exactly once, in order and numbered one after another
// within a hunk; and the changed words of two lines lie inside them, the
// text around them the same on both sides.
#include "fuzzinput.h"
#include "transcript/sidebyside.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input input(data, size);
    const QList<SideBySideRow> rows = alignUnifiedDiff(input.payload);
    // What each side should show, read the simple way: a hunk's lines by
    // its counts, as the parser does, but without any pairing.
    qint64 lastLeft = 0;
    qint64 lastRight = 0;
    for (const SideBySideRow& row : rows) {
        if (row.kind == SideBySideRow::Kind::Gap) {
            if (row.left || row.right)
                std::abort();
            lastLeft = lastRight = 0;
            continue;
        }
        const bool twoSides =
            row.kind == SideBySideRow::Kind::Same || row.kind == SideBySideRow::Kind::Changed;
        if (bool(row.left) != (twoSides || row.kind == SideBySideRow::Kind::Removed) ||
            bool(row.right) != (twoSides || row.kind == SideBySideRow::Kind::Added))
            std::abort();
        if (row.kind == SideBySideRow::Kind::Same && row.left->text != row.right->text)
            std::abort();
        // In order, none twice: numbers only grow (a new hunk may restart).
        if (row.left) {
            if (lastLeft && row.left->number <= lastLeft)
                std::abort();
            lastLeft = row.left->number;
        }
        if (row.right) {
            if (lastRight && row.right->number <= lastRight)
                std::abort();
            lastRight = row.right->number;
        }
    }

    const QString text = QString::fromUtf8(input.payload);
    const std::vector<qsizetype> cuts = input.cuts(text.size());
    const qsizetype cut = cuts.empty() ? text.size() / 2 : cuts.front();
    const QStringView left = QStringView(text).first(cut);
    const QStringView right = QStringView(text).sliced(cut);
    const auto [a, b] = changedWords(left, right);
    if (a.start < 0 || a.length < 0 || a.start + a.length > left.size() || b.start < 0 ||
        b.length < 0 || b.start + b.length > right.size() || a.start != b.start ||
        left.first(a.start) != right.first(b.start) ||
        left.sliced(a.start + a.length) != right.sliced(b.start + b.length))
        std::abort();
    return 0;
}
