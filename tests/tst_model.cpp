#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include "platform/processowner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A temporary home and a model over it.
struct Rig {
    FakeHome home;
    ProcessOwner owner;
    BrevaneModel model{owner};

    ToolRunner* runner(int i) const { return model.runners()[i]; }
    bool scanned()
    {
        return QTest::qWaitFor([&] { return !model.scanning(); }, deadline);
    }
    // Installs each tool as a stand-in in ~/.local/bin, then scans.
    bool scan(const QList<std::pair<QString, QStringList>>& tools)
    {
        for (const auto& [name, steps] : tools)
            home.writeStandin(u".local/bin/"_s + name, steps);
        model.scan();
        return scanned();
    }
    bool runAll(const QString& task)
    {
        model.setTask(task);
        model.start();
        return QTest::qWaitFor([&] { return !model.anyRunning(); }, deadline);
    }
    QString file(const QString& name) const { return home.filePath(name); }
};

} // namespace

class TestModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Nothing is looked for before scan(); the rules follow a run from start
    // to Stop; a rescan during a run changes paths but no run; Stop still
    // ends a tool that has vanished from the disk.
    void scanRunRescanStop()
    {
        Rig rig;
        rig.home.writeFile(u".zprofile"_s, "touch \"$HOME/shell-ran\"\n");
        rig.model.setTask(u"task"_s);
        QVERIFY(rig.model.scanning() && !rig.model.canRun() && !rig.model.canRescan());
        rig.model.start();
        QVERIFY(!rig.model.anyRunning() && !QFile::exists(rig.file(u"shell-ran"_s)));

        QVERIFY(rig.scan({{u"claude"_s, {u"args"_s, u"pause"_s}},
                          {u"gemini"_s, {u"args"_s, u"pause"_s}},
                          {u"hermes"_s, {u"args"_s}}}));
        QVERIFY(rig.model.canRescan() && rig.model.canRun() && !rig.model.canStop());
        rig.model.setTask(u" \t\n\u2029 "_s);
        QVERIFY(!rig.model.canRun());
        rig.model.setTask(u"  a  b \n"_s);
        rig.model.start();
        QVERIFY(rig.model.canStop() && !rig.model.canRun() && !rig.model.canRescan());
        const QStringList outputs{u"-p a  b\n"_s, u"-p a  b\n"_s, u"chat -q a  b\n"_s};
        for (int i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(rig.runner(i)->output(), outputs[i], deadline);
        QTRY_VERIFY(rig.runner(2)->state().isDone());

        // claude vanishes while running, hermes moves after its run.
        QFile::remove(rig.file(u".local/bin/claude"_s));
        QFile::remove(rig.file(u".local/bin/hermes"_s));
        rig.home.writeStandin(u".hermes/bin/hermes"_s, {});
        rig.model.scan();
        QVERIFY(rig.scanned());
        QVERIFY(!rig.runner(0)->path());
        QCOMPARE(rig.runner(2)->path(), QFile::encodeName(rig.file(u".hermes/bin/hermes"_s)));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rig.runner(i)->output(), outputs[i]);
        rig.model.stopAll();
        QVERIFY(rig.runner(0)->state().isStopped() && rig.runner(1)->state().isStopped());
        QVERIFY(rig.runner(2)->state().isDone() && !rig.model.canStop());
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline); // reaped
    }

    // Each run goes to the included tools, in the working folder of that
    // moment; an excluded tool keeps its last run. When the folder cannot be
    // entered, no tool starts at all.
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
        QList<std::pair<QString, QStringList>> tools;
        for (const QString& name : {u"claude"_s, u"gemini"_s, u"hermes"_s})
            tools.push_back({name, {u"record="_s + rig.file(name)}});
        QVERIFY(rig.scan(tools));
        QVERIFY(QDir().mkpath(rig.file(u"second"_s)));
        rig.home.writeFile(u"first/file"_s, "");
        const auto real = [&](const QString& f) {
            return QFileInfo(rig.file(f)).canonicalFilePath().toUtf8();
        };
        rig.model.setWorkingFolder(rig.file(u"first"_s));
        QVERIFY(rig.runAll(u"t"_s));
        QCOMPARE(rig.home.record(u"gemini"_s).workingFolder, real(u"first"_s));

        rig.model.setIncluded(1, false);
        QFile::remove(rig.file(u"claude"_s));
        rig.model.setWorkingFolder(rig.file(folder));
        QVERIFY(rig.runAll(u"t"_s));
        QCOMPARE(rig.runner(0)->output(),
                 failure.isEmpty()
                     ? QString()
                     : u"Failed to launch: "_s + rig.file(folder) + u": "_s + failure);
        QCOMPARE(rig.home.record(u"claude"_s).workingFolder, failure.isEmpty() ? real(folder) : "");
        QCOMPARE(rig.home.record(u"gemini"_s).workingFolder, real(u"first"_s));
        QVERIFY(rig.runner(1)->state().isDone());
    }

    // allEnded() comes once per run, when its last running tool has ended,
    // however the tools ended; a run that never started a tool has none.
    void allEndedOncePerRun_data()
    {
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("signals");
        QTest::newRow("finished") << QStringList{u"out=x"_s} << false << "." << 1;
        QTest::newRow("stopped") << QStringList{u"pause"_s} << true << "." << 1;
        QTest::newRow("folder gone") << QStringList() << false << "gone" << 0;
    }

    void allEndedOncePerRun()
    {
        QFETCH(QStringList, second);
        QFETCH(bool, stop);
        QFETCH(QString, folder);
        QFETCH(int, signals);
        Rig rig;
        QVERIFY(rig.scan({{u"claude"_s, {u"exit=2"_s}}, {u"gemini"_s, second}}));
        rig.model.setWorkingFolder(rig.home.filePath(folder));
        QSignalSpy ended(&rig.model, &BrevaneModel::allEnded);
        for (int run = 1; run <= 2; ++run) {
            rig.model.setTask(QStringLiteral(" task %1 ").arg(run));
            rig.model.start();
            QCOMPARE(rig.runner(1)->task(), QStringLiteral("task %1").arg(run));
            if (stop) {
                QTRY_VERIFY_WITH_TIMEOUT(rig.runner(0)->state().isDone(), deadline);
                QCOMPARE(ended.count(), run - 1);
                rig.model.stopAll();
            }
            QTRY_VERIFY_WITH_TIMEOUT(!rig.model.anyRunning(), deadline);
            QCOMPARE(ended.count(), signals * run);
            // Ended: a later moment no longer counts.
            const auto took = rig.runner(1)->elapsed(ToolRunner::Clock::now());
            QCOMPARE(rig.runner(1)->elapsed(ToolRunner::Clock::now() + std::chrono::hours(1)),
                     took);
        }
    }

    // A rescan keeps the choice for the tools that stay; a tool found anew
    // is included. Run needs an included installed tool.
    void choiceOfToolsOutlivesRescans()
    {
        Rig rig;
        QVERIFY(rig.scan({{u"claude"_s, {}}, {u"gemini"_s, {}}}));
        for (int i = 0; i < 3; ++i)
            rig.model.setIncluded(i, false);
        rig.model.setTask(u"t"_s);
        QVERIFY(!rig.model.canRun() && rig.model.anyInstalled());
        QFile::remove(rig.file(u".local/bin/claude"_s));
        QVERIFY(rig.scan({{u"hermes"_s, {}}}));
        QVERIFY(!rig.model.isIncluded(1) && rig.model.isIncluded(2) && rig.model.canRun());
        rig.model.setIncluded(2, false);
        QVERIFY(rig.scan({{u"claude"_s, {}}}));
        QVERIFY(rig.model.isIncluded(0) && !rig.model.isIncluded(1) && !rig.model.isIncluded(2));
    }

    // A tool path that is no text (bytes that are not UTF-8, a line break)
    // is found and launched exactly as it lies on disk.
    void oddToolPathReachesTheLaunch()
    {
        Rig rig;
        const QByteArray home = QFile::encodeName(rig.home.path()) + "/h\xff\nx";
        const QByteArray bin = home + "/.local";
        const QByteArray tool = bin + "/bin/claude";
        QVERIFY(::mkdir(home.constData(), 0700) == 0 && ::mkdir(bin.constData(), 0700) == 0 &&
                ::mkdir((bin + "/bin").constData(), 0700) == 0);
        const QString plain =
            rig.home.writeTool(u"plain"_s, "printf '%s' \"$0\" > \"$TOOL_SAYS\"\n");
        QVERIFY(::symlink(QFile::encodeName(plain).constData(), tool.constData()) == 0);
        // Names Qt cannot decode would outlive the temporary home.
        auto cleanUp = qScopeGuard([&] {
            ::unlink(tool.constData());
            for (const QByteArray& dir : {bin + "/bin", bin, home})
                ::rmdir(dir.constData());
            qunsetenv("TOOL_SAYS");
        });
        qputenv("TOOL_SAYS", QFile::encodeName(rig.file(u"argv0"_s)));
        qputenv("HOME", home);
        rig.model.scan();
        QVERIFY(rig.scanned());
        QCOMPARE(rig.runner(0)->path(), std::optional<QByteArray>(tool));
        QVERIFY(rig.runAll(u"t"_s));
        QCOMPARE(rig.home.read(u"argv0"_s), tool);
    }

    // All three tools are asked of the login shell at once: a shell that
    // never answers costs one bound, not one per tool.
    void hangingShellCostsOneBound()
    {
        Rig rig;
        rig.home.makeFifo(u"fifo"_s);
        rig.home.writeFile(u".zprofile"_s, "read line < \"$HOME/fifo\"\n");
        rig.model.setShellTimeout(std::chrono::milliseconds(500));
        QElapsedTimer clock;
        clock.start();
        rig.model.scan();
        QVERIFY(rig.scanned());
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        for (const ToolRunner* r : rig.model.runners())
            QCOMPARE(r->discovery().shell, Discovery::ShellAnswer::NoAnswer);
    }

    // A scan that ends after a later one must not bring back what it saw;
    // one whose model is gone reports to no one.
    void staleScansChangeNothing()
    {
        Rig rig;
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        // Only the first login shell waits.
        rig.home.writeFile(u".zprofile"_s, "mkdir \"$HOME/first\" 2>/dev/null && "
                                           "read line < \"$HOME/fifo\"\n");
        rig.model.scan();
        auto* gone = new BrevaneModel(rig.owner);
        gone->scan();
        delete gone;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(rig.file(u"first"_s)), deadline);
        const QString claude = rig.home.writeStandin(u".local/bin/claude"_s, {});
        rig.model.scan();
        QVERIFY(rig.scanned());
        QVERIFY(rig.home.release(fifo));
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
        bool ran = false; // queued after the stale results: they have run when it has
        rig.owner.handOver([&ran] { ran = true; });
        QTRY_VERIFY(ran);
        QCOMPARE(rig.runner(0)->path(), std::optional(QFile::encodeName(claude)));
        QVERIFY(!rig.model.scanning());
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
