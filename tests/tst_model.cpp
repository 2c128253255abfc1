#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include "platform/childprocess.h"
#include "platform/processowner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

struct ToolRunnerTestAccess {
    static std::shared_ptr<ChildProcess> process(const ToolRunner& r) { return r.m_process; }
};

namespace {

// Prints its arguments, each followed by "|".
const QByteArray printArgs = "printf '%s|' \"$@\"; echo\n";

// A temporary home and a model over it.
struct Rig {
    FakeHome home;
    ProcessOwner owner;
    BrevaneModel model{owner};

    ToolRunner* runner(int i) const { return model.runners()[i]; }
    bool scanned()
    {
        return QTest::qWaitFor([&] { return !model.scanning(); }, 20000);
    }
    // Writes each tool into ~/.local/bin, then scans.
    bool scan(const QList<std::pair<QString, QByteArray>>& tools)
    {
        for (const auto& [name, body] : tools)
            home.writeTool(QStringLiteral(".local/bin/") + name, body);
        model.scan();
        return scanned();
    }
};

} // namespace

class TestModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newModelSearchesNothingUntilScanFindsGemini()
    {
        Rig rig;
        const QString gemini = rig.home.writeTool(QStringLiteral(".local/bin/gemini"), "\n");
        rig.home.writeFile(QStringLiteral(".zprofile"), "touch \"$HOME/shell-ran\"\n");
        QCOMPARE(rig.model.runners().size(), 3);
        for (const ToolRunner* r : rig.model.runners())
            QVERIFY(r->state().isIdle() && !r->path());
        QCOMPARE(rig.model.workingFolder(), QDir::currentPath());
        QCOMPARE(rig.model.task(), QString());
        QVERIFY(rig.model.scanning());

        // Without paths, start() runs nothing.
        rig.model.setTask(QStringLiteral("task"));
        QVERIFY(!rig.model.canRun() && !rig.model.canStop() && !rig.model.canRescan());
        rig.model.start();
        QVERIFY(!rig.model.anyRunning() && !rig.model.anyInstalled());
        rig.model.stopAll();
        QVERIFY(!QFile::exists(rig.home.filePath(QStringLiteral("shell-ran"))));

        QSignalSpy spy(&rig.model, &BrevaneModel::changed);
        rig.model.scan();
        rig.model.scan(); // already scanning: only the latest counts
        QVERIFY(rig.scanned());
        QVERIFY(spy.count() >= 1);
        QVERIFY(rig.model.canRun() && rig.model.canRescan());
        QVERIFY(!rig.runner(0)->path());
        QCOMPARE(rig.runner(1)->path(), std::optional(QFile::encodeName(gemini)));
        QVERIFY(!rig.runner(2)->path());
        QVERIFY(rig.model.anyInstalled());
    }

    // One run: start() on the trimmed task, a rescan while it runs, stopAll().
    void startRescanAndStopAll()
    {
        Rig rig;
        const QByteArray runsOn = printArgs + "sleep 30\n";
        QVERIFY(rig.scan({{"claude", runsOn}, {"gemini", runsOn}, {"hermes", printArgs}}));
        rig.model.setTask(QStringLiteral(" \t\n\u2029 "));
        QVERIFY(!rig.model.canRun());
        rig.model.start(); // blanks and line breaks only: nothing runs
        QVERIFY(!rig.model.anyRunning());

        const QString task = QStringLiteral("  a  b \n");
        rig.model.setTask(task);
        rig.model.start();
        QCOMPARE(rig.model.task(), task);
        QVERIFY(rig.model.canStop() && !rig.model.canRun() && !rig.model.canRescan());
        const QStringList outputs{"-p|a  b|\n", "-p|a  b|\n", "chat|-q|a  b|\n"};
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner(2)->state().isDone(), 10000);
        for (int i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(rig.runner(i)->output(), outputs[i], 10000);

        // claude vanishes while running, hermes moves after its run.
        QFile::remove(rig.home.filePath(QStringLiteral(".local/bin/claude")));
        QFile::remove(rig.home.filePath(QStringLiteral(".local/bin/hermes")));
        const QString moved = rig.home.writeTool(QStringLiteral(".hermes/bin/hermes"), "\n");
        QVERIFY(rig.scan({}));
        QVERIFY(!rig.runner(0)->path());
        QCOMPARE(rig.runner(1)->path(),
                 std::optional(QFile::encodeName(rig.home.filePath(".local/bin/gemini"))));
        QCOMPARE(rig.runner(2)->path(), std::optional(QFile::encodeName(moved)));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(rig.runner(i)->state().isRunning(), i < 2);
            QCOMPARE(rig.runner(i)->output(), outputs[i]);
        }
        QVERIFY(rig.runner(2)->state().isDone());
        QVERIFY(rig.model.anyRunning());

        // stopAll() still ends the child of claude, whose tool has vanished.
        const pid_t pids[] = {ToolRunnerTestAccess::process(*rig.runner(0))->pid(),
                              ToolRunnerTestAccess::process(*rig.runner(1))->pid()};
        rig.model.stopAll();
        for (int i = 0; i < 2; ++i) {
            QVERIFY(rig.runner(i)->state().isStopped());
            QVERIFY(!ToolRunnerTestAccess::process(*rig.runner(i)));
            QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(pids[i]), 10000);
        }
        QVERIFY(rig.runner(2)->state().isDone());
        QVERIFY(!rig.model.anyRunning());
    }

    // Each run goes to the included tools, in the working folder of that
    // moment; an excluded tool receives nothing and keeps its last run. When
    // the folder cannot be entered, no tool starts at all.
    void runsInTheWorkingFolderWithTheChosenTools_data()
    {
        QTest::addColumn<QString>("folder");  // inside the home
        QTest::addColumn<QString>("failure"); // empty: the run starts
        QTest::newRow("a folder") << "second" << QString();
        QTest::newRow("gone") << "missing"
                              << "No such file or directory";
        QTest::newRow("a file") << "first/file"
                                << "Not a directory";
    }

    void runsInTheWorkingFolderWithTheChosenTools()
    {
        QFETCH(QString, folder);
        QFETCH(QString, failure);
        Rig rig;
        const QByteArray logsPwd = "pwd -P | tee -a \"$HOME/$(basename \"$0\").log\"\n";
        QVERIFY(rig.scan({{"claude", logsPwd}, {"gemini", logsPwd}, {"hermes", logsPwd}}));
        QVERIFY(QDir().mkpath(rig.home.filePath("second")));
        rig.home.writeFile(QStringLiteral("first/file"), "");
        const auto real = [&](const QString& f) {
            return QFileInfo(rig.home.filePath(f)).canonicalFilePath();
        };
        rig.model.setWorkingFolder(rig.home.filePath("first"));
        rig.model.setTask(QStringLiteral("t"));
        rig.model.start();
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(rig.runner(i)->state().isDone(), 10000);

        rig.model.setIncluded(1, false);
        const QString firstOutput = rig.runner(1)->output();
        QCOMPARE(firstOutput, real("first") + '\n');
        rig.model.setWorkingFolder(rig.home.filePath(folder));
        rig.model.start();
        for (int i : {0, 2}) {
            if (failure.isEmpty()) {
                QTRY_VERIFY_WITH_TIMEOUT(rig.runner(i)->state().isDone(), 10000);
                QCOMPARE(rig.runner(i)->output(), real(folder) + '\n');
            } else {
                QVERIFY(rig.runner(i)->state().isFailed());
                QCOMPARE(rig.runner(i)->output(),
                         "Failed to launch: " + rig.home.filePath(folder) + ": " + failure);
            }
        }
        QVERIFY(rig.runner(1)->state().isDone());
        QCOMPARE(rig.runner(1)->output(), firstOutput);
        QCOMPARE(rig.home.read("gemini.log"), (real("first") + '\n').toUtf8());
        QCOMPARE(rig.home.read("claude.log").count('\n'), failure.isEmpty() ? 2 : 1);
    }

    // A rescan keeps the choice for the tools that stay; a tool found anew
    // is included. Run needs an included installed tool.
    void choiceOfToolsOutlivesRescans()
    {
        Rig rig;
        QVERIFY(rig.scan({{"claude", "\n"}, {"gemini", "\n"}}));
        QVERIFY(rig.model.isIncluded(0) && rig.model.isIncluded(1) && rig.model.isIncluded(2));
        for (int i = 0; i < 3; ++i)
            rig.model.setIncluded(i, false);
        QVERIFY(!rig.model.anyIncludedInstalled() && rig.model.anyInstalled());
        QFile::remove(rig.home.filePath(QStringLiteral(".local/bin/claude")));
        QVERIFY(rig.scan({{"hermes", "\n"}}));
        QVERIFY(!rig.runner(0)->path());
        QVERIFY(!rig.model.isIncluded(1) && rig.model.isIncluded(2));
        rig.model.setIncluded(2, false);
        QVERIFY(rig.scan({{"claude", "\n"}}));
        QVERIFY(rig.model.isIncluded(0) && !rig.model.isIncluded(1) && !rig.model.isIncluded(2));
    }

    // A tool path that is no text (bytes that are not UTF-8, a line break)
    // is found and launched exactly as it lies on disk.
    void oddToolPathReachesTheLaunch()
    {
        Rig rig;
        const QByteArray home = QFile::encodeName(rig.home.path()) + "/h\xff\nx";
        QVERIFY(::mkdir(home.constData(), 0700) == 0);
        const QByteArray bin = home + "/.local";
        QVERIFY(::mkdir(bin.constData(), 0700) == 0 &&
                ::mkdir((bin + "/bin").constData(), 0700) == 0);
        const QByteArray tool = bin + "/bin/claude";
        const QString plain =
            rig.home.writeTool(QStringLiteral("plain"), "printf '%s' \"$0\" > \"$TOOL_SAYS\"\n");
        QVERIFY(::symlink(QFile::encodeName(plain).constData(), tool.constData()) == 0);
        // Names Qt cannot decode would outlive the temporary home.
        auto cleanUp = qScopeGuard([&] {
            ::unlink(tool.constData());
            for (const QByteArray& dir : {bin + "/bin", bin, home})
                ::rmdir(dir.constData());
            qunsetenv("TOOL_SAYS");
        });
        const QString argv0 = rig.home.filePath(QStringLiteral("argv0"));
        qputenv("TOOL_SAYS", QFile::encodeName(argv0));
        qputenv("HOME", home);
        rig.model.scan();
        QVERIFY(rig.scanned());
        QCOMPARE(rig.runner(0)->path(), std::optional<QByteArray>(tool));
        rig.model.setTask(QStringLiteral("t"));
        rig.model.start();
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner(0)->state().isDone(), 10000);
        QCOMPARE(rig.home.read(QStringLiteral("argv0")), tool);
    }

    // The login shell is asked about all three tools at once: a shell that
    // never answers costs one bound, not one per tool.
    void hangingShellCostsOneBound()
    {
        Rig rig;
        rig.home.writeFile(QStringLiteral(".zprofile"), "while :; do sleep 1; done\n");
        rig.model.setShellTimeout(std::chrono::milliseconds(500));
        QElapsedTimer clock;
        clock.start();
        rig.model.scan();
        QVERIFY(rig.scanned());
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        for (const ToolRunner* r : rig.model.runners())
            QCOMPARE(r->discovery().shell, Discovery::ShellAnswer::NoAnswer);
    }

    // A scan that ends after a later one must not bring back what it saw.
    void overlappingScansKeepTheLatest()
    {
        Rig rig;
        // Only the first login shell waits, until $HOME/hold is gone.
        rig.home.writeFile(QStringLiteral(".zprofile"),
                           "mkdir \"$HOME/first\" 2>/dev/null && "
                           "while [ -e \"$HOME/hold\" ]; do sleep 0.02; done\n");
        rig.home.writeFile(QStringLiteral("hold"), "");
        rig.model.scan();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(rig.home.filePath(QStringLiteral("first"))), 10000);
        const QString claude = rig.home.writeTool(QStringLiteral(".local/bin/claude"), "\n");
        rig.model.scan();
        QVERIFY(rig.scanned());
        QCOMPARE(rig.runner(0)->path(), std::optional(QFile::encodeName(claude)));

        QFile::remove(rig.home.filePath(QStringLiteral("hold")));
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, 20000);
        bool ran = false;
        rig.owner.handOver([&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 10000);
        QCOMPARE(rig.runner(0)->path(), std::optional(QFile::encodeName(claude)));
        QVERIFY(!rig.model.scanning());
    }

    void modelDestroyedDuringScan()
    {
        FakeHome home;
        ProcessOwner owner;
        // A slow login shell keeps the scan busy while the model goes away.
        home.writeFile(QStringLiteral(".zprofile"), "sleep 0.3\n");
        auto* model = new BrevaneModel(owner);
        model->scan();
        delete model;
        // Once the scan's thread has ended its result is queued, and queued
        // units run in order: when this one has run, that one found no model.
        QTRY_COMPARE_WITH_TIMEOUT(owner.threadCount(), 0, 20000);
        bool ran = false;
        owner.handOver([&ran] { ran = true; });
        QTRY_VERIFY_WITH_TIMEOUT(ran, 10000);
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
