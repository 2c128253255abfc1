#include "text/escapes.h"
#include "text/trim.h"
#include "text/utf8.h"

#include <QTest>

using namespace Qt::StringLiterals;

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
        const QString st = e + u'\\';
        const QString limit(4096, u'p');
        QTest::newRow("colour") << e + "[31mred" + e + "[0m" << QStringLiteral("red");
        QTest::newRow("private '?' and intermediate") << e + "[?25lx" + e + "[2 q"
                                                      << "x";
        QTest::newRow("back to back, final ~") << e + "[1m" + e + "[~" + e + "[K" << QString();
        QTest::newRow("'>', '<', '=', late parameter")
            << e + "[>1ua" + e + "[>4;1mb" + e + "[<uc" + e + "[=5ud" + e + "[!1pe"
            << "abcde";
        QTest::newRow("colon SGR") << e + "[38:2::255:0:0mx" + e + "[38:5:1my"
                                   << "xy";
        QTest::newRow("8-bit CSI") << u"\u009B31mred\u009B0m"_s << "red";
        QTest::newRow("OSC 8 with BEL keeps the link text")
            << e + "]8;;https://example.com/x\alink text" + e + "]8;;\a"
            << "link text";
        QTest::newRow("OSC 8 with ST keeps the link text")
            << e + "]8;id=1;https://example.com/x" + st + "link text" + e + "]8;;" + st
            << "link text";
        QTest::newRow("8-bit OSC 8 and ST")
            << u"\u009D8;;https://\u00E9.fr\u009Ctext\u009D8;;\u009C"_s << "text";
        QTest::newRow("OSC 0 title") << e + "]0;t\u00EFtle \U0001F600\aafter"
                                     << "after";
        QTest::newRow("OSC 52 clipboard") << e + "]52;c;aGVsbG8=\ax" + e + "]52;c;?" + st << "x";
        QTest::newRow("DCS, SOS, PM, APC; BEL inside")
            << e + "P1$r0m" + st + "a" + e + "Xs\as" + st + "b" + e + "^p" + st + "c" + e +
                   "_Gf=100;AAAA" + st + "d" +
                   u"\u0090q\u009Ce\u0098\u009Cf\u009E\u009Cg\u009F\u009C"_s
            << "abcdefg";
        QTest::newRow("other escape sequences")
            << e + "(Ba" + e + "=b" + e + ">c" + e + "7d" + e + "8e" + e + "cf" + e + "#8g" + e +
                   "%Gh" + st + "i"
            << "abcdefghi";
        QTest::newRow("ESC inside a string starts the next sequence")
            << e + "]0;t" + e + "[31mred" + e + "P" + e + "(Bx"
            << "redx";
        const QString can(QChar(0x18)), sub(QChar(0x1A));
        QTest::newRow("CAN and SUB end any sequence")
            << e + "]0;title" + can + "a" + e + "Pq" + sub + "b" + e + "[12" + can + "m" + e + "(" +
                   sub + "B" + e + can + "c"
            << "abmBc";
        QTest::newRow("unterminated string shown after 4096 units")
            << e + "]" + limit + "shown" + e + "[m"
            << "shown";
        QTest::newRow("terminator just in time") << e + "]" + limit + "\aok"
                                                 << "ok";
        QTest::newRow("the limit keeps a surrogate pair whole")
            << e + "P" + limit.first(4095) + u"\U0001F600z"_s << "z";
        QTest::newRow("NEL stays, other C1 go")
            << u"a\u0085b\u0080\u0084\u0086\u009A\u009Cc"_s << u"a\u0085bc"_s;
        QTest::newRow("C1 ends a sequence")
            << e + u"[1\u0085x"_s + e + u"]0;\u009Bmy"_s << u"\u0085xy"_s;
        QTest::newRow("C0 inside a sequence stays, DEL goes") << e + "[3\r\n1\x7Fm" + e + "\t(B"
                                                              << "\r\n\t";
        QTest::newRow("non-ASCII ends CSI and escape")
            << e + "[1\u00E9 " + e + "\u00E0" + e + u"\U0001F600"_s << u"\u00E9 \u00E0\U0001F600"_s;
        QTest::newRow("ESC after ESC starts anew") << e + e + "[mz" + e + "[1" + e + "[2m."
                                                   << "z.";
        // Plain text is tested 16 units at a time: controls are found in any
        // lane (the cuts move the blocks), units sharing a byte with one stay.
        const QString alike = u"0123456789\u011B\uFF1B\u0185\uFF9B\u1B1B\u9B9B\u1B80"_s;
        QTest::newRow("look-alikes in blocks")
            << alike + e + "[1m" + alike + u"\u009C"_s + alike << alike + alike + alike;
        const QString controls = u"\r\b\t\a\v\f\x7F\x18\x1A\x01"_s;
        QTest::newRow("controls outside sequences stay") << controls << controls;
        QTest::newRow("unfinished at end") << "tail" + e + "[1;2 "
                                           << "tail";
        QTest::newRow("string unfinished at end") << "tail" + e + "]8;;http"
                                                  << "tail";
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
