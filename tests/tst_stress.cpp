#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include <QTest>

// Many runs of all three tools in one model, one after another. Every run
// starts three children, two background threads and a pipe per child; after
// all of them, nothing of that may be left over.

namespace {

constexpr int runTimeoutMs = 20000;
constexpr int settleTimeoutMs = 20000;
constexpr int warmUpRuns = 15;
// BREVANE_STRESS_RUNS lowers the count where each run is much slower
// (sanitizer builds).
int measuredRuns()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("BREVANE_STRESS_RUNS", &ok);
    return ok && n > 0 ? n : 200;
}

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

// Prints a line naming its tool and the task, on stdout and on stderr.
const QByteArray echoTool = "echo \"$(basename \"$0\") out: $*\"\n"
                            "echo \"$(basename \"$0\") err\" >&2\n";

QString describeChildren()
{
    QStringList parts;
    for (const ProcessProbe::ProcessInfo& p : ProcessProbe::children())
        parts << QStringLiteral("%1(%2)").arg(p.pid).arg(QLatin1Char(p.state));
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestStress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // A ZDOTDIR of the developer's would hide the temporary home's profile.
        qunsetenv("ZDOTDIR");
    }

    void manyRunsLeaveNothingBehind()
    {
        if (!ProcessProbe::available())
            QSKIP("counts descriptors, threads and children through /proc");
        const int threadsAtStart = ProcessProbe::threads();

        FakeHome home;
        for (const char* name : {"claude", "gemini", "hermes"})
            home.writeTool(QStringLiteral(".local/bin/") + QLatin1String(name), echoTool);
        BrevaneModel model;
        model.scan();
        QVERIFY(QTest::qWaitFor([&] { return !model.scanning(); }, runTimeoutMs));

        int run = 0;
        auto runOnce = [&]() -> bool {
            const QString task = QStringLiteral("task %1").arg(++run);
            model.setTask(task);
            model.start();
            if (!model.anyRunning())
                return false;
            if (!QTest::qWaitFor([&] { return !model.anyRunning(); }, runTimeoutMs))
                return false;
            // Nothing lost, nothing from another run; stdout and stderr may
            // come in either order.
            for (const ToolRunner* r : model.runners()) {
                const QString out = r->spec().name + QStringLiteral(" out: ") +
                                    r->spec().args.join(QLatin1Char(' ')) + QLatin1Char(' ') +
                                    task + QLatin1Char('\n');
                const QString err = r->spec().name + QStringLiteral(" err\n");
                if (!r->state().isDone() || r->state().status() != 0 ||
                    (r->output() != out + err && r->output() != err + out)) {
                    qWarning("run %d, %s: %s", run, qPrintable(r->spec().name),
                             qPrintable(r->output()));
                    return false;
                }
            }
            return true;
        };

        for (int i = 0; i < warmUpRuns; ++i)
            QVERIFY2(runOnce(), qPrintable(QStringLiteral("warm-up run %1").arg(run)));
        // The scan's thread and every run's reader and watcher are detached:
        // give them a moment to finish before taking the baseline.
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), threadsAtStart, settleTimeoutMs);
        QTRY_VERIFY2_WITH_TIMEOUT(ProcessProbe::children().isEmpty(),
                                  qPrintable(describeChildren()), settleTimeoutMs);
        const int descriptorsBefore = ProcessProbe::openDescriptors();
        const qint64 residentBefore = ProcessProbe::residentKiB();

        const int runs = measuredRuns();
        for (int i = 0; i < runs; ++i)
            QVERIFY2(runOnce(), qPrintable(QStringLiteral("run %1").arg(run)));

        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::threads(), threadsAtStart, settleTimeoutMs);
        QTRY_VERIFY2_WITH_TIMEOUT(ProcessProbe::children().isEmpty(),
                                  qPrintable(describeChildren()), settleTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::openDescriptors(), descriptorsBefore,
                                  settleTimeoutMs);
        const qint64 residentAfter = ProcessProbe::residentKiB();
        qInfo("%d runs of 3 tools; resident memory %lld KiB before, %lld KiB after", runs,
              residentBefore, residentAfter);
        if (residentMemoryIsMeaningful)
            QVERIFY2(residentAfter * 10 <= residentBefore * 11,
                     qPrintable(QStringLiteral("grew from %1 KiB to %2 KiB")
                                    .arg(residentBefore)
                                    .arg(residentAfter)));
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
