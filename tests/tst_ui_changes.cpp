#include "git/changes.h"
#include "gitsupport.h"
#include "text/utf8.h"
#include "transcript/transcriptdocument.h"
#include "ui/changesview.h"
#include "ui/transcriptview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace {

// A repository with a base commit and two turns' commits after it, which
// between them add, modify, delete, rename and change a binary file, with
// names that hold blanks, a newline and bytes that are not UTF-8.
struct Session {
    QTemporaryDir dir;
    QByteArray top = canonical(bytes(dir.path())) + "/agent tree";
    QByteArray base;
    QByteArray turn1;
    QByteArray turn2;

    ~Session() { removeTree(bytes(dir.path())); }

    bool write(const QByteArray& relative, const QByteArray& content) const
    {
        return writeFile(top + '/' + relative, content);
    }
    QByteArray commit(const QByteArray& message) const
    {
        return git(top, {"add", "-A"}) && git(top, {"commit", "-qm", message})
                   ? gitOutput(top, {"rev-parse", "HEAD"})
                   : QByteArray();
    }
    bool create()
    {
        QByteArray lines;
        for (int i = 1; i <= 10; ++i)
            lines += "line " + QByteArray::number(i) + '\n';
        if (!(git(canonical(bytes(dir.path())), {"init", "-q", top}) && write("a.txt", lines) &&
              write("gone.txt", "bye\nnow\n") &&
              write("old name.txt", "one\ntwo\nthree\nfour\nfive\n") &&
              write("image.bin", QByteArray("\0\1\2", 3))))
            return false;
        base = commit("base");
        lines.replace("line 2\n", "second\n");
        if (!write("a.txt", lines) || !write("first turn.txt", "x\ny\nz\n"))
            return false;
        turn1 = commit("turn 1");
        lines.replace("line 3\n", "third\n");
        if (!(write("a.txt", lines) && ::unlink((top + "/gone.txt").constData()) == 0 &&
              ::unlink((top + "/old name.txt").constData()) == 0 &&
              write("moved/new name.txt", "one\ntwo\nthree\nfour\nfive\nsix\n") &&
              write("image.bin", QByteArray("\0\3", 2)) && write("new\nline", "n\n") &&
              write("caf\xe9 \xff", "q\n")))
            return false;
        turn2 = commit("turn 2");
        return !base.isEmpty() && !turn1.isEmpty() && !turn2.isEmpty();
    }
};

QAbstractButton* button(const ChangesView& view, const QString& text)
{
    for (QAbstractButton* b : view.findChildren<QAbstractButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QList<QByteArray> pathsOf(const QList<GitFileChange>& changes)
{
    QList<QByteArray> paths;
    for (const GitFileChange& change : changes)
        paths << change.path;
    return paths;
}

} // namespace

class TestChangesView : public QObject {
    Q_OBJECT

private:
    FakeHome m_home;
    Session m_session;
    QList<GitFileChange> m_whole;
    QList<GitFileChange> m_turn;

    // The row of the list that shows `path`; -1 when none does.
    static int rowOf(const ChangesView& view, const QByteArray& path)
    {
        const QList<GitFileChange>& changes = view.currentChanges();
        for (int row = 0; row < changes.size(); ++row)
            if (changes[row].path == path)
                return row;
        return -1;
    }
    static QString cell(const ChangesView& view, int row, int column)
    {
        const QAbstractItemModel* model = view.fileList()->model();
        return model->data(model->index(row, column)).toString();
    }
    static void click(ChangesView& view, int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTreeView* list = view.fileList();
        const QModelIndex index = list->model()->index(row, 1);
        list->scrollTo(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualRect(index).center());
    }
    // A view of the session's changes, shown.
    void show(ChangesView& view)
    {
        view.resize(420, 700);
        view.setChanges(m_whole, m_turn);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }

private Q_SLOTS:
    void initTestCase()
    {
        isolateGit();
        QVERIFY(m_session.create());
        const GitResult<QList<GitFileChange>> whole =
            Git::changes(m_session.top, m_session.base, m_session.turn2);
        const GitResult<QList<GitFileChange>> turn =
            Git::changes(m_session.top, m_session.turn1, m_session.turn2);
        QVERIFY2(whole && turn, qPrintable(whole.error() + turn.error()));
        m_whole = *whole;
        m_turn = *turn;
    }

    // Files and lines counted, in the singular for one file. (This turn's
    // summary and none at all are scopeSwitchSwapsLists'.)
    void summary()
    {
        ChangesView view;
        view.setChanges(m_whole, {});
        // a.txt +2 −2, first turn.txt +3, gone.txt −2, the rename +1, two new +1 each.
        QCOMPARE(view.summaryText(), u"7 files, +8 \u22124"_s);
        QCOMPARE(view.fileList()->model()->rowCount(), m_whole.size());
        view.setChanges({m_whole[rowOf(view, "first turn.txt")]}, {});
        QCOMPARE(view.summaryText(), u"1 file, +3 \u22120"_s);
        QCOMPARE(view.fileList()->model()->rowCount(), 1);
    }

    // Each file's row: its kind, its name as text and its line counts.
    void rows_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lines");
        QTest::newRow("modified") << QByteArray("a.txt") << u"M"_s << u"a.txt"_s << u"+2 \u22122"_s;
        QTest::newRow("added, with a blank")
            << QByteArray("first turn.txt") << u"A"_s << u"first turn.txt"_s << u"+3 \u22120"_s;
        QTest::newRow("deleted") << QByteArray("gone.txt") << u"D"_s << u"gone.txt"_s
                                 << u"+0 \u22122"_s;
        QTest::newRow("renamed") << QByteArray("moved/new name.txt") << u"R"_s
                                 << u"old name.txt \u2192 moved/new name.txt"_s << u"+1 \u22120"_s;
        QTest::newRow("binary") << QByteArray("image.bin") << u"M"_s << u"image.bin"_s
                                << u"binary"_s;
        QTest::newRow("newline in the name")
            << QByteArray("new\nline") << u"A"_s << u"new\u240aline"_s << u"+1 \u22120"_s;
        QTest::newRow("not UTF-8")
            << QByteArray("caf\xe9 \xff") << u"A"_s << u"caf\ufffd \ufffd"_s << u"+1 \u22120"_s;
    }
    void rows()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QString, lines);
        ChangesView view;
        view.setChanges(m_whole, m_turn);
        const int row = rowOf(view, path);
        QVERIFY(row >= 0);
        QCOMPARE(cell(view, row, 0), kind);
        QCOMPARE(cell(view, row, 1), name);
        QCOMPARE(cell(view, row, 2), lines);
    }

    // The file made current asks for its diff; only the answer to the
    // latest ask is shown.
    void diffFollowsTheCurrentFile()
    {
        ChangesView view;
        QSignalSpy asked(&view, &ChangesView::diffRequested);
        show(view);
        // The first file is current from the start, without being selected.
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.last().at(1).value<GitFileChange>().path, m_whole[0].path);
        QVERIFY(view.selectedChanges().isEmpty());

        const int renamed = rowOf(view, "moved/new name.txt");
        const int modified = rowOf(view, "a.txt");
        click(view, renamed);
        QTRY_COMPARE(asked.size(), 2);
        const quint64 stale = asked.last().at(0).value<quint64>();
        const GitFileChange renamedChange = asked.last().at(1).value<GitFileChange>();
        QCOMPARE(renamedChange.oldPath, QByteArray("old name.txt"));
        QCOMPARE(asked.last().at(2).toBool(), false);
        click(view, modified);
        QTRY_COMPARE(asked.size(), 3);
        const quint64 ticket = asked.last().at(0).value<quint64>();
        const GitFileChange change = asked.last().at(1).value<GitFileChange>();
        QCOMPARE(change.path, QByteArray("a.txt"));
        QCOMPARE(view.diffView()->placeholderText(), u"Loading\u2026"_s);

        const GitResult<QByteArray> late =
            Git::diffText(m_session.top, m_session.base, m_session.turn2, renamedChange.path,
                          renamedChange.oldPath);
        const GitResult<QByteArray> diff =
            Git::diffText(m_session.top, m_session.base, m_session.turn2, change.path);
        QVERIFY(late && diff);
        view.showDiff(stale, *late);
        view.showDiffError(stale, u"too late"_s);
        QVERIFY(view.diffDocument().isEmpty());
        QCOMPARE(view.diffView()->placeholderText(), u"Loading\u2026"_s);

        view.showDiff(ticket, *diff);
        QCOMPARE(view.diffDocument().text(), decodeUtf8(*diff));
        QVERIFY(view.diffDocument().text().contains(u"\n+third\n"));
        QTRY_COMPARE(view.diffView()->indexedLength(), view.diffDocument().size());
        view.showDiff(stale, *late);
        QCOMPARE(view.diffDocument().text(), decodeUtf8(*diff));

        // A binary file needs no asking.
        click(view, rowOf(view, "image.bin"));
        QTRY_VERIFY(view.diffDocument().isEmpty());
        QCOMPARE(asked.size(), 3);
        QCOMPARE(view.diffView()->placeholderText(), u"Binary file: no text to compare"_s);
        view.showDiff(ticket, *diff);
        QVERIFY(view.diffDocument().isEmpty());

        // An error for the current ask is shown in the diff's place.
        click(view, modified);
        QTRY_COMPARE(asked.size(), 4);
        view.showDiffError(asked.last().at(0).value<quint64>(), u"git failed"_s);
        QCOMPARE(view.diffView()->placeholderText(), u"git failed"_s);
    }

    // Another file's diff opens at its top, even when the owner answers
    // at once, before the view has shown the "Loading…" in between.
    void newDiffOpensAtItsTop()
    {
        ChangesView view;
        show(view);
        QByteArray longDiff = "@@ -0,0 +1,500 @@\n";
        for (int i = 0; i < 500; ++i)
            longDiff += "+line " + QByteArray::number(i) + '\n';
        connect(&view, &ChangesView::diffRequested, &view,
                [&](quint64 ticket) { view.showDiff(ticket, longDiff); });
        view.showDiff(view.currentTicket(), longDiff);
        TranscriptView* pane = view.diffView();
        QTRY_VERIFY(!pane->frameDue());
        pane->scrollToEnd();
        QVERIFY(pane->topRow() > 0);
        click(view, rowOf(view, "gone.txt"));
        QTRY_VERIFY(!pane->frameDue());
        QCOMPARE(view.diffDocument().size(), decodeUtf8(longDiff).size());
        QCOMPARE(pane->topRow(), 0);
    }

    // The switch shows the other list, says so once, and keeps the current
    // file when that list has it too.
    void scopeSwitchSwapsLists()
    {
        ChangesView view;
        show(view);
        QSignalSpy scope(&view, &ChangesView::scopeChanged);
        QSignalSpy asked(&view, &ChangesView::diffRequested);
        click(view, rowOf(view, "a.txt"));
        QTRY_COMPARE(asked.size(), 1);

        QAbstractButton* thisTurn = button(view, u"This turn"_s);
        QAbstractButton* wholeSession = button(view, u"Whole session"_s);
        QVERIFY(thisTurn && wholeSession && wholeSession->isChecked());
        QTest::mouseClick(thisTurn, Qt::LeftButton);
        QCOMPARE(scope.size(), 1);
        QCOMPARE(scope.last().at(0).toBool(), true);
        QVERIFY(thisTurn->isChecked() && !wholeSession->isChecked());
        QCOMPARE(pathsOf(view.currentChanges()), pathsOf(m_turn));
        QCOMPARE(view.fileList()->model()->rowCount(), m_turn.size());
        QCOMPARE(view.summaryText(), u"6 files, +4 \u22123"_s);
        QCOMPARE(cell(view, rowOf(view, "a.txt"), 2), u"+1 \u22121"_s);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.last().at(1).value<GitFileChange>().path, QByteArray("a.txt"));
        QCOMPARE(asked.last().at(2).toBool(), true);

        // Clicking the side that is on changes nothing.
        QTest::mouseClick(thisTurn, Qt::LeftButton);
        QCOMPARE(scope.size(), 1);
        QTest::mouseClick(wholeSession, Qt::LeftButton);
        QCOMPARE(scope.size(), 2);
        QCOMPARE(scope.last().at(0).toBool(), false);
        QCOMPARE(pathsOf(view.currentChanges()), pathsOf(m_whole));

        // New lists keep the chosen scope.
        view.setShowsThisTurn(true);
        view.setChanges(m_whole, {});
        QCOMPARE(view.summaryText(), u"No changes"_s);
        QCOMPARE(view.fileList()->model()->rowCount(), 0);
    }

    // Apply takes the selected files in the list's order, or every file
    // of the scope when none is selected.
    void applyTakesTheSelection()
    {
        ChangesView view;
        show(view);
        QSignalSpy applied(&view, &ChangesView::applyRequested);
        QAbstractButton* apply = button(view, u"Apply to Folder"_s);
        QVERIFY(apply);
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(applied.size(), 1);
        QCOMPARE(pathsOf(applied.last().at(0).value<QList<GitFileChange>>()), pathsOf(m_whole));

        const int gone = rowOf(view, "gone.txt");
        const int added = rowOf(view, "first turn.txt");
        click(view, gone);
        click(view, added, Qt::ControlModifier);
        QTRY_COMPARE(view.selectedChanges().size(), 2);
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(applied.size(), 2);
        QList<QByteArray> expected{"gone.txt", "first turn.txt"};
        if (added < gone)
            std::swap(expected[0], expected[1]);
        QCOMPARE(pathsOf(applied.last().at(0).value<QList<GitFileChange>>()), expected);

        view.setApplyEnabled(false, u"Nothing to apply"_s);
        QVERIFY(!apply->isEnabled());
        QCOMPARE(apply->toolTip(), u"Nothing to apply"_s);
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(applied.size(), 2);
    }

    // The other actions only say what was asked, each its own; the status
    // line shows only while there is something to say.
    void actionsAndStatus()
    {
        ChangesView view;
        show(view);
        const std::pair<QString, const char*> actions[] = {
            {u"Refresh"_s, SIGNAL(refreshRequested())},
            {u"Open Worktree"_s, SIGNAL(openWorktreeRequested())},
            {u"Create Branch\u2026"_s, SIGNAL(createBranchRequested())},
            {u"Discard Worktrees\u2026"_s, SIGNAL(discardRequested())}};
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (const auto& [text, signal] : actions)
            spies.push_back(std::make_unique<QSignalSpy>(&view, signal));
        for (size_t clicked = 0; clicked < std::size(actions); ++clicked) {
            QAbstractButton* action = button(view, actions[clicked].first);
            QVERIFY(action);
            QTest::mouseClick(action, Qt::LeftButton);
            for (size_t i = 0; i < spies.size(); ++i)
                QCOMPARE(spies[i]->size(), i <= clicked ? 1 : 0);
        }

        auto* status = view.findChild<QWidget*>(u"changesStatus"_s);
        view.setStatus(u"Computing changes\u2026"_s);
        QCOMPARE(view.statusText(), u"Computing changes\u2026"_s);
        QVERIFY(status->isVisible());
        view.setStatus({});
        QVERIFY(!status->isVisible());
    }
};

QTEST_MAIN(TestChangesView)
#include "tst_ui_changes.moc"
