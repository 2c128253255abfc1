#include "testsupport.h"

#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/findbar.h"
#include "ui/frameclock.h"
#include "ui/mainwindow.h"
#include "ui/statuslabel.h"
#include "ui/tasktextedit.h"
#include "ui/transcriptview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

// Prints its arguments.
const QStringList echoTool{"out=got:", "args"};
// Prints, then runs until it is stopped.
const QStringList longTool{"out=started\\n", "pause"};

// A home where the named tools are installed; the others are missing, so
// the scan also asks the login shell for them. While the fifo $HOME/hold
// exists the login shell waits on it, which holds a scan at a chosen moment.
void installTools(FakeHome& home, const QStringList& names, const QStringList& steps)
{
    home.writeFile(QStringLiteral(".zprofile"),
                   "[ -p \"$HOME/hold\" ] && read l < \"$HOME/hold\"\n");
    for (const QString& name : names)
        home.writeStandin(QStringLiteral(".local/bin/") + name, steps);
}

// Lets the held scan go on, and the next ones run through.
bool releaseHold(const FakeHome& home)
{
    const QString hold = home.filePath(QStringLiteral("hold"));
    return home.release(hold) && QFile::remove(hold);
}

// The first child of type T (a label, an action) whose text is `text`.
template <typename T> T* findByText(const QObject* in, const QString& text)
{
    const QList<T*> children = in->findChildren<T*>();
    for (T* child : children) {
        if (child->text() == text)
            return child;
    }
    return nullptr;
}

bool showsLabel(const QWidget* in, const QString& text)
{
    const QLabel* label = findByText<QLabel>(in, text);
    return label && label->isVisible();
}

bool waitForScan(const ContentView* view)
{
    return QTest::qWaitFor([view] { return !view->model()->scanning(); }, deadline) &&
           QTest::qWaitFor([view] { return !view->showsSpinner(); }, deadline);
}

// File > New Window of `first`: the window it opens.
MainWindow* newWindowOf(MainWindow* first)
{
    findByText<QAction>(first, QStringLiteral("New Window"))->trigger();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget); window && window != first)
            return window;
    }
    return nullptr;
}

void showActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

} // namespace

class TestContentView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A person opens the window while the scan is slow, types, and runs the
    // task from the keyboard twice, stopping each run with Stop.
    void keyboardWalkThrough()
    {
        FakeHome home;
        const QStringList names{QStringLiteral("claude"), QStringLiteral("gemini"),
                                QStringLiteral("hermes")};
        installTools(home, names.first(2), longTool);
        home.makeFifo(QStringLiteral("hold"));
        ProcessOwner owner;
        ContentView view(owner);
        QVERIFY(!view.runButton()->isEnabled() && !view.stopButton()->isEnabled() &&
                !view.rescanButton()->isEnabled());
        view.resize(1500, 700);
        showActive(&view);
        QVERIFY(showsLabel(&view, QStringLiteral("Looking for installed tools…")));

        // The field takes typing while the scan runs; Shift- and Alt-Return
        // break the line, and blanks alone never enable Run.
        TaskTextEdit* field = view.taskField();
        field->insertPlainText(QStringLiteral(" \t \u3000"));
        QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(field, QStringLiteral("  "));
        QTest::keyClick(field, Qt::Key_Enter, Qt::AltModifier);
        const QString blank = QStringLiteral(" \t \u3000\n  \n");
        QCOMPARE(view.model()->task(), blank);
        QVERIFY(view.model()->scanning());

        QVERIFY(releaseHold(home));
        QVERIFY(waitForScan(&view));
        for (int i = 0; i < 3; ++i) // in catalogue order, as wide as each other
            QVERIFY(i == 0 || view.columns()[i]->x() > view.columns()[i - 1]->x());
        QVERIFY(qAbs(view.columns()[0]->width() - view.columns()[2]->width()) <= 1);
        QVERIFY(!view.runButton()->isEnabled() && !view.stopButton()->isEnabled());
        QVERIFY(view.rescanButton()->isEnabled());
        QTRY_VERIFY(!FrameClock::of(&view)->isTicking());

        // With Run disabled neither key runs, nor breaks the line.
        ToolRunner* claude = view.model()->runners()[0];
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(view.model()->task(), blank);
        QVERIFY(claude->state().isIdle());

        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("x"));
        QTRY_VERIFY(view.runButton()->isEnabled());
        for (const Qt::KeyboardModifier runKey : {Qt::NoModifier, Qt::ControlModifier}) {
            QTest::keyClick(field, Qt::Key_Return, runKey);
            QTRY_VERIFY_WITH_TIMEOUT(claude->state().isRunning(), deadline);
            const quint64 running = claude->outputGeneration();
            QTRY_VERIFY(view.stopButton()->isEnabled());
            QVERIFY(!view.runButton()->isEnabled() && !view.rescanButton()->isEnabled());
            // The elapsed times tick, and the title counts, only while tools run.
            QTRY_VERIFY(FrameClock::of(&view)->isTicking());
            QTRY_VERIFY(view.title().startsWith(QStringLiteral("2 running — ")));

            // Running: the field stays editable, and neither key starts again.
            QTest::keyClicks(field, QStringLiteral("!"));
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
            QCOMPARE(claude->outputGeneration(), running);
            QVERIFY(view.model()->task().endsWith(QLatin1Char('!')));

            QTest::mouseClick(view.stopButton(), Qt::LeftButton);
            QTRY_VERIFY(view.runButton()->isEnabled());
            QVERIFY(view.rescanButton()->isEnabled() && !view.stopButton()->isEnabled());
            QVERIFY(claude->state().isStopped());
            QTRY_VERIFY(!FrameClock::of(&view)->isTicking());
            QVERIFY(!view.title().contains(QStringLiteral("running")));
            QTRY_VERIFY(showsLabel(view.columns()[0], QStringLiteral("Stopped")));
        }
    }

    // Buttons follow the model at once: a Stop in the same event-loop turn
    // as Run finds itself enabled and stops the tool.
    void stopInTheSameTurnAsRun()
    {
        FakeHome home;
        home.writeStandin(QStringLiteral(".local/bin/claude"), {QStringLiteral("pause")});
        ProcessOwner owner;
        ContentView view(owner);
        view.show();
        QVERIFY(waitForScan(&view));
        QTest::keyClicks(view.taskField(), QStringLiteral("go"));
        QVERIFY(view.runButton()->isEnabled());
        QTest::mouseClick(view.runButton(), Qt::LeftButton);
        QTest::mouseClick(view.stopButton(), Qt::LeftButton);
        ToolRunner* claude = view.model()->runners()[0];
        QVERIFY(claude->state().isStopped());
        QTRY_VERIFY(showsLabel(view.columns()[0], QStringLiteral("Stopped")));
        QVERIFY(view.runButton()->isEnabled() && !view.stopButton()->isEnabled());
        // The child's thread ends once the child is reaped.
        QTRY_COMPARE_WITH_TIMEOUT(owner.threadCount(), 0, deadline);
    }

    void fieldGrowsToFourLinesThenScrolls()
    {
        FakeHome home;
        ProcessOwner owner;
        ContentView view(owner);
        view.resize(1000, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        TaskTextEdit* field = view.taskField();
        QList<int> heights{field->height()};
        for (int line = 2; line <= 6; ++line) {
            QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
            QTest::keyClicks(field, QString::number(line));
            heights.push_back(field->height());
            QCOMPARE(field->verticalScrollBar()->maximum() > 0, line > TaskTextEdit::maxLines);
        }
        QVERIFY(heights[0] < heights[1] && heights[1] < heights[2] && heights[2] < heights[3]);
        QCOMPARE(heights[5], heights[3]);
        QCOMPARE(view.runButton()->y(), field->y()); // the buttons stay at the top

        // A long line wraps, and wrapped lines count too.
        field->selectAll();
        QTest::keyClicks(field, QString(400, QLatin1Char('w')));
        QTRY_COMPARE(field->height(), heights[3]);
    }

    // Ctrl+F looks in every column at once; Return and Shift+Return step
    // through the current column's matches, round; Escape ends it. Zoom
    // sizes every transcript, within bounds.
    void findsInEveryColumnAndZooms()
    {
        FakeHome home;
        installTools(home, {QStringLiteral("claude")}, {"out=needle needle\\n"});
        installTools(home, {QStringLiteral("gemini")}, {"out=hay\\n"});
        installTools(home, {QStringLiteral("hermes")}, {"out=NEEDLE\\n"});
        ProcessOwner owner;
        QPointer<MainWindow> window = MainWindow::open(owner, home.path());
        showActive(window);
        ContentView* view = window->contentView();
        QVERIFY(waitForScan(view));
        QTest::keyClicks(view->taskField(), QStringLiteral("go"));
        QTRY_VERIFY(view->runButton()->isEnabled());
        QTest::mouseClick(view->runButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!view->model()->anyRunning(), deadline);

        QTest::keySequence(window, QKeySequence::Find);
        QLineEdit* field = view->findBar()->field();
        QVERIFY(view->findBar()->isVisible() && field->hasFocus());
        QTest::keyClicks(field, QStringLiteral("needle"));
        auto count = [&](int i) {
            const auto* label =
                view->columns()[i]->findChild<QLabel*>(QStringLiteral("matchCount"));
            return label->isVisible() ? label->text() : QString();
        };
        QTRY_COMPARE(count(0), QStringLiteral("2 matches"));
        QTRY_COMPARE(count(1), QStringLiteral("No matches"));
        QTRY_COMPARE(count(2), QStringLiteral("1 match"));
        TranscriptView* first = view->columns()[0]->transcript();
        for (qsizetype expected : {0, 7, 0}) {
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(first->currentMatch(), expected);
        }
        QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(first->currentMatch(), 7);
        // The column whose transcript had the keyboard last is the current one.
        TranscriptView* third = view->columns()[2]->transcript();
        third->setFocus();
        QTest::keyClick(window, Qt::Key_F3);
        QCOMPARE(third->currentMatch(), 0);

        QTest::mouseClick(view->findBar()->matchCaseBox(), Qt::LeftButton);
        QTRY_COMPARE(count(2), QStringLiteral("No matches"));
        QTRY_COMPARE(count(0), QStringLiteral("2 matches"));
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!view->findBar()->isVisible() && first->findQuery().isEmpty());
        QCOMPARE(count(0), QString());

        const qreal base = view->transcriptPointSize();
        QWheelEvent wheel(QPointF(5, 5), third->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, QWheelEvent::DefaultDeltasPerStep), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(third->viewport(), &wheel);
        QCOMPARE(view->transcriptPointSize(), base + 1);
        QCOMPARE(first->font().pointSizeF(), base + 1);
        for (int i = 0; i < 60; ++i)
            QTest::keySequence(window, QKeySequence::ZoomIn);
        QCOMPARE(view->transcriptPointSize(), ContentView::maximumPointSize);
        for (int i = 0; i < 60; ++i)
            QTest::keySequence(window, QKeySequence::ZoomOut);
        QCOMPARE(first->font().pointSizeF(), ContentView::minimumPointSize);
        QTest::keySequence(window, QKeySequence(Qt::CTRL | Qt::Key_0));
        QCOMPARE(third->font().pointSizeF(), base);
        delete window.data();
    }

    // Two windows from File > New Window: the second opens in the first's
    // folder; a dropped folder (not typed into the field), a choice of tools,
    // a run or a rescan in one leaves the other alone, and a rescan shows the
    // same columns again. Which runs reach which tools is the model's test.
    void windowsWorkIndependently()
    {
        FakeHome home;
        installTools(home, {QStringLiteral("claude"), QStringLiteral("gemini")}, echoTool);
        const QString project = home.filePath(QStringLiteral("my project"));
        const QString other = home.filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(project) && QDir().mkpath(other));
        ProcessOwner owner;
        QPointer<MainWindow> first = MainWindow::open(owner, project);
        ContentView* a = first->contentView();
        QCOMPARE(first->windowTitle(), QStringLiteral("my project — Brevane"));
        QCOMPARE(a->folderButton()->toolTip(), project);
        QPointer<MainWindow> second = newWindowOf(first);
        QVERIFY(second);
        ContentView* b = second->contentView();
        QCOMPARE(b->model()->workingFolder(), project);
        QCOMPARE(second->windowTitle(), first->windowTitle());
        QVERIFY(waitForScan(a));
        QVERIFY(waitForScan(b));

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(other)});
        QWidget* viewport = a->taskField()->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QCOMPARE(a->model()->workingFolder(), other);
        QCOMPARE(a->taskField()->text(), QString());
        QTRY_COMPARE(first->windowTitle(), QStringLiteral("other — Brevane"));
        QCOMPARE(b->model()->workingFolder(), project);
        QTest::mouseClick(a->columns()[1]->findChild<QCheckBox*>(QStringLiteral("includeBox")),
                          Qt::LeftButton);
        QVERIFY(!a->model()->isIncluded(1) && b->model()->isIncluded(1));
        QVERIFY(!a->saveTranscriptsAction()->isEnabled());
        QCOMPARE(a->saveTranscriptsAction()->shortcut(), QKeySequence(QKeySequence::Save));

        // The Edit menu acts on the focused field.
        showActive(first);
        TaskTextEdit* field = a->taskField();
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClicks(field, QStringLiteral("alpha"));
        const auto edit = [&first](const char* text) {
            findByText<QAction>(first, QString::fromLatin1(text))->trigger();
        };
        edit("Select All");
        edit("Cut");
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("alpha"));
        QCOMPARE(a->model()->task(), QString());
        edit("Paste");
        QCOMPARE(a->model()->task(), QStringLiteral("alpha"));
        QTest::keyClick(field, Qt::Key_Return);
        ToolRunner* claudeA = a->model()->runners()[0];
        QTRY_VERIFY_WITH_TIMEOUT(claudeA->state().isDone(), deadline);
        QTRY_VERIFY(showsLabel(a->columns()[0], statusLabel(claudeA->path(), RunState::done(0))));
        QVERIFY(b->model()->runners()[0]->state().isIdle());
        QVERIFY(b->taskField()->text().isEmpty());
        // Only the tool that ran is saved, with its task and transcript.
        QTRY_VERIFY(a->saveTranscriptsAction()->isEnabled());
        QVERIFY(a->saveTranscriptsTo(home.filePath(QStringLiteral("saved.md"))));
        const QByteArray saved = home.read(QStringLiteral("saved.md"));
        QVERIFY(saved.contains("\n## claude\n\n- Path: ") && !saved.contains("## gemini"));
        QVERIFY(saved.contains("\n- Status: Finished\n- Elapsed: 0:0"));
        QVERIFY(saved.contains(
            "\nTask:\n\n```\nalpha\n```\n\nTranscript:\n\n```\ngot:-p alpha\n```\n"));

        const QList<ColumnView*> before = a->columns();
        home.makeFifo(QStringLiteral("hold"));
        QTest::mouseClick(a->rescanButton(), Qt::LeftButton);
        QTRY_VERIFY(a->showsSpinner());
        QVERIFY(!a->rescanButton()->isEnabled());
        QVERIFY(!b->showsSpinner());
        QVERIFY(b->rescanButton()->isEnabled());
        QVERIFY(releaseHold(home));
        QVERIFY(waitForScan(a));
        QCOMPARE(a->columns(), before);
        QVERIFY(before[0]->isVisible() && before[2]->isVisible());
        QVERIFY(showsLabel(before[0], statusLabel(claudeA->path(), RunState::done(0))));

        QTest::keyClicks(b->taskField(), QStringLiteral("beta"));
        QTest::keyClick(b->taskField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(b->model()->runners()[0]->state().isDone(), deadline);
        QCOMPARE(b->model()->runners()[0]->output(), QStringLiteral("got:-p beta\n"));
        QCOMPARE(claudeA->output(), QStringLiteral("got:-p alpha\n"));
        QTest::mouseClick(a->columns()[0]->findChild<QCheckBox*>(QStringLiteral("includeBox")),
                          Qt::LeftButton);
        QTRY_VERIFY(!a->runButton()->isEnabled());

        findByText<QAction>(second, QStringLiteral("Close Window"))->trigger();
        QTRY_VERIFY(second.isNull());
        QVERIFY(first);
        delete first.data();
    }
};

QTEST_MAIN(TestContentView)
#include "tst_ui_content.moc"
