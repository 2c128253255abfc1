#include "runner/agentsession.h"
#include "testsupport.h"

#include "platform/mainthread.h"
#include "text/escapes.h"
#include "text/utf8.h"

#include "platform/childprocess.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>

#include <array>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// One runner for claude, whose tool is a stand-in in a temporary home.
struct Rig {
    FakeHome home;
    ProcessOwner owner;
    AgentSession runner{owner, ToolSpec::all()[0]};

    // Installs a stand-in with `steps` at bin/<name> as the tool of `to`,
    // the rig's runner unless given.
    void install(const QStringList& steps, const QString& name = u"tool"_s,
                 AgentSession* to = nullptr)
    {
        Discovery found;
        found.path = QFile::encodeName(home.writeStandin(u"bin/"_s + name, steps));
        (to ? *to : runner).setDiscovery(found);
    }
    bool runToEnd(const QString& task = u"t"_s)
    {
        runner.run(task);
        return waitFor([&] { return !runner.state().isRunning(); }) && runner.state().isDone();
    }
    QString file(const QString& name) const { return home.filePath(name); }
    pid_t pidIn(const QString& name) const { return ProcessProbe::pidFrom(home.read(name)); }
};

// Blocks the calling thread until the tool sits in write() on a full pipe
// that nobody reads: it is not woken between two looks. Linux only.
template <typename Pid> bool waitsOnAFullPipe(Pid pid)
{
    auto wakeUps = [&] {
        QFile wchan(u"/proc/%1/wchan"_s.arg(pid()));
        QFile status(u"/proc/%1/status"_s.arg(pid()));
        const bool writing =
            wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("pipe_write");
        const QByteArray all = writing && status.open(QIODevice::ReadOnly) ? status.readAll() : "";
        return all.mid(all.indexOf("voluntary_ctxt_switches"));
    };
    const QDeadlineTimer until(deadline);
    for (QByteArray last; !until.hasExpired(); QThread::msleep(20)) {
        const QByteArray now = pid() > 0 ? wakeUps() : QByteArray();
        if (!now.isEmpty() && now == std::exchange(last, now))
            return true;
    }
    return false;
}

// Whether `pid` has been sent SIGKILL: it is gone, or the signal is pending
// for its process, where it stays until the process is reaped. Linux only.
bool sentSigkill(pid_t pid)
{
    QFile file(u"/proc/%1/status"_s.arg(pid));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype at = status.indexOf("\nShdPnd:") + 8;
    if (at < 8)
        return status.isEmpty();
    const QByteArray mask = status.mid(at, status.indexOf('\n', at) - at).trimmed();
    return mask.toULongLong(nullptr, 16) & (1ULL << (SIGKILL - 1));
}

// A stand-in started directly as a child process, and each delivery, in
// order: "out:TEXT" and "err:TEXT", "ended N" or "killed N" (" open" while a
// job holds the output), and "outputEnded". Bytes become text one for one.
struct ChildRig {
    using Channel = ChildProcess::Channel;
    struct Seen {
        QStringList log;
        std::array<std::atomic<int>, 2> endsOfStream{}; // per channel, counted on the reader thread
    };
    FakeHome home;
    ProcessOwner owner;
    std::shared_ptr<Seen> seen = std::make_shared<Seen>();
    std::shared_ptr<ChildProcess> process;

    bool start(const QStringList& steps, bool separateErrors)
    {
        ChildProcess::Options options;
        options.program = QFile::encodeName(home.writeStandin(u"tool"_s, steps));
        options.separateErrors = separateErrors;
        ChildProcess::Handlers handlers;
        handlers.transform = [seen = seen](Channel channel, QByteArrayView bytes,
                                           bool endOfStream) {
            seen->endsOfStream[size_t(channel)] += endOfStream;
            return QString::fromLatin1(bytes);
        };
        handlers.output = [seen = seen](Channel channel, const ChildProcess::Text& text) {
            seen->log << (channel == Channel::StandardOutput ? u"out:"_s : u"err:"_s) + text.text;
        };
        handlers.ended = [seen = seen](ChildExit exit, bool outputOpen) {
            seen->log << (exit.signal ? u"killed %1"_s.arg(exit.signal)
                                      : u"ended %1"_s.arg(exit.code)) +
                             (outputOpen ? u" open"_s : QString());
        };
        handlers.outputEnded = [seen = seen] { seen->log << u"outputEnded"_s; };
        QString error;
        process = ChildProcess::start(owner, options, std::move(handlers), &error);
        return process != nullptr;
    }
    bool ended() const
    {
        return std::any_of(seen->log.begin(), seen->log.end(), [](const QString& entry) {
            return entry.startsWith(u"ended"_s) || entry.startsWith(u"killed"_s);
        });
    }
    QList<int> endsOfStream() const
    {
        return {seen->endsOfStream[0].load(), seen->endsOfStream[1].load()};
    }
};

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // An exit status and a death by a signal of the same number stay apart.
    void outputAndEnd_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("signal");
        QTest::newRow("stdout and stderr in write order, exit 3")
            << QStringList{u"out=o1\\n"_s, u"err=e1\\n"_s, u"out=o2\\n"_s, u"err=e2\\n"_s,
                           u"exit=3"_s}
            << u"o1\ne1\no2\ne2\n"_s << 3 << 0;
        // At the end the decoder holds part of a character, whose U+FFFD
        // still belongs to the title the cleaner is in.
        QTest::newRow("unfinished title, a cut character, killed by a signal")
            << QStringList{u"out=x\\e]0;t"_s, u"out=\\xe2\\x82"_s, u"kill=9"_s} << u"x"_s << 0 << 9;
        QTest::newRow("exit 9") << QStringList{u"exit=9"_s} << QString() << 9 << 0;
        QTest::newRow("SIGSEGV") << QStringList{u"kill=11"_s} << QString() << 0 << 11;
    }
    void outputAndEnd()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        QFETCH(int, status);
        QFETCH(int, signal);
        Rig rig;
        rig.install(steps);
        rig.runner.run(u"t"_s);
        QVERIFY(waitFor([&] { return rig.runner.state().hasEnded(); }));
        QCOMPARE(rig.runner.turnOutput(), expected);
        QCOMPARE(rig.runner.state().isKilled(), signal != 0);
        QCOMPARE(rig.runner.state().status(), status);
        QCOMPARE(rig.runner.state().signal(), signal);
    }

    // The raw output of a run read as JSON lines is what the tool wrote,
    // escapes and all, standard output before standard error; the next run
    // starts it afresh, and one shown as printed keeps none.
    void rawOutputKeepsTheBytes()
    {
        Rig rig;
        rig.install({u"out=\\e[31mred\\e[0m \\xff\\n"_s, u"err=warn\\n"_s, u"out=end"_s});
        rig.runner.run(u"t"_s, QByteArray(), false);
        QVERIFY(waitFor([&] { return rig.runner.state().hasEnded(); }));
        QCOMPARE(rig.runner.rawOutput(), QByteArray("\x1b[31mred\x1b[0m \xff\nendwarn\n"));
        QVERIFY(rig.runToEnd());
        QVERIFY(!rig.runner.hasRawOutput() && rig.runner.rawOutput().isEmpty());
    }

    // A tool that reports its work as JSON lines, replayed from a recording
    // of the real one: it is asked for them, and the transcript shows its
    // steps in their roles, its standard error dim, while Plain Output asks
    // for and shows what it prints as it is.
    void structuredOutputShowsTheSteps_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QString>("recording");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("firstArgs");
        QTest::newRow("claude, write refused")
            << 0 << u"claude/write-denied.stream-json"_s << u"Done: the file is written."_s
            << u"Write refused"_s << u"--output-format stream-json --verbose"_s;
        QTest::newRow("gemini, warnings on standard error")
            << 1 << u"gemini/auto-edit.stream-json"_s << u"I'll create"_s << QString()
            << u"--output-format stream-json --session-id="_s;
    }
    void structuredOutputShowsTheSteps()
    {
        QFETCH(int, tool);
        QFETCH(QString, recording);
        QFETCH(QString, normal);
        QFETCH(QString, error);
        QFETCH(QString, firstArgs);
        const QString streams = QStringLiteral(BREVANE_AGENT_STREAMS "/") + recording;
        Rig rig;
        AgentSession runner(rig.owner, ToolSpec::all()[tool]);
        QStringList steps{u"record="_s + rig.file(u"record"_s), u"cat="_s + streams + u".stdout"_s};
        if (QFile::exists(streams + u".stderr"_s))
            steps << u"out-to-err"_s << u"cat="_s + streams + u".stderr"_s;
        rig.install(steps, u"tool"_s, &runner);
        for (const bool plain : {false, true}) {
            runner.run(u"create hello.txt"_s, QByteArray(), plain);
            QVERIFY(waitFor([&] { return runner.state().hasEnded(); }));
            const QList<QByteArray> args = rig.home.record(u"record"_s).arguments;
            QCOMPARE(args.join(' ').startsWith(firstArgs.toUtf8()), !plain);
            QCOMPARE(args.last(), "create hello.txt");
            QMap<TextRole, QString> byRole;
            const QStringView text = runner.output();
            const qsizetype from = runner.turns().back().outputStart;
            const auto runs = runner.transcript().runsIn(from, text.size());
            for (qsizetype i = 0; i < qsizetype(runs.size()); ++i) {
                const qsizetype start = std::max(runs[i].start, from);
                const qsizetype end =
                    i + 1 < qsizetype(runs.size()) ? runs[i + 1].start : text.size();
                byRole[runs[i].role] += text.sliced(start, end - start);
            }
            if (!plain)
                QVERIFY2(byRole[TextRole::Normal].contains(normal),
                         qPrintable(byRole[TextRole::Normal]));
            QCOMPARE(runner.turnOutput().contains(u"\"type\""_s), plain);
            if (!error.isEmpty())
                QCOMPARE(byRole[TextRole::Error].contains(error), !plain);
            if (QFile::exists(streams + u".stderr"_s))
                QCOMPARE(byRole[TextRole::Dim].contains(u"Warning: Basic terminal"_s), !plain);
            // What the turn cost, from the tool's own report; plain text tells nothing.
            QCOMPARE(runner.turnUsage().outputTokens.has_value(), !plain);
        }
        QCOMPARE(runner.sessionUsage(), runner.turns()[0].usage);
    }

    // The options that start and continue a conversation, trust a folder,
    // add one and let the agent edit or run commands, with their values,
    // are the tools' own, as their recorded help lists them.
    void optionsAreInTheToolsHelp()
    {
        for (const ToolSpec& spec : ToolSpec::all()) {
            QFile help(QStringLiteral(BREVANE_AGENT_STREAMS "/") + spec.name + u"/help.txt"_s);
            if (!help.open(QIODevice::ReadOnly))
                continue; // a tool recorded only from its source
            const QString text = QString::fromUtf8(help.readAll());
            const QStringList words = QStringList{spec.startOption, spec.resumeOption,
                                                  spec.trustOption, spec.addFolderOption} +
                                      spec.editArgs + spec.commandArgs;
            for (const QString& word : words) {
                if (word.isEmpty())
                    continue;
                const QString option = word.section(u'=', 0, 0);
                const QString value = word.section(u'=', 1);
                const QRegularExpression listed(u"\\s"_s + QRegularExpression::escape(option) +
                                                u"[\\s,]"_s);
                QVERIFY2(text.contains(listed), qPrintable(spec.name + u' ' + option));
                QVERIFY2(value.isEmpty() || text.contains(value),
                         qPrintable(spec.name + u' ' + word));
            }
        }
    }

    // Brevane names each conversation and the next turn continues it, by
    // the same id, unless the tool never heard of it: a launch that failed,
    // a stop before the tool wrote anything, a folder it refused. Then the
    // follow-up starts a new one and its prompt line says so. hermes cannot
    // continue: each follow-up is a new conversation.
    void whetherTheNextTurnContinues_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QStringList>("steps"); // of the first turn
        QTest::addColumn<bool>("folderGone");
        // Stopped once the transcript shows this; empty: once the tool runs; null: never.
        QTest::addColumn<QString>("stopOnceShown");
        QTest::addColumn<bool>("continues");
        const QString never;
        QTest::newRow("finished") << 0 << QStringList{u"out=hi\\n"_s} << false << never << true;
        QTest::newRow("exit 1 after writing")
            << 1 << QStringList{u"err=oops\\n"_s, u"exit=1"_s} << false << never << true;
        QTest::newRow("killed mid-turn")
            << 0 << QStringList{u"out=x\\n"_s, u"kill=9"_s} << false << never << true;
        QTest::newRow("stopped after writing")
            << 0 << QStringList{u"out=partial\\n"_s, u"pause"_s} << false << u"partial"_s << true;
        QTest::newRow("stopped before writing")
            << 0 << QStringList{u"pause"_s} << false << u""_s << false;
        QTest::newRow("launch failed") << 0 << QStringList() << true << never << false;
        QTest::newRow("folder refused")
            << 1 << QStringList{u"err=not trusted\\n"_s, u"exit=55"_s} << false << never << false;
        QTest::newRow("hermes") << 2 << QStringList{u"out=hi\\n"_s} << false << never << false;
    }
    void whetherTheNextTurnContinues()
    {
        QFETCH(int, tool);
        QFETCH(QStringList, steps);
        QFETCH(bool, folderGone);
        QFETCH(QString, stopOnceShown);
        QFETCH(bool, continues);
        Rig rig;
        const ToolSpec& spec = ToolSpec::all()[tool];
        AgentSession runner(rig.owner, spec);
        const QByteArray folder = QFile::encodeName(rig.file(u"work"_s));
        QVERIFY(QDir().mkpath(rig.file(u"work"_s)));
        rig.install(QStringList{u"record="_s + rig.file(u"first"_s)} + steps, u"tool"_s, &runner);
        runner.run(u"one"_s, folderGone ? folder + "/gone" : folder);
        if (!stopOnceShown.isNull()) {
            QVERIFY(waitFor([&] {
                return runner.turnOutput().contains(stopOnceShown) &&
                       !rig.home.record(u"first"_s).arguments.isEmpty();
            }));
            runner.stop();
        }
        QVERIFY(waitFor([&] { return !runner.state().isRunning(); }));
        const QString firstId = runner.turns()[0].conversation.id;
        QCOMPARE(firstId.isEmpty(), !spec.canContinue());
        if (!folderGone && spec.canContinue())
            QVERIFY(rig.home.record(u"first"_s)
                        .arguments.contains((spec.startOption + firstId).toUtf8()));

        rig.install({u"record="_s + rig.file(u"second"_s), u"out=two\\n"_s}, u"tool"_s, &runner);
        runner.run(u"two"_s, folder);
        QVERIFY(waitFor([&] { return runner.state().isDone(); }));
        const StandinRecord second = rig.home.record(u"second"_s);
        const Conversation& next = runner.turns()[1].conversation;
        QCOMPARE(next.resume, continues);
        QCOMPARE(next.id == firstId, continues || !spec.canContinue());
        const QList<QByteArray> expected = spec.turnArguments(u"two"_s, false, next);
        QCOMPARE(second.arguments, expected);
        QCOMPARE(second.workingFolder, QFileInfo(rig.file(u"work"_s)).canonicalFilePath().toUtf8());
        const QString promptLine = continues ? u"> two\n"_s : u"> two \u00b7 new conversation\n"_s;
        QVERIFY2(runner.output().endsWith(promptLine + u"two\n"_s),
                 qPrintable(runner.output().toString()));
    }

    // A tool's own arguments reach it byte for byte beside the task, each
    // one argument, and the shell runs nothing of them.
    void argumentsAreNeverShellText_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("substitutions")
            << QStringList{u"$(touch pwned)"_s, u"`touch pwned`"_s, u"${X:=$(touch pwned)}"_s};
        QTest::newRow("separators and quotes")
            << QStringList{u"; touch pwned;"_s, u"a'b\"c"_s, u"&& touch pwned |"_s, u"*"_s};
        QTest::newRow("line breaks, options, nothing")
            << QStringList{u"one\ntouch pwned\n"_s, u"-rf"_s, u"--"_s, QString(), u" "_s};
    }
    void argumentsAreNeverShellText()
    {
        QFETCH(QStringList, args);
        Rig rig;
        AgentSession runner(rig.owner, ToolSpec{u"claude"_s, args});
        rig.install({u"record="_s + rig.file(u"record"_s)}, u"tool"_s, &runner);
        runner.run(u"$(touch pwned) task"_s, QFile::encodeName(rig.home.path()));
        QVERIFY(waitFor([&] { return runner.state().hasEnded(); }));
        QList<QByteArray> expected;
        for (const QString& arg : args + QStringList{u"$(touch pwned) task"_s})
            expected << arg.toUtf8();
        QCOMPARE(rig.home.record(u"record"_s).arguments, expected);
        QVERIFY(!QFile::exists(rig.file(u"pwned"_s)));
    }

    // Finished must never show before the last byte: the end is announced
    // once the pipe is at end of stream, not after a guessed pause. Random
    // bytes, cut into reads anywhere, end as decoding and cleaning them at
    // once gives. Every other run the GUI thread is busy until the tool
    // waits on a full pipe, left unread while the hand-over queue is full.
    void doneComesAfterTheLastByte()
    {
        Rig rig;
        QByteArray bytes(2 << 20, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        rig.install(
            {u"pid="_s + rig.file(u"pid"_s), u"cat="_s + rig.home.writeFile(u"bytes"_s, bytes)});
        const QString expected = removeEscapes(decodeUtf8(bytes));
        QString atDone;
        connect(&rig.runner, &AgentSession::changed, &rig.runner, [&] {
            if (rig.runner.state().isDone() && atDone.isNull())
                atDone = rig.runner.turnOutput().toString();
        });
        for (int run = 0; run < 6; ++run, atDone = QString()) {
            QFile::remove(rig.file(u"pid"_s));
            rig.runner.run(u"t"_s);
            if (run % 2)
                QVERIFY(waitsOnAFullPipe([&] { return rig.pidIn(u"pid"_s); }));
            QVERIFY(waitFor([&] { return rig.runner.state().isDone(); }));
            QVERIFY(atDone == expected);
        }
    }

    // Stop reaches the whole group even if it ignores SIGTERM, and nothing
    // of the stopped run reaches the next one.
    void stoppedRunChangesNothingAfterwards()
    {
        Rig rig;
        rig.install({u"ignore-term"_s, u"{"_s, u"pid="_s + rig.file(u"child"_s), u"pause"_s, u"}"_s,
                     u"pid="_s + rig.file(u"pid"_s), u"flood=OLD\\n"_s});
        rig.runner.run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner.turnOutput().contains(u"OLD"_s), deadline);
        QTRY_VERIFY(rig.pidIn(u"child"_s) > 0 && rig.pidIn(u"pid"_s) > 0);
        rig.runner.stop();
        QVERIFY(rig.runner.state().isStopped() && !rig.runner.canStop());

        // The next run outlasts the stopped one, whose end must not end it.
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        rig.install({u"out=NEW\\n"_s, u"wait="_s + fifo}, u"fresh"_s);
        rig.runner.run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(rig.pidIn(u"pid"_s)) &&
                                     ProcessProbe::gone(rig.pidIn(u"child"_s)),
                                 deadline);
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 1, deadline);
        QVERIFY(rig.runner.state().isRunning());
        QVERIFY(rig.home.release(fifo));
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner.state().isDone(), deadline);
        QCOMPARE(rig.runner.turnOutput(), u"NEW\n"_s);
    }

    // A background job of the tool keeps the pipe open: the run still ends,
    // its output still arriving, and what the job writes later goes to that
    // run until the pipe ends.
    void backgroundJobHoldingThePipe()
    {
        Rig rig;
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        rig.install({u"{"_s, u"wait="_s + fifo, u"out=late\\n"_s, u"}"_s, u"out=early\\n"_s});
        QVERIFY(rig.runToEnd());
        QCOMPARE(rig.runner.turnOutput(), u"early\n"_s);
        QVERIFY(rig.runner.outputStillArriving() && rig.runner.canStop());
        QVERIFY(rig.home.release(fifo));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.runner.outputStillArriving(), deadline);
        QCOMPARE(rig.runner.turnOutput(), u"early\nlate\n"_s);
        QVERIFY(rig.runner.state().isDone() && !rig.runner.canStop());
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
    }

    // A job left flooding the pipe after its tool exited can be stopped, or
    // is cut off by the next run: either way nothing more of it is read, and
    // it ends: by the signal, by SIGKILL after the grace period when it
    // ignores SIGTERM, or by SIGPIPE when it left the group or was never
    // signalled.
    void jobFloodingAfterTheToolExited_data()
    {
        QTest::addColumn<QString>("jobStep");
        QTest::addColumn<QString>("then");
        QTest::newRow("stopped") << u"out=job\\n"_s << u"stop"_s;
        QTest::newRow("stopped, ignores SIGTERM") << u"ignore-term"_s << u"stop"_s;
        QTest::newRow("stopped, left the group") << u"setsid"_s << u"stop"_s;
        QTest::newRow("the next run") << u"out=job\\n"_s << u"run"_s;
        QTest::newRow("a next run that fails to launch") << u"out=job\\n"_s << u"fail"_s;
    }
    void jobFloodingAfterTheToolExited()
    {
        QFETCH(QString, jobStep);
        QFETCH(QString, then);
        Rig rig;
        rig.install({u"{"_s, jobStep, u"pid="_s + rig.file(u"job"_s), u"flood=bg\\n"_s, u"}"_s,
                     u"exit=2"_s});
        rig.runner.run(u"t"_s);
        QTRY_VERIFY_WITH_TIMEOUT(rig.runner.state().isDone() && rig.runner.outputStillArriving() &&
                                     rig.runner.turnOutput().contains(u"bg"_s) &&
                                     rig.pidIn(u"job"_s) > 0,
                                 deadline);
        QCOMPARE(rig.runner.state().status(), 2);
        QVERIFY(rig.runner.canStop());
        if (then == u"run"_s) {
            rig.install({u"out=new\\n"_s}, u"fresh"_s);
            QVERIFY(rig.runToEnd());
        } else if (then == u"fail"_s) {
            // As a run in a folder that cannot be entered does.
            rig.runner.beginTurn(u"t"_s);
            rig.runner.failLaunch(u"gone"_s);
        } else {
            rig.runner.stop();
            QVERIFY(rig.runner.state().isDone() && !rig.runner.outputStillArriving());
        }
        QVERIFY(!rig.runner.canStop());
        const QString kept = rig.runner.turnOutput().toString();
        QVERIFY(waitFor([&] { return ProcessProbe::gone(rig.pidIn(u"job"_s)); }));
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
        QCoreApplication::processEvents();
        QCOMPARE(rig.runner.turnOutput(), kept);
        if (then == u"run"_s)
            QCOMPARE(kept, u"new\n"_s);
        if (then == u"fail"_s)
            QCOMPARE(kept, u"Failed to launch: gone"_s);
        QCOMPARE(rig.runner.state().status(), then == u"stop"_s ? 2 : 0);
    }

    // Destroying the runners, as closing a window does, leaves a quiet tool
    // running, but nothing reads the tools any more: one still writing ends
    // by SIGPIPE; one stopped gets its SIGKILL at once, not after the grace
    // period. A tool holds only its three standard descriptors, standard
    // input the null device, also while another runs: a pipe of one held
    // open by the other would keep back its end of stream.
    void closingTheRunnersStopsReadingTheirTools()
    {
        Rig rig;
        auto runner = [&](int tool, const QStringList& steps) {
            auto made = std::make_unique<AgentSession>(rig.owner, ToolSpec::all()[tool]);
            rig.install(steps, u"tool%1"_s.arg(tool), made.get());
            made->run(u"t"_s);
            return made;
        };
        auto quiet = runner(0, {u"pid="_s + rig.file(u"quiet"_s), u"pause"_s});
        auto flood = runner(1, {u"pid="_s + rig.file(u"flood"_s), u"flood=tick\\n"_s});
        auto stopped =
            runner(2, {u"ignore-term"_s, u"pid="_s + rig.file(u"stopped"_s), u"pause"_s});
        QTRY_VERIFY_WITH_TIMEOUT(flood->output().contains(u"tick"_s) && rig.pidIn(u"quiet"_s) > 0 &&
                                     rig.pidIn(u"stopped"_s) > 0,
                                 deadline);
        const pid_t pid = rig.pidIn(u"flood"_s);
        const QString fds = u"/proc/%1/fd/"_s.arg(pid);
        QCOMPARE(ProcessProbe::countEntries(fds), 3);
        QCOMPARE(QFile::symLinkTarget(fds + u"0"_s), u"/dev/null"_s);
        stopped->stop();
        QVERIFY(!sentSigkill(rig.pidIn(u"stopped"_s)));

        quiet.reset();
        flood.reset();
        stopped.reset();
        // Sent as the runner went, not after the grace period.
        QVERIFY(sentSigkill(rig.pidIn(u"stopped"_s)));
        QVERIFY(waitFor([&] { return ProcessProbe::gone(rig.pidIn(u"stopped"_s)); }));
        QVERIFY(waitFor([&] { return ProcessProbe::gone(pid); }));
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 1, deadline);
        QVERIFY(!ProcessProbe::gone(rig.pidIn(u"quiet"_s)));
        ::kill(-rig.pidIn(u"quiet"_s), SIGKILL);
    }

    // A job that outlives the tool and holds either pipe, or both, holds the
    // output open: the end comes, saying so, then what the job writes, and
    // outputEnded once no pipe is held any more.
    void jobHoldingEitherChannel_data()
    {
        QTest::addColumn<bool>("separate");
        QTest::addColumn<QString>("steps"); // one a word; "wait" waits on the fifo
        QTest::addColumn<QString>("atEnd"); // the log, one entry between each '|'
        QTest::addColumn<QString>("afterwards");
        const QString errorHeld = u"{ out-to-err wait err=late } out=early"_s;
        QTest::newRow("apart, standard error held")
            << true << errorHeld << u"out:early|ended 0 open"_s << u"err:late|outputEnded"_s;
        QTest::newRow("apart, standard output held")
            << true << u"{ err-to-out wait out=late } err=early exit=4"_s
            << u"err:early|ended 4 open"_s << u"out:late|outputEnded"_s;
        QTest::newRow("apart, both held")
            << true << u"{ wait err=late } out=early"_s << u"out:early|ended 0 open"_s
            << u"err:late|outputEnded"_s;
        QTest::newRow("merged, standard error held")
            << false << errorHeld << u"out:early|ended 0 open"_s << u"out:late|outputEnded"_s;
    }
    void jobHoldingEitherChannel()
    {
        QFETCH(bool, separate);
        QFETCH(QString, steps);
        QFETCH(QString, atEnd);
        QFETCH(QString, afterwards);
        ChildRig rig;
        const QString fifo = rig.home.makeFifo(u"fifo"_s);
        QVERIFY(
            rig.start(steps.split(u' ').replaceInStrings(u"wait"_s, u"wait="_s + fifo), separate));
        QVERIFY(waitFor([&] { return rig.ended(); }));
        QCOMPARE(rig.seen->log, atEnd.split(u'|'));
        QVERIFY(rig.home.release(fifo));
        QVERIFY(waitFor([&] { return rig.seen->log.contains(u"outputEnded"_s); }));
        QCOMPARE(rig.seen->log, (atEnd + u'|' + afterwards).split(u'|'));
        QCOMPARE(rig.endsOfStream(), (QList<int>{1, separate ? 1 : 0}));
        QTRY_COMPARE_WITH_TIMEOUT(rig.owner.threadCount(), 0, deadline);
    }

    // Units from another thread run on this one, in the order handed over.
    void handOverKeepsOrder()
    {
        QList<int> order, expected;
        ProcessOwner owner;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                owner.handOver([&, i] { order << (MainThread::isCurrent() ? i : -1); });
        });
        worker.join();
        for (int i = 0; i < 100; ++i)
            expected << i;
        QTRY_COMPARE_WITH_TIMEOUT(order, expected, deadline);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
