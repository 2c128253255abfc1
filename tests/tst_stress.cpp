#include "testsupport.h"

using namespace Qt::StringLiterals;

// Many turns of all three tools in one session: each starts three children, a
// thread and a pipe per child. Afterwards none of it may be left over, and
// no run may have seen another's output.

class TestStress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manyRunsLeaveNothingBehind()
    {
        ModelRig rig;
        QVERIFY(rig.scan(
            {{u"claude"_s, {u"args"_s}}, {u"gemini"_s, {u"args"_s}}, {u"hermes"_s, {u"args"_s}}}));
        rig.model.setPlainOutput(true);
        int run = 0;
        auto runOnce = [&] {
            const QString task = u"task %1"_s.arg(++run);
            bool right = rig.runAll(task);
            for (int i = 0; i < 3; ++i)
                right = right && rig.runner(i)->task() == task &&
                        rig.runner(i)->turnOutput() == printedArguments(rig.runner(i));
            return right;
        };
        // Threads end a moment after their child: the baseline waits for them.
        const auto settled = [&] {
            return rig.owner.threadCount() == 0 && ProcessProbe::children().isEmpty();
        };
        for (int i = 0; i < 15; ++i)
            QVERIFY2(runOnce(), qPrintable(u"warm-up run %1"_s.arg(run)));
        QVERIFY(waitFor(settled));
        const int threads = ProcessProbe::countEntries(u"/proc/self/task"_s);
        const int descriptors = ProcessProbe::countEntries(u"/proc/self/fd"_s);

        // BREVANE_STRESS_RUNS lowers the count for much slower sanitizer builds.
        const int asked = qEnvironmentVariableIntValue("BREVANE_STRESS_RUNS");
        for (int i = 0; i < (asked > 0 ? asked : 200); ++i)
            QVERIFY2(runOnce(), qPrintable(u"run %1"_s.arg(run)));
        QVERIFY(waitFor(settled));
        QCOMPARE(ProcessProbe::countEntries(u"/proc/self/task"_s), threads);
        QCOMPARE(ProcessProbe::countEntries(u"/proc/self/fd"_s), descriptors);
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
