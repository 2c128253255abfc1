#include "ui/transcriptview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
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
    // A point near the top left of a character cell, in viewport coordinates:
    // inside the cell but above its glyph's ink.
    QPoint cell(qint64 row, qsizetype column) const
    {
        const QFontMetricsF metrics(view.font());
        const qreal x = TranscriptView::padding + (column + 0.25) * metrics.horizontalAdvance(u'M');
        return {int(x), int(TranscriptView::padding + row * qCeil(metrics.lineSpacing()) + 1 -
                            view.verticalScrollBar()->value())};
    }
    // Whether the cell that holds `offset` is painted in other than the background.
    bool painted(qsizetype offset)
    {
        const auto pos = view.layout().positionOf(text, offset);
        return view.grab(view.viewport()->geometry()).toImage().pixel(cell(pos.row, pos.cell)) !=
               view.palette().color(QPalette::Base).rgb();
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
    void mouseSelectsAcrossLines()
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
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("delta"));

        // A click past the end of a line lands before its line break.
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, {}, s.cell(0, 30));
        QTest::mouseClick(s.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, s.cell(1, 1));
        QCOMPARE(s.view.selectedText(), QStringLiteral("\ng"));
    }

    // Wide characters take two cells each, so their rows end inside the
    // text area instead of running off its right edge.
    void wideTextStaysInsideTheTextArea()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(QString(120, QChar(0x6f22)) + u'\n' + QString(120, QChar(0x6f22)));
        QTRY_VERIFY(!s.view.frameDue());
        const QImage shot = s.view.grab(s.view.viewport()->geometry()).toImage();
        const int right = shot.width() - TranscriptView::padding;
        const QRgb background = s.view.palette().color(QPalette::Base).rgb();
        auto inked = [&](int from, int to) {
            int count = 0;
            for (int y = TranscriptView::padding; y < shot.height() - TranscriptView::padding; ++y)
                for (int x = from; x < to; ++x)
                    count += shot.pixel(x, y) != background;
            return count;
        };
        QVERIFY(inked(TranscriptView::padding, right) > 0);
        QCOMPARE(inked(right, shot.width()), 0);
    }

    // Matches are highlighted where the layout puts them: after a re-wrap,
    // across a wrapped row, and in new output.
    void highlightsFollowTheLayout()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        s.setText(QStringLiteral("aaaa needle bbbb"));
        s.view.setFindQuery(QStringLiteral("NEEDLE"), Qt::CaseInsensitive);
        QTRY_VERIFY(s.view.findDone());
        QVERIFY(s.painted(5) && s.painted(10) && !s.painted(0) && !s.painted(12));

        const QFontMetricsF metrics(s.view.font());
        s.view.resize(int(8 * metrics.horizontalAdvance(u'M')) + 2 * TranscriptView::padding + 4,
                      200);
        QTRY_VERIFY(!s.view.frameDue() && s.view.columnCount() < 10);
        QCOMPARE(s.view.layout().positionOf(s.text, 5).row, 1);
        QVERIFY(s.painted(5) && s.painted(10) && !s.painted(0));

        s.text += QStringLiteral("\nxneedleneedlexx");
        s.view.extendText();
        QTRY_VERIFY(s.view.findDone());
        const qsizetype across = s.text.lastIndexOf(QStringLiteral("needle"));
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
        const QString line = QStringLiteral("word \u6f22\u5b57 e\u0301 ").repeated(8) + u'\n';
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

        // Away from the end, a re-wrap leaves the view where it stands.
        s.view.verticalScrollBar()->setValue(0);
        s.view.resize(320, 200);
        QTRY_VERIFY(!s.view.frameDue());
        QCOMPARE(s.view.verticalScrollBar()->value(), 0);
    }
};

QTEST_MAIN(TestTranscriptView)
#include "tst_ui_transcript.moc"
