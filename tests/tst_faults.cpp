#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include "platform/childprocess.h"
#include "text/escapes.h"
#include "text/utf8.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <cstring>

// Tools that misbehave: background helpers that outlive them, ignored
// SIGTERM, binary garbage, and tasks no program can be given.

namespace {

using namespace std::chrono_literals;

constexpr int runTimeoutMs = 20000;
// How long after Stop a tool that ignores SIGTERM may still be there: the
// grace period before SIGKILL, plus room for a loaded machine.
constexpr int stopTimeoutMs = int(ChildProcess::terminateGracePeriod.count()) + 3000;

// Records its arguments, NUL-separated, into $HOME/args-<tool>.
const QByteArray recordArgs =
    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$HOME/args-$(basename \"$0\")\"\n";

// A home holding the given tools in ~/.local/bin and a scanned model over it.
class Rig {
public:
    explicit Rig(const QList<std::pair<QString, QByteArray>>& tools)
    {
        for (const auto& [name, body] : tools)
            home.writeTool(QStringLiteral(".local/bin/") + name, body);
    }
    bool scan()
    {
        model.scan();
        return QTest::qWaitFor([&] { return !model.scanning(); }, runTimeoutMs);
    }
    bool run(const QString& task)
    {
        model.setTask(task);
        model.start();
        return QTest::qWaitFor([&] { return !model.anyRunning(); }, runTimeoutMs);
    }
    ToolRunner* runner(int i) const { return model.runners()[i]; }

    FakeHome home;
    BrevaneModel model;
};

// The first position where two long texts differ, for a readable failure.
QByteArray firstDifference(const QString& actual, const QString& expected)
{
    qsizetype i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    return QStringLiteral("lengths %1 and %2, first difference at %3")
        .arg(actual.size())
        .arg(expected.size())
        .arg(i)
        .toUtf8();
}

// 5 MiB of noise with some well-formed text, escape sequences and split
// characters mixed in, from a fixed seed so a failure can be replayed.
QByteArray seededGarbage(qsizetype size)
{
    static const QByteArray pieces[] = {
        "plain ascii\n", "\xC3\xA9t\xC3\xA9 ", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x1B[31m",
        "\x1B[?25l",     "\x1B]0;t\x07",       "\xED\xA0\x80", "\xF4\x90\x80",     "\xC0\xAF"};
    QRandomGenerator random(20240611);
    QByteArray bytes;
    bytes.reserve(size + 64);
    while (bytes.size() < size) {
        if (random.bounded(4) == 0) {
            bytes += pieces[random.bounded(int(std::size(pieces)))];
        } else {
            const int n = random.bounded(1, 200);
            for (int i = 0; i < n; ++i)
                bytes += char(random.bounded(256));
        }
    }
    bytes.truncate(size);
    return bytes;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // A ZDOTDIR of the developer's would hide the temporary home's profile.
        qunsetenv("ZDOTDIR");
    }

    // The tool exits at once; a helper it left behind keeps the pipe open and
    // prints for two more seconds once the test lets it go.
    void backgroundHelperOutlivesTheTool()
    {
        if (!ProcessProbe::available())
            QSKIP("needs /proc");
        const int threadsBefore = ProcessProbe::threads();
        Rig rig({{QStringLiteral("claude"),
                  "case \"$2\" in\n"
                  "first)\n"
                  "  echo early\n"
                  "  (while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\n"
                  "   i=1; while [ $i -le 10 ]; do echo \"late $i\"; sleep 0.2; i=$((i+1)); done\n"
                  "   touch \"$HOME/helper-finished\") &\n"
                  "  echo $! > \"$HOME/helper-pid\"\n"
                  "  exit 0 ;;\n"
                  "second)\n"
                  "  echo second\n"
                  "  while [ ! -e \"$HOME/helper-finished\" ]; do sleep 0.05; done\n"
                  "  echo second end ;;\n"
                  "esac\n"}});
        QVERIFY(rig.scan());
        ToolRunner* claude = rig.runner(0);

        // Done on the tool's own end, while the helper still holds the pipe.
        QVERIFY(rig.run(QStringLiteral("first")));
        QVERIFY(claude->state().isDone());
        QCOMPARE(claude->state().status(), 0);
        QCOMPARE(claude->output(), QStringLiteral("early\n"));
        const pid_t helper = ProcessProbe::pidFrom(rig.home.read(QStringLiteral("helper-pid")));
        QVERIFY(helper > 0);
        QVERIFY(!ProcessProbe::gone(helper));

        // Its lines still reach the finished run's transcript.
        rig.home.writeFile(QStringLiteral("go"), "");
        QTRY_VERIFY_WITH_TIMEOUT(claude->output().contains(QStringLiteral("late 2\n")),
                                 runTimeoutMs);
        QVERIFY(claude->output().startsWith(QStringLiteral("early\nlate 1\nlate 2\n")));
        QVERIFY(claude->state().isDone());

        // The next run spans the rest of the helper's output and gets none of it.
        QVERIFY(rig.run(QStringLiteral("second")));
        QVERIFY(claude->state().isDone());
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(helper), runTimeoutMs);
        // Once the helper's reader thread has gone, all it read has been posted.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), threadsBefore, runTimeoutMs);
        QCoreApplication::processEvents();
        QCOMPARE(claude->output(), QStringLiteral("second\nsecond end\n"));
    }

    void binaryGarbageBecomesValidText_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("input"); // written to $HOME/input first
        QTest::newRow("random device")
            << QByteArray("head -c 5242880 /dev/urandom | tee \"$HOME/bytes\"\n") << QByteArray();
        QTest::newRow("seeded mix")
            << QByteArray("cat \"$HOME/input\" | tee \"$HOME/bytes\"\n") << seededGarbage(5 << 20);
    }
    void binaryGarbageBecomesValidText()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, input);
        Rig rig({{QStringLiteral("claude"), script}});
        rig.home.writeFile(QStringLiteral("input"), input);
        QVERIFY(rig.scan());
        QVERIFY(rig.run(QStringLiteral("t")));
        ToolRunner* claude = rig.runner(0);
        QVERIFY(claude->state().isDone());
        QCOMPARE(claude->state().status(), 0);

        const QByteArray bytes = rig.home.read(QStringLiteral("bytes"));
        QCOMPARE(bytes.size(), qsizetype(5 << 20));
        const QString expected = removeEscapes(decodeUtf8(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(claude->output().size(), expected.size(), runTimeoutMs);
        QVERIFY2(claude->output() == expected,
                 firstDifference(claude->output(), expected).constData());
        QVERIFY(QStringView(claude->output()).isValidUtf16());
        QVERIFY(claude->output().contains(QChar(QChar::ReplacementCharacter)));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
