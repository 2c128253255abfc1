#include "text/escapes.h"
#include "text/trim.h"
#include "text/utf8.h"

#include <QTest>

// Meaningful examples only: the fuzz targets in tests/fuzz compare streaming
// decoding and cleaning with whole-input results for random inputs and cuts.

namespace {

const QString f(QChar(0xFFFD));
const QString e(QChar(0x1B));

// Feeds `input` to a new Stream through `feed`, cut once at every offset, then
// one unit at a time, and checks that streaming gives the same text as `whole`.
template <typename Stream, typename Input>
void checkCuts(Input input, const QString& whole, QString (Stream::*feed)(Input))
{
    for (qsizetype cut = 0; cut <= input.size(); ++cut) {
        Stream stream;
        QString got = (stream.*feed)(input.first(cut));
        got += (stream.*feed)(input.sliced(cut));
        got += stream.finish();
        QVERIFY2(got == whole, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
    Stream stream;
    QString got;
    for (qsizetype i = 0; i < input.size(); ++i)
        got += (stream.*feed)(input.sliced(i, 1));
    got += stream.finish();
    QCOMPARE(got, whole);
}

} // namespace

class TestText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("edges of the 1- to 4-byte ranges")
            << QByteArray("\x7F\xC2\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
                          "\xF4\x8F\xBF\xBF")
            << QStringLiteral("\x7F\u0080\uD7FF\uE000\uFFFF\U00010000\U0010FFFF");
        QTest::newRow("overlongs, surrogate, above U+10FFFF, lone continuations, never a lead")
            << QByteArray("\xC0\xAF\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80\x80\xBF\xF5\xFE\xFF")
            << f.repeated(17);
        QTest::newRow("incomplete at end") << QByteArray("ok\xF0\x9F\x98") << "ok" + f;
        // The worked example that follows table 3-8 of the Unicode Standard.
        QTest::newRow("standard example")
            << QByteArray("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64")
            << u'a' + f.repeated(3) + u'b' + f + u'c' + f.repeated(2) + u'd';
        // ASCII goes 16 bytes at a time: a character after a block, and one inside.
        QTest::newRow("ascii blocks")
            << QByteArray(16, 'x') + "\xC3\xA9" + QByteArray(15, 'y') + "\xC3\xA9"
            << QString(16, u'x') + u'\u00E9' + QString(15, u'y') + u'\u00E9';
    }
    void decodesUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(decodeUtf8(bytes), expected);
        checkCuts(QByteArrayView(bytes), expected, &Utf8Decoder::decode);
    }

    void removesEscapes_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("colour") << e + "[31mred" + e + "[0m" << QStringLiteral("red");
        QTest::newRow("private '?' and intermediate") << e + "[?25lx" + e + "[2 q"
                                                      << "x";
        QTest::newRow("back to back, final ~") << e + "[1m" + e + "[~" + e + "[K" << QString();
        const QString unmatched = e + "[>4;1m " + e + "[38:5:1m " + e + "[!1p " + e + "[1\x7F " +
                                  e + "[1\u00E9 " + e + "]0;title\a " + e + "(B \r\b\t\a";
        QTest::newRow("'>', ':', late parameter, DEL, non-ascii, OSC, no '[', controls stay")
            << unmatched << unmatched;
        QTest::newRow("lone and unfinished before a sequence")
            << e + e + "[mz" + e + "[1" + e + "[2m." << e + "z" + e + "[1.";
        QTest::newRow("unfinished at end") << "tail" + e + "[1;2 "
                                           << "tail" + e + "[1;2 ";
    }
    void removesEscapes()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(removeEscapes(input), expected);
        checkCuts(QStringView(input), expected, &EscapeCleaner::clean);
    }

    void trims()
    {
        const QString all =
            QStringLiteral("\t \u00A0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
                           "\u2007\u2008\u2009\u200A\u202F\u205F\u3000"
                           "\n\v\f\r\u0085\u2028\u2029");
        QVERIFY(holdsOnlyBlanksAndLineBreaks(all));
        // Zero width space, Mongolian vowel separator, word joiner: not blanks.
        const QString kept = QStringLiteral("\u200Bx  y\u180E\u2060");
        QCOMPARE(trimmedBlanksAndLineBreaks(all + kept + all), kept);
        // A surrogate pair at an edge is kept whole.
        QCOMPARE(trimmedBlanksAndLineBreaks(u"\u2029 \U0001F600 "), QStringLiteral("\U0001F600"));
    }

    void splitsTrimmedLinesAsBytes()
    {
        // Every line break splits (CR LF leaves nothing between its halves);
        // Unicode blanks are trimmed, blank lines dropped, and ill-formed
        // bytes stay as they are.
        QCOMPARE(blankTrimmedLines("1\r\n2\n\r3\v4\f5\r6\xc2\x85"
                                   "7\xe2\x80\xa8"
                                   "8\xe2\x80\xa9"
                                   "9\n \t\xc2\xa0/a b\xff\xe3\x80\x80\n\r\n\xe2\x80\xa8 \t\n"
                                   "\xe2\x80\xff\xe3\x80"),
                 (QList<QByteArray>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "/a b\xff",
                                    "\xe2\x80\xff\xe3\x80"}));
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
