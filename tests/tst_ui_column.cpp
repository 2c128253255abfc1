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

        QTest::mouseClick(s.find<QPushButton>("copyButton"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), s.runner.output());
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
