#include "catalog/runstate.h"
#include "catalog/toolspec.h"

#include <QTest>

class TestCatalog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void catalogueHasThreeToolsInOrder()
    {
        QStringList entries;
        for (const ToolSpec& tool : ToolSpec::all())
            entries << tool.id() + QLatin1Char('=') + tool.name + QLatin1Char(':') +
                           tool.args.join(QLatin1Char('|'));
        // "chat" and "-q" are two words, not one.
        QCOMPARE(entries,
                 (QStringList{"claude=claude:-p", "gemini=gemini:-p", "hermes=hermes:chat|-q"}));
    }

    void doneIsOneCaseWhateverItsStatus()
    {
        QCOMPARE(RunState::done(3).kind(), RunState::done(0).kind());
        QCOMPARE(RunState::done(0).kind(), RunState::Case::Done);
        QCOMPARE(RunState::done(-1).status(), -1);
        QVERIFY(RunState::idle().isIdle());
        QVERIFY(RunState::running().isRunning() && !RunState::running().isDone());
        QVERIFY(RunState::stopped().isStopped());
        QVERIFY(RunState::failed().isFailed());
    }
};

QTEST_GUILESS_MAIN(TestCatalog)
#include "tst_catalog.moc"
