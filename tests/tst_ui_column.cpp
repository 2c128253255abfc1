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

// The window model's side of a runner: giving it a path, as a scan does.
struct ToolRunnerTestAccess {
    static void setPath(ToolRunner& r, const QString& path)
    {
        Discovery found;
        found.path = QFile::encodeName(path);
        r.setDiscovery(found);
    }
    // As a rescan that no longer finds the tool, or one that asked the shell.
    static void clearPath(ToolRunner& r, Discovery::ShellAnswer answer = {})
    {
        Discovery found;
        found.shell = answer;
        found.shellError = QStringLiteral("Permission denied");
        r.setDiscovery(found);
    }
};
using Access = ToolRunnerTestAccess;

Q_DECLARE_METATYPE(Discovery::ShellAnswer)

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
    explicit Setup(const QByteArray& script = "exit 0\n",
                   const QString& relative = QStringLiteral("bin/tool"))
        : runner(owner, ToolSpec::all()[0])
    {
        path = home.writeTool(relative, script);
        Access::setPath(runner, path);
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
        QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), runTimeout);
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
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("output");
        QTest::newRow("none") << QByteArray("exit 0\n") << QString();
        QTest::newRow("one space") << QByteArray("printf ' '\n") << QStringLiteral(" ");
        QTest::newRow("one line feed") << QByteArray("printf '\\n'\n") << QStringLiteral("\n");
    }
    void copyFollowsTheOutput()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, output);
        Setup s(script);
        auto* copy = s.find<QPushButton>("copyButton");
        QCOMPARE(s.transcript()->placeholderText(), QStringLiteral("Output will appear here."));
        QCOMPARE(copy->text(), QStringLiteral("Copy"));
        QVERIFY(!copy->icon().isNull());
        QVERIFY(!copy->isEnabled());
        s.runToEnd();
        QCOMPARE(s.transcript()->indexedLength(), output.size());
        QCOMPARE(copy->isEnabled(), !output.isEmpty());
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 output.isEmpty() ? QStringLiteral("stale") : output);
    }

    // The notice's third line and the path line's tooltip say why.
    void notInstalledShowsNoticeWhateverTheOutput_data()
    {
        QTest::addColumn<Discovery::ShellAnswer>("answer");
        QTest::addColumn<QString>("ending");
        QTest::newRow("not found") << Discovery::ShellAnswer::NotFound << "not found.";
        QTest::newRow("no answer") << Discovery::ShellAnswer::NoAnswer << "no answer within 10 s.";
        QTest::newRow("not started")
            << Discovery::ShellAnswer::NotStarted << "it could not be started (Permission denied).";
    }

    void notInstalledShowsNoticeWhateverTheOutput()
    {
        QFETCH(Discovery::ShellAnswer, answer);
        QFETCH(QString, ending);
        Setup s("echo some output; exit 1\n");
        QVERIFY(!s.find<QCheckBox>("includeBox")->isHidden());
        s.runToEnd();
        QVERIFY(!s.runner.output().isEmpty());
        Access::clearPath(s.runner, answer);
        const QString why =
            QStringLiteral(
                "Looked in ~/.local/bin, ~/.npm-global/bin, ~/.hermes/bin, /opt/homebrew/bin and "
                "/usr/local/bin, then asked the login shell: ") +
            ending;
        QTRY_COMPARE(s.find<QLabel>("noticeReason")->text(), why);
        QCOMPARE(s.find<ElidedLabel>("pathLine")->toolTip(), why);
        QVERIFY(s.find<QCheckBox>("includeBox")->isHidden());
        QTRY_VERIFY(!s.find("notice")->isHidden());
        QVERIFY(s.transcript()->isHidden() && s.find<Spinner>("spinner")->isHidden());
        QCOMPARE(s.column->dotColor(), QColor(142, 142, 147));
        QCOMPARE(s.find<ElidedLabel>("pathLine")->text(), QString(QChar(0x2014)));
        QCOMPARE(s.find<QLabel>("noticeTitle")->text(), QStringLiteral("claude is not installed"));
        QCOMPARE(s.find<QLabel>("noticeHint")->text(),
                 QStringLiteral("Install it and relaunch or rescan to include it."));
        QVERIFY(!s.find<QLabel>("noticeIcon")->pixmap().isNull());
    }

    void pathIsElidedInTheMiddle()
    {
        const QString longDir = QStringLiteral("a-very-long-directory-name-").repeated(6);
        Setup s("exit 0\n", longDir + QStringLiteral("/bin/tool"));
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

    // A column first shown over finished output stays at the top; renders
    // come one per burst of notifications and scroll only when the output
    // changed, then to the very end, taking in only the new text; Copy takes
    // the whole transcript, and only a new run starts the index over.
    void followsTheOutputIncrementally()
    {
        Setup s(linesThenWait(300));
        s.column.reset();
        s.runner.run(QStringLiteral("task"));
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.output().endsWith(QStringLiteral("line 300\n")),
                                 runTimeout);
        s.column = std::make_unique<ColumnView>(&s.runner);
        s.showAt(300, 300);
        QTRY_VERIFY(!s.renderPending());
        QScrollBar* bar = s.transcript()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), 0);
        auto* spinner = s.find<Spinner>("spinner");
        QVERIFY(spinner->isVisible() && spinner->width() > 0);
        const int headerWidth = spinner->parentWidget()->width();

        const int renders = s.column->renderCount();
        for (int i = 0; i < 50; ++i)
            Access::setPath(s.runner, s.path);      // notifies, changes nothing
        QCOMPARE(s.column->renderCount(), renders); // nothing read inside the notification
        QTRY_COMPARE(s.column->renderCount(), renders + 1);
        QCoreApplication::processEvents();
        QCOMPARE(s.column->renderCount(), renders + 1);
        QVERIFY(!s.transcript()->frameDue());
        QCOMPARE(bar->value(), 0);

        const int resets = s.transcript()->resetCount();
        s.home.writeFile(QStringLiteral("go"), QByteArray());
        QTRY_VERIFY_WITH_TIMEOUT(s.runner.state().isDone(), runTimeout);
        QTRY_VERIFY(!s.renderPending());
        QVERIFY(bar->value() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(!spinner->isVisible());
        QCOMPARE(spinner->parentWidget()->width(), headerWidth);
        QCOMPARE(s.transcript()->lineCount(), 302);
        QCOMPARE(s.transcript()->resetCount(), resets);

        QTest::mouseClick(s.find<QPushButton>("copyButton"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), s.runner.output());
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QVERIFY(mime && !mime->hasHtml());

        s.runToEnd(QStringLiteral("again")); // $HOME/go is still there
        QVERIFY(s.transcript()->resetCount() > resets);
        QCOMPARE(s.transcript()->lineCount(), 302);
    }
};

QTEST_MAIN(TestColumnView)
#include "tst_ui_column.moc"
