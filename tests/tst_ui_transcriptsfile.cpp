#include "platform/processowner.h"
#include "testsupport.h"
#include "ui/contentview.h"
#include "ui/transcriptsfile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct ReadBack {
    QString heading;
    QString task;
    QString transcript;
};

// Reads the file as a Markdown reader would: a fenced block ends at the
// first line that is its own opening fence.
QList<ReadBack> readBack(const QByteArray& file)
{
    const QStringList lines = QString::fromUtf8(file).split(u'\n');
    QList<ReadBack> runs;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        if (lines[k].startsWith(QStringLiteral("## "))) {
            runs.push_back({lines[k].mid(3), {}, {}});
            continue;
        }
        const bool task = lines[k] == QStringLiteral("Task:");
        if (runs.isEmpty() || (!task && lines[k] != QStringLiteral("Transcript:")))
            continue;
        const QString fence = lines.value(k + 2);
        QString text;
        for (k += 3; k < lines.size() && lines[k] != fence; ++k)
            text += lines[k] + u'\n';
        // The writer added the final line break to every task and to a
        // transcript whose heading says so.
        if (task || runs.last().heading.endsWith(QStringLiteral(" (no final newline)")))
            text.chop(1);
        (task ? runs.last().task : runs.last().transcript) = text;
    }
    return runs;
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
        QTest::newRow("carriage returns") << QStringLiteral("10%\r100%\r\ndone\r");
        QTest::newRow("no final newline") << QStringLiteral("line\nlast line");
        QTest::newRow("binary noise")
            << QString::fromUtf8("\xff\xfe\x01\x02\x1b]0;t\x07\x7f\t\xc3(\n\xe2\x82");
        QTest::newRow("wide text") << QStringLiteral("漢字テスト 😀 e\u0301\n## not a heading\n");
    }

    void readsBackExactly()
    {
        QFETCH(QString, transcript);
        const QList<SavedRun> runs{
            {"claude", "/bin/claude", "fix ``` this\nand\rthat", "Finished", "0:07", transcript},
            {"hermes", "/bin/hermes", "t", "Exited (3)", "1:02:09", QStringLiteral("after\n")}};
        const QByteArray file =
            transcriptsMarkdown(runs, QStringLiteral("/work"), QDateTime({2026, 1, 2}, {3, 4, 5}));
        QVERIFY(file.startsWith("# Brevane transcripts\n\n- Saved: 2026-01-02 03:04:05\n"));
        QVERIFY(file.contains("\n- Status: Exited (3)\n- Elapsed: 1:02:09\n"));
        const QList<ReadBack> back = readBack(file);
        QCOMPARE(back.size(), 2);
        for (qsizetype i = 0; i < 2; ++i) {
            QVERIFY(back[i].heading.startsWith(runs[i].tool));
            QCOMPARE(back[i].task, runs[i].task);
            QCOMPARE(back[i].transcript, runs[i].transcript);
        }
    }

    void fileName_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<QString>("expected");
        QTest::newRow("five words") << " Fix the bug in main.cpp, please now "
                                    << "brevane-2026-12-06-0941-Fix-the-bug-in-maincpp.md";
        QTest::newRow("signs only words dropped") << "a/b ??? c:d é-f"
                                                  << "brevane-2026-12-06-0941-ab-cd-é-f.md";
        QTest::newRow("no words") << ""
                                  << "brevane-2026-12-06-0941.md";
    }

    void fileName()
    {
        QFETCH(QString, task);
        QFETCH(QString, expected);
        QCOMPARE(transcriptsFileName(task, QDateTime({2026, 12, 6}, {9, 41, 59})), expected);
    }

    // A save that cannot be written tells the user, naming the file and the
    // reason, and leaves a file of that name as it was.
    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("read-only folder") << true;
        QTest::newRow("no room for the file") << false;
    }

    void failedSaveKeepsTheOldFile()
    {
        QFETCH(bool, readOnlyFolder);
        if (readOnlyFolder && ::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        FakeHome home;
        const QString path = home.writeFile(QStringLiteral("out/saved.md"), "keep me\n");
        ProcessOwner owner;
        ContentView view(owner, home.path());
        const QString folder = home.filePath(QStringLiteral("out"));
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto restore = [&] {
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, SIG_DFL);
        };
        auto guard = qScopeGuard(restore);
        if (readOnlyFolder) {
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        } else {
            // Writing past the limit fails with EFBIG instead of a signal.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit tiny = old;
            tiny.rlim_cur = 16;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &tiny) == 0);
        }
        QVERIFY(!view.saveTranscriptsTo(path));
        restore();
        auto* box = view.findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY2(box->text().contains(path) && box->text().size() > path.size() + 30,
                 qPrintable(box->text()));
        QCOMPARE(home.read(QStringLiteral("out/saved.md")), QByteArray("keep me\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("saved.md")});
    }
};

QTEST_MAIN(TestTranscriptsFile)
#include "tst_ui_transcriptsfile.moc"
