#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "testsupport.h"
#include "ui/contentview.h"
#include "ui/transcriptsfile.h"

#include <QDir>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

// The texts of the fenced blocks after each "Task:" and "Transcript:", read
// as a Markdown reader would: a block ends at the first line that is its own
// opening fence. The writer added the final line break to every task and to
// a transcript whose heading says so.
QStringList fencedTexts(const QByteArray& file)
{
    const QStringList lines = QString::fromUtf8(file).split(u'\n');
    QStringList texts;
    bool addedBreak = false;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        if (lines[k].startsWith(QStringLiteral("### ")))
            addedBreak = lines[k].endsWith(QStringLiteral(" (no final newline)"));
        const bool task = lines[k] == QStringLiteral("Task:");
        if (!task && lines[k] != QStringLiteral("Transcript:"))
            continue;
        const QString fence = lines.value(k + 2);
        QString text;
        for (k += 3; k < lines.size() && lines[k] != fence; ++k)
            text += lines[k] + u'\n';
        if (task || addedBreak)
            text.chop(1);
        texts << text;
    }
    return texts;
}

} // namespace

class TestTranscriptsFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsBackExactly_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::newRow("empty") << QString();
        QTest::newRow("backtick fences") << QStringLiteral("```\ncode\n````\n`inline` ``````\n");
        QTest::newRow("only backticks, no final newline") << QStringLiteral("``````");
        QTest::newRow("carriage returns, binary noise") << QString::fromUtf8(
            "10%\r100%\r\ndone\r\xff\xfe\x01\x02\x1b]0;t\x07\x7f\t\xc3(\n\xe2\x82");
        QTest::newRow("wide text") << QStringLiteral("漢字テスト 😀 e\u0301\n## not a heading\n");
    }

    void readsBackExactly()
    {
        QFETCH(QString, transcript);
        FakeHome home;
        // Two turns of one column cut from one transcript, around a prompt line.
        const QString first = QStringLiteral("first ``` turn");
        const QString whole = first + QStringLiteral("\n\n> again\n") + transcript;
        const QString after = QStringLiteral("after\n");
        const TranscriptsFile file{
            home.filePath(QStringLiteral("saved.md")),
            QStringLiteral("/work"),
            QDateTime({2026, 1, 2}, {3, 4, 5}),
            {{"claude",
              "/bin/claude",
              {{"fix ``` this\nand\rthat", "Finished", "0:07", "2 turns", 0, first.size()},
               {"again", "Stopped", "0:01", QString(), whole.size() - transcript.size(),
                whole.size()}},
              TranscriptText::Snapshot::of(whole)},
             {"hermes",
              "/bin/hermes",
              {{"t", "Exited (3)", "1:02:09", QString(), 0, after.size()}},
              TranscriptText::Snapshot::of(after)}}};
        QString error;
        QVERIFY2(writeTranscriptsFile(file, &error), qPrintable(error));
        const QByteArray saved = home.read(QStringLiteral("saved.md"));
        QVERIFY(saved.startsWith("# Brevane transcripts\n\n- Saved: 2026-01-02 03:04:05\n"));
        QVERIFY(saved.contains("### Turn 1 (no final newline)\n\n- Status: Finished\n- Elapsed: "
                               "0:07\n- Usage: 2 turns\n\n"));
        QVERIFY(saved.contains("### Turn 2"));
        QCOMPARE(fencedTexts(saved), (QStringList{file.runs[0].turns[0].task, first, u"again"_s,
                                                  transcript, file.runs[1].turns[0].task, after}));
    }

    // Save takes the transcripts as they stand when it is pressed and
    // writes them on a thread: the call returns before the file is there,
    // and what the tools write meanwhile is neither in the file nor held
    // up: the transcript being written grows in place, never copied.
    void savesOffTheGuiThreadWhatWasThere()
    {
        FakeHome home;
        QByteArray big;
        for (int i = 0; big.size() < (24 << 20); ++i)
            big += "line " + QByteArray::number(i) + " of the transcript ```\n";
        const QString fifo = home.makeFifo(QStringLiteral("fifo"));
        home.writeStandin(QStringLiteral(".local/bin/claude"),
                          {"cat=" + home.writeFile(QStringLiteral("big"), big), "wait=" + fifo,
                           "out=later\\n", "kill=11"});
        ProcessOwner owner;
        ContentView view(owner, QFile::encodeName(home.path()));
        view.model()->scan();
        QVERIFY(waitFor([&] { return !view.model()->scanning(); }));
        view.model()->setPlainOutput(true);
        view.model()->setTask(QStringLiteral("go"));
        view.model()->start();
        AgentSession* claude = view.model()->runners()[0];
        QVERIFY(waitFor([&] { return claude->turnOutput().size() == big.size(); }));

        QSignalSpy saved(&view, &ContentView::transcriptsSaved);
        const QString path = home.filePath(QStringLiteral("saved.md"));
        view.saveTranscriptsTo(path);
        QVERIFY(!QFile::exists(path));
        const QChar* storage = claude->output().data();
        QVERIFY(home.release(fifo));
        QVERIFY(waitFor([&] { return claude->state().isKilled(); }));
        QCOMPARE(claude->output().data(), storage);
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, deadline);
        QCOMPARE(saved.first().at(1).toBool(), true);
        const QByteArray file = home.read(QStringLiteral("saved.md"));
        QVERIFY(file.contains("\n- Status: Running\u2026\n"));
        QCOMPARE(fencedTexts(file).value(1), QString::fromUtf8(big));

        view.saveTranscriptsTo(path);
        QVERIFY(saved.wait(deadline));
        QVERIFY(home.read(QStringLiteral("saved.md")).contains("\n- Status: Killed by SIGSEGV\n"));
    }

    void fileName()
    {
        const QDateTime at({2026, 12, 6}, {9, 41, 59});
        QCOMPARE(transcriptsFileName(QStringLiteral(" Fix the bug in main.cpp, please now "), at),
                 QStringLiteral("brevane-2026-12-06-0941-Fix-the-bug-in-maincpp.md"));
        // Words of signs only are dropped.
        QCOMPARE(transcriptsFileName(QStringLiteral("a/b ??? c:d é-f"), at),
                 QStringLiteral("brevane-2026-12-06-0941-ab-cd-é-f.md"));
        QCOMPARE(transcriptsFileName(QString(), at), QStringLiteral("brevane-2026-12-06-0941.md"));
    }

    // A save that cannot be written in full tells the user, naming the file
    // and the reason, and leaves a file of that name as it was.
    void failedSaveKeepsTheOldFile()
    {
        FakeHome home;
        const QString path = home.writeFile(QStringLiteral("out/saved.md"), "keep me\n");
        ProcessOwner owner;
        ContentView view(owner, QFile::encodeName(home.path()));
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, SIG_DFL);
        });
        // Writing past the limit fails with EFBIG instead of a signal.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = old;
        tiny.rlim_cur = 16;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &tiny) == 0);
        QSignalSpy saved(&view, &ContentView::transcriptsSaved);
        view.saveTranscriptsTo(path);
        const bool ended = saved.wait(deadline);
        ::setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(ended && !saved.first().at(1).toBool());
        auto* box = view.findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY2(box->text().contains(path) && box->text().size() > path.size() + 30,
                 qPrintable(box->text()));
        QCOMPARE(home.read(QStringLiteral("out/saved.md")), QByteArray("keep me\n"));
        QCOMPARE(QDir(home.filePath(QStringLiteral("out"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("saved.md")});
    }
};

QTEST_MAIN(TestTranscriptsFile)
#include "tst_ui_transcriptsfile.moc"
