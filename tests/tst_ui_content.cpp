#include "testsupport.h"

#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "ui/columnview.h"
#include "ui/contentview.h"
#include "ui/findbar.h"
#include "ui/frameclock.h"
#include "ui/mainwindow.h"
#include "ui/tasktextedit.h"
#include "ui/transcriptview.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <functional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// The first child of type T (a label, an action) whose text is `text`.
template <typename T> T* findByText(const QObject* in, const QString& text)
{
    for (T* child : in->findChildren<T*>())
        if (child->text() == text)
            return child;
    return nullptr;
}

bool showsLabel(const QWidget* in, const QString& text)
{
    const QLabel* label = findByText<QLabel>(in, text);
    return label && label->isVisible();
}

void trigger(const QWidget* window, const char* menuItem)
{
    findByText<QAction>(window, QString::fromUtf8(menuItem))->trigger();
}

bool waitForScan(const ContentView* view)
{
    return QTest::qWaitFor([view] { return !view->model()->scanning(); }, deadline) &&
           QTest::qWaitFor([view] { return !view->showsSpinner(); }, deadline);
}

// Drags `mime` onto `target` and drops it there; true when both were accepted.
bool dropOn(QWidget* target, const QMimeData& mime, Qt::DropActions actions)
{
    QDragEnterEvent enter({5, 5}, actions, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDropEvent drop({5, 5}, actions, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

// The file dialog open in `window`, if any.
QFileDialog* openFileDialog(const QWidget* window)
{
    for (QFileDialog* dialog : window->findChildren<QFileDialog*>())
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}

// Calls `ask`, which opens a file dialog in `window`, and returns that
// dialog, still open. A dialog that holds the call in an event loop of its
// own is cancelled, so that the test fails instead of waiting for ever.
QFileDialog* dialogOpenedBy(const QWidget* window, const std::function<void()>& ask)
{
    QTimer cancel;
    cancel.setSingleShot(true);
    QObject::connect(&cancel, &QTimer::timeout, [window] {
        if (QFileDialog* dialog = openFileDialog(window))
            dialog->reject();
    });
    cancel.start(0);
    ask();
    cancel.stop();
    return openFileDialog(window);
}

} // namespace

class TestContentView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A person opens the window while the scan is slow, types, and runs the
    // task from the keyboard twice, stopping each run with Stop; then clicks
    // Stop in the same event-loop turn as Run, which finds Stop enabled at
    // once and stops the tools.
    void keyboardWalkThrough()
    {
        FakeHome home;
        // Hermes is missing, so the scan asks the login shell, which waits
        // while the fifo "hold" is not released.
        for (const char* name : {"claude", "gemini"})
            home.writeStandin(u".local/bin/"_s + name, {"out=started\\n", "pause"});
        home.writeFile(u".zprofile"_s, "read l < \"$HOME/hold\"\n");
        const QString hold = home.makeFifo(u"hold"_s);
        ProcessOwner owner;
        ContentView view(owner);
        view.resize(1000, 700);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QVERIFY(showsLabel(&view, u"Looking for installed tools…"_s));

        // The field takes typing while the scan runs. Shift- and Alt-Return
        // break the line; it grows to four lines, then scrolls. Blanks alone
        // never enable Run.
        TaskTextEdit* field = view.taskField();
        // The ideographic space comes from a taller fallback font: the field
        // fits its line all the same.
        field->insertPlainText(u" \t \u3000"_s);
        QList<int> heights{field->height()};
        for (int line = 2; line <= 6; ++line) {
            const bool alt = line % 2;
            QTest::keyClick(field, alt ? Qt::Key_Enter : Qt::Key_Return,
                            alt ? Qt::AltModifier : Qt::ShiftModifier);
            QCOMPARE(field->height() > heights.last(), line <= TaskTextEdit::maxLines);
            heights << field->height();
            QCOMPARE(field->verticalScrollBar()->maximum() > 0, line > TaskTextEdit::maxLines);
        }
        QCOMPARE(view.runButton()->y(), field->y()); // the buttons stay at the top
        const QString blank = u" \t \u3000\n\n\n\n\n"_s;
        QCOMPARE(view.model()->task(), blank);
        QVERIFY(home.release(hold));
        QVERIFY(waitForScan(&view));
        const QList<ColumnView*> columns = view.columns(); // as wide as each other
        QVERIFY(qAbs(columns[0]->width() - columns[2]->width()) <= 1);
        QTRY_VERIFY(!FrameClock::of(&view)->isTicking());

        // With Run disabled neither key runs, nor breaks the line.
        AgentSession* claude = view.model()->runners()[0];
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(view.model()->task(), blank);
        QVERIFY(claude->state().isIdle());

        // A long line wraps, and wrapped lines count too.
        field->selectAll();
        QTest::keyClicks(field, QString(400, QLatin1Char('w')));
        QTRY_VERIFY(field->height() > heights[2]); // taller than three lines
        QVERIFY(field->height() <= heights[3]);
        for (const Qt::KeyboardModifier runKey : {Qt::NoModifier, Qt::ControlModifier}) {
            // Either key starts the tools before it returns, so a Stop
            // right after it always finds them.
            QTest::keyClick(field, Qt::Key_Return, runKey);
            QVERIFY(claude->state().isRunning());
            QVERIFY(view.stopButton()->isEnabled() && !view.runButton()->isEnabled() &&
                    !view.rescanButton()->isEnabled());
            // The elapsed times tick, and the title counts, only while tools run.
            QTRY_VERIFY(FrameClock::of(&view)->isTicking() &&
                        view.title().startsWith(u"2 running — "_s));

            // Running: the field stays editable, and neither key starts again.
            const qsizetype running = claude->turns().size();
            QTest::keyClicks(field, u"!"_s);
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
            QCOMPARE(claude->turns().size(), running);
            QVERIFY(view.model()->task().endsWith(QLatin1Char('!')));

            QTest::mouseClick(view.stopButton(), Qt::LeftButton);
            QTRY_VERIFY(view.runButton()->isEnabled());
            QVERIFY(view.rescanButton()->isEnabled() && !view.stopButton()->isEnabled());
            QTRY_VERIFY(!FrameClock::of(&view)->isTicking() &&
                        !view.title().contains(u"running"_s));
            QTRY_VERIFY(showsLabel(columns[0], u"Stopped"_s));
        }

        const qsizetype stopped = claude->turns().size();
        QTest::mouseClick(view.runButton(), Qt::LeftButton);
        QTest::mouseClick(view.stopButton(), Qt::LeftButton);
        QVERIFY(claude->turns().size() == stopped + 1 && claude->state().isStopped());
        // The follow-up was sent: the field is empty for the next one.
        QTRY_VERIFY(view.taskField()->text().isEmpty() && view.runButton()->text() == u"Send"_s);
        QVERIFY(!view.runButton()->isEnabled() && !view.stopButton()->isEnabled());
        // The children's threads end once they are reaped.
        QTRY_COMPARE_WITH_TIMEOUT(owner.threadCount(), 0, deadline);
    }

    // Once a session has begun the button reads Send and the field says
    // that it follows up; Return sends the field once and empties it. New
    // Session, from the button or Ctrl+Shift+N, is there only once nothing
    // runs, and empties every column.
    void sendFollowUpsThenStartANewSession()
    {
        FakeHome home;
        const QString fifo = home.makeFifo(u"fifo"_s);
        home.writeStandin(u".local/bin/claude"_s, {"wait=" + fifo, "out=hi\\n"});
        ProcessOwner owner;
        QPointer<MainWindow> window = MainWindow::open(owner, QFile::encodeName(home.path()));
        ContentView* view = window->contentView();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(waitForScan(view));
        TaskTextEdit* field = view->taskField();
        QPushButton* button = view->runButton();
        const QString firstHint = field->placeholderText();
        QVERIFY(button->text() == u"Run"_s && !view->newSessionButton()->isEnabled());
        AgentSession* claude = view->model()->runners()[0];
        for (const QString& task : {u"first"_s, u"second"_s}) {
            field->setFocus();
            QTest::keyClicks(field, task);
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY(claude->state().isRunning() && view->model()->task().isEmpty());
            QTRY_VERIFY(field->text().isEmpty());
            QCOMPARE(button->text(), u"Send"_s);
            QVERIFY(field->placeholderText() != firstHint);
            QVERIFY(!view->newSessionButton()->isEnabled());
            QTest::keyClick(field, Qt::Key_Return); // nothing left to send
            QVERIFY(home.release(fifo));
            QTRY_VERIFY_WITH_TIMEOUT(view->newSessionButton()->isEnabled(), deadline);
        }
        QCOMPARE(claude->turns().size(), 2);
        QCOMPARE(claude->output(), u"> first\nhi\n\n> second\nhi\n"_s);

        QTest::keyClick(window, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(claude->output().isEmpty() && !view->model()->sessionStarted());
        QTRY_COMPARE(button->text(), u"Run"_s);
        QCOMPARE(field->placeholderText(), firstHint);
        QVERIFY(!view->newSessionButton()->isEnabled());
        delete window.data();
    }

    // Two windows from File > New Window: the second opens in the first's
    // folder; a dropped folder (not typed into the field), a choice of tools
    // and a run in one leave the other alone. Find looks in every column at
    // once and steps round the current column's matches; zoom sizes every
    // transcript, within bounds.
    void twoWindowsFindAndZoom()
    {
        FakeHome home;
        home.writeStandin(u".local/bin/claude"_s, {"out=got:", "args"});
        home.writeStandin(u".local/bin/gemini"_s, {"out=ALPHA\\n"});
        const QString project = home.filePath(u"my project"_s);
        const QString other = home.filePath(u"other"_s);
        QVERIFY(QDir().mkpath(project) && QDir().mkpath(other));
        ProcessOwner owner;
        QPointer<MainWindow> first = MainWindow::open(owner, QFile::encodeName(project));
        trigger(first, "New Window");
        QPointer<MainWindow> second;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<MainWindow*>(widget); window && window != first)
                second = window;
        QVERIFY(second);
        ContentView* a = first->contentView();
        ContentView* b = second->contentView();
        QCOMPARE(b->model()->workingFolder(), QFile::encodeName(project));
        QCOMPARE(second->windowTitle(), u"my project — Brevane"_s);
        QVERIFY(waitForScan(a) && waitForScan(b));

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(other)});
        QVERIFY(dropOn(a->taskField()->viewport(), mime, Qt::CopyAction | Qt::LinkAction));
        QCOMPARE(a->taskField()->text(), QString());
        QTRY_COMPARE(first->windowTitle(), u"other — Brevane"_s);
        QCOMPARE(b->model()->workingFolder(), QFile::encodeName(project));
        QTest::mouseClick(b->columns()[1]->findChild<QCheckBox*>(u"includeBox"_s), Qt::LeftButton);
        QVERIFY(a->model()->isIncluded(1) && !b->model()->isIncluded(1));

        // The Edit menu acts on the focused field.
        first->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(first));
        TaskTextEdit* field = a->taskField();
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QApplication::clipboard()->setText(u"alpha Alpha"_s);
        trigger(first, "Paste");
        QCOMPARE(a->model()->task(), u"alpha Alpha"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!a->model()->anyRunning(), deadline);
        QVERIFY(b->model()->runners()[0]->state().isIdle() && b->taskField()->text().isEmpty());
        // Only the tools that ran are saved, with their tasks and transcripts.
        QTRY_VERIFY(a->saveTranscriptsAction()->isEnabled());
        QSignalSpy savedSpy(a, &ContentView::transcriptsSaved);
        a->saveTranscriptsTo(home.filePath(u"saved.md"_s));
        QVERIFY(savedSpy.wait(deadline) && savedSpy.first().at(1).toBool());
        const QByteArray saved = home.read(u"saved.md"_s);
        QVERIFY(saved.contains("\n## gemini\n") && !saved.contains("## hermes"));
        QVERIFY(saved.contains("\n- Status: Finished\n"));
        QVERIFY(saved.contains("```\nalpha Alpha\n```") &&
                saved.contains("```\ngot:--output-format stream-json --verbose") &&
                saved.contains(" -p alpha Alpha\n```"));
        delete second.data();

        QTest::keySequence(first, QKeySequence::Find);
        QLineEdit* findField = a->findBar()->field();
        QVERIFY(a->findBar()->isVisible() && findField->hasFocus());
        QTest::keyClicks(findField, u"alpha"_s);
        const auto shows = [a](const QString& claude, const QString& gemini) {
            return showsLabel(a->columns()[0], claude) && showsLabel(a->columns()[1], gemini) &&
                   showsLabel(a->columns()[2], u"No matches"_s);
        };
        // Each transcript starts with the prompt line, "> alpha Alpha".
        QTRY_VERIFY(shows(u"4 matches"_s, u"3 matches"_s));
        TranscriptView* claude = a->columns()[0]->transcript();
        const QString claudeText = a->model()->runners()[0]->output().toString();
        const qsizetype third = claudeText.indexOf(u" alpha"_s, 9) + 1;
        for (qsizetype expected : {qsizetype(2), qsizetype(8), third}) {
            QTest::keyClick(findField, Qt::Key_Return);
            QCOMPARE(claude->currentMatch(), expected);
        }
        QTest::keyClick(findField, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(claude->currentMatch(), 8);
        // The column whose transcript had the keyboard last is the current one.
        TranscriptView* gemini = a->columns()[1]->transcript();
        gemini->setFocus();
        QTest::keyClick(first, Qt::Key_F3);
        QCOMPARE(gemini->currentMatch(), 2);
        QTest::mouseClick(a->findBar()->matchCaseBox(), Qt::LeftButton);
        QTRY_VERIFY(shows(u"2 matches"_s, u"1 match"_s));
        QTest::keyClick(findField, Qt::Key_Escape);
        QVERIFY(!a->findBar()->isVisible() && claude->findQuery().isEmpty());
        QVERIFY(!showsLabel(a->columns()[0], u"2 matches"_s) &&
                !showsLabel(a->columns()[2], u"No matches"_s));

        const qreal base = a->transcriptPointSize();
        QWheelEvent wheel(QPointF(5, 5), gemini->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, QWheelEvent::DefaultDeltasPerStep), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(gemini->viewport(), &wheel);
        QCOMPARE(claude->font().pointSizeF(), base + 1);
        for (int i = 0; i < 60; ++i)
            QTest::keySequence(first, QKeySequence::ZoomIn);
        QCOMPARE(a->transcriptPointSize(), ContentView::maximumPointSize);
        for (int i = 0; i < 60; ++i)
            QTest::keySequence(first, QKeySequence::ZoomOut);
        QCOMPARE(claude->font().pointSizeF(), ContentView::minimumPointSize);
        QTest::keySequence(first, QKeySequence(Qt::CTRL | Qt::Key_0));
        QCOMPARE(gemini->font().pointSizeF(), base);
        delete first.data();
    }

    // A folder whose name is not UTF-8 is a folder like any other: a drop
    // (a raw URI list, %FF and all) makes it the working folder, it shows
    // with U+FFFD where its bytes are no text, and the tools start in it.
    // The folder picker names folders in text only, so it refuses one whose
    // name it may not have given exactly, and says so.
    void folderNamesThatAreNoText()
    {
        FakeHome home;
        home.writeStandin(u".local/bin/claude"_s, {u"record="_s + home.filePath(u"record"_s)});
        const QByteArray odd = QFile::encodeName(home.path()) + "/odd\xff.d";
        // Names Qt cannot decode would outlive the temporary home.
        auto cleanUp = qScopeGuard([&] { ::rmdir(odd.constData()); });
        QVERIFY(::mkdir(odd.constData(), 0700) == 0);
        const QString picked = home.filePath(u"picked\uFFFD.d"_s); // a real U+FFFD
        QVERIFY(QDir().mkpath(picked));
        ProcessOwner owner;
        ContentView view(owner);
        view.show();
        QVERIFY(waitForScan(&view));

        QMimeData mime;
        mime.setData(u"text/uri-list"_s,
                     "# dragged\r\nfile://" + odd.toPercentEncoding("/") + "\r\n");
        QVERIFY(dropOn(&view, mime, Qt::LinkAction));
        const QString shown = QString::fromUtf8(odd);
        QTRY_COMPARE(view.folderButton()->toolTip(), shown);
        QCOMPARE(view.title(), u"odd\uFFFD.d — Brevane"_s);
        QTest::keyClicks(view.taskField(), u"t"_s);
        QTest::keyClick(view.taskField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!home.read(u"record"_s).isEmpty(), deadline);
        QCOMPARE(home.record(u"record"_s).workingFolder,
                 QFile::encodeName(QFileInfo(home.path()).canonicalFilePath()) + "/odd\xff.d");

        QFileDialog* dialog = dialogOpenedBy(&view, [&view] { view.chooseFolder(); });
        QVERIFY(dialog);
        dialog->selectFile(picked);
        static_cast<QDialog*>(dialog)->accept(); // as its OK button does
        QMessageBox* refusal = view.findChild<QMessageBox*>();
        QVERIFY(refusal && refusal->isVisible() && refusal->text().contains(picked));
        QCOMPARE(refusal->windowModality(), Qt::WindowModal);
        QCOMPARE(view.folderButton()->toolTip(), shown);
    }

    // File dialogs are modal to their own window and hold no event loop of
    // their own: while one window asks where to save, another's Stop stops
    // its tools, and dialogs open in two windows close in either order.
    void fileDialogsLeaveOtherWindowsAlone_data()
    {
        QTest::addColumn<bool>("firstOpenedClosesFirst");
        QTest::newRow("first opened closes first") << true;
        QTest::newRow("last opened closes first") << false;
    }
    void fileDialogsLeaveOtherWindowsAlone()
    {
        QFETCH(bool, firstOpenedClosesFirst);
        FakeHome home;
        home.writeStandin(u".local/bin/claude"_s, {"pause"});
        const QString other = home.filePath(u"other"_s);
        QVERIFY(QDir().mkpath(other));
        ProcessOwner owner;
        QPointer<MainWindow> first = MainWindow::open(owner, QFile::encodeName(home.path()));
        QPointer<MainWindow> second = MainWindow::open(owner);
        auto cleanUp = qScopeGuard([&] {
            delete first.data();
            delete second.data();
        });
        ContentView* a = first->contentView();
        ContentView* b = second->contentView();
        QVERIFY(waitForScan(a) && waitForScan(b));
        AgentSession* running = b->model()->runners()[0];
        b->model()->setTask(u"t"_s);
        b->model()->start();
        QVERIFY(running->state().isRunning());

        QFileDialog* save = dialogOpenedBy(first, [a] { a->saveTranscripts(); });
        QVERIFY(save && save->windowModality() == Qt::WindowModal);
        // Clicked through its window, as the platform does, where a modal
        // dialog would block it.
        QTest::mouseClick(second->windowHandle(), Qt::LeftButton, {},
                          b->stopButton()->mapTo(second, b->stopButton()->rect().center()));
        QVERIFY(running->state().isStopped());

        QFileDialog* pick = dialogOpenedBy(second, [b] { b->chooseFolder(); });
        QVERIFY(pick && save->isVisible());
        // Save takes the name it proposes, in the working folder.
        pick->selectFile(other);
        const QList<QFileDialog*> closing =
            firstOpenedClosesFirst ? QList{save, pick} : QList{pick, save};
        for (QFileDialog* dialog : closing)
            static_cast<QDialog*>(dialog)->accept();
        QTRY_COMPARE(QDir(home.path()).entryList({u"brevane-*.md"_s}).size(), 1);
        QTRY_COMPARE(second->windowTitle(), u"other — Brevane"_s);
        QVERIFY(!openFileDialog(first) && !openFileDialog(second));
    }
};

QTEST_MAIN(TestContentView)
#include "tst_ui_content.moc"
