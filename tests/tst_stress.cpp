#include "model/brevanemodel.h"
#include "processprobe.h"
#include "testsupport.h"

#include "platform/processowner.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Many runs of all three tools in one model: each starts three children, a
// thread and a pipe per child. Afterwards none of it may be left over, and
// no run may have seen another's output.

class TestStress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manyRunsLeaveNothingBehind()
    {
        FakeHome home;
        const QStringList names{u"claude"_s, u"gemini"_s, u"hermes"_s};
        for (const QString& name : names)
            home.writeStandin(u".local/bin/"_s + name, {u"out="_s + name + u" "_s, u"args"_s});
        ProcessOwner owner;
        BrevaneModel model(owner);
        model.scan();
        QVERIFY(QTest::qWaitFor([&] { return !model.scanning(); }, deadline));
        const QStringList args{u"-p"_s, u"-p"_s, u"chat -q"_s};
        int run = 0;
        auto runOnce = [&] {
            const QString task = u"task %1"_s.arg(++run);
            model.setTask(task);
            model.start();
            if (!QTest::qWaitFor([&] { return !model.anyRunning(); }, deadline))
                return false;
            for (int i = 0; i < 3; ++i) {
                const ToolRunner* r = model.runners()[i];
                if (!r->state().isDone() ||
                    r->output() != u"%1 %2 %3\n"_s.arg(names[i], args[i], task))
                    return false;
            }
            return true;
        };
        // Threads end a moment after their child: the baseline waits for them.
        const auto settled = [&] {
            return owner.threadCount() == 0 && ProcessProbe::children().isEmpty();
        };
        for (int i = 0; i < 15; ++i)
            QVERIFY2(runOnce(), qPrintable(u"warm-up run %1"_s.arg(run)));
        QVERIFY(QTest::qWaitFor(settled, deadline));
        const int threads = ProcessProbe::threads();
        const int descriptors = ProcessProbe::openDescriptors();

        // BREVANE_STRESS_RUNS lowers the count for much slower sanitizer builds.
        const int asked = qEnvironmentVariableIntValue("BREVANE_STRESS_RUNS");
        for (int i = 0; i < (asked > 0 ? asked : 200); ++i)
            QVERIFY2(runOnce(), qPrintable(u"run %1"_s.arg(run)));
        QTRY_VERIFY_WITH_TIMEOUT(settled(), deadline);
        QCOMPARE(ProcessProbe::threads(), threads);
        QCOMPARE(ProcessProbe::openDescriptors(), descriptors);
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
