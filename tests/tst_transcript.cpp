#include "transcript/cluster.h"
#include "transcript/transcriptlayout.h"
#include "transcript/transcriptsearch.h"

#include <QTest>

using Transcript::ClusterKind;

namespace {

// The rows of `text` at `columns`, each as the stored text from its start to
// the next row's, joined by "|".
QString rowsOf(const QString& text, int columns)
{
    TranscriptLayout layout;
    layout.setColumns(text, columns);
    layout.append(text);
    QStringList out;
    for (const TranscriptLayout::Row& row : layout.rows(text, 0, layout.rowCount()))
        out << text.sliced(row.start, row.next - row.start);
    return out.join(u'|');
}

// Lines with every kind of cluster, break and space the layout knows.
const QString sample = QStringLiteral(
    "Hello, w\u00f6rld! \u6f22\u5b57\u30c6\u30b9\u30c8 \U0001F468\u200D\U0001F469\u200D\U0001F467 "
    "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7 e\u0301e\u0301 \tTab\x01"
    "ctl \u1100\u1161\uD55C \uFF21\uFF11 ok   spaces  \r\nnext\rline\u2028ls x\U0001F44D\U0001F3FDy"
    "q\U0001D165 \n\nlong-word-without-any-space-at-all \u2764\uFE0F\u263A\uFE0E\u00a0end\r");

} // namespace

class TestTranscript : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void findsMatches_data();
    void findsMatches();
    void stepsThroughMatches();

    void clusterWidths_data()
    {
        QTest::addColumn<QString>("cluster");
        QTest::addColumn<int>("width");
        QTest::newRow("ascii") << QStringLiteral("M") << 1;
        QTest::newRow("cjk") << QStringLiteral("\u6f22") << 2;
        QTest::newRow("hangul jamo L V T") << QStringLiteral("\u1100\u1161\u11A8") << 2;
        QTest::newRow("emoji") << QStringLiteral("\U0001F600") << 2;
        QTest::newRow("zwj family")
            << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467") << 2;
        QTest::newRow("zwj on a text-default base")
            << QStringLiteral("\u2764\u200D\U0001F525") << 2;
        QTest::newRow("flag") << QStringLiteral("\U0001F1E9\U0001F1EA") << 2;
        QTest::newRow("lone regional indicator") << QStringLiteral("\U0001F1E9") << 1;
        QTest::newRow("skin tone") << QStringLiteral("\U0001F44D\U0001F3FD") << 2;
        QTest::newRow("vs16 asks for emoji") << QStringLiteral("\u263A\uFE0F") << 2;
        QTest::newRow("keycap") << QStringLiteral("1\uFE0F\u20E3") << 2;
        QTest::newRow("text-default") << QStringLiteral("\u263A") << 1;
        QTest::newRow("vs15 asks for text") << QStringLiteral("\U0001F600\uFE0E") << 1;
        QTest::newRow("combining acute") << QStringLiteral("e\u0301") << 1;
        QTest::newRow("mark without base") << QStringLiteral("\u0301") << 1;
        QTest::newRow("replacement") << QStringLiteral("\uFFFD") << 1;
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << 1;
        QTest::newRow("c0") << QStringLiteral("\x01") << 0;
        QTest::newRow("del") << QStringLiteral("\x7f") << 0;
        QTest::newRow("c1") << QStringLiteral("\u0090") << 0;
        QTest::newRow("zero width space") << QStringLiteral("\u200B") << 0;
    }
    void clusterWidths()
    {
        QFETCH(QString, cluster);
        QFETCH(int, width);
        // One cluster, apart from a control before it and a letter after it.
        const QString text = u'\x02' + cluster + u'b';
        const Transcript::Cluster c = Transcript::clusterAt(text, 1, text.size());
        QCOMPARE(c.end, 1 + cluster.size());
        QCOMPARE(c.width, width);
    }

    void rows_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("rows");
        const QString han = QStringLiteral("\u6f22");
        QTest::newRow("fits") << QStringLiteral("hello world") << 11 << "hello world";
        QTest::newRow("after the space that fits")
            << QStringLiteral("hello world") << 8 << "hello |world";
        QTest::newRow("spaces past the edge hang")
            << QStringLiteral("hello   world") << 5 << "hello   |world";
        QTest::newRow("long word at the cluster that fails")
            << QStringLiteral("a bcdefgh") << 4 << "a |bcde|fgh";
        QTest::newRow("no-break space holds")
            << QStringLiteral("a\u00a0bc") << 3 << QStringLiteral("a\u00a0b|c");
        QTest::newRow("between wide clusters") << han.repeated(3) << 5 << han + han + u'|' + han;
        QTest::newRow("narrow then wide")
            << QStringLiteral("a") + han + han << 4 << QStringLiteral("a") + han + u'|' + han;
        QTest::newRow("a wrap back before ascii")
            << han + han + QStringLiteral("&\uFFFD\uFFFD") << 4
            << han + u'|' + han + QStringLiteral("&\uFFFD|\uFFFD");
        QTest::newRow("wide alone in one cell") << han + han << 1 << han + u'|' + han;
        QTest::newRow("marks stay with their base") << QStringLiteral("e\u0301").repeated(3) << 2
                                                    << QStringLiteral("e\u0301e\u0301|e\u0301");
        QTest::newRow("a tab past the edge hangs")
            << QStringLiteral("ab\tc\td") << 9 << QStringLiteral("ab\tc\t|d");
        QTest::newRow("controls take no cells") << QStringLiteral("ab\x01\x7f"
                                                                  "c")
                                                << 3
                                                << QStringLiteral("ab\x01\x7f"
                                                                  "c");
        QTest::newRow("every break")
            << QStringLiteral("a\nb\r\nc\rd\ve\ff\u0085g\u2028h\u2029i") << 9
            << QStringLiteral("a\n|b\r\n|c\r|d\v|e\f|f\u0085|g\u2028|"
                              "h\u2029|i");
        QTest::newRow("cr cr lf is two breaks")
            << QStringLiteral("a\r\r\nb") << 9 << QStringLiteral("a\r|\r\n|b");
        QTest::newRow("break at the end opens a line")
            << QStringLiteral("a\n") << 9 << QStringLiteral("a\n|");
    }
    void rows()
    {
        QFETCH(QString, text);
        QFETCH(int, columns);
        QFETCH(QString, rows);
        QCOMPARE(rowsOf(text, columns), rows);
    }

    // For every width, the rules that must hold of any layout.
    void layoutInvariants()
    {
        const QString text = sample.repeated(3);
        for (int columns = 1; columns <= 40; ++columns) {
            const QByteArray where = "columns " + QByteArray::number(columns);
            TranscriptLayout layout;
            layout.setColumns(text, columns);
            layout.append(text);
            const auto rows = layout.rows(text, 0, layout.rowCount());
            QCOMPARE(qint64(rows.size()), layout.rowCount());
            QCOMPARE(rows.back().next, text.size());
            std::vector<TranscriptLayout::Placed> clusters;
            for (const TranscriptLayout::Row& row : rows) {
                // Clusters tile the row; only a lone cluster may be wider than it.
                qsizetype at = row.start;
                int drawn = 0;
                for (const TranscriptLayout::Placed& p : row.clusters) {
                    QVERIFY2(p.start == at, where);
                    at = p.end;
                    clusters.push_back(p);
                    drawn += p.kind == ClusterKind::Glyph;
                }
                QVERIFY2(at == row.end, where);
                QVERIFY2(row.cells() <= columns || drawn == 1, where);
                const TranscriptLayout::Position end{row.index, row.cells()};
                for (qsizetype inBreak = row.end; row.endsLine && inBreak < row.next; ++inBreak)
                    QVERIFY2(layout.positionOf(text, inBreak) == end, where);
            }

            // Offsets round-trip through (row, cell); one inside a cluster
            // or a line break belongs to its start.
            for (size_t i = 0; i < clusters.size(); ++i) {
                const TranscriptLayout::Placed& p = clusters[i];
                const auto pos = layout.positionOf(text, p.start);
                const qsizetype back = layout.offsetAt(text, pos.row, pos.cell);
                QVERIFY2(layout.positionOf(text, back) == pos, where);
                QVERIFY2(back == p.start || p.width == 0, where);
                for (qsizetype inside = p.start + 1; inside < p.end; ++inside)
                    QVERIFY2(layout.positionOf(text, inside) == pos, where);
            }
        }
    }

    // Text that arrives in pieces lays out as if it came at once.
    void appendsInPieces()
    {
        const QString text = sample;
        for (int columns : {1, 3, 7, 16, 80}) {
            TranscriptLayout whole;
            whole.setColumns(text, columns);
            whole.append(text);
            const auto expected = whole.rows(text, 0, whole.rowCount());
            auto check = [&](TranscriptLayout& pieces, const QByteArray& where) {
                QVERIFY2(pieces.rowCount() == whole.rowCount(), where);
                QVERIFY2(pieces.lineCount() == whole.lineCount(), where);
                const auto got = pieces.rows(text, 0, pieces.rowCount());
                for (size_t r = 0; r < got.size(); ++r)
                    QVERIFY2(got[r].start == expected[r].start && got[r].next == expected[r].next,
                             where + " row " + QByteArray::number(qint64(r)));
            };
            for (qsizetype cut = 0; cut <= text.size(); ++cut) {
                TranscriptLayout pieces;
                pieces.setColumns(text, columns);
                pieces.append(text.first(cut));
                pieces.append(text);
                check(pieces, "cut at " + QByteArray::number(cut));
            }
            TranscriptLayout single;
            single.setColumns(text, columns);
            for (qsizetype end = 1; end <= text.size(); ++end)
                single.append(text.first(end));
            check(single, "one unit at a time");
        }
    }
};

void TestTranscript::findsMatches_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QList<qsizetype>>("starts");
    QTest::newRow("ascii") << QStringLiteral("foo bar foo") << QStringLiteral("foo") << false
                           << QList<qsizetype>{0, 8};
    QTest::newRow("any case") << QStringLiteral("Foo FOO foo") << QStringLiteral("fOo") << false
                              << QList<qsizetype>{0, 4, 8};
    QTest::newRow("any case beyond ascii")
        << QStringLiteral("Na\u00efve NA\u00cfVE") << QStringLiteral("na\u00efve") << false
        << QList<qsizetype>{0, 6};
    QTest::newRow("match case") << QStringLiteral("Foo FOO foo") << QStringLiteral("foo") << true
                                << QList<qsizetype>{8};
    QTest::newRow("no overlap") << QStringLiteral("aaa aaaa") << QStringLiteral("aa") << false
                                << QList<qsizetype>{0, 4, 6};
    QTest::newRow("not the letter of a marked letter")
        << QStringLiteral("e\u0301 e \u00e9") << QStringLiteral("e") << false
        << QList<qsizetype>{3};
    QTest::newRow("wide") << QStringLiteral("\u6f22\u5b57 \u6f22\u5b57") << QStringLiteral("\u5b57")
                          << false << QList<qsizetype>{1, 4};
    QTest::newRow("not inside a joined emoji")
        << QStringLiteral("\U0001F468\u200D\U0001F469 \U0001F469") << QStringLiteral("\U0001F469")
        << false << QList<qsizetype>{6};
    QTest::newRow("not across two flags")
        << QStringLiteral("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7")
        << QStringLiteral("\U0001F1EA\U0001F1EB") << false << QList<qsizetype>{};
    QTest::newRow("not half of CR LF")
        << QStringLiteral("a\r\nb\nc") << QStringLiteral("\n") << false << QList<qsizetype>{4};
    QTest::newRow("a joiner that joins nothing")
        << QStringLiteral("a\u200D\U0001F469 b") << QStringLiteral("A\u200D") << false
        << QList<qsizetype>{0};
    QTest::newRow("across lines") << QStringLiteral("ab\ncd") << QStringLiteral("b\nc") << false
                                  << QList<qsizetype>{1};
}

void TestTranscript::findsMatches()
{
    QFETCH(QString, text);
    QFETCH(QString, query);
    QFETCH(bool, matchCase);
    QFETCH(QList<qsizetype>, starts);
    const auto cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    auto found = [&](const TranscriptSearch& search) {
        const std::vector<qsizetype> all = search.matchesIn(text, 0, text.size());
        return QList<qsizetype>(all.begin(), all.end());
    };
    TranscriptSearch whole;
    whole.setQuery(query, cs);
    QVERIFY(whole.searchMore(text, text.size()));
    QCOMPARE(found(whole), starts);
    QCOMPARE(whole.count(), starts.size());

    // Output that arrives in two pieces, searched as it comes, a unit a slice.
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        TranscriptSearch pieces;
        pieces.setQuery(query, cs);
        while (!pieces.searchMore(QStringView(text).first(cut), 1)) {
        }
        while (!pieces.searchMore(text, 1)) {
        }
        QVERIFY2(found(pieces) == starts && pieces.count() == starts.size(),
                 qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
}

// Next and previous walk every match both ways, past many resume points.
void TestTranscript::stepsThroughMatches()
{
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += i % 7 ? QStringLiteral("ab ") : QStringLiteral("xy ");
    TranscriptSearch search;
    search.setQuery(QStringLiteral("AB"), Qt::CaseInsensitive);
    while (!search.searchMore(text, 1000)) {
    }
    const std::vector<qsizetype> all = search.matchesIn(text, 0, text.size());
    QCOMPARE(qsizetype(all.size()), search.count());
    QCOMPARE(search.count(), text.count(QStringLiteral("ab")));
    qsizetype at = -1;
    for (qsizetype start : all) {
        at = search.nextMatch(text, at + 1);
        QCOMPARE(at, start);
    }
    QCOMPARE(search.nextMatch(text, at + 1), -1);
    at = text.size();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        at = search.previousMatch(text, at);
        QCOMPARE(at, *it);
    }
    QCOMPARE(search.previousMatch(text, at), -1);
    QCOMPARE(search.matchesIn(text, 301, 303), std::vector<qsizetype>{300});
}

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
