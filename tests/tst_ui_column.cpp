#include "runner/toolrunner.h"
#include "testsupport.h"
#include "ui/columnview.h"
#include "ui/elidedlabel.h"
#include "ui/spinner.h"
#include "ui/statusdot.h"
#include "ui/statuslabel.h"
#include "ui/transcriptview.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

// The window model's side of a runner: giving it a path, as a scan does.
struct ToolRunnerTestAccess {
    static void setPath(ToolRunner& r, const QString& path) { r.setPath(path); }
    // As a rescan that no longer finds the tool.
    static void clearPath(ToolRunner& r) { r.setPath(std::nullopt); }
};
using Access = ToolRunnerTestAccess;

namespace {

constexpr int runTimeout = 10000;

// Prints `count` numbered lines, then waits for $HOME/go before printing "last".
QByteArray linesThenWait(int count)
{
    return QByteArray("seq 1 ") + QByteArray::number(count) +
           " | sed 's/^/line /'\n"
           "while [ ! -e \"$HOME/go\" ]; do sleep 0.01; done\n"
           "echo last\n";
}

// One runner with a fake tool in a temporary home, and a column showing it.
class Setup {
public:
    explicit Setup(const QByteArray& script = "exit 0\n")
        : runner(ToolSpec::all()[0])
    {
        path = home.writeTool(QStringLiteral("bin/tool"), script);
        Access::setPath(runner, path);
        column = std::make_unique<ColumnView>(&runner);
    }

    void showAt(int width, int height)
    {
        column->resize(width, height);
        column->show();
        QVERIFY(QTest::qWaitForWindowExposed(column.get()));
    }
    void runToEnd()
    {
        runner.run(QStringLiteral("task"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), runTimeout);
        QTRY_VERIFY(!renderPending());
    }
    // True while the column has not yet caught up with the runner, on screen.
    bool renderPending() const
    {
        return statusLine()->text() != statusLabelNow() ||
               transcript()->indexedLength() != runner.output().size() || transcript()->frameDue();
    }
    QString statusLabelNow() const { return statusLabel(runner.path(), runner.state()); }

    QLabel* statusLine() const { return column->findChild<QLabel*>(QStringLiteral("statusLine")); }
    QLabel* label(const char* name) const
    {
        return column->findChild<QLabel*>(QString::fromLatin1(name));
    }
    QPushButton* copyButton() const
    {
        return column->findChild<QPushButton*>(QStringLiteral("copyButton"));
    }
    ElidedLabel* pathLine() const
    {
        return column->findChild<ElidedLabel*>(QStringLiteral("pathLine"));
    }
    QWidget* spinner() const { return column->findChild<Spinner*>(QStringLiteral("spinner")); }
    QWidget* notice() const { return column->findChild<QWidget*>(QStringLiteral("notice")); }
    TranscriptView* transcript() const { return column->transcript(); }
    QScrollBar* bar() const { return transcript()->verticalScrollBar(); }
    void go() const { home.writeFile(QStringLiteral("go"), QByteArray()); }

    FakeHome home;
    QString path;
    ToolRunner runner;
    std::unique_ptr<ColumnView> column;
};

} // namespace

class TestColumnView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QGuiApplication::clipboard()->setText(QStringLiteral("stale")); }

    void emptyOutputShowsPlaceholderAndDisablesCopy()
    {
        Setup s;
        QCOMPARE(s.transcript()->placeholderText(), QStringLiteral("Output will appear here."));
        QCOMPARE(s.transcript()->indexedLength(), 0);
        QVERIFY(!s.copyButton()->isEnabled());
        QCOMPARE(s.copyButton()->text(), QStringLiteral("Copy"));
        QVERIFY(!s.copyButton()->icon().isNull());
        s.runToEnd();
        QCOMPARE(s.statusLine()->text(), QStringLiteral("Finished"));
        QVERIFY(!s.copyButton()->isEnabled());
    }

    void blankOutputIsShownAndCopyable_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("output");
        QTest::newRow("one space") << QByteArray("printf ' '\n") << QStringLiteral(" ");
        QTest::newRow("one line feed") << QByteArray("printf '\\n'\n") << QStringLiteral("\n");
    }
    void blankOutputIsShownAndCopyable()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, output);
        Setup s(script);
        s.runToEnd();
        QCOMPARE(s.runner.output(), output);
        QCOMPARE(s.transcript()->indexedLength(), 1);
        QVERIFY(s.copyButton()->isEnabled());
        QTest::mouseClick(s.copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), output);
    }

    void spinnerOnlyWhileRunning()
    {
        Setup s(linesThenWait(1));
        s.showAt(300, 300);
        const int width = s.spinner()->parentWidget()->width();
        s.runner.run(QStringLiteral("task"));
        QTRY_COMPARE(s.statusLine()->text(), QStringLiteral("Running") + QChar(0x2026));
        QVERIFY(s.spinner()->isVisible());
        QVERIFY(s.spinner()->width() > 0);
        QCOMPARE(s.spinner()->parentWidget()->width(), width);
        s.go();
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.state().isDone(), runTimeout);
        QTRY_COMPARE(s.statusLine()->text(), QStringLiteral("Finished"));
        QVERIFY(!s.spinner()->isVisible());
    }

    void notInstalledShowsNoticeWhateverTheOutput()
    {
        Setup s("echo some output; exit 1\n");
        s.runToEnd();
        QVERIFY(!s.runner.output().isEmpty());
        Access::clearPath(s.runner);
        QTRY_COMPARE(s.statusLine()->text(), QStringLiteral("Not installed"));
        QCOMPARE(s.column->dotColor(), QColor(142, 142, 147));
        QCOMPARE(s.pathLine()->text(), QString(QChar(0x2014)));
        QVERIFY(!s.notice()->isHidden());
        QVERIFY(s.transcript()->isHidden());
        QVERIFY(s.spinner()->isHidden());
        QCOMPARE(s.label("noticeTitle")->text(), QStringLiteral("claude is not installed"));
        QCOMPARE(s.label("noticeHint")->text(),
                 QStringLiteral("Install it and relaunch or rescan to include it."));
        QVERIFY(!s.label("noticeIcon")->pixmap().isNull());
    }

    void pathIsElidedInTheMiddle()
    {
        FakeHome home;
        const QString longDir = QStringLiteral("a-very-long-directory-name-").repeated(6);
        const QString path = home.writeTool(longDir + QStringLiteral("/bin/tool"), "exit 0\n");
        ToolRunner runner(ToolSpec::all()[1]);
        Access::setPath(runner, path);
        ColumnView column(&runner);
        column.resize(260, 300);
        column.show();
        QVERIFY(QTest::qWaitForWindowExposed(&column));
        auto* line = column.findChild<ElidedLabel*>(QStringLiteral("pathLine"));
        QCOMPARE(line->text(), path);
        const QString shown = line->displayedText();
        QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
        QVERIFY(shown.startsWith(path.left(3)));
        QVERIFY(shown.endsWith(QStringLiteral("tool")));
        QVERIFY(line->fontMetrics().horizontalAdvance(shown) <= line->width());
        QVERIFY(column.width() <= 260);

        column.resize(4000, 300);
        QTRY_COMPARE(line->displayedText(), path);
    }

    void copyPutsTheWholeTranscriptOnTheClipboard()
    {
        Setup s("seq 1 5000\n");
        s.showAt(300, 300);
        s.runToEnd();
        QString expected;
        for (int i = 1; i <= 5000; ++i)
            expected += QString::number(i) + QLatin1Char('\n');
        QCOMPARE(s.runner.output(), expected);
        QVERIFY(s.bar()->maximum() > 0); // longer than the visible area
        QTest::mouseClick(s.copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QVERIFY(mime && !mime->hasHtml());
    }

    void firstDisplayDoesNotScroll()
    {
        FakeHome home;
        ToolRunner runner(ToolSpec::all()[2]);
        Access::setPath(runner, home.writeTool(QStringLiteral("bin/tool"), "seq 1 500\n"));
        runner.run(QStringLiteral("task"));
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), runTimeout);
        ColumnView column(&runner);
        column.resize(300, 300);
        column.show();
        QVERIFY(QTest::qWaitForWindowExposed(&column));
        QTRY_VERIFY(!column.transcript()->frameDue());
        QCOMPARE(column.transcript()->indexedLength(), runner.output().size());
        QVERIFY(column.transcript()->verticalScrollBar()->maximum() > 0);
        QCOMPARE(column.transcript()->verticalScrollBar()->value(), 0);
    }

    void scrolledUpTranscriptJumpsToTheEndOnNewOutput()
    {
        Setup s(linesThenWait(300));
        s.showAt(300, 300);
        s.runner.run(QStringLiteral("task"));
        QTRY_COMPARE_WITH_TIMEOUT(s.transcript()->lineCount(), 301, runTimeout);
        QTRY_VERIFY(!s.transcript()->frameDue());
        QVERIFY(s.bar()->maximum() > 0);
        QCOMPARE(s.bar()->value(), s.bar()->maximum());
        s.bar()->setValue(0);
        s.go();
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.output().endsWith(QStringLiteral("last\n")), runTimeout);
        QTRY_VERIFY(!s.renderPending());
        QCOMPARE(s.bar()->value(), s.bar()->maximum());
        QVERIFY(s.bar()->value() > 0);
    }

    void unchangedOutputDoesNotScroll()
    {
        Setup s("seq 1 500\n");
        s.showAt(300, 300);
        s.runToEnd();
        s.bar()->setValue(0);
        const int renders = s.column->renderCount();
        Access::setPath(s.runner, s.path); // notifies, changes nothing
        QTRY_COMPARE(s.column->renderCount(), renders + 1);
        QVERIFY(!s.transcript()->frameDue());
        QCOMPARE(s.bar()->value(), 0);
    }

    void aBurstOfNotificationsRendersOnce()
    {
        Setup s;
        const int renders = s.column->renderCount();
        for (int i = 0; i < 50; ++i)
            Access::setPath(s.runner, s.path);
        QCOMPARE(s.column->renderCount(), renders); // nothing read inside the notification
        QTRY_COMPARE(s.column->renderCount(), renders + 1);
        QCoreApplication::processEvents();
        QCOMPARE(s.column->renderCount(), renders + 1);
    }

    void appendsExtendTheIndexAndOnlyANewRunResetsIt()
    {
        Setup s(linesThenWait(2));
        s.runner.run(QStringLiteral("task"));
        QTRY_COMPARE_WITH_TIMEOUT(s.transcript()->lineCount(), 3, runTimeout);
        const int resets = s.transcript()->resetCount();
        s.go();
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.state().isDone(), runTimeout);
        QTRY_COMPARE(s.transcript()->lineCount(), 4);
        QCOMPARE(s.transcript()->indexedLength(), s.runner.output().size());
        QCOMPARE(s.transcript()->resetCount(), resets);

        s.runner.run(QStringLiteral("again")); // $HOME/go is still there
        QTRY_VERIFY(s.transcript()->resetCount() > resets);
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.state().isDone(), runTimeout);
        QTRY_COMPARE(s.transcript()->lineCount(), 4);
    }
};

QTEST_MAIN(TestColumnView)
#include "tst_ui_column.moc"
