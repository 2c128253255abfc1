#include "catalog/detector.h"
#include "platform/fd.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QUuid>

#include <climits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Finding the tools (Detector) and the model that scans for them and runs
// them.
class TestModel : public QObject {
    Q_OBJECT
    // Not in /opt/homebrew/bin or /usr/local/bin on any machine that runs this.
    const QString toolName = u"brevane-fake-tool-xyz"_s;
    // Standard input of this process for the whole suite: a pipe nobody
    // writes to, so a shell that read it would never get past its profile.
    PipeFds m_stdin;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(makePipe(m_stdin));
        QVERIFY(::dup2(m_stdin.read.get(), STDIN_FILENO) == STDIN_FILENO);
    }

    // The home folder is $HOME when set and not empty, else the user's entry
    // in the password database. (A HOME that is no text is
    // pathsThatAreNoText.)
    void homeFallsBackToThePasswordDatabase()
    {
        FakeHome home; // restores HOME afterwards
        const passwd* entry = ::getpwuid(::getuid());
        QVERIFY(entry && *entry->pw_dir);
        qputenv("HOME", QByteArray());
        QCOMPARE(Detector::searchDirs()[2], QByteArray(entry->pw_dir) + "/.local/bin");
        qunsetenv("HOME");
        QCOMPARE(Detector::searchDirs()[2], QByteArray(entry->pw_dir) + "/.local/bin");
    }

    // The first folder that holds an executable file of the name wins, and
    // no shell starts; a folder or a file without an exec bit is skipped.
    void foundInTheFoldersStartsNoShell()
    {
        FakeHome home;
        home.writeFile(u".zprofile"_s, "print started > \"$HOME/shell-started\"\n");
        QVERIFY(QDir().mkpath(home.filePath(".local/bin/" + toolName)));
        const QString npm = home.writeStandin(".npm-global/bin/" + toolName, {});
        const QString hermes = home.writeStandin(".hermes/bin/" + toolName, {});
        QCOMPARE(Detector::find(toolName).path, QFile::encodeName(npm));
        QVERIFY(QFile::remove(npm));
        home.writeFile(".npm-global/bin/" + toolName, "data\n");
        const Discovery found = Detector::find(toolName);
        QCOMPARE(found.path, QFile::encodeName(hermes));
        QCOMPARE(found.shell, Discovery::ShellAnswer::NotAsked);
        QVERIFY(!QFile::exists(home.filePath(u"shell-started"_s)));
    }

    // In the profiles, @A@ and @B@ are executables outside the five
    // directories, @MISSING@ a path that does not exist, @PLAIN@ a file
    // without an exec bit, @DIR@ the directory holding @A@ and @ODD@ a link
    // to @A@ whose path is not UTF-8. "expected" names the one that should
    // be found; empty for none.
    void shellOutput_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("expected");
        QTest::newRow("on the login PATH, after reading standard input")
            << QByteArray("cat > /dev/null\nexport PATH=\"${\"$(print -r -- '@A@')\"%/*}:$PATH\"\n")
            << "A";
        QTest::newRow("noise that is not UTF-8, the path, an alias, exit 1")
            << QByteArray("printf 'Welcome\\n\\377\\376 x \\303\\n\\355\\240\\200\\n'\n"
                          "print -r -- '@A@'\nalias brevane-fake-tool-xyz='ls -l'\nexit 1\n")
            << "A";
        // B first shows that the last usable line wins, A that blanks
        // (Unicode ones too) and CR are trimmed around it.
        QTest::newRow("CR LF and blanks around, later lines not usable")
            << QByteArray("printf '@B@\\r\\n \\t\xc2\xa0@A@\\t\xe3\x80\x80 \\r\\n"
                          "@MISSING@\\n@PLAIN@\\n@DIR@\\n'\n")
            << "A";
        QTest::newRow("a path that is not UTF-8") << QByteArray("print -r -- '@ODD@'\n") << "ODD";
        QTest::newRow("path on standard error only")
            << QByteArray("print -u2 -r -- '@A@'\n") << QString();
    }

    void shellOutput()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QString, expected);
        FakeHome home;
        QMap<QString, QByteArray> paths{
            {"A", QFile::encodeName(home.writeStandin("elsewhere/bin/" + toolName, {}))},
            {"B", QFile::encodeName(home.writeStandin("other/bin/" + toolName, {}))},
            {"MISSING", QFile::encodeName(home.filePath("missing/" + toolName))},
            {"PLAIN", QFile::encodeName(home.writeFile("plain/" + toolName, "data\n"))},
            {"DIR", QFile::encodeName(home.filePath(u"elsewhere/bin"_s))},
            {"ODD", QFile::encodeName(home.path()) + "/\xff\xfe/" + toolName.toUtf8()},
        };
        QVERIFY(::mkdir(paths["ODD"].chopped(toolName.size() + 1).constData(), 0700) == 0);
        QVERIFY(::symlink(paths["A"].constData(), paths["ODD"].constData()) == 0);
        for (auto it = paths.cbegin(); it != paths.cend(); ++it)
            profile.replace('@' + it.key().toUtf8() + '@', it.value());
        home.writeFile(u".zprofile"_s, profile);

        const Discovery found = Detector::find(toolName);
        QCOMPARE(found.path, expected.isEmpty() ? std::optional<QByteArray>() : paths[expected]);
        QCOMPARE(found.shell, expected.isEmpty() ? Discovery::ShellAnswer::NotFound
                                                 : Discovery::ShellAnswer::Answered);
    }

    // The shells of all names run at once, within one bound. Past it a name
    // is not answered, though its profile printed a usable path first; the
    // shells are reaped and their groups killed. job.pid is a process the
    // shell started.
    void shellStepIsBounded_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<int>("boundMs");
        QTest::addColumn<bool>("answered");
        const QByteArray start = "print -r -- '@A@'\n";
        QTest::newRow("background job keeps the pipe")
            << start + "sleep 30 &\nprint $! > \"$HOME/job.pid\"\n"
            << 1000 << false;
        QTest::newRow("shell lingers after closing its output")
            << start + "exec >&-\nsleep 30 > /dev/null &\nprint $! > \"$HOME/job.pid\"\nwait\n"
            << 1000 << false;
        // Shells run one after another would each wait for the others.
        QTest::newRow("all three at once")
            << "print $$ >> \"$HOME/started\"\n"
               "while (( $(wc -l < \"$HOME/started\") < 3 )); do sleep 0.05; done\n" +
                   start
            << deadline << true;
    }

    void shellStepIsBounded()
    {
        QFETCH(QByteArray, profile);
        QFETCH(int, boundMs);
        QFETCH(bool, answered);
        FakeHome home;
        const QString tool = home.writeStandin("elsewhere/bin/" + toolName, {});
        home.writeFile(u".zprofile"_s, profile.replace("@A@", QFile::encodeName(tool)));

        const auto found = Detector::findAll({toolName, toolName + "-b", toolName + "-c"},
                                             std::chrono::milliseconds(boundMs));
        for (const Discovery& one : found) {
            QCOMPARE(one.shell, answered ? Discovery::ShellAnswer::Answered
                                         : Discovery::ShellAnswer::NoAnswer);
            QCOMPARE(one.path.has_value(), answered);
        }
        // Reaped before findAll() returned: not even a zombie of ours is left.
        QVERIFY(ProcessProbe::children().isEmpty());
        if (answered)
            return;
        // The group was killed; the orphaned job is reaped by someone else.
        const pid_t job = ProcessProbe::pidFrom(home.read(u"job.pid"_s));
        QVERIFY(job > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(job), deadline);
    }

    // The rules follow a scan and a run from start to Stop; a rescan during
    // a run changes paths but no run; Stop still ends a tool that has
    // vanished from the disk, and allEnded() waits for the last one.
    void scanRunRescanStop()
    {
        ModelRig rig;
        rig.model.setTask(u"task"_s);
        QVERIFY(rig.model.scanning() && !rig.model.canRun() && !rig.model.canRescan());
        QVERIFY(rig.scan({{u"claude"_s, {u"args"_s, u"pause"_s}},
                          {u"gemini"_s, {u"args"_s, u"pause"_s}},
                          {u"hermes"_s, {u"args"_s}}}));
        QVERIFY(rig.model.canRescan() && rig.model.canRun() && !rig.model.canStop());
        rig.model.setTask(u" \t\n\u2029 "_s);
        QVERIFY(!rig.model.canRun());
        QSignalSpy ended(&rig.model, &BrevaneModel::allEnded);
        rig.model.setPlainOutput(true);
        rig.model.setTask(u"  a  b \n"_s);
        rig.model.start();
        QVERIFY(rig.model.canStop() && !rig.model.canRun() && !rig.model.canRescan());
        QStringList outputs;
        for (int i = 0; i < 3; ++i) {
            outputs << printedArguments(rig.runner(i));
            QVERIFY(outputs[i].endsWith(u" a  b\n"_s));
            QTRY_COMPARE_WITH_TIMEOUT(rig.runner(i)->turnOutput(), outputs[i], deadline);
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner(2)->state().isDone(), deadline);

        QFile::remove(rig.file(u".local/bin/claude"_s)); // while it runs
        QVERIFY(rig.scan());
        QVERIFY(!rig.runner(0)->path());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rig.runner(i)->turnOutput(), outputs[i]);
        QCOMPARE(ended.count(), 0);
        rig.model.stopAll();
        QVERIFY(rig.runner(0)->state().isStopped() && rig.runner(1)->state().isStopped());
        QVERIFY(rig.runner(2)->state().isDone() && !rig.model.canStop());
        QCOMPARE(ended.count(), 1);

        // Run needs an included installed tool; a rescan keeps the choice of
        // the tools that stay and includes one found anew.
        rig.model.setTask(u"next"_s);
        for (int i = 0; i < 3; ++i)
            rig.model.setIncluded(i, i == 0);
        QVERIFY(!rig.model.canRun());
        rig.model.setIncluded(0, false);
        QVERIFY(rig.scan({{u"claude"_s, {}}}));
        QVERIFY(rig.model.isIncluded(0) && !rig.model.isIncluded(1) && !rig.model.isIncluded(2));
        QVERIFY(rig.model.canRun());
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline); // reaped
    }

    // Each session goes to the included tools, in the working folder of its
    // first turn, with the task and the app's variables in an environment
    // that is otherwise inherited; another folder is another session. When
    // the folder cannot be entered no tool starts, and allEnded() does not
    // come.
    void runsInTheWorkingFolderWithTheChosenTools_data()
    {
        QTest::addColumn<QString>("folder");  // inside the home
        QTest::addColumn<QString>("failure"); // empty: the run starts
        QTest::newRow("a folder") << "second" << QString();
        QTest::newRow("gone") << "missing"
                              << "No such file or directory";
    }
    void runsInTheWorkingFolderWithTheChosenTools()
    {
        QFETCH(QString, folder);
        QFETCH(QString, failure);
        ModelRig rig;
        ModelRig::Tools tools;
        for (const QString& name : {u"claude"_s, u"gemini"_s, u"hermes"_s})
            tools.push_back({name, {u"record="_s + rig.file(name)}});
        QVERIFY(rig.scan(tools));
        QVERIFY(QDir().mkpath(rig.file(u"first"_s)) && QDir().mkpath(rig.file(u"second"_s)));
        const auto real = [&](const QString& f) {
            return QFileInfo(rig.file(f)).canonicalFilePath().toUtf8();
        };
        QSignalSpy ended(&rig.model, &BrevaneModel::allEnded);
        rig.model.setWorkingFolder(QFile::encodeName(rig.file(u"first"_s)));
        qputenv("BV_TASK", "inherited value must be replaced");
        QVERIFY(rig.runAll(u"the task"_s));
        qunsetenv("BV_TASK");
        const StandinRecord r = rig.home.record(u"gemini"_s);
        QCOMPARE(r.workingFolder, real(u"first"_s));
        QCOMPARE(r.value("BV_TASK"), "the task");
        QCOMPARE(r.value("NO_COLOR"), "1");
        QCOMPARE(r.value("TERM"), "dumb");
        QCOMPARE(r.value("HOME"), QFile::encodeName(rig.home.path()));
        QCOMPARE(ended.count(), 1);

        rig.model.setIncluded(1, false);
        QFile::remove(rig.file(u"claude"_s));
        rig.model.setWorkingFolder(QFile::encodeName(rig.file(folder)));
        QVERIFY(rig.runAll(u"t"_s));
        QCOMPARE(rig.runner(0)->turnOutput(),
                 failure.isEmpty()
                     ? QString()
                     : u"Failed to launch: "_s + rig.file(folder) + u": "_s + failure);
        QCOMPARE(rig.home.record(u"claude"_s).workingFolder, failure.isEmpty() ? real(folder) : "");
        QCOMPARE(rig.home.record(u"gemini"_s).workingFolder, real(u"first"_s));
        QVERIFY(rig.runner(1)->state().isIdle() && rig.runner(1)->turns().isEmpty());
        QCOMPARE(ended.count(), failure.isEmpty() ? 2 : 1);
    }

    // A session: Run, and each follow-up (Send), empties the field; Send waits for every tool; a
    // tool included later joins with a conversation of its own; a follow-up whose folder is gone
    // runs nothing and keeps the conversation; New Session and another folder start over.
    void aSessionOfTurns()
    {
        ModelRig rig;
        const QString fifo = rig.home.makeFifo(u"slow"_s);
        const auto steps = [&](const QString& name, const QStringList& more = {}) {
            return QStringList{u"record="_s + rig.file(name)} + more;
        };
        QVERIFY(rig.scan({{u"claude"_s, steps(u"claude"_s, {u"out=c\\n"_s})},
                          {u"gemini"_s, steps(u"gemini"_s)},
                          {u"hermes"_s, steps(u"hermes"_s, {u"wait="_s + fifo})}}));
        const QByteArray work = QFile::encodeName(rig.file(u"work"_s));
        QVERIFY(QDir().mkpath(rig.file(u"work"_s)));
        rig.model.setWorkingFolder(work);
        rig.model.setIncluded(1, false);
        AgentSession* claude = rig.runner(0);
        const auto claudeArgs = [&] { return rig.home.record(u"claude"_s).arguments; };

        QVERIFY(!rig.model.sessionStarted() && !rig.model.canStartNewSession());
        rig.model.setTask(u"first"_s);
        rig.model.start();
        QVERIFY(rig.model.sessionStarted() && rig.model.task().isEmpty());
        QCOMPARE(rig.model.sessionFolder(), work);
        QVERIFY(waitFor([&] { return claude->state().isDone(); }));
        const QString id = claude->conversationId();
        QVERIFY(!QUuid::fromString(id).isNull());
        QVERIFY(claudeArgs().contains("--session-id=" + id.toUtf8()));
        rig.model.setTask(u"too soon"_s);
        QVERIFY(!rig.model.canRun() && !rig.model.canStartNewSession());
        rig.model.start();
        QCOMPARE(claude->turns().size(), 1);
        QVERIFY(rig.home.release(fifo));
        QVERIFY(waitFor([&] { return !rig.model.anyRunning(); }));

        rig.model.setIncluded(1, true);
        rig.home.writeStandin(u".local/bin/hermes"_s, steps(u"hermes"_s));
        QVERIFY(rig.runAll(u"second"_s));
        QVERIFY(rig.model.task().isEmpty());
        QVERIFY(claudeArgs().contains("--resume=" + id.toUtf8()));
        QCOMPARE(rig.runner(1)->turns().size(), 1);
        QVERIFY(
            rig.home.record(u"gemini"_s)
                .arguments.contains("--session-id=" + rig.runner(1)->conversationId().toUtf8()));

        QVERIFY(QDir(rig.file(u"work"_s)).removeRecursively());
        QFile::remove(rig.file(u"claude"_s));
        QVERIFY(rig.runAll(u"third"_s));
        QCOMPARE(claude->turnOutput(),
                 u"Failed to launch: "_s + rig.file(u"work"_s) + u": No such file or directory"_s);
        QVERIFY(claudeArgs().isEmpty());
        QVERIFY(QDir().mkpath(rig.file(u"work"_s)));
        QVERIFY(rig.runAll(u"fourth"_s));
        QVERIFY(claudeArgs().contains("--resume=" + id.toUtf8()));
        QCOMPARE(claude->turns().size(), 4);

        rig.model.newSession();
        QVERIFY(!rig.model.sessionStarted() && claude->output().isEmpty());
        QVERIFY(rig.runAll(u"anew"_s));
        QVERIFY(claude->conversationId() != id);
        QVERIFY(claudeArgs().contains("--session-id=" + claude->conversationId().toUtf8()));
        QCOMPARE(claude->output(), u"> anew\nc\n"_s);

        rig.model.setWorkingFolder(QFile::encodeName(rig.home.path()));
        QVERIFY(!rig.model.sessionStarted() && claude->turns().isEmpty());
    }

    // A session kept and restored is as it was, its running turn
    // Interrupted, and its follow-up continues the same conversation in the
    // same folder.
    void aKeptSessionContinues()
    {
        ModelRig rig;
        const QStringList record{u"record="_s + rig.file(u"claude"_s), u"out=red\\n"_s,
                                 u"err=warned\\n"_s};
        QVERIFY(rig.scan({{u"claude"_s, record}}));
        rig.model.setIncluded(1, false);
        rig.model.setIncluded(2, false);
        const QByteArray work = QFile::encodeName(rig.home.path());
        rig.model.setWorkingFolder(work);
        QVERIFY(rig.runAll(u"first"_s));
        AgentSession* claude = rig.runner(0);
        const QString sessionId = rig.model.sessionId();
        QVERIFY(!QUuid::fromString(sessionId).isNull());

        AgentSession::Kept kept;
        kept.turns = claude->turns();
        kept.turns.back().state = RunState::running();
        kept.turns.back().endedWall.reset();
        kept.transcript = claude->output().toString();
        const auto runs = claude->transcript().runsIn(0, claude->output().size());
        kept.runs.assign(runs.begin(), runs.end());
        QVERIFY(kept.runs.size() > 2);
        kept.conversationId = claude->lastConversationId();
        kept.canResume = claude->canResume();
        const QString conversation = claude->conversationId();
        QVERIFY(!conversation.isEmpty());

        rig.model.newSession();
        rig.model.setWorkingFolder(QByteArray());
        QVERIFY(rig.model.restoreSession(u"kept"_s, work, QDateTime::currentDateTimeUtc(),
                                         {{u"claude"_s, kept}}));
        QCOMPARE(rig.model.sessionId(), u"kept"_s);
        QCOMPARE(rig.model.workingFolder(), work);
        QVERIFY(claude->state().isInterrupted());
        QCOMPARE(claude->output(), kept.transcript);
        const auto restoredRuns = claude->transcript().runsIn(0, claude->output().size());
        QVERIFY(std::equal(restoredRuns.begin(), restoredRuns.end(), kept.runs.begin(),
                           kept.runs.end(), [](const StyleRun& a, const StyleRun& b) {
                               return a.start == b.start && a.role == b.role;
                           }));
        QCOMPARE(claude->turnOutput(), u"red\nwarned\n"_s);

        QVERIFY(rig.runAll(u"second"_s));
        QVERIFY(
            rig.home.record(u"claude"_s).arguments.contains("--resume=" + conversation.toUtf8()));
        QCOMPARE(rig.model.sessionId(), u"kept"_s);
        QCOMPARE(claude->turns().size(), 2);
    }

    // gemini refuses a folder never trusted: Trust Folder and Retry asks the
    // same again, trusting it, and every later turn of the window trusts it.
    void untrustedFolderIsTrustedOnRetry()
    {
        ModelRig rig;
        const QString record = u"record="_s + rig.file(u"args"_s);
        QVERIFY(rig.scan({{u"gemini"_s, {record, u"err=not trusted\\n"_s, u"exit=55"_s}}}));
        rig.model.setIncluded(0, false);
        QVERIFY(rig.runAll(u"ask"_s));
        AgentSession* gemini = rig.runner(1);
        QVERIFY(gemini->refusedUntrustedFolder());
        QVERIFY(rig.model.canTrustFolderAndRetry(1) && !rig.model.canTrustFolderAndRetry(0));
        QVERIFY(!rig.home.record(u"args"_s).arguments.contains("--skip-trust"));

        rig.home.writeStandin(u".local/bin/gemini"_s, {record, u"out={}\\n"_s});
        rig.model.trustFolderAndRetry(1);
        QVERIFY(waitFor([&] { return gemini->state().isDone(); }));
        QCOMPARE(gemini->turns().size(), 2);
        QCOMPARE(gemini->task(), u"ask"_s);
        QList<QByteArray> args = rig.home.record(u"args"_s).arguments;
        QVERIFY(args.contains("--skip-trust") &&
                args.contains("--session-id=" + gemini->conversationId().toUtf8()));
        QVERIFY(!gemini->refusedUntrustedFolder() && !rig.model.canTrustFolderAndRetry(1));

        QVERIFY(rig.runAll(u"more"_s));
        args = rig.home.record(u"args"_s).arguments;
        QVERIFY(args.contains("--skip-trust") &&
                args.contains("--resume=" + gemini->conversationId().toUtf8()));
    }

    // Paths that are no text (bytes that are not UTF-8, a line break) are
    // used exactly as they lie on disk: a tool found in such a home is
    // launched by that path, and a window opened inside such a folder starts
    // its tools there.
    void pathsThatAreNoText()
    {
        QTemporaryDir dir;
        const QByteArray odd =
            QFile::encodeName(QFileInfo(dir.path()).canonicalFilePath()) + "/h\xff\nx";
        const QList<QByteArray> dirs{odd, odd + "/.local", odd + "/.local/bin"};
        const QByteArray tool = dirs.last() + "/claude";
        char before[PATH_MAX];
        QVERIFY(::getcwd(before, sizeof before));
        // Names Qt cannot decode would outlive the temporary folder.
        auto cleanUp = qScopeGuard([&] {
            QVERIFY(::chdir(before) == 0);
            ::unlink(tool.constData());
            for (auto d = dirs.crbegin(); d != dirs.crend(); ++d)
                ::rmdir(d->constData());
        });
        for (const QByteArray& d : dirs)
            QVERIFY(::mkdir(d.constData(), 0700) == 0);
        QVERIFY(::chdir(odd.constData()) == 0);
        ModelRig rig; // made in that folder, as a window opened there
        const QString standin =
            rig.home.writeStandin(u"standin"_s, {u"record="_s + rig.file(u"record"_s)});
        QVERIFY(::symlink(QFile::encodeName(standin).constData(), tool.constData()) == 0);
        qputenv("HOME", odd);
        QVERIFY(rig.scan());
        QCOMPARE(rig.runner(0)->path(), std::optional<QByteArray>(tool));
        QVERIFY(rig.runAll(u"t"_s));
        QCOMPARE(rig.runner(0)->turnOutput(), QString());
        const StandinRecord record = rig.home.record(u"record"_s);
        QCOMPARE(record.value("BV_BIN"), tool);
        QCOMPARE(record.workingFolder, odd);
    }

    // A scan that ends after a later one must not bring back what it saw;
    // one whose model is gone reports to no one.
    void staleScansChangeNothing()
    {
        ModelRig rig;
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
        QVERIFY(rig.scan());
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
