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
};

QTEST_MAIN(TestTranscriptView)
#include "tst_ui_transcript.moc"
