#include "ui/transcriptview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

// A view over a string the test owns and changes, as a runner owns its output.
struct Shown {
    Shown()
    {
        view.setSource([this] { return QStringView(text); });
        view.resize(400, 200);
    }
    void show()
    {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    // The middle of a character cell, in viewport coordinates.
    QPoint cell(qint64 row, qsizetype column) const
    {
        const QFontMetricsF metrics(view.font());
        const qreal advance = metrics.horizontalAdvance(u'M');
        const int lineHeight = qCeil(metrics.lineSpacing());
        const qreal x = TranscriptView::padding + (column + 0.25) * advance;
        const qint64 y = TranscriptView::padding + row * lineHeight + lineHeight / 2 -
                         view.verticalScrollBar()->value();
        return {int(x), int(y)};
    }
    // Replaces the text, as a new run does.
    void setText(const QString& replacement)
    {
        text = replacement;
        view.resetText();
    }
    qint64 rowsOf(qsizetype cells) const
    {
        return cells == 0 ? 1 : (cells + view.columnCount() - 1) / view.columnCount();
    }

    QString text;
    TranscriptView view;
};

} // namespace

class TestTranscriptView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QGuiApplication::clipboard()->setText(QStringLiteral("stale")); }

    void appendsAreIndexedWithoutStartingOver()
    {
        Shown s;
        s.setText(QStringLiteral("a\nb"));
        QCOMPARE(s.view.lineCount(), 2);
        const int resets = s.view.resetCount();

        s.text += QStringLiteral("c\nd\n");
        s.view.extendText();
        QCOMPARE(s.view.lineCount(), 4); // "a", "bc", "d", and the empty line after
        QCOMPARE(s.view.indexedLength(), s.text.size());
        QCOMPARE(s.view.rowCount(), 4);
        QCOMPARE(s.view.resetCount(), resets);

        s.view.extendText(); // nothing new
        QCOMPARE(s.view.resetCount(), resets);

        s.text = QStringLiteral("x"); // shorter: it was replaced
        s.view.extendText();
        QCOMPARE(s.view.resetCount(), resets + 1);
        QCOMPARE(s.view.lineCount(), 1);
        QCOMPARE(s.view.indexedLength(), 1);
    }

    void aChunkSplitInsideALineJoinsIt()
    {
        Shown s;
        const QString whole = QStringLiteral("first line\nsecond\tline\r\nthird");
        for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
            s.setText(whole.left(cut));
            s.text = whole;
            s.view.extendText();
            QCOMPARE(s.view.lineCount(), 3);
            QCOMPARE(s.view.rowCount(), 3);
        }
    }

    void longLinesWrapIntoRows_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("cells");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("short") << QStringLiteral("abc") << 3;
        QTest::newRow("long") << QString(250, u'x') << 250;
        QTest::newRow("tabs to stops of 8") << QStringLiteral("\tx\ty") << 17;
        QTest::newRow("many tabs") << QString(30, u'\t') << 240;
        QTest::newRow("pairs take two cells") << QStringLiteral("\U0001F600").repeated(40) << 80;
    }
    void longLinesWrapIntoRows()
    {
        QFETCH(QString, line);
        QFETCH(int, cells);
        Shown s;
        s.show();
        s.setText(line);
        QVERIFY(s.view.columnCount() > 10);
        QCOMPARE(s.view.rowCount(), s.rowsOf(cells));

        const int narrow = s.view.columnCount();
        s.view.resize(s.view.width() * 2, s.view.height());
        QTRY_VERIFY(s.view.columnCount() > narrow);
        QCOMPARE(s.view.rowCount(), s.rowsOf(cells));
    }

    void rowsFillTheWidthExactly()
    {
        Shown s;
        s.show();
        const int columns = s.view.columnCount();
        s.setText(QString(columns, u'x') + u'\n' + QString(columns + 1, u'y'));
        QCOMPARE(s.view.rowCount(), 1 + 2);
    }

    void mouseSelectsAndCopies()
    {
        Shown s;
        s.setText(QStringLiteral("alpha beta\ngamma delta\n"));
        s.show();
        QSignalSpy available(&s.view, &TranscriptView::copyAvailable);
        QVERIFY(available.isValid());

        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(0, 6));
        QVERIFY(!s.view.hasSelection());
        QCOMPARE(QApplication::focusWidget(), &s.view); // the Edit menu acts on it now
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, s.cell(1, 5));
        QCOMPARE(s.view.selectedText(), QStringLiteral("beta\ngamma"));
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toBool(), true);

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
    }

    void selectionFollowsTabsAndWrappedRows()
    {
        Shown s;
        s.show();
        const int columns = s.view.columnCount();
        s.setText(QString(columns, u'a') + QStringLiteral("bc\tdef"));
        QCOMPARE(s.view.rowCount(), 2);
        // Row 1 holds "bc", a tab to the line's next stop of 8, then "def".
        const int d = ((columns + 2) / TranscriptView::tabWidth + 1) * TranscriptView::tabWidth;
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 1));
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          s.cell(1, d - columns + 1));
        QCOMPARE(s.view.selectedText(), QStringLiteral("c\td"));
    }

    void selectAllAndCopyFromTheKeyboard()
    {
        Shown s;
        s.setText(QStringLiteral("one\ntwo\n"));
        s.show();
        s.view.setFocus();
        QTest::keySequence(&s.view, QKeySequence::SelectAll);
        QCOMPARE(s.view.selectedText(), s.text);
        QTest::keySequence(&s.view, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), s.text);
    }

    void copyWithoutSelectionLeavesTheClipboard()
    {
        Shown s;
        s.setText(QStringLiteral("text"));
        s.view.copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("stale"));
    }

    void aNewTextDropsTheSelection()
    {
        Shown s;
        s.setText(QStringLiteral("old text"));
        s.view.setSelection(0, 3);
        QSignalSpy available(&s.view, &TranscriptView::copyAvailable);
        s.setText(QStringLiteral("new"));
        QVERIFY(!s.view.hasSelection());
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toBool(), false);

        s.view.setSelection(-5, 99); // clamped to the text
        QCOMPARE(s.view.selectedText(), QStringLiteral("new"));
    }

    void selectionIsPaintedInTheHighlightColour()
    {
        Shown s;
        s.setText(QStringLiteral("0123456789\n\U0001F600\t|\x1b"));
        s.show();
        s.view.setSelection(2, 6);
        const QImage image = s.view.viewport()->grab().toImage();
        const QColor highlight = s.view.palette().color(QPalette::Highlight);
        const QPoint inside = s.cell(0, 4) * image.devicePixelRatio();
        const QPoint top = QPoint(inside.x(), inside.y() - s.view.fontMetrics().ascent() / 2);
        QCOMPARE(image.pixelColor(top), highlight);
        const QPoint outside = s.cell(0, 8) * image.devicePixelRatio();
        QVERIFY(image.pixelColor(outside.x(), top.y()) != highlight);
    }

    void placeholderOnlyWhileTheTextIsEmpty()
    {
        Shown s;
        s.show();
        const QImage blank = s.view.viewport()->grab().toImage();
        s.view.setPlaceholderText(QStringLiteral("Nothing yet"));
        const QImage placeholder = s.view.viewport()->grab().toImage();
        QVERIFY(placeholder != blank);
        s.text = QStringLiteral(" ");
        s.view.extendText();
        QCOMPARE(s.view.viewport()->grab().toImage(), blank);
    }

    void rewrappingKeepsTheEndInView()
    {
        Shown s;
        s.show();
        for (int i = 0; i < 300; ++i)
            s.text += QStringLiteral("line %1 with some words to wrap at narrow widths\n").arg(i);
        s.view.resetText();
        QCOMPARE(s.view.verticalScrollBar()->value(), 0);
        QScrollBar* bar = s.view.verticalScrollBar();
        s.view.scrollToEnd();
        QVERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        for (int width : {150, 600, 250}) {
            s.view.resize(width, 200);
            QTRY_COMPARE(bar->value(), bar->maximum());
        }
        bar->setValue(0);
        s.view.resize(500, 200);
        const qreal advance = QFontMetricsF(s.view.font()).horizontalAdvance(u'M');
        QTRY_COMPARE(s.view.columnCount(),
                     int((s.view.viewport()->width() - 2 * TranscriptView::padding) / advance));
        QVERIFY(s.view.viewport()->width() > 400);
        QCOMPARE(bar->value(), 0);
    }

    void rendersNothingFromASourceThatShrankUnannounced()
    {
        Shown s;
        s.setText(QStringLiteral("long enough\ntext\n"));
        s.show();
        s.view.setSelection(0, 8);
        s.text.clear(); // the owner forgot to call resetText()
        s.view.viewport()->grab();
        QCOMPARE(s.view.selectedText(), QString());
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(1, 2));
    }
};

QTEST_MAIN(TestTranscriptView)
#include "tst_ui_transcript.moc"
