#include "platform/processowner.h"
#include "runner/toolrunner.h"
#include "testsupport.h"
#include "ui/columnview.h"
#include "ui/elidedlabel.h"
#include "ui/spinner.h"
#include "ui/statuslabel.h"
#include "ui/transcriptview.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace {

// What a scan gives the runner: a path, or why there is none.
void setPath(ToolRunner& r, const QString& path, Discovery::ShellAnswer answer = {})
{
    Discovery found;
    if (!path.isEmpty())
        found.path = QFile::encodeName(path);
    found.shell = answer;
    found.shellError = QStringLiteral("Permission denied");
    r.setDiscovery(found);
}

// One runner with a fake tool in a temporary home, and a column showing it.
class Setup {
public:
    explicit Setup(const QStringList& steps = {},
                   const QString& relative = QStringLiteral("bin/tool"))
        : runner(owner, ToolSpec::all()[0])
    {
        path = home.writeStandin(relative, steps);
        setPath(runner, path);
        column = std::make_unique<ColumnView>(&runner);
    }

    void showAt(int width, int height)
    {
        column->resize(width, height);
        column->show();
        QVERIFY(QTest::qWaitForWindowExposed(column.get()));
    }
    void runToEnd(const QString& task = QStringLiteral("task"))
    {
        runner.run(task);
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), deadline);
        QTRY_VERIFY(!renderPending());
    }
    // True while the column has not yet caught up with the runner, on screen.
    bool renderPending() const
    {
        return find<QLabel>("statusLine")->text() != statusLabel(runner.path(), runner.state()) ||
               transcript()->indexedLength() != runner.output().size() || transcript()->frameDue();
    }

    template <typename T = QWidget> T* find(const char* name) const
    {
        return column->findChild<T*>(QString::fromLatin1(name));
    }
    TranscriptView* transcript() const { return column->transcript(); }

    FakeHome home;
    QString path;
    ProcessOwner owner;
    ToolRunner runner;
    std::unique_ptr<ColumnView> column;
};

} // namespace

class TestColumnView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QGuiApplication::clipboard()->setText(QStringLiteral("stale")); }

    // Copy is enabled by any output, blanks included, and copies it as it is.
    void copyFollowsTheOutput_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("output");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("one line feed") << QStringList{"out=\\n"} << QStringLiteral("\n");
    }
    void copyFollowsTheOutput()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, output);
        Setup s(steps);
        auto* copy = s.find<QPushButton>("copyButton");
        QVERIFY(!copy->isEnabled());
        s.runToEnd();
        QCOMPARE(s.transcript()->indexedLength(), output.size());
        QCOMPARE(copy->isEnabled(), !output.isEmpty());
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 output.isEmpty() ? QStringLiteral("stale") : output);
    }

    // The notice's third line and the path line's tooltip say why.
    void notInstalledShowsNoticeWhateverTheOutput()
    {
        Setup s({"out=some output\\n", "exit=1"});
        QVERIFY(!s.find<QCheckBox>("includeBox")->isHidden());
        s.runToEnd();
        QVERIFY(!s.runner.output().isEmpty());
        setPath(s.runner, QString(), Discovery::ShellAnswer::NotStarted);
        const QString why =
            QStringLiteral(
                "Looked in ~/.local/bin, ~/.npm-global/bin, ~/.hermes/bin, /opt/homebrew/bin and "
                "/usr/local/bin, then asked the login shell: ") +
            QStringLiteral("it could not be started (Permission denied).");
        QTRY_COMPARE(s.find<QLabel>("noticeReason")->text(), why);
        QCOMPARE(s.find<ElidedLabel>("pathLine")->toolTip(), why);
        QVERIFY(s.find<QCheckBox>("includeBox")->isHidden());
        QTRY_VERIFY(!s.find("notice")->isHidden());
        QVERIFY(s.transcript()->isHidden() && s.find<Spinner>("spinner")->isHidden());
        QCOMPARE(s.find<QLabel>("noticeTitle")->text(), QStringLiteral("claude is not installed"));
    }

    // The elapsed time counts from the start while the tool runs and stays
    // as it was at the end, however the run ended.
    void elapsedRunsThenFreezes_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("status");
        const QStringList waits{QStringLiteral("pause")};
        QTest::newRow("finished") << QStringList() << "t"
                                  << "Finished";
        QTest::newRow("exited") << QStringList{QStringLiteral("exit=3")} << "t"
                                << "Exited (3)";
        QTest::newRow("stopped") << waits << "t"
                                 << "Stopped";
        QTest::newRow("failed") << waits << QStringLiteral("t\0") << "Failed";
    }

    void elapsedRunsThenFreezes()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, task);
        QFETCH(QString, status);
        using namespace std::chrono_literals;
        using Clock = ToolRunner::Clock;
        Setup s(steps);
        auto* label = s.find<QLabel>("elapsedLabel");
        QCOMPARE(label->text(), QString());
        s.runner.run(task);
        const Clock::time_point start = s.runner.startedAt().value();
        if (status != QStringLiteral("Failed")) {
            QVERIFY(s.runner.state().isRunning());
            QCOMPARE(s.runner.elapsed(start + 61s), 61s);
            QTRY_COMPARE(label->text(), QStringLiteral("0:00"));
        }
        if (status == QStringLiteral("Stopped"))
            s.runner.stop();
        QTRY_COMPARE_WITH_TIMEOUT(s.find<QLabel>("statusLine")->text(), status, deadline);
        const auto took = s.runner.elapsed(Clock::now());
        QCOMPARE(s.runner.elapsed(Clock::now() + 1h), took);
        QCOMPARE(s.runner.task(), task);
        s.column->renderElapsed();
        QCOMPARE(label->text(), elapsedLabel(took));
    }

    void elapsedLabelReads_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << qint64(0) << "0:00";
        QTest::newRow("rounded down") << qint64(7999) << "0:07";
        QTest::newRow("minutes") << qint64(102'000) << "1:42";
        QTest::newRow("just under an hour") << qint64(3'599'000) << "59:59";
        QTest::newRow("hours") << qint64(3'729'000) << "1:02:09";
        QTest::newRow("a day and more") << qint64(90'061'000) << "25:01:01";
    }
    void elapsedLabelReads()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, expected);
        QCOMPARE(elapsedLabel(std::chrono::milliseconds(ms)), expected);
    }

    void pathIsElidedInTheMiddle()
    {
        const QString longDir = QStringLiteral("a-very-long-directory-name-").repeated(6);
        Setup s({}, longDir + QStringLiteral("/bin/tool"));
        s.showAt(260, 300);
        auto* line = s.find<ElidedLabel>("pathLine");
        QCOMPARE(line->text(), s.path);
        QCOMPARE(line->toolTip(), s.path);
        const QString shown = line->displayedText();
        QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
        QVERIFY(shown.startsWith(s.path.left(3)) && shown.endsWith(QStringLiteral("tool")));
        QVERIFY(line->fontMetrics().horizontalAdvance(shown) <= line->width());
        QVERIFY(s.column->width() <= 260);
        s.column->resize(4000, 300);
        QTRY_COMPARE(line->displayedText(), s.path);
    }

    // A column first shown over finished output stays at the top; it
    // scrolls only when the output changed, then to the very end, taking in
    // only the new text; Copy takes the whole transcript, and only a new run
    // starts the index over.
    void followsTheOutputIncrementally()
    {
        QString lines;
        for (int i = 1; i <= 300; ++i)
            lines += QStringLiteral("line %1\\n").arg(i);
        Setup s;
        const QString fifo = s.home.makeFifo(QStringLiteral("fifo"));
        setPath(s.runner, s.home.writeStandin(QStringLiteral("bin/lines"),
                                              {"out=" + lines, "wait=" + fifo, "out=last\\n"}));
        s.column.reset();
        s.runner.run(QStringLiteral("task"));
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.output().endsWith(QStringLiteral("line 300\n")),
                                 deadline);
        s.column = std::make_unique<ColumnView>(&s.runner);
        s.showAt(300, 300);
        QTRY_VERIFY(!s.renderPending());
        QScrollBar* bar = s.transcript()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), 0);
        auto* spinner = s.find<Spinner>("spinner");
        QVERIFY(spinner->isVisible() && spinner->width() > 0);
        const int headerWidth = spinner->parentWidget()->width();

        for (int i = 0; i < 50; ++i) // notifies, changes nothing
            setPath(s.runner, QFile::decodeName(*s.runner.path()));
        QTRY_VERIFY(!s.renderPending());
        QCOMPARE(bar->value(), 0);

        const int resets = s.transcript()->resetCount();
        QVERIFY(s.home.release(fifo));
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.state().isDone(), deadline);
        QTRY_VERIFY(!s.renderPending());
        QVERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!spinner->isVisible());
        QCOMPARE(spinner->parentWidget()->width(), headerWidth);
        QCOMPARE(s.transcript()->lineCount(), 302);
        QCOMPARE(s.transcript()->resetCount(), resets);

        auto* copy = s.find<QPushButton>("copyButton");
        const int copyWidth = copy->width();
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), s.runner.output());
        QCOMPARE(copy->text(), QStringLiteral("Copied"));
        QCOMPARE(copy->width(), copyWidth);
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), QStringLiteral("Copy"), 5000);
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QVERIFY(mime && !mime->hasHtml());

        s.runner.run(QStringLiteral("again"));
        QVERIFY(s.home.release(fifo));
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.state().isDone(), deadline);
        QTRY_VERIFY(!s.renderPending());
        QVERIFY(s.transcript()->resetCount() > resets);
        QCOMPARE(s.transcript()->lineCount(), 302);
    }
};

QTEST_MAIN(TestColumnView)
#include "tst_ui_column.moc"
