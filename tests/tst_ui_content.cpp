#include "testsupport.h"

#include "model/brevanemodel.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/mainwindow.h"
#include "ui/tasktextedit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <csignal>

using namespace std::chrono_literals;

namespace {

constexpr int deadline = 20000; // ms; generous for loaded CI machines

// Prints the task (its last argument) and ends with `status`.
QByteArray echoTool(int status)
{
    return "for a in \"$@\"; do last=$a; done\nprintf 'got:%s\\n' \"$last\"\nexit " +
           QByteArray::number(status) + "\n";
}
// Prints, then runs until it is stopped.
const QByteArray longTool = "echo started\nexec sleep 60\n";

// A home where the named tools are installed; the others are missing, so
// the scan also asks the login shell for them. While $HOME/hold exists the
// login shell waits, which holds a scan (and a launch) at a chosen moment.
void installTools(FakeHome& home, const QList<std::pair<QString, QByteArray>>& tools)
{
    home.writeFile(QStringLiteral(".zprofile"),
                   "while [ -e \"$HOME/hold\" ]; do sleep 0.02; done\n");
    for (const auto& [name, body] : tools)
        home.writeTool(QStringLiteral(".local/bin/") + name, body);
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

QAction* findAction(const QWidget* in, const QString& text)
{
    return findByText<QAction>(in, text);
}

// Waits for the scan under way to end.
bool waitForScan(BrevaneModel* model)
{
    return QTest::qWaitFor([model] { return !model->scanning(); }, deadline);
}

} // namespace

class TestContentView : public QObject {
    Q_OBJECT

    // Shows `view` as an active window, so that its shortcuts work, and waits
    // for the scan that showing it starts.
    void showAndScan(ContentView& view)
    {
        view.model()->setShellTimeout(10s);
        view.resize(1500, 700);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QVERIFY(waitForScan(view.model()));
        QTRY_VERIFY(!view.showsSpinner());
    }

private Q_SLOTS:
    void firstRenderShowsSpinnerWhileFieldTakesTyping()
    {
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), echoTool(0)}});
        home.writeFile(QStringLiteral("hold"), "");
        ContentView view;
        QVERIFY(view.showsSpinner());
        QVERIFY(!view.runButton()->isEnabled());
        QVERIFY(!view.stopButton()->isEnabled());
        QVERIFY(!view.rescanButton()->isEnabled());
        QCOMPARE(view.runButton()->text(), QStringLiteral("Run"));
        QCOMPARE(view.stopButton()->text(), QStringLiteral("Stop"));
        QCOMPARE(view.rescanButton()->toolTip(), QStringLiteral("Rescan for installed tools"));
        QCOMPARE(view.taskField()->placeholderText(),
                 QStringLiteral("Type a task for every agent…"));

        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(showsLabel(&view, QStringLiteral("Looking for installed tools…")));
        QTest::keyClicks(view.taskField(), QStringLiteral("hi"));
        QCOMPARE(view.model()->task(), QStringLiteral("hi"));
        QVERIFY(view.model()->scanning());
        QVERIFY(view.showsSpinner());
        QVERIFY(!view.runButton()->isEnabled());

        QFile::remove(home.filePath(QStringLiteral("hold")));
        QVERIFY(waitForScan(view.model()));
        QTRY_VERIFY(!view.showsSpinner());
        QVERIFY(view.runButton()->isEnabled());
        QVERIFY(view.rescanButton()->isEnabled());
        QVERIFY(!view.stopButton()->isEnabled());
    }

    void scanShowsColumnsInCatalogueOrder()
    {
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), echoTool(0)},
                            {QStringLiteral("gemini"), echoTool(0)},
                            {QStringLiteral("hermes"), echoTool(0)}});
        ContentView view;
        showAndScan(view);
        const QStringList names{QStringLiteral("claude"), QStringLiteral("gemini"),
                                QStringLiteral("hermes")};
        QCOMPARE(view.columns().size(), names.size());
        int previousX = -1;
        for (int i = 0; i < names.size(); ++i) {
            ColumnView* column = view.columns()[i];
            QCOMPARE(column->runner(), view.model()->runners()[i]);
            QVERIFY(column->isVisible());
            QVERIFY(column->x() > previousX);
            previousX = column->x();
            const QString path = home.filePath(QStringLiteral(".local/bin/") + names[i]);
            QTRY_VERIFY(showsLabel(column, names[i]));
            QTRY_VERIFY(showsLabel(column, path));
            QTRY_VERIFY(showsLabel(column, QStringLiteral("Ready")));
        }
        // Equal widths, give or take the layout's rounding.
        QVERIFY(qAbs(view.columns()[0]->width() - view.columns()[2]->width()) <= 1);
    }

    void blankTaskKeepsRunDisabled()
    {
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), echoTool(0)}});
        ContentView view;
        showAndScan(view);
        view.taskField()->insertPlainText(QStringLiteral(" \t \u3000"));
        QTest::keyClick(view.taskField(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(view.taskField(), QStringLiteral("  "));
        QTRY_COMPARE(view.model()->task(), QStringLiteral(" \t \u3000\n  "));
        QVERIFY(!view.runButton()->isEnabled());
        QTest::keyClick(view.taskField(), Qt::Key_Return);
        QTest::keyClick(view.taskField(), Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(view.model()->runners()[0]->state().isIdle());

        QTest::keyClicks(view.taskField(), QStringLiteral("x"));
        QTRY_VERIFY(view.runButton()->isEnabled());
    }

    void returnAndControlReturnRunOnlyWhenEnabled_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("Return") << Qt::KeyboardModifiers(Qt::NoModifier);
        QTest::newRow("Control-Return") << Qt::KeyboardModifiers(Qt::ControlModifier);
    }
    void returnAndControlReturnRunOnlyWhenEnabled()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), longTool}});
        ContentView view;
        showAndScan(view);
        ToolRunner* claude = view.model()->runners()[0];
        QSignalSpy pressed(view.runButton(), &QPushButton::pressed);

        // Blank: nothing runs, and the key breaks no line either.
        QTest::keyClick(view.taskField(), Qt::Key_Return, modifiers);
        QCOMPARE(pressed.count(), 0);
        QVERIFY(claude->state().isIdle());
        QCOMPARE(view.model()->task(), QString());

        QTest::keyClicks(view.taskField(), QStringLiteral("go"));
        QTRY_VERIFY(view.runButton()->isEnabled());
        QTest::keyClick(view.taskField(), Qt::Key_Return, modifiers);
        QTRY_VERIFY_WITH_TIMEOUT(claude->state().isRunning(), deadline);
        QTRY_VERIFY(!view.runButton()->isEnabled());

        // Running: the field stays editable, and neither key starts again.
        const QList<quint64> generations{claude->outputGeneration()};
        pressed.clear();
        QTest::keyClicks(view.taskField(), QStringLiteral("!"));
        QCOMPARE(view.model()->task(), QStringLiteral("go!"));
        QTest::keyClick(view.taskField(), Qt::Key_Return, modifiers);
        QCOMPARE(pressed.count(), 0);
        QCOMPARE(claude->outputGeneration(), generations[0]);
        QCOMPARE(view.model()->task(), QStringLiteral("go!"));
        view.model()->stopAll();
    }

    void shiftAndAltReturnBreakTheLine()
    {
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), echoTool(0)}});
        ContentView view;
        showAndScan(view);
        QTest::keyClicks(view.taskField(), QStringLiteral("a"));
        QTest::keyClick(view.taskField(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(view.taskField(), QStringLiteral("b"));
        QTest::keyClick(view.taskField(), Qt::Key_Enter, Qt::AltModifier);
        QTest::keyClicks(view.taskField(), QStringLiteral("c"));
        QCOMPARE(view.model()->task(), QStringLiteral("a\nb\nc"));
        QVERIFY(view.model()->runners()[0]->state().isIdle());
    }

    void runningDisablesRunAndRescanUntilStop()
    {
        FakeHome home;
        installTools(home,
                     {{QStringLiteral("claude"), longTool}, {QStringLiteral("gemini"), longTool}});
        ContentView view;
        showAndScan(view);
        QTest::keyClicks(view.taskField(), QStringLiteral("work"));
        QTRY_VERIFY(view.runButton()->isEnabled());
        QTest::mouseClick(view.runButton(), Qt::LeftButton);
        QTRY_VERIFY(!view.runButton()->isEnabled());
        QVERIFY(!view.rescanButton()->isEnabled());
        QVERIFY(view.stopButton()->isEnabled());
        QVERIFY(view.taskField()->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(showsLabel(view.columns()[1], QStringLiteral("Running…")),
                                 deadline);

        QTest::mouseClick(view.stopButton(), Qt::LeftButton);
        QTRY_VERIFY(view.runButton()->isEnabled());
        QVERIFY(view.rescanButton()->isEnabled());
        QVERIFY(!view.stopButton()->isEnabled());
        QTRY_VERIFY(showsLabel(view.columns()[0], QStringLiteral("Stopped")));
        QTRY_VERIFY(showsLabel(view.columns()[1], QStringLiteral("Stopped")));
    }

    void fieldGrowsToFourLinesThenScrolls()
    {
        FakeHome home;
        ContentView view;
        view.resize(1000, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        TaskTextEdit* field = view.taskField();
        QList<int> heights{field->height()};
        for (int line = 2; line <= 20; ++line) {
            QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
            QTest::keyClicks(field, QString::number(line));
            heights.push_back(field->height());
            QCOMPARE(field->visibleLineCount(), std::min(line, TaskTextEdit::maxLines));
            // Up to four lines everything shows; beyond, the field scrolls.
            QCOMPARE(field->verticalScrollBar()->maximum() > 0, line > TaskTextEdit::maxLines);
        }
        QVERIFY(heights[0] < heights[1]);
        QVERIFY(heights[1] < heights[2]);
        QVERIFY(heights[2] < heights[3]);
        QCOMPARE(heights[19], heights[3]);
        // The buttons stay at the top of the row.
        QCOMPARE(view.runButton()->y(), field->y());

        // A long line wraps, and wrapped lines count too.
        field->selectAll();
        QTest::keyClicks(field, QString(400, QLatin1Char('w')));
        QTRY_COMPARE(field->height(), heights[3]);
    }

    void rescanShowsSpinnerThenTheSameColumns()
    {
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), echoTool(0)}});
        ContentView view;
        showAndScan(view);
        QTest::keyClicks(view.taskField(), QStringLiteral("keep me"));
        QTest::keyClick(view.taskField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(showsLabel(view.columns()[0], QStringLiteral("Finished")),
                                 deadline);
        const QList<ColumnView*> before = view.columns();
        QWidget* page = before[0]->parentWidget();

        home.writeFile(QStringLiteral("hold"), "");
        QTest::mouseClick(view.rescanButton(), Qt::LeftButton);
        QTRY_VERIFY(view.showsSpinner());
        QVERIFY(!before[0]->isVisible());
        QVERIFY(!view.rescanButton()->isEnabled());

        QFile::remove(home.filePath(QStringLiteral("hold")));
        QVERIFY(waitForScan(view.model()));
        QTRY_VERIFY(!view.showsSpinner());
        QCOMPARE(view.columns(), before);
        for (ColumnView* column : before) {
            QCOMPARE(column->parentWidget(), page);
            QVERIFY(column->isVisible());
        }
        QVERIFY(showsLabel(before[0], QStringLiteral("Finished")));
        QCOMPARE(view.model()->runners()[0]->output(), QStringLiteral("got:keep me\n"));
    }

    void windowsRunIndependently()
    {
        FakeHome home;
        installTools(home, {{QStringLiteral("claude"), echoTool(0)}});
        QPointer<MainWindow> first = MainWindow::open();
        QCOMPARE(first->windowTitle(), QStringLiteral("Brevane"));
        QAction* newWindow = findAction(first, QStringLiteral("New Window"));
        QVERIFY(newWindow);
        QCOMPARE(newWindow->shortcut(), QKeySequence(QKeySequence::New));
        const QList<QWidget*> before = QApplication::topLevelWidgets();
        newWindow->trigger();
        QPointer<MainWindow> second;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<MainWindow*>(widget); window && window != first)
                second = window;
        }
        QVERIFY(second);
        ContentView* a = first->contentView();
        ContentView* b = second->contentView();
        QVERIFY(a->model() != b->model());
        QVERIFY(waitForScan(a->model()));
        QVERIFY(waitForScan(b->model()));
        QTRY_VERIFY(!a->showsSpinner() && !b->showsSpinner());

        QTest::keyClicks(a->taskField(), QStringLiteral("alpha"));
        QTest::keyClick(a->taskField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(a->model()->runners()[0]->state().isDone(), deadline);
        QCOMPARE(a->model()->runners()[0]->output(), QStringLiteral("got:alpha\n"));
        QVERIFY(b->model()->runners()[0]->state().isIdle());
        QCOMPARE(b->model()->task(), QString());
        QVERIFY(b->taskField()->text().isEmpty());

        QTest::keyClicks(b->taskField(), QStringLiteral("beta"));
        QTest::keyClick(b->taskField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(b->model()->runners()[0]->state().isDone(), deadline);
        QCOMPARE(b->model()->runners()[0]->output(), QStringLiteral("got:beta\n"));
        QCOMPARE(a->model()->runners()[0]->output(), QStringLiteral("got:alpha\n"));

        QAction* closeWindow = findAction(second, QStringLiteral("Close Window"));
        QVERIFY(closeWindow);
        closeWindow->trigger();
        QTRY_VERIFY(second.isNull());
        QVERIFY(first);
        delete first.data();
    }

    void editMenuActsOnTheFocusedField()
    {
        FakeHome home;
        MainWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        TaskTextEdit* field = window.contentView()->taskField();
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClicks(field, QStringLiteral("hello"));

        findAction(&window, QStringLiteral("Select All"))->trigger();
        findAction(&window, QStringLiteral("Cut"))->trigger();
        QCOMPARE(field->text(), QString());
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("hello"));
        findAction(&window, QStringLiteral("Paste"))->trigger();
        findAction(&window, QStringLiteral("Paste"))->trigger();
        QCOMPARE(window.contentView()->model()->task(), QStringLiteral("hellohello"));
        findAction(&window, QStringLiteral("Undo"))->trigger();
        QCOMPARE(field->text(), QStringLiteral("hello"));
    }
};

QTEST_MAIN(TestContentView)
#include "tst_ui_content.moc"
