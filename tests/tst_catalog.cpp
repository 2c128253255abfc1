#include "catalog/runstate.h"
#include "catalog/toolspec.h"

#include <QTest>

class TestCatalog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void catalogueHasThreeToolsInOrder()
    {
        const QList<ToolSpec>& all = ToolSpec::all();
        QCOMPARE(all.size(), 3);
        QCOMPARE(all[0].name, QStringLiteral("claude"));
        QCOMPARE(all[1].name, QStringLiteral("gemini"));
        QCOMPARE(all[2].name, QStringLiteral("hermes"));
        for (const ToolSpec& spec : all)
            QCOMPARE(spec.id(), spec.name);
        QCOMPARE(all[0].args, QStringList{QStringLiteral("-p")});
        QCOMPARE(all[1].args, QStringList{QStringLiteral("-p")});
        // Two words, not "chat -q" as one.
        QCOMPARE(all[2].args, (QStringList{QStringLiteral("chat"), QStringLiteral("-q")}));
        QCOMPARE(&ToolSpec::all(), &all);
    }

    void doneIsOneCaseWhateverItsStatus()
    {
        const RunState zero = RunState::done(0);
        const RunState three = RunState::done(3);
        const RunState negative = RunState::done(-1);
        QCOMPARE(zero.kind(), RunState::Case::Done);
        QCOMPARE(three.kind(), zero.kind());
        QCOMPARE(three.status(), 3);
        QCOMPARE(negative.status(), -1);
        QVERIFY(RunState::idle().isIdle());
        QVERIFY(RunState::running().isRunning() && !RunState::running().isDone());
        QVERIFY(RunState::stopped().isStopped());
        QVERIFY(RunState::failed().isFailed());
    }
};

QTEST_GUILESS_MAIN(TestCatalog)
#include "tst_catalog.moc"
