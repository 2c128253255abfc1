#include "model/brevanemodel.h"
#include "platform/processowner.h"
#include "processprobe.h"
#include "testsupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Many runs of all three tools in one model, one after another. Every run
// starts three children, two background threads and a pipe per child; after
// all of them, nothing of that may be left over.

namespace {

constexpr int timeoutMs = 20000;
constexpr int warmUpRuns = 15;
// The tools in the catalogue's order, and the arguments each gets before the task.
const char* const names[] = {"claude", "gemini", "hermes"};
const char* const args[] = {"-p", "-p", "chat -q"};

// ASan keeps freed memory in quarantine and TSan keeps shadow memory and
// access history: both grow resident memory by design, so only a plain
// build says anything about our own growth.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool residentMemoryIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool residentMemoryIsMeaningful = false;
#else
constexpr bool residentMemoryIsMeaningful = true;
#endif
#else
constexpr bool residentMemoryIsMeaningful = true;
#endif

} // namespace

class TestStress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manyRunsLeaveNothingBehind()
    {
        if (!ProcessProbe::available())
            QSKIP("counts descriptors, threads and children through /proc");
        const int threadsAtStart = ProcessProbe::threads();
        FakeHome home;
        for (const char* name : names)
            home.writeTool(
                QStringLiteral(".local/bin/") + QLatin1String(name),
                "echo \"$(basename \"$0\") out: $*\"\necho \"$(basename \"$0\") err\" >&2\n");
        ProcessOwner owner;
        BrevaneModel model(owner);
        model.scan();
        QVERIFY(QTest::qWaitFor([&] { return !model.scanning(); }, timeoutMs));

        // Every tool printed its line on each stream, in either order, and
        // nothing from another run.
        int run = 0;
        auto runOnce = [&] {
            const QString task = QStringLiteral("task %1").arg(++run);
            model.setTask(task);
            model.start();
            if (!model.anyRunning() ||
                !QTest::qWaitFor([&] { return !model.anyRunning(); }, timeoutMs))
                return false;
            for (int i = 0; i < 3; ++i) {
                const ToolRunner* r = model.runners()[i];
                const QString out = u"%1 out: %2 %3\n"_s.arg(names[i], args[i], task);
                const QString err = u"%1 err\n"_s.arg(names[i]);
                if (!r->state().isDone() || r->state().status() != 0 ||
                    (r->output() != out + err && r->output() != err + out)) {
                    qWarning("%s: %s", names[i], qPrintable(r->output()));
                    return false;
                }
            }
            return true;
        };
        // The threads of the scan and of every run end on their own a moment
        // after their work: the baseline waits for them.
        auto settled = [&] {
            return ProcessProbe::threads() == threadsAtStart && ProcessProbe::children().isEmpty();
        };

        for (int i = 0; i < warmUpRuns; ++i)
            QVERIFY2(runOnce(), qPrintable(QStringLiteral("warm-up run %1").arg(run)));
        QVERIFY(QTest::qWaitFor(settled, timeoutMs));
        const int descriptorsBefore = ProcessProbe::openDescriptors();
        const qint64 residentBefore = ProcessProbe::residentKiB();

        // BREVANE_STRESS_RUNS lowers the count for much slower sanitizer builds.
        const int asked = qEnvironmentVariableIntValue("BREVANE_STRESS_RUNS");
        const int runs = asked > 0 ? asked : 200;
        for (int i = 0; i < runs; ++i)
            QVERIFY2(runOnce(), qPrintable(QStringLiteral("run %1").arg(run)));

        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), threadsAtStart, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::children().size(), qsizetype(0), timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::openDescriptors(), descriptorsBefore, timeoutMs);
        const qint64 residentAfter = ProcessProbe::residentKiB();
        qInfo("%d runs; resident memory %lld KiB before, %lld KiB after", runs, residentBefore,
              residentAfter);
        QVERIFY(!residentMemoryIsMeaningful || residentAfter * 10 <= residentBefore * 11);
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
