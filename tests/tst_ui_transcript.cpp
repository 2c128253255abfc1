#include "testsupport.h"
#include "transcript/transcriptdocument.h"
#include "ui/contentview.h"
#include "ui/transcriptview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTest>

#include <climits>

using namespace Qt::StringLiterals;

namespace {

// How many pixels of `area` of the viewport are painted in other than the background.
int inked(TranscriptView& view, const QRect& area)
{
    const QImage shot = view.grab(view.viewport()->geometry()).toImage();
    const QRgb background = view.palette().color(QPalette::Base).rgb();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += shot.pixel(x, y) != background;
    return count;
}

// A view over a string the test owns and changes, as a runner owns its output.
struct Shown {
    Shown()
    {
        view.setSource([this] { return QStringView(text); });
        view.resize(400, 200);
        view.show();
    }
    // A point near the top left of a character cell, in viewport coordinates:
    // inside the cell but above its glyph's ink. For a view not at its end.
    QPoint cell(qint64 row, qsizetype column) const
    {
        const QFontMetricsF metrics(view.font());
        const qreal x = TranscriptView::padding + (column + 0.25) * metrics.horizontalAdvance(u'M');
        return {int(x), int(TranscriptView::padding +
                            (row - view.topRow()) * qCeil(metrics.lineSpacing()) + 1)};
    }
    // Whether the cell that holds `offset` is painted in other than the background.
    bool painted(qsizetype offset)
    {
        const auto pos = view.layout().positionOf(text, offset);
        return inked(view, QRect(cell(pos.row, pos.cell), QSize(1, 1))) == 1;
    }
    // Replaces the text, as a new run does.
    void setText(const QString& replacement)
    {
        text = replacement;
        view.resetText();
    }
    // The word under `y` (in the viewport) at `column`, as a double click selects it.
    QString wordAt(int y, qsizetype column)
    {
        const QFontMetricsF metrics(view.font());
        const qreal x = TranscriptView::padding + (column + 0.5) * metrics.horizontalAdvance(u'M');
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(int(x), y));
        return view.selectedText();
    }
    int lineHeight() const { return qCeil(QFontMetricsF(view.font()).lineSpacing()); }
    // Viewport y of the middle of the last row that fits above the bottom padding.
    int bottomRowY() const
    {
        return view.viewport()->height() - TranscriptView::padding - lineHeight() / 2;
    }

    QString text;
    TranscriptView view;
};

// A view over a document with a line of "X" in each role, one per row,
// then a line half normal, half error.
struct Styled {
    static constexpr int width = 8;
    static constexpr TextRole roles[] = {
        TextRole::Normal, TextRole::Dim,       TextRole::Prompt,      TextRole::Tool,
        TextRole::Error,  TextRole::DiffAdded, TextRole::DiffRemoved, TextRole::DiffHeader};
    static constexpr int mixedRow = std::size(roles);
    static constexpr QSize size{400, 300};
    Styled()
    {
        view.setSource([this] { return document.text(); });
        view.setStyles([this](qsizetype from, qsizetype to) { return document.runsIn(from, to); });
        for (TextRole role : roles)
            document.append(QString(width, u'X') + u'\n', role);
        document.append(QString(width / 2, u'X'));
        document.append(QString(width / 2, u'X'), TextRole::Error);
        document.append(u"\n");
        view.resize(size);
        view.show();
        view.resetText();
    }
    // What is painted in `row` between cells `from` and `to` (all of it by default).
    struct Ink {
        int pixels = 0;
        // The sum of every pixel's distance from the background.
        qint64 mass = 0;
        int reddish = 0;
        // The pixel farthest from the background, and how far.
        QRgb strongest = 0;
        int distance = 0;
        // One past the rightmost inked x.
        int right = 0;
    };
    Ink inkOf(int row, qreal from = -1, qreal to = 1000)
    {
        const QImage shot = view.grab(view.viewport()->geometry()).toImage();
        const QFontMetricsF metrics(view.font());
        const int lineHeight = qCeil(metrics.lineSpacing());
        const QRgb background = view.palette().color(QPalette::Base).rgb();
        const int top = TranscriptView::padding + row * lineHeight;
        Ink ink;
        for (int y = top; y < top + lineHeight; ++y) {
            const qreal left = TranscriptView::padding + from * metrics.horizontalAdvance(u'M');
            const qreal right = TranscriptView::padding + to * metrics.horizontalAdvance(u'M');
            for (int x = std::max(0, qCeil(left)); x < std::min<qreal>(shot.width(), right); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                const int distance = qAbs(qRed(pixel) - qRed(background)) +
                                     qAbs(qGreen(pixel) - qGreen(background)) +
                                     qAbs(qBlue(pixel) - qBlue(background));
                if (distance == 0)
                    continue;
                ++ink.pixels;
                ink.mass += distance;
                ink.reddish += qRed(pixel) > qGreen(pixel) + 60 && qRed(pixel) > qBlue(pixel) + 60;
                ink.right = x + 1;
                if (distance > ink.distance) {
                    ink.distance = distance;
                    ink.strongest = pixel;
                }
            }
        }
        return ink;
    }
    static int distance(QRgb a, QRgb b)
    {
        return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
    }

    TranscriptDocument document;
    TranscriptView view;
};

} // namespace

class TestTranscriptView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mouseSelectsAcrossLines()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(u"alpha beta\ngamma delta\n"_s);
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(0, 6));
        QCOMPARE(QApplication::focusWidget(), &s.view); // the Edit menu acts on it now
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, s.cell(1, 5));
        QCOMPARE(s.view.selectedText(), u"beta\ngamma"_s);

        QTest::mousePress(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 0));
        QTest::mouseMove(s.view.viewport(), s.cell(1, 3));
        QTest::mouseRelease(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 5));
        QCOMPARE(s.view.selectedText(), u"gamma"_s);

        QTest::mouseDClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 8));
        QCOMPARE(s.view.selectedText(), u"delta"_s);
        QTest::keySequence(&s.view, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), u"delta"_s);

        // A click past the end of a line lands before its line break.
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(0, 30));
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, s.cell(1, 1));
        QCOMPARE(s.view.selectedText(), u"\ng"_s);
    }

    // Each role is painted in its colour and weight, in the cells the text
    // has without roles, on a light background and on a dark one; a
    // selection's colour wins over the role's.
    void rolesPaintTheirRuns_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void rolesPaintTheirRuns()
    {
        QFETCH(bool, dark);
        Styled s;
        if (dark) {
            QPalette palette = s.view.palette();
            palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
            palette.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
            palette.setColor(QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80));
            palette.setColor(QPalette::Link, QColor(0x4a, 0x9e, 0xff));
            s.view.setPalette(palette);
        }
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        QTRY_VERIFY(!s.view.frameDue());
        std::array<Styled::Ink, std::size(Styled::roles)> ink;
        for (int row = 0; row < Styled::mixedRow; ++row) {
            ink[row] = s.inkOf(row);
            QVERIFY2(ink[row].pixels > 0, qPrintable(QString::number(row)));
        }
        const auto& [normal, dim, prompt, tool, error, added, removed, header] = ink;
        // Errors and removed lines read red, added ones green, strongly enough.
        QVERIFY(error.reddish > error.pixels / 4 && removed.reddish > removed.pixels / 4);
        for (const Styled::Ink& notRed : {normal, dim, prompt, tool, added, header})
            QCOMPARE(notRed.reddish, 0);
        QVERIFY(qGreen(added.strongest) > qRed(added.strongest) + 40 &&
                qGreen(added.strongest) > qBlue(added.strongest) + 20);
        QVERIFY2(added.distance > 200 && removed.distance > 200,
                 qPrintable(u"%1 %2"_s.arg(added.distance).arg(removed.distance)));
        // A role that changes inside a row, away from the cells' shared edge.
        QVERIFY(s.inkOf(Styled::mixedRow, 0, 3).reddish == 0 &&
                s.inkOf(Styled::mixedRow, 5, 8).reddish > 0);
        // Dim, tool and diff header ink is fainter than the text's; the tool's leans to blue.
        for (const Styled::Ink& faint : {dim, tool, header})
            QVERIFY(faint.distance < normal.distance - 60);
        QVERIFY(qBlue(tool.strongest) > qRed(tool.strongest) + 40);
        // The prompt in the text's colour, bolder, but in the same cells.
        QVERIFY(Styled::distance(prompt.strongest, normal.strongest) < 40);
        QVERIFY(prompt.mass > normal.mass * 5 / 4);
        const qreal cells = TranscriptView::padding +
                            Styled::width * QFontMetricsF(s.view.font()).horizontalAdvance(u'M');
        QVERIFY(prompt.right <= qCeil(cells) + 1 && normal.right <= qCeil(cells) + 1);

        // The same rows and wraps as the text laid out without roles.
        s.view.resize(TranscriptView::padding * 2 + 50, Styled::size.height());
        QTRY_VERIFY(!s.view.frameDue());
        TranscriptLayout plain;
        plain.setColumns({}, s.view.columnCount());
        plain.append(s.document.text());
        QVERIFY(s.view.rowCount() > s.view.lineCount());
        QCOMPARE(s.view.rowCount(), plain.rowCount());

        s.view.resize(Styled::size);
        QTRY_VERIFY(!s.view.frameDue());
        s.view.selectAll();
        const Styled::Ink selectedNormal = s.inkOf(0);
        for (int row = 1; row <= Styled::mixedRow; ++row) {
            const Styled::Ink selected = s.inkOf(row);
            QVERIFY2(selected.reddish == 0 &&
                         Styled::distance(selected.strongest, selectedNormal.strongest) < 40,
                     qPrintable(QString::number(row)));
        }
    }

    // Wide characters take two cells each, so their rows end inside the
    // text area instead of running off its right edge.
    void wideTextStaysInsideTheTextArea()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(QString(120, QChar(0x6f22)) + u'\n' + QString(120, QChar(0x6f22)));
        QTRY_VERIFY(!s.view.frameDue());
        const int pad = TranscriptView::padding;
        const QRect textArea = s.view.viewport()->rect().adjusted(pad, pad, -pad, -pad);
        QVERIFY(inked(s.view, textArea) > 0);
        QCOMPARE(inked(s.view, textArea.adjusted(textArea.width(), 0, pad, 0)), 0);
    }

    // Matches are highlighted where the layout puts them: after a re-wrap,
    // across a wrapped row, and in new output.
    void highlightsFollowTheLayout()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(u"aaaa needle bbbb"_s);
        s.view.setFindQuery(u"NEEDLE"_s, Qt::CaseInsensitive);
        QTRY_VERIFY(s.view.findDone());
        QVERIFY(s.painted(5) && s.painted(10) && !s.painted(0) && !s.painted(12));

        const QFontMetricsF metrics(s.view.font());
        s.view.resize(int(8 * metrics.horizontalAdvance(u'M')) + 2 * TranscriptView::padding + 4,
                      200);
        QTRY_VERIFY(!s.view.frameDue() && s.view.columnCount() < 10);
        QCOMPARE(s.view.layout().positionOf(s.text, 5).row, 1);
        QVERIFY(s.painted(5) && s.painted(10) && !s.painted(0));

        s.text += u"\nxneedleneedlexx"_s;
        s.view.extendText();
        QTRY_VERIFY(s.view.findDone());
        const qsizetype across = s.text.lastIndexOf(u"needle"_s);
        QVERIFY(s.view.layout().positionOf(s.text, across).row <
                s.view.layout().positionOf(s.text, across + 5).row);
        QVERIFY(s.painted(across) && s.painted(across + 5) && !s.painted(across + 7));
    }

    // A long append is laid out in slices on the window's clock. Whatever
    // comes meanwhile, it ends as the text laid out at once would, followed
    // to its end through a re-wrap.
    void longAppendsEndAsLaidOutAtOnce_data()
    {
        QTest::addColumn<QString>("meanwhile");
        for (const char* name : {"nothing", "replaced", "new width", "search"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void longAppendsEndAsLaidOutAtOnce()
    {
        QFETCH(QString, meanwhile);
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        const QString line = u"word \u6f22\u5b57 e\u0301 "_s.repeated(8) + u'\n';
        s.setText(line.repeated(50)); // enough for the scroll bar to show
        QTRY_VERIFY(!s.view.frameDue());
        s.text += line.repeated(20000);
        s.view.extendText();
        s.view.scheduleScrollToEnd();
        QVERIFY(s.view.indexedLength() < s.text.size());
        if (meanwhile == QLatin1String("replaced")) {
            s.setText(line.repeated(1000));
        } else if (meanwhile == QLatin1String("new width")) {
            s.view.resize(250, 200);
        } else if (meanwhile == QLatin1String("search")) {
            s.view.setFindQuery(u"\u6f22"_s, Qt::CaseSensitive);
        }
        QTRY_VERIFY(!s.view.frameDue() && s.view.findDone());
        TranscriptLayout atOnce;
        atOnce.setColumns({}, s.view.columnCount());
        atOnce.append(s.text);
        QCOMPARE(s.view.rowCount(), atOnce.rowCount());
        QCOMPARE(s.view.verticalScrollBar()->value(), s.view.verticalScrollBar()->maximum());
        if (meanwhile == QLatin1String("search"))
            QCOMPARE(s.view.matchCount(), s.text.count(u'\u6f22'));

        // Away from the end, a re-wrap leaves the view where it stands.
        s.view.verticalScrollBar()->setValue(0);
        s.view.resize(320, 200);
        QTRY_VERIFY(!s.view.frameDue());
        QCOMPARE(s.view.verticalScrollBar()->value(), 0);
    }

    // However many rows a transcript has, its end can be reached at the
    // largest font: by following the output, and by Ctrl+End from the top.
    void endIsReachableAtAnyLength()
    {
        Shown s;
        QFont font = s.view.font();
        font.setPointSizeF(ContentView::maximumPointSize);
        s.view.setFont(font);
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        // Just enough rows that their height in pixels overflows an int.
        const qint64 rows = INT_MAX / s.lineHeight() + 1000;
        s.setText(QString(rows, u'\n'));
        QTRY_VERIFY_WITH_TIMEOUT(!s.view.frameDue(), deadline);
        s.text += u"THE END"_s;
        s.view.extendText();
        s.view.scheduleScrollToEnd();
        QTRY_VERIFY_WITH_TIMEOUT(!s.view.frameDue(), deadline);
        QCOMPARE(s.view.rowCount(), rows + 1);
        const auto showsTheEnd = [&s] {
            // Drawn in the bottom row, and found there by a double click.
            const int width = s.view.viewport()->width();
            const int bottom = s.view.viewport()->height() - TranscriptView::padding;
            const QRect row(TranscriptView::padding, bottom - s.lineHeight(),
                            width / 2 - TranscriptView::padding, s.lineHeight());
            return inked(s.view, row) > 0 && s.wordAt(s.bottomRowY(), 1) == u"THE"_s;
        };
        QVERIFY(showsTheEnd());

        QTest::keyClick(&s.view, Qt::Key_Home, Qt::ControlModifier);
        QVERIFY(s.wordAt(s.bottomRowY(), 1) == u"\n"_s);
        QTest::keyClick(&s.view, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(showsTheEnd());
    }
};

QTEST_MAIN(TestTranscriptView)
#include "tst_ui_transcript.moc"
