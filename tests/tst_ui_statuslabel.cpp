#include "ui/statuslabel.h"

#include <QTest>

Q_DECLARE_METATYPE(RunState)

class TestStatusLabel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void label_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<RunState>("state");
        QTest::addColumn<QString>("expected");
        const QString running = QStringLiteral("Running") + QChar(0x2026);
        QTest::newRow("done 0") << true << RunState::done(0) << QStringLiteral("Finished");
        QTest::newRow("done 2") << true << RunState::done(2) << QStringLiteral("Exited (2)");
        QTest::newRow("done -1") << true << RunState::done(-1) << QStringLiteral("Exited (-1)");
        QTest::newRow("done 1000, no grouping")
            << true << RunState::done(1000) << QStringLiteral("Exited (1000)");
        QTest::newRow("done INT32_MIN")
            << true << RunState::done(INT32_MIN) << QStringLiteral("Exited (-2147483648)");
        QTest::newRow("idle") << true << RunState::idle() << QStringLiteral("Ready");
        QTest::newRow("running, one ellipsis character") << true << RunState::running() << running;
        QTest::newRow("stopped") << true << RunState::stopped() << QStringLiteral("Stopped");
        QTest::newRow("failed") << true << RunState::failed() << QStringLiteral("Failed");
        // Without a path the state never shows.
        const RunState states[] = {RunState::done(0),   RunState::done(1),   RunState::idle(),
                                   RunState::running(), RunState::stopped(), RunState::failed()};
        for (const RunState state : states)
            QTest::addRow("no path, case %d", int(state.kind()))
                << false << state << QStringLiteral("Not installed");
    }
    void label()
    {
        QFETCH(bool, installed);
        QFETCH(RunState, state);
        QFETCH(QString, expected);
        const std::optional<QString> path =
            installed ? std::optional<QString>(QStringLiteral("/usr/local/bin/tool"))
                      : std::nullopt;
        QCOMPARE(statusLabel(path, state), expected);
    }

    void emptyPathIsStillAPath()
    {
        QCOMPARE(statusLabel(QString(), RunState::idle()), QStringLiteral("Ready"));
    }
};

QTEST_MAIN(TestStatusLabel)
#include "tst_ui_statuslabel.moc"
