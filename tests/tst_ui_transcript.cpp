#include "ui/transcriptview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>

namespace {

// A view over a string the test owns and changes, as a runner owns its output.
struct Shown {
    Shown()
    {
        view.setSource([this] { return QStringView(text); });
        view.resize(400, 200);
        view.show();
    }
    // The middle of a character cell, in viewport coordinates.
    QPoint cell(qint64 row, qsizetype column) const
    {
        const QFontMetricsF metrics(view.font());
        const int lineHeight = qCeil(metrics.lineSpacing());
        const qreal x = TranscriptView::padding + (column + 0.25) * metrics.horizontalAdvance(u'M');
        return {int(x), int(TranscriptView::padding + row * lineHeight + lineHeight / 2 -
                            view.verticalScrollBar()->value())};
    }
    // Replaces the text, as a new run does.
    void setText(const QString& replacement)
    {
        text = replacement;
        view.resetText();
    }

    QString text;
    TranscriptView view;
};

} // namespace

class TestTranscriptView : public QObject {
    Q_OBJECT
private Q_SLOTS:

    void appendsAreIndexedWithoutStartingOver()
    {
        Shown s;
        s.setText(QStringLiteral("a\nb"));
        const int resets = s.view.resetCount();
        s.text += QStringLiteral("c\nd\n");
        s.view.extendText();
        QCOMPARE(s.view.lineCount(), 4); // "a", "bc", "d", and the empty line after
        QCOMPARE(s.view.indexedLength(), s.text.size());
        QCOMPARE(s.view.resetCount(), resets);

        s.text = QStringLiteral("x"); // shorter: it was replaced
        s.view.extendText();
        QCOMPARE(s.view.resetCount(), resets + 1);
        QCOMPARE(s.view.lineCount(), 1);
        QCOMPARE(s.view.indexedLength(), 1);
    }

    void mouseSelectsAcrossLinesRowsAndTabs()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(QStringLiteral("alpha beta\ngamma delta\n"));
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(0, 6));
        QCOMPARE(QApplication::focusWidget(), &s.view); // the Edit menu acts on it now
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, s.cell(1, 5));
        QCOMPARE(s.view.selectedText(), QStringLiteral("beta\ngamma"));

        QTest::mousePress(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 0));
        QTest::mouseMove(s.view.viewport(), s.cell(1, 3));
        QTest::mouseRelease(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 5));
        QCOMPARE(s.view.selectedText(), QStringLiteral("gamma"));

        QTest::mouseDClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 8));
        QCOMPARE(s.view.selectedText(), QStringLiteral("delta"));
        QTest::keySequence(&s.view, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("delta"));

        // A click past the end of a line lands before its line break.
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(0, 30));
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, s.cell(1, 1));
        QCOMPARE(s.view.selectedText(), QStringLiteral("\ng"));

        // Across a wrapped row and a tab: row 1 holds "bc", a tab to the
        // row's stop at 8, then "def".
        const int columns = s.view.columnCount();
        s.setText(QString(columns, u'a') + QStringLiteral("bc\tdef"));
        QCOMPARE(s.view.rowCount(), 2);
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 1));
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          s.cell(1, TranscriptView::tabWidth + 1));
        QCOMPARE(s.view.selectedText(), QStringLiteral("c\td"));
    }

    // Wide characters take two cells each, so their rows end inside the
    // text area instead of running off its right edge.
    void wideTextStaysInsideTheTextArea()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(QString(120, QChar(0x6f22)) + u'\n' + QString(120, QChar(0x6f22)));
        QTRY_VERIFY(!s.view.frameDue());
        const QImage shot = s.view.grab().toImage();
        const QRect port = s.view.viewport()->geometry();
        const int right = port.right() + 1 - TranscriptView::padding;
        const QRgb background = s.view.palette().color(QPalette::Base).rgb();
        auto inked = [&](int from, int to) {
            int count = 0;
            // Rows only: the rounded corners are not ink.
            for (int y = port.top() + TranscriptView::padding;
                 y <= port.bottom() - TranscriptView::padding; ++y)
                for (int x = from; x < to; ++x)
                    count += shot.pixel(x, y) != background;
            return count;
        };
        QVERIFY(inked(port.left() + TranscriptView::padding, right) > 0);
        QCOMPARE(inked(right, port.right() + 1), 0);
    }

    // Matches are highlighted where the layout puts them: after a re-wrap,
    // across a wrapped row, and in new output.
    void highlightsFollowTheLayout()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        const QRgb background = s.view.palette().color(QPalette::Base).rgb();
        auto highlighted = [&](qsizetype offset) {
            const auto pos = s.view.layout().positionOf(s.text, offset);
            const QFontMetricsF metrics(s.view.font());
            const int x =
                TranscriptView::padding + int((pos.cell + 0.5) * metrics.horizontalAdvance(u'M'));
            const int y = TranscriptView::padding + int(pos.row) * qCeil(metrics.lineSpacing()) +
                          1 - s.view.verticalScrollBar()->value();
            return s.view.grab().toImage().pixel(x, y) != background;
        };
        s.setText(QStringLiteral("aaaa needle bbbb"));
        s.view.setFindQuery(QStringLiteral("NEEDLE"), Qt::CaseInsensitive);
        QTRY_VERIFY(s.view.findDone());
        QCOMPARE(s.view.matchCount(), 1);
        QVERIFY(highlighted(5) && highlighted(10) && !highlighted(0) && !highlighted(12));

        const QFontMetricsF metrics(s.view.font());
        s.view.resize(int(8 * metrics.horizontalAdvance(u'M')) + 2 * TranscriptView::padding + 4,
                      200);
        QTRY_VERIFY(!s.view.frameDue() && s.view.columnCount() < 10);
        QCOMPARE(s.view.layout().positionOf(s.text, 5).row, 1);
        QVERIFY(highlighted(5) && highlighted(10) && !highlighted(0));

        s.text += QStringLiteral("\nxneedleneedlexx");
        s.view.extendText();
        QTRY_COMPARE(s.view.matchCount(), 3);
        const qsizetype across = s.text.lastIndexOf(QStringLiteral("needle"));
        QVERIFY(s.view.layout().positionOf(s.text, across).row <
                s.view.layout().positionOf(s.text, across + 5).row);
        QTRY_VERIFY(!s.view.frameDue());
        QVERIFY(highlighted(across) && highlighted(across + 5) && !highlighted(across + 7));
    }

    // A long append is laid out in slices on the window's clock. Whatever
    // comes meanwhile, it ends as the text laid out at once would, followed
    // to its end.
    void longAppendsEndAsLaidOutAtOnce_data()
    {
        QTest::addColumn<QString>("meanwhile");
        for (const char* name : {"nothing", "more text", "replaced", "new width", "search"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void longAppendsEndAsLaidOutAtOnce()
    {
        QFETCH(QString, meanwhile);
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        const QString line = QStringLiteral("word \u6f22\u5b57 e\u0301 ").repeated(8) + u'\n';
        s.setText(line.repeated(50)); // enough for the scroll bar to show
        QTRY_VERIFY(!s.view.frameDue());
        s.text += line.repeated(20000);
        s.view.extendText();
        s.view.scheduleScrollToEnd();
        QVERIFY(s.view.indexedLength() < s.text.size());
        if (meanwhile == QLatin1String("more text")) {
            s.text += line.repeated(500);
            s.view.extendText();
        } else if (meanwhile == QLatin1String("replaced")) {
            s.setText(line.repeated(1000));
        } else if (meanwhile == QLatin1String("new width")) {
            s.view.resize(250, 200);
        } else if (meanwhile == QLatin1String("search")) {
            s.view.setFindQuery(QStringLiteral("\u6f22"), Qt::CaseSensitive);
        }
        QTRY_VERIFY(!s.view.frameDue() && s.view.findDone());
        TranscriptLayout atOnce;
        atOnce.setColumns({}, s.view.columnCount());
        atOnce.append(s.text);
        QCOMPARE(s.view.rowCount(), atOnce.rowCount());
        QCOMPARE(s.view.verticalScrollBar()->value(), s.view.verticalScrollBar()->maximum());
        if (meanwhile == QLatin1String("search"))
            QCOMPARE(s.view.matchCount(), s.text.count(u'\u6f22'));
    }

    // At the end, the view stays there through re-wrapping; elsewhere it stays put.
    void rewrappingKeepsTheEndInView()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        for (int i = 0; i < 300; ++i)
            s.text += QStringLiteral("line %1 with some words to wrap at narrow widths\n").arg(i);
        s.view.resetText();
        QScrollBar* bar = s.view.verticalScrollBar();
        s.view.scrollToEnd();
        QVERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        for (int width : {150, 600, 250}) {
            s.view.resize(width, 200);
            QTRY_VERIFY(!s.view.frameDue());
            QCOMPARE(bar->value(), bar->maximum());
        }
        bar->setValue(0);
        const int columns = s.view.columnCount();
        s.view.resize(500, 200);
        QTRY_VERIFY(s.view.columnCount() > columns);
        QCOMPARE(bar->value(), 0);
    }
};

QTEST_MAIN(TestTranscriptView)
#include "tst_ui_transcript.moc"
