#include "transcript/cluster.h"
#include "transcript/diffdocument.h"
#include "transcript/sidebyside.h"
#include "transcript/transcriptdocument.h"
#include "transcript/transcriptlayout.h"
#include "transcript/transcriptsearch.h"
#include "transcript/transcripttext.h"

#include <QSignalSpy>
#include <QTest>

using Transcript::ClusterKind;
using namespace Qt::StringLiterals;

namespace {

// Lines with every kind of cluster, break and space the layout knows.
const QString sample = QStringLiteral(
    "Hello, w\u00f6rld! \u6f22\u5b57\u30c6\u30b9\u30c8 \U0001F468\u200D\U0001F469\u200D\U0001F467 "
    "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7 e\u0301e\u0301 \tTab\x01"
    "ctl \u1100\u1161\uD55C \uFF21\uFF11 ok   spaces  \r\nnext\rline\u2028ls x\U0001F44D\U0001F3FDy"
    "q\U0001D165 \n\nlong-word-without-any-space-at-all \u2764\uFE0F\u263A\uFE0E\u00a0end\r");

// `text` laid out at `columns`, appended at once.
TranscriptLayout laidOut(const QString& text, int columns)
{
    TranscriptLayout layout;
    layout.setColumns(text, columns);
    layout.append(text);
    return layout;
}

// The rows of `layout`, each as the text from its start to the next row's,
// joined by "|".
QString rowsOf(const TranscriptLayout& layout, const QString& text)
{
    QStringList rows;
    for (const TranscriptLayout::Row& row : layout.rows(text, 0, layout.rowCount()))
        rows << text.sliced(row.start, row.next - row.start);
    return rows.join(u'|');
}

// Roles by letter: Normal, Dim, Prompt, Tool, Error, and a diff's Added,
// Removed and Header lines.
const QString roleLetters = u"NDPTEARH"_s;

// A document made of appends written "Ntext|Dmore|…": each a role's letter,
// then its text (which may be empty).
void appendAll(TranscriptDocument& document, const QString& appends)
{
    for (const QString& append : appends.split(u'|'))
        document.append(QStringView(append).sliced(1), TextRole(roleLetters.indexOf(append[0])));
}

// Runs written "0N 3D": each a start and its role's letter.
QString runsOf(std::span<const StyleRun> runs)
{
    QStringList shown;
    for (const StyleRun& run : runs)
        shown << QString::number(run.start) + roleLetters[int(run.role)];
    return shown.join(u' ');
}

// Each line of `document` as its role's letter and its text, line break
// included; "!" instead of the letter where the role changes inside a line.
QStringList linesOf(const TranscriptDocument& document)
{
    QStringList lines;
    const QStringView text = document.text();
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf(u'\n', start);
        end = end < 0 ? text.size() : end + 1;
        const std::span<const StyleRun> runs = document.runsIn(start, end);
        const QChar letter = runs.size() == 1 ? roleLetters[int(runs.front().role)] : u'!';
        lines << letter + text.sliced(start, end - start).toString();
        start = end;
    }
    return lines;
}

// Searches `text` to its end, at most `budget` characters a call. False
// when that takes more calls than the text has characters: a search that
// makes no headway fails instead of hanging.
bool searchToEnd(TranscriptSearch& search, QStringView text, qsizetype budget)
{
    for (qsizetype call = 0; call <= text.size() + 1; ++call)
        if (search.searchMore(text, budget))
            return true;
    return false;
}

} // namespace

class TestTranscript : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A snapshot shows the text as it stood, while the text grows in place
    // and after it is cleared; a text that outgrows its reservation moves
    // once, and the snapshot keeps the old storage.
    void snapshotsStayAsTaken_data()
    {
        QTest::addColumn<qsizetype>("reservation");
        QTest::addColumn<bool>("moves");
        QTest::newRow("in place") << qsizetype(TranscriptText::defaultReservation) << false;
        QTest::newRow("outgrown") << qsizetype(1 << 20) << true;
    }
    void snapshotsStayAsTaken()
    {
        QFETCH(qsizetype, reservation);
        QFETCH(bool, moves);
        TranscriptText text{std::size_t(reservation)};
        const QString line = u"a line of text, \u6f22\u5b57 \U0001F600\n"_s;
        QString expected;
        for (int i = 0; i < 1000; ++i) {
            text.append(line);
            expected += line;
        }
        const TranscriptText::Snapshot snapshot = text.snapshot();
        const QChar* storage = text.view().data();
        for (int i = 0; i < 40000; ++i)
            text.append(line);
        QCOMPARE(text.size(), 41000 * line.size());
        QCOMPARE(text.view().data() != storage, moves);
        QVERIFY(text.view().endsWith(line) && text.view().startsWith(expected));
        text.clear();
        QVERIFY(text.isEmpty());
        QCOMPARE(snapshot.text.data(), storage);
        QCOMPARE(snapshot.text, QStringView(expected));
    }

    // Appends of one role make one run, whatever their number; empty
    // appends make none.
    void runsFollowAppends_data()
    {
        QTest::addColumn<QString>("appends");
        QTest::addColumn<QString>("runs");
        const auto row = [](const char* name, const char* appends, const char* runs) {
            QTest::newRow(name) << QString::fromLatin1(appends) << QString::fromLatin1(runs);
        };
        row("one", "Nabc", "0N");
        row("same role extends", "Dab|Dcd|Def", "0D");
        row("each change starts a run", "Nab|Ecd|Nef|Pg", "0N 2E 4N 6P");
        row("empty appends add nothing", "Nab|E|Ncd|T|Tx", "0N 4T");
        row("only empty", "P|D", "");
        row("first not normal", "Tcall|Tmore|Nok", "0T 8N");
    }
    void runsFollowAppends()
    {
        QFETCH(QString, appends);
        QFETCH(QString, runs);
        TranscriptDocument document;
        QSignalSpy spy(&document, &TranscriptDocument::appended);
        QVERIFY(spy.isValid());
        appendAll(document, appends);
        QCOMPARE(runsOf(document.runsIn(0, document.size())), runs);
        // One signal per append of text, from where it begins.
        QList<qsizetype> expected;
        qsizetype at = 0;
        for (const QString& append : appends.split(u'|')) {
            if (append.size() > 1)
                expected << at;
            at += append.size() - 1;
        }
        QList<qsizetype> froms;
        for (const QList<QVariant>& args : spy)
            froms << args.at(0).value<qsizetype>();
        QCOMPARE(froms, expected);
        QCOMPARE(document.text().size(), at);
    }

    // Every line of a diff in its role: headers until the first hunk and
    // after each "diff" line, then by the first character.
    // Two versions side by side as git's hunks align them: "= 1 a | 1 a"
    // is a line both have, "~" a changed pair, "-" and "+" one side only,
    // "…" lines left out between hunks.
    void sideBySide_data()
    {
        QTest::addColumn<QByteArray>("diff");
        QTest::addColumn<QStringList>("rows");

        const QByteArray head = "diff --git a/f b/f\nindex 1..2 100644\n--- a/f\n+++ b/f\n";
        QTest::newRow("a changed line between same ones")
            << head + "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"
            << QStringList{u"= 1 a | 1 a"_s, u"~ 2 b | 2 B"_s, u"= 3 c | 3 c"_s};
        QTest::newRow("more removed than added, then more added")
            << head + "@@ -1,3 +1,4 @@\n-a\n-b\n+x\n c\n+y\n+z\n"
            << QStringList{u"~ 1 a | 1 x"_s, u"- 2 b |"_s, u"= 3 c | 2 c"_s, u"+ | 3 y"_s,
                           u"+ | 4 z"_s};
        QTest::newRow("a removal after additions is a run of its own")
            << head + "@@ -1,2 +1,2 @@\n-a\n+x\n-b\n+y\n"
            << QStringList{u"~ 1 a | 1 x"_s, u"~ 2 b | 2 y"_s};
        QTest::newRow("lines that look like headers are content")
            << head + "@@ -1,2 +1,2 @@\n--- a\n+++ b\n-@@ -1 +1 @@\n+x\n"
            << QStringList{u"~ 1 -- a | 1 ++ b"_s, u"~ 2 @@ -1 +1 @@ | 2 x"_s};
        QTest::newRow("two hunks, a gap between")
            << head + "@@ -1,2 +1,2 @@\n a\n-b\n+B\n@@ -10 +10,2 @@\n j\n+k\n"
            << QStringList{u"= 1 a | 1 a"_s, u"~ 2 b | 2 B"_s, u"\u2026"_s, u"= 10 j | 10 j"_s,
                           u"+ | 11 k"_s};
        QTest::newRow("a new file, no newline at its end")
            << QByteArray("@@ -0,0 +1,2 @@\n+x\n+y\n\\ No newline at end of file\n")
            << QStringList{u"+ | 1 x"_s, u"+ | 2 y"_s};
        QTest::newRow("an empty line of context, a diff cut short")
            << QByteArray("@@ -1,3 +1,3 @@\n\n-b\n") << QStringList{u"= 1  | 1 "_s, u"- 2 b |"_s};
        QTest::newRow("no hunk at all")
            << QByteArray("Binary files a/x and b/x differ\n") << QStringList{};
    }
    void sideBySide()
    {
        QFETCH(QByteArray, diff);
        QFETCH(QStringList, rows);
        static const char kinds[] = "=~-+";
        QStringList shown;
        for (const SideBySideRow& row : alignUnifiedDiff(diff)) {
            if (row.kind == SideBySideRow::Kind::Gap) {
                shown << u"\u2026"_s;
                continue;
            }
            const auto side = [](const std::optional<SideLine>& line) {
                return line ? QString::number(line->number) + u' ' + QString::fromUtf8(line->text)
                            : QString();
            };
            shown << (QChar::fromLatin1(kinds[int(row.kind)]) +
                      (row.left ? u" "_s + side(row.left) : QString()) + u" |"_s +
                      (row.right ? u" "_s + side(row.right) : QString()));
        }
        QCOMPARE(shown, rows);
    }

    // The words that differ inside a changed line, [start, length) on each side.
    void changedWords_data()
    {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<QList<qsizetype>>("spans"); // left start, length, right start, length

        QTest::newRow("one word") << u"int count = 1;"_s << u"int total = 1;"_s
                                  << QList<qsizetype>{4, 5, 4, 5};
        QTest::newRow("a word added")
            << u"call(a)"_s << u"call(a, b)"_s << QList<qsizetype>{6, 0, 6, 3};
        QTest::newRow("not inside a word")
            << u"value"_s << u"values"_s << QList<qsizetype>{0, 5, 0, 6};
        QTest::newRow("equal") << u"same"_s << u"same"_s << QList<qsizetype>{4, 0, 4, 0};
        QTest::newRow("repeated words overlap neither end")
            << u"a a"_s << u"a a a"_s << QList<qsizetype>{3, 0, 3, 2};
        QTest::newRow("empty and not") << QString() << u"x y"_s << QList<qsizetype>{0, 0, 0, 3};
    }
    void changedWords()
    {
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(QList<qsizetype>, spans);
        const auto [inLeft, inRight] = ::changedWords(left, right);
        QCOMPARE((QList<qsizetype>{inLeft.start, inLeft.length, inRight.start, inRight.length}),
                 spans);
    }

    void diffLines_data()
    {
        QTest::addColumn<QByteArray>("diff");
        QTest::addColumn<QStringList>("lines");
        const QByteArray header = "diff --git a/f b/f\nindex 1111111..2222222 100644\n"
                                  "--- a/f\n+++ b/f\n";
        const QStringList headerLines{"Hdiff --git a/f b/f\n", "Hindex 1111111..2222222 100644\n",
                                      "H--- a/f\n", "H+++ b/f\n"};
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("hunk") << header + "@@ -1,3 +1,3 @@ int main()\n one\n-two\n+2\n three\n"
                              << headerLines + QStringList{"H@@ -1,3 +1,3 @@ int main()\n",
                                                           "N one\n", "R-two\n", "A+2\n",
                                                           "N three\n"};
        // In a hunk, "---" and "+++" are lines that begin with dashes or pluses.
        QTest::newRow("header look-alikes in a hunk")
            << header + "@@ -1 +1 @@\n--- a/f\n+++ b/f\n"
            << headerLines + QStringList{"H@@ -1 +1 @@\n", "R--- a/f\n", "A+++ b/f\n"};
        QTest::newRow("no newline at the end")
            << header + "@@ -1 +1 @@\n-a\n\\ No newline at end of file\n+a\n"
            << headerLines + QStringList{"H@@ -1 +1 @@\n", "R-a\n",
                                         "D\\ No newline at end of file\n", "A+a\n"};
        QTest::newRow("binary")
            << QByteArray("diff --git a/p.png b/p.png\nnew file mode 100644\n"
                          "index 0000000..3333333\nBinary files /dev/null and b/p.png differ\n")
            << QStringList{"Hdiff --git a/p.png b/p.png\n", "Hnew file mode 100644\n",
                           "Hindex 0000000..3333333\n",
                           "DBinary files /dev/null and b/p.png differ\n"};
        QTest::newRow("invalid UTF-8")
            << header + "@@ -1 +1 @@\n-caf\xc3\xa9\n+caf\xff\xc3\n"
            << headerLines +
                   QStringList{"H@@ -1 +1 @@\n", u"R-caf\u00e9\n"_s, u"A+caf\ufffd\ufffd\n"_s};
        QTest::newRow("CRLF lines keep their carriage return")
            << header + "@@ -1,2 +1,2 @@\r\n a\r\n-b\r\n+c\r\n"
            << headerLines + QStringList{"H@@ -1,2 +1,2 @@\r\n", "N a\r\n", "R-b\r\n", "A+c\r\n"};
        QTest::newRow("blank context, last line unterminated")
            << header + "@@ -1,2 +1,2 @@\n\n+x"
            << headerLines + QStringList{"H@@ -1,2 +1,2 @@\n", "N\n", "A+x"};
        // A second file's header is a header again, "---" and all.
        QTest::newRow("two files")
            << header + "@@ -1 +1 @@\n+a\ndiff --git a/g b/g\n--- a/g\n+++ b/g\n@@ -1 +0,0 @@\n-g\n"
            << headerLines + QStringList{"H@@ -1 +1 @@\n", "A+a\n",      "Hdiff --git a/g b/g\n",
                                         "H--- a/g\n",     "H+++ b/g\n", "H@@ -1 +0,0 @@\n",
                                         "R-g\n"};
    }
    void diffLines()
    {
        QFETCH(QByteArray, diff);
        QFETCH(QStringList, lines);
        TranscriptDocument document;
        document.append(u"what was there before");
        setUnifiedDiff(document, diff);
        QCOMPARE(linesOf(document), lines);
        // Consecutive lines of a role share one run.
        qsizetype changes = 0;
        for (qsizetype i = 0; i < lines.size(); ++i)
            changes += i == 0 || lines[i][0] != lines[i - 1][0];
        QCOMPARE(qsizetype(document.runsIn(0, document.size()).size()), changes);
    }

    void clusterWidths_data()
    {
        QTest::addColumn<QString>("clusters"); // separated by spaces
        QTest::addColumn<int>("width");
        // Controls (C0, DEL, C1) and the zero width space.
        QTest::newRow("none") << u"\x01 \x7f \u0090 \u200B"_s << 0;
        // ASCII, text-default, emoji asked for text, marked letter, mark without
        // base, replacement, lone regional indicator, lone surrogate.
        QTest::newRow("one")
            << u"M \u263A \U0001F600\uFE0E e\u0301 \u0301 \uFFFD \U0001F1E9 \xD800"_s << 1;
        // CJK, Hangul jamo L V T, emoji, ZWJ family, ZWJ on a text-default base,
        // flag, skin tone, VS16 asking for emoji, keycap.
        QTest::newRow("two")
            << QStringLiteral(
                   "\u6f22 \u1100\u1161\u11A8 \U0001F600 "
                   "\U0001F468\u200D\U0001F469\u200D\U0001F467 \u2764\u200D\U0001F525 "
                   "\U0001F1E9\U0001F1EA \U0001F44D\U0001F3FD \u263A\uFE0F 1\uFE0F\u20E3")
            << 2;
    }
    void clusterWidths()
    {
        QFETCH(QString, clusters);
        QFETCH(int, width);
        for (const QString& cluster : clusters.split(u' ')) {
            // One cluster, apart from a control before it and a letter after it.
            const QString text = u'\x02' + cluster + u'b';
            const Transcript::Cluster c = Transcript::clusterAt(text, 1, text.size());
            const QByteArray where = cluster.toUtf8().toHex(' ');
            QVERIFY2(c.end == 1 + cluster.size() && c.width == width, where);
        }
    }

    void rows_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("rows");
        const QString han = u"\u6f22"_s;
        QTest::newRow("fits") << u"hello world"_s << 11 << "hello world";
        QTest::newRow("after the space that fits") << u"hello world"_s << 8 << "hello |world";
        QTest::newRow("spaces past the edge hang") << u"hello   world"_s << 5 << "hello   |world";
        QTest::newRow("long word at the cluster that fails")
            << u"a bcdefgh"_s << 4 << "a |bcde|fgh";
        QTest::newRow("no-break space holds") << u"a\u00a0bc"_s << 3 << u"a\u00a0b|c"_s;
        QTest::newRow("between wide clusters") << han.repeated(3) << 5 << han + han + u'|' + han;
        QTest::newRow("a wrap back before ascii")
            << han + han + u"&\uFFFD\uFFFD"_s << 4 << han + u'|' + han + u"&\uFFFD|\uFFFD"_s;
        QTest::newRow("wide alone in one cell") << han + han << 1 << han + u'|' + han;
        QTest::newRow("marks stay with their base")
            << u"e\u0301"_s.repeated(3) << 2 << u"e\u0301e\u0301|e\u0301"_s;
        QTest::newRow("a tab past the edge hangs") << u"ab\tc\td"_s << 9 << u"ab\tc\t|d"_s;
        const QString controls = u"ab\x01\x7f"_s + u'c';
        QTest::newRow("controls take no cells") << controls << 3 << controls;
        // CR CR LF is two breaks; a break at the end opens a line.
        QTest::newRow("every break")
            << u"a\nb\r\nc\rd\ve\ff\u0085g\u2028h\u2029i\r\r\nj\n"_s << 9
            << u"a\n|b\r\n|c\r|d\v|e\f|f\u0085|g\u2028|h\u2029|i\r|\r\n|j\n|"_s;
    }
    void rows()
    {
        QFETCH(QString, text);
        QFETCH(int, columns);
        QFETCH(QString, rows);
        QCOMPARE(rowsOf(laidOut(text, columns), text), rows);
    }

    // For every width, the rules that must hold of any layout.
    void layoutInvariants()
    {
        const QString text = sample.repeated(3);
        for (int columns = 1; columns <= 40; ++columns) {
            const QByteArray where = "columns " + QByteArray::number(columns);
            const TranscriptLayout layout = laidOut(text, columns);
            const auto rows = layout.rows(text, 0, layout.rowCount());
            QCOMPARE(qint64(rows.size()), layout.rowCount());
            QCOMPARE(rows.back().next, text.size());
            for (const TranscriptLayout::Row& row : rows) {
                // Clusters tile the row; only a lone cluster may be wider than
                // it. Offsets round-trip through (row, cell); one inside a
                // cluster or a line break belongs to its start.
                qsizetype at = row.start;
                int drawn = 0;
                for (const TranscriptLayout::Placed& p : row.clusters) {
                    QVERIFY2(p.start == at, where);
                    at = p.end;
                    drawn += p.kind == ClusterKind::Glyph;
                    const auto pos = layout.positionOf(text, p.start);
                    const qsizetype back = layout.offsetAt(text, pos.row, pos.cell);
                    QVERIFY2(layout.positionOf(text, back) == pos, where);
                    QVERIFY2(back == p.start || p.width == 0, where);
                    for (qsizetype inside = p.start + 1; inside < p.end; ++inside)
                        QVERIFY2(layout.positionOf(text, inside) == pos, where);
                }
                QVERIFY2(at == row.end, where);
                QVERIFY2(row.cells() <= columns || drawn == 1, where);
                const TranscriptLayout::Position end{row.index, row.cells()};
                for (qsizetype inBreak = row.end; row.endsLine && inBreak < row.next; ++inBreak)
                    QVERIFY2(layout.positionOf(text, inBreak) == end, where);
            }
        }
    }

    // Text that arrives in pieces lays out as if it came at once.
    void appendsInPieces()
    {
        for (int columns : {1, 3, 7, 16, 80}) {
            const TranscriptLayout whole = laidOut(sample, columns);
            const QString expected = rowsOf(whole, sample);
            auto check = [&](const TranscriptLayout& pieces, const QByteArray& where) {
                QVERIFY2(rowsOf(pieces, sample) == expected &&
                             pieces.lineCount() == whole.lineCount(),
                         where);
            };
            for (qsizetype cut = 0; cut <= sample.size(); ++cut) {
                TranscriptLayout pieces;
                pieces.setColumns(sample, columns);
                pieces.append(sample.first(cut));
                pieces.append(sample);
                check(pieces, "cut at " + QByteArray::number(cut));
            }
            TranscriptLayout single;
            single.setColumns(sample, columns);
            for (qsizetype end = 1; end <= sample.size(); ++end)
                single.append(sample.first(end));
            check(single, "one unit at a time");
        }
    }

    void findsMatches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QList<qsizetype>>("starts");
        QTest::newRow("any case") << u"Foo FOO foo"_s << u"fOo"_s << QList<qsizetype>{0, 4, 8};
        QTest::newRow("any case beyond ascii")
            << u"Na\u00efve NA\u00cfVE"_s << u"na\u00efve"_s << QList<qsizetype>{0, 6};
        QTest::newRow("no overlap") << u"aaa aaaa"_s << u"aa"_s << QList<qsizetype>{0, 4, 6};
        QTest::newRow("not the letter of a marked letter")
            << u"e\u0301 e \u00e9"_s << u"e"_s << QList<qsizetype>{3};
        QTest::newRow("not inside a joined emoji")
            << u"\U0001F468\u200D\U0001F469 \U0001F469"_s << u"\U0001F469"_s << QList<qsizetype>{6};
        QTest::newRow("not across two flags") << u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"_s
                                              << u"\U0001F1EA\U0001F1EB"_s << QList<qsizetype>{};
        QTest::newRow("not half of CR LF") << u"a\r\nb\nc"_s << u"\n"_s << QList<qsizetype>{4};
        QTest::newRow("a joiner that joins nothing")
            << u"a\u200D\U0001F469 b"_s << u"A\u200D"_s << QList<qsizetype>{0};
        QTest::newRow("across lines") << u"ab\ncd"_s << u"b\nc"_s << QList<qsizetype>{1};
    }

    void findsMatches()
    {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(QList<qsizetype>, starts);
        // Output that arrives in two pieces, searched as it comes: the first
        // in one slice, the rest a unit a slice.
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            TranscriptSearch search;
            search.setQuery(query, Qt::CaseInsensitive);
            QVERIFY(searchToEnd(search, QStringView(text).first(cut), cut + 1));
            QVERIFY(searchToEnd(search, text, 1));
            const std::vector<qsizetype> found = search.matchesIn(text, 0, text.size());
            QVERIFY2(QList<qsizetype>(found.begin(), found.end()) == starts &&
                         search.count() == starts.size(),
                     qPrintable(u"cut at %1"_s.arg(cut)));
        }
    }

    // Next and previous walk every match both ways, past many resume points.
    void stepsThroughMatches()
    {
        QString text;
        QList<qsizetype> starts;
        for (int i = 0; i < 3000; ++i) {
            if (i % 7)
                starts << text.size();
            text += i % 7 ? u"aaa "_s : u"xy "_s;
        }
        // A match may follow inside the last one's text: resuming at the
        // wrong place finds it.
        TranscriptSearch search;
        search.setQuery(u"AA"_s, Qt::CaseInsensitive);
        QVERIFY(searchToEnd(search, text, 1000));
        QCOMPARE(search.count(), starts.size());
        // Each walk stops one past the expected count: a step that goes
        // nowhere fails instead of hanging.
        QList<qsizetype> forward;
        for (qsizetype at = search.nextMatch(text, 0); at >= 0 && forward.size() <= starts.size();
             at = search.nextMatch(text, at + 1))
            forward << at;
        QCOMPARE(forward, starts);
        QList<qsizetype> backward;
        for (qsizetype at = text.size();
             backward.size() <= starts.size() && (at = search.previousMatch(text, at)) >= 0;)
            backward.prepend(at);
        QCOMPARE(backward, starts);
        QCOMPARE(search.matchesIn(text, starts[99] + 1, starts[99] + 2), std::vector{starts[99]});
    }
};

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
