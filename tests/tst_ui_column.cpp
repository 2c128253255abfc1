#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "runner/agentsession.h"
#include "testsupport.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/elidedlabel.h"
#include "ui/findbar.h"
#include "ui/statuslabel.h"
#include "ui/transcriptview.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// What a scan gives the runner: a path, or why there is none.
void setPath(AgentSession& r, const QString& path, Discovery::ShellAnswer answer = {})
{
    Discovery found;
    if (!path.isEmpty())
        found.path = QFile::encodeName(path);
    found.shell = answer;
    found.shellError = u"Permission denied"_s;
    r.setDiscovery(found);
}

} // namespace

class TestColumnView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void elapsedLabelReads()
    {
        const std::pair<qint64, QString> cases[] = {
            {7999, "0:07"}, {102'000, "1:42"}, {3'729'000, "1:02:09"}, {90'061'000, "25:01:01"}};
        for (const auto& [ms, text] : cases)
            QCOMPARE(elapsedLabel(std::chrono::milliseconds(ms)), text);
    }

    // How the tool ended, in the column's words: a signal is named, never
    // passed off as an exit status, and a job still writing after its tool
    // exited says so until it is stopped.
    void statusLineTellsHowTheToolEnded_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("status");
        QTest::newRow("exit 11") << QStringList{"exit=11"} << "Exited (11)";
        QTest::newRow("SIGSEGV") << QStringList{"kill=11"} << "Killed by SIGSEGV";
        QTest::newRow("SIGKILL") << QStringList{"kill=9"} << "Killed by SIGKILL";
        QTest::newRow("nameless signal") << QStringList{"kill=40"} << "Killed by signal 40";
        QTest::newRow("job left writing")
            << QStringList{"{", "flood=x\\n", "}"} << "Finished (output still arriving)";
        QTest::newRow("job left writing, exit 3") << QStringList{"{", "flood=x\\n", "}", "exit=3"}
                                                  << "Exited (3) (output still arriving)";
    }
    void statusLineTellsHowTheToolEnded()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, status);
        FakeHome home;
        ProcessOwner owner;
        AgentSession runner(owner, ToolSpec::all()[0]);
        setPath(runner, home.writeStandin(u"bin/tool"_s, steps));
        ColumnView column(&runner);
        runner.run(u"task"_s);
        auto* line = column.findChild<QLabel*>(u"statusLine"_s);
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), status, deadline);
        if (runner.outputStillArriving()) {
            runner.stop();
            QTRY_COMPARE(line->text(), status.left(status.indexOf(u" (output"_s)));
        }
    }

    // The header tells what the latest turn cost, and the session's totals
    // in the tooltip; Copy Raw Output takes the bytes as the tool wrote
    // them, escapes and all. A tool that refused the folder offers to trust
    // it.
    void headerShowsCostAndOffersTrust()
    {
        FakeHome home;
        ProcessOwner owner;
        AgentSession runner(owner, ToolSpec::all()[1]);
        QFile recording(
            QStringLiteral(BREVANE_AGENT_STREAMS "/gemini/auto-edit.stream-json.stdout"));
        QVERIFY(recording.open(QIODevice::ReadOnly));
        setPath(runner, home.writeStandin(u"bin/tool"_s,
                                          {u"out=\\e[1m\\n"_s, u"cat="_s + recording.fileName()}));
        ColumnView column(&runner);
        auto* usage = column.findChild<QLabel*>(u"usageLabel"_s);
        auto* trust = column.findChild<QPushButton*>(u"trustButton"_s);
        QVERIFY(usage->isHidden() && trust->isHidden());
        for (int turn = 1; turn <= 2; ++turn) {
            runner.run(u"task"_s, QByteArray(), false);
            QTRY_VERIFY_WITH_TIMEOUT(runner.state().isDone(), deadline);
            QTRY_VERIFY(!usage->isHidden());
            const Usage one = runner.turnUsage();
            QVERIFY(one.inputTokens > 0);
            QCOMPARE(usage->text(), describeUsage(one));
            Usage total = one;
            if (turn == 2)
                total += one;
            QCOMPARE(usage->toolTip(), u"This session: "_s + describeUsage(total));
        }
        column.copyRawOutput();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"\x1b[1m\n"_s + QString::fromUtf8(recording.readAll()));

        setPath(runner, home.writeStandin(u"bin/tool"_s, {u"err=untrusted\\n"_s, u"exit=55"_s}));
        runner.run(u"task"_s, QByteArray(), false);
        QTRY_VERIFY_WITH_TIMEOUT(!trust->isHidden(), deadline);
        QVERIFY(usage->isHidden());
        QSignalSpy asked(&column, &ColumnView::trustFolderRequested);
        trust->click();
        QCOMPARE(asked.count(), 1);
    }

    // A column over a tool's life. Its long path is elided in the middle.
    // First shown over output it stays at the top; it scrolls only when the
    // output changed, then to the very end, taking in only the new text. The
    // elapsed time shows from the start and stays as it was at the end. Copy
    // takes the whole transcript as plain text; only a new run starts the
    // index over. A rescan that no longer finds the tool shows why in place
    // of the transcript.
    void followsTheToolThroughItsLife()
    {
        FakeHome home;
        ProcessOwner owner;
        AgentSession runner(owner, ToolSpec::all()[0]);
        QString lines;
        for (int i = 1; i <= 300; ++i)
            lines += u"line %1\\n"_s.arg(i);
        const QString fifo = home.makeFifo(u"fifo"_s);
        const QString path =
            home.writeStandin(u"a-very-long-directory-name-"_s.repeated(6) + u"/bin/tool"_s,
                              {"out=" + lines, "wait=" + fifo, "out=last\\n"});
        setPath(runner, path);
        auto column = std::make_unique<ColumnView>(&runner);
        const auto find = [&column](const char* name) {
            return column->findChild<QWidget*>(QString::fromLatin1(name));
        };
        QVERIFY(!find("copyButton")->isEnabled());
        column.reset();
        runner.run(u"task"_s);
        QTRY_VERIFY_WITH_TIMEOUT(runner.output().endsWith(u"line 300\n"_s), deadline);
        column = std::make_unique<ColumnView>(&runner);
        column->resize(300, 300);
        column->show();
        QVERIFY(QTest::qWaitForWindowExposed(column.get()));
        TranscriptView* transcript = column->transcript();
        const auto caughtUp = [&] {
            return static_cast<QLabel*>(find("statusLine"))->text() ==
                       statusLabel(runner.path(), runner.state()) &&
                   transcript->indexedLength() == runner.output().size() && !transcript->frameDue();
        };
        const auto waitForEnd = [&] {
            return QTest::qWaitFor([&] { return runner.state().isDone(); }, deadline) &&
                   QTest::qWaitFor(caughtUp, deadline);
        };
        QTRY_VERIFY(caughtUp());
        auto* pathLine = static_cast<ElidedLabel*>(find("pathLine"));
        const QString shown = pathLine->displayedText();
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.startsWith(path.left(3)) &&
                     shown.endsWith(u"tool"_s),
                 qPrintable(shown));
        QVERIFY(pathLine->fontMetrics().horizontalAdvance(shown) <= pathLine->width());
        QVERIFY(column->width() <= 300);
        QCOMPARE(pathLine->toolTip(), path);
        auto* elapsed = static_cast<QLabel*>(find("elapsedLabel"));
        QVERIFY(elapsed->text().startsWith(u"0:"_s));
        QScrollBar* bar = transcript->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        auto* spinner = find("spinner");
        QVERIFY(spinner->isVisible() && spinner->width() > 0);
        const int headerWidth = spinner->parentWidget()->width();
        const int renders = column->renderCount();
        for (int i = 0; i < 50; ++i) // notifies, changes nothing
            setPath(runner, path);
        QTRY_VERIFY(column->renderCount() > renders && caughtUp());
        QCOMPARE(bar->value(), 0);

        const int resets = transcript->resetCount();
        QVERIFY(home.release(fifo));
        QVERIFY(waitForEnd());
        QVERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        QVERIFY(!spinner->isVisible());
        QCOMPARE(spinner->parentWidget()->width(), headerWidth);
        QCOMPARE(transcript->lineCount(), 303); // the prompt line, 301 lines, the empty last
        QCOMPARE(transcript->resetCount(), resets);
        QCOMPARE(elapsed->text(), elapsedLabel(runner.elapsed(AgentSession::Clock::now())));

        auto* copy = static_cast<QPushButton*>(find("copyButton"));
        const int copyWidth = copy->width();
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), runner.output());
        QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasHtml());
        QCOMPARE(copy->text(), u"Copied"_s);
        QCOMPARE(copy->width(), copyWidth);
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), u"Copy"_s, 5000);

        // A follow-up adds to the transcript; a new session starts it over.
        runner.run(u"again"_s);
        QVERIFY(home.release(fifo));
        QVERIFY(waitForEnd());
        QCOMPARE(transcript->resetCount(), resets);
        QCOMPARE(transcript->lineCount(), 303 + 1 + 302);
        runner.clearSession();
        runner.run(u"anew"_s);
        QVERIFY(home.release(fifo));
        QVERIFY(waitForEnd());
        QVERIFY(transcript->resetCount() > resets);
        QCOMPARE(transcript->lineCount(), 303);
        column->resize(4000, 300);
        QTRY_COMPARE(pathLine->displayedText(), path);

        setPath(runner, QString(), Discovery::ShellAnswer::NotStarted);
        QTRY_VERIFY(!find("notice")->isHidden());
        const QString why = static_cast<QLabel*>(find("noticeReason"))->text();
        QVERIFY2(why.endsWith(u": it could not be started (Permission denied)."_s),
                 qPrintable(why));
        QCOMPARE(pathLine->toolTip(), why);
        QVERIFY(find("includeBox")->isHidden() && transcript->isHidden());
    }

    // In the smallest window, each column's header shows a long match count
    // whole, its last letters included, beside the spinner of a running tool.
    void matchCountIsNeverCut()
    {
        constexpr qsizetype matches = 704'226;
        FakeHome home;
        const QString output = home.writeFile(u"output"_s, QByteArray(matches, 'a'));
        for (const char* name : {"claude", "gemini", "hermes"})
            home.writeStandin(u".local/bin/"_s + QLatin1String(name),
                              {u"cat="_s + output, u"pause"_s});
        ProcessOwner owner;
        ContentView view(owner);
        view.resize(ContentView::minimumContentSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(waitFor([&view] { return !view.model()->scanning() && !view.showsSpinner(); }));
        view.model()->setPlainOutput(true);
        view.model()->setTask(u"go"_s);
        view.model()->start();
        view.showFind();
        QTest::keyClicks(view.findBar()->field(), u"a"_s);
        const QString count = ColumnView::matchCountText(matches);
        for (ColumnView* column : view.columns()) {
            auto* label = column->findChild<QLabel*>(u"matchCount"_s);
            QTRY_COMPARE_WITH_TIMEOUT(label->text(), count, deadline);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(count),
                     qPrintable(u"%1 < %2"_s.arg(label->width())
                                    .arg(label->fontMetrics().horizontalAdvance(count))));
            QVERIFY(column->findChild<QWidget*>(u"spinner"_s)->isVisible());
        }
        view.model()->stopAll();
        QVERIFY(waitFor([&view] { return !view.model()->anyRunning(); }));
    }
};

QTEST_MAIN(TestColumnView)
#include "tst_ui_column.moc"
