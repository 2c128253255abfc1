#include "text/escapes.h"
#include "text/trim.h"
#include "text/utf8.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString fffd(QChar(0xFFFD));

QString regexReference(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("\x1b\\[[0-9;?]*[ -/]*[@-~]"));
    return QString(text).replace(pattern, QString());
}

// Feeds `input` to a fresh streaming object cut at every offset, at every
// pair of offsets, and one unit at a time, and checks each result against
// `whole`.
template <typename Stream, typename Input>
void checkEveryCut(const Input& input, const QString& whole)
{
    const auto run = [&](const QList<qsizetype>& cuts) {
        Stream stream;
        QString out;
        qsizetype from = 0;
        for (qsizetype cut : cuts) {
            out += stream.decodeOrClean(input.sliced(from, cut - from));
            from = cut;
        }
        out += stream.decodeOrClean(input.sliced(from));
        out += stream.finish();
        return out;
    };
    const qsizetype n = input.size();
    for (qsizetype i = 0; i <= n; ++i) {
        for (qsizetype j = i; j <= n; ++j) {
            const QString got = run({i, j});
            if (got != whole)
                QFAIL(
                    qPrintable(QStringLiteral("cut at %1 and %2 gives %3, not %4")
                                   .arg(i)
                                   .arg(j)
                                   .arg(QString::fromLatin1(got.toUtf8().toPercentEncoding()),
                                        QString::fromLatin1(whole.toUtf8().toPercentEncoding()))));
        }
    }
    QList<qsizetype> everyUnit;
    for (qsizetype i = 1; i < n; ++i)
        everyUnit.append(i);
    QCOMPARE(run(everyUnit), whole);
}

// Uniform names for the two streaming classes, so one helper drives both.
struct Utf8Stream : Utf8Decoder {
    QString decodeOrClean(QByteArrayView chunk) { return decode(chunk); }
};
struct EscapeStream : EscapeCleaner {
    QString decodeOrClean(QStringView chunk) { return clean(chunk); }
};

} // namespace

class TestText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString f = fffd;
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ascii") << QByteArray("plain text\r\n") << QStringLiteral("plain text\r\n");
        QTest::newRow("two-byte") << QByteArray("caf\xC3\xA9") << QStringLiteral("caf\u00E9");
        QTest::newRow("three-byte") << QByteArray("\xE2\x82\xAC") << QStringLiteral("\u20AC");
        QTest::newRow("four-byte")
            << QByteArray("a\xF0\x9F\x98\x80z") << QStringLiteral("a\U0001F600z");
        QTest::newRow("edges of the ranges")
            << QByteArray("\xC2\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
                          "\xF4\x8F\xBF\xBF")
            << QStringLiteral("\u0080\uD7FF\uE000\uFFFF\U00010000\U0010FFFF");
        QTest::newRow("truncated four-byte then ascii")
            << QByteArray("\xF0\x9F\x98\x41") << f + u'A';
        QTest::newRow("overlong two-byte") << QByteArray("\xC0\xAF") << f + f;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << f + f + f;
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << f + f + f + f;
        QTest::newRow("lone continuations") << QByteArray("\x80\xBF\x80") << f + f + f;
        QTest::newRow("overlong three-byte") << QByteArray("\xE0\x80\x80") << f + f + f;
        QTest::newRow("overlong four-byte") << QByteArray("\xF0\x8F\xBF\xBF") << f + f + f + f;
        QTest::newRow("never a lead") << QByteArray("\xF5\xFE\xFF") << f + f + f;
        QTest::newRow("truncated three-byte mid text")
            << QByteArray("a\xE2\x82z") << u'a' + f + u'z';
        QTest::newRow("truncated at end")
            << QByteArray("ok\xF0\x9F\x98") << QStringLiteral("ok") + f;
        QTest::newRow("lead at end") << QByteArray("ok\xE2") << QStringLiteral("ok") + f;
        QTest::newRow("new lead cuts a sequence")
            << QByteArray("\xE2\x82\xE2\x82\xAC") << f + QStringLiteral("\u20AC");
        // The worked example that follows table 3-8 of the Unicode Standard.
        QTest::newRow("standard example")
            << QByteArray("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64")
            << u'a' + f + f + f + u'b' + f + u'c' + f + f + u'd';
        const QByteArray run16(16, 'x');
        QTest::newRow("multi-byte between ascii blocks")
            << run16 + "\xC3\xA9" + run16 + "\xF0\x9F\x98" + run16
            << QString::fromLatin1(run16) + u'\u00E9' + QString::fromLatin1(run16) + f +
                   QString::fromLatin1(run16);
        QTest::newRow("high byte last in an ascii block")
            << QByteArray(15, 'y') + "\xC3\xA9" << QString(15, u'y') + u'\u00E9';
    }

    void decodesUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(decodeUtf8(bytes), expected);
        checkEveryCut<Utf8Stream>(QByteArrayView(bytes), expected);
    }

    void decodesValidUtf8LikeQt()
    {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 300; ++round) {
            QString text;
            const int length = random.bounded(40);
            for (int i = 0; i < length; ++i) {
                // Mostly the 1-, 2-, 3- and 4-byte ranges near their edges.
                static const char32_t bases[] = {0x20,   0x7F,    0x80,     0x7FF,  0x800,
                                                 0xFFFF, 0x10000, 0x10FFFF, 0xD7FF, 0xE000};
                char32_t c = bases[random.bounded(10)] + random.bounded(0x300) - 0x180;
                if (c < 0x20 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                    c = u'?';
                text += QString::fromUcs4(&c, 1);
            }
            QCOMPARE(decodeUtf8(text.toUtf8()), text);
        }
    }

    void removesEscapes_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString e(QChar(0x1B));
        QTest::newRow("plain") << QStringLiteral("no escapes here")
                               << QStringLiteral("no escapes here");
        QTest::newRow("colour") << e + "[31mred" + e + "[0m" << QStringLiteral("red");
        QTest::newRow("hide cursor") << e + "[?25lx" << QStringLiteral("x");
        QTest::newRow("cursor position") << e + "[12;40H@" << QStringLiteral("@");
        QTest::newRow("no parameters, final ~") << e + "[~|" << QStringLiteral("|");
        QTest::newRow("intermediate") << e + "[2 qbar" << QStringLiteral("bar");
        QTest::newRow("private '>' stays") << e + "[>4;1mx" << e + "[>4;1mx";
        QTest::newRow("colon parameters stay") << e + "[38:5:1mx" << e + "[38:5:1mx";
        QTest::newRow("parameter after intermediate stays") << e + "[!1p" << e + "[!1p";
        QTest::newRow("DEL is no final") << e + "[1\x7F" << e + "[1\x7F";
        QTest::newRow("non-ascii is no final")
            << e + QStringLiteral("[1\u00E9") << e + QStringLiteral("[1\u00E9");
        QTest::newRow("CR, BS, tab, BEL stay")
            << QStringLiteral("a\rb\bc\td\a") << QStringLiteral("a\rb\bc\td\a");
        QTest::newRow("OSC stays") << e + "]0;title\a" + e + "[1mX" << e + "]0;title\aX";
        QTest::newRow("escape without bracket") << e + "(Bok" << e + "(Bok";
        QTest::newRow("escape before a sequence") << e + e + "[mz" << e + "z";
        QTest::newRow("unfinished before a sequence") << e + "[1" + e + "[2m." << e + "[1.";
        QTest::newRow("lone escape at end") << "tail" + e << "tail" + e;
        QTest::newRow("unfinished at end") << "tail" + e + "[1;2 "
                                           << "tail" + e + "[1;2 ";
        QTest::newRow("back to back") << e + "[1m" + e + "[2m" + e + "[K" << QString();
    }

    void removesEscapes()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(regexReference(input), expected); // the rows state what the pattern means
        QCOMPARE(removeEscapes(input), expected);
        checkEveryCut<EscapeStream>(QStringView(input), expected);
    }

    void removesEscapesLikeTheRegex()
    {
        const QString alphabet =
            QStringLiteral("\x1b\x1b\x1b[[[0123456789;;??  //@@~~>:!Amz\r\n\u00E9");
        QRandomGenerator random(7);
        for (int round = 0; round < 400; ++round) {
            QString text;
            const int length = random.bounded(48);
            for (int i = 0; i < length; ++i)
                text += alphabet[random.bounded(int(alphabet.size()))];
            const QString expected = regexReference(text);
            QCOMPARE(removeEscapes(text), expected);
            // Three random cuts each round; every cut is covered by the rows above.
            EscapeCleaner cleaner;
            QString streamed;
            qsizetype from = 0;
            for (int k = 0; k < 3; ++k) {
                const qsizetype to = from + random.bounded(int(text.size() - from) + 1);
                streamed += cleaner.clean(QStringView(text).sliced(from, to - from));
                from = to;
            }
            streamed += cleaner.clean(QStringView(text).sliced(from));
            streamed += cleaner.finish();
            QCOMPARE(streamed, expected);
        }
    }

    void blanksAreTabAndSpaceSeparators()
    {
        QList<char32_t> blanks;
        QList<char32_t> breaks;
        for (char32_t c = 0; c <= 0x10FFFF; ++c) {
            if (isBlank(c))
                blanks.append(c);
            if (isLineBreak(c))
                breaks.append(c);
        }
        QCOMPARE(blanks, (QList<char32_t>{0x09, 0x20, 0xA0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
                                          0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
                                          0x202F, 0x205F, 0x3000}));
        QCOMPARE(breaks, (QList<char32_t>{0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0x2028, 0x2029}));
    }

    void trims_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("blanks");
        QTest::addColumn<QString>("blanksAndBreaks");
        QTest::newRow("empty") << QString() << QString() << QString();
        QTest::newRow("only blanks") << QStringLiteral(" \t\u3000") << QString() << QString();
        QTest::newRow("inner kept")
            << QStringLiteral("\u00A0a  b\t") << QStringLiteral("a  b") << QStringLiteral("a  b");
        QTest::newRow("breaks outside blanks")
            << QStringLiteral("\n  x \r\n") << QStringLiteral("\n  x \r\n") << QStringLiteral("x");
        QTest::newRow("zero-width space is no blank")
            << QStringLiteral("\u200Bx\u200B") << QStringLiteral("\u200Bx\u200B")
            << QStringLiteral("\u200Bx\u200B");
        QTest::newRow("astral edges stay")
            << QStringLiteral(" \U0001F600 \u2029") << QStringLiteral("\U0001F600 \u2029")
            << QStringLiteral("\U0001F600");
    }

    void trims()
    {
        QFETCH(QString, input);
        QFETCH(QString, blanks);
        QFETCH(QString, blanksAndBreaks);
        QCOMPARE(trimmedBlanks(input), blanks);
        QCOMPARE(trimmedBlanksAndLineBreaks(input), blanksAndBreaks);
    }

    void splitsNonEmptyLines_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("only breaks") << QStringLiteral("\r\n\n\r\u2028") << QStringList();
        QTest::newRow("no final break") << QStringLiteral("a\nb") << QStringList{"a", "b"};
        QTest::newRow("CR LF") << QStringLiteral("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("LF CR") << QStringLiteral("a\n\rb") << QStringList{"a", "b"};
        QTest::newRow("blank line kept")
            << QStringLiteral("a\n \t\nb") << QStringList{"a", " \t", "b"};
        QTest::newRow("every break") << QStringLiteral("1\n2\v3\f4\r5\u00856\u20287\u20298")
                                     << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"};
        QTest::newRow("text untrimmed") << QStringLiteral("  x  \n") << QStringList{"  x  "};
    }

    void splitsNonEmptyLines()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, lines);
        QCOMPARE(nonEmptyLines(input), lines);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
