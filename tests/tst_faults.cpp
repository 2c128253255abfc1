#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include "platform/processowner.h"
#include "text/escapes.h"
#include "text/utf8.h"

#include <QTest>

#include <algorithm>

// Tools that misbehave: a background helper that outlives its tool, and
// binary garbage.

namespace {

constexpr int runTimeoutMs = 20000;

// A home where claude is the one installed tool, and a model over it.
struct Rig {
    FakeHome home;
    ProcessOwner owner;
    BrevaneModel model{owner};
    ToolRunner* claude = model.runners()[0];

    bool install(const QByteArray& body)
    {
        home.writeTool(QStringLiteral(".local/bin/claude"), body);
        model.scan();
        return QTest::qWaitFor([&] { return !model.scanning(); }, runTimeoutMs);
    }
    // Runs the task and waits for claude to end with status 0.
    bool run(const QString& task)
    {
        model.setTask(task);
        model.start();
        return QTest::qWaitFor([&] { return !model.anyRunning(); }, runTimeoutMs) &&
               claude->state().isDone() && claude->state().status() == 0;
    }
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The tool exits at once; a helper it left behind keeps the pipe open and
    // prints for two more seconds once the test lets it go.
    void backgroundHelperOutlivesTheTool()
    {
        if (!ProcessProbe::available())
            QSKIP("needs /proc");
        const int threadsBefore = ProcessProbe::threads();
        Rig rig;
        QVERIFY(rig.install(
            "case \"$2\" in\n"
            "first)\n"
            "  echo early\n"
            "  (while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\n"
            "   i=1; while [ $i -le 10 ]; do echo \"late $i\"; sleep 0.2; i=$((i+1)); done\n"
            "   touch \"$HOME/helper-finished\") &\n"
            "  echo $! > \"$HOME/helper-pid\" ;;\n"
            "second)\n"
            "  echo second\n"
            "  while [ ! -e \"$HOME/helper-finished\" ]; do sleep 0.05; done\n"
            "  echo second end ;;\n"
            "esac\n"));

        // Done on the tool's own end, while the helper still holds the pipe.
        QVERIFY(rig.run(QStringLiteral("first")));
        QCOMPARE(rig.claude->output(), QStringLiteral("early\n"));
        const pid_t helper = ProcessProbe::pidFrom(rig.home.read(QStringLiteral("helper-pid")));
        QVERIFY(helper > 0 && !ProcessProbe::gone(helper));

        // Its lines still reach the finished run's transcript.
        rig.home.writeFile(QStringLiteral("go"), "");
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.claude->output().startsWith(QStringLiteral("early\nlate 1\nlate 2\n")),
            runTimeoutMs);
        QVERIFY(rig.claude->state().isDone());

        // The next run spans the rest of the helper's output and gets none of it.
        QVERIFY(rig.run(QStringLiteral("second")));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessProbe::gone(helper), runTimeoutMs);
        // Once the helper's reader thread has gone, all it read has been posted.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), threadsBefore, runTimeoutMs);
        QCoreApplication::processEvents();
        QCOMPARE(rig.claude->output(), QStringLiteral("second\nsecond end\n"));
    }

    // 5 MiB of random bytes: the transcript is what decoding and cleaning the
    // whole at once gives, valid text with U+FFFD for every ill-formed byte.
    void randomBytesBecomeValidText()
    {
        Rig rig;
        QVERIFY(rig.install("head -c 5242880 /dev/urandom | tee \"$HOME/bytes\"\n"));
        QVERIFY(rig.run(QStringLiteral("t")));
        const QByteArray bytes = rig.home.read(QStringLiteral("bytes"));
        QCOMPARE(bytes.size(), qsizetype(5 << 20));
        const QString expected = removeEscapes(decodeUtf8(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(rig.claude->output().size(), expected.size(), runTimeoutMs);
        const QString& output = rig.claude->output();
        const auto differ = std::mismatch(output.begin(), output.end(), expected.begin()).first;
        QVERIFY2(differ == output.end(), qPrintable(QString::number(differ - output.begin())));
        QVERIFY(QStringView(output).isValidUtf16());
        QVERIFY(output.contains(QChar(QChar::ReplacementCharacter)));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
