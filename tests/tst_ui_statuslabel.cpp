#include "ui/statuslabel.h"

#include <QTest>

Q_DECLARE_METATYPE(RunState)
using Path = std::optional<QByteArray>;

class TestStatusLabel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void label_data()
    {
        QTest::addColumn<Path>("path");
        QTest::addColumn<RunState>("state");
        QTest::addColumn<QString>("expected");
        const Path path = QByteArrayLiteral("/usr/local/bin/tool");
        QTest::newRow("done 0") << path << RunState::done(0) << QStringLiteral("Finished");
        QTest::newRow("done 1000, no grouping")
            << path << RunState::done(1000) << QStringLiteral("Exited (1000)");
        QTest::newRow("idle") << path << RunState::idle() << QStringLiteral("Ready");
        QTest::newRow("running, one ellipsis character")
            << path << RunState::running() << QStringLiteral("Running") + QChar(0x2026);
        QTest::newRow("stopped") << path << RunState::stopped() << QStringLiteral("Stopped");
        QTest::newRow("failed") << path << RunState::failed() << QStringLiteral("Failed");
        // Without a path the state never shows.
        QTest::newRow("no path") << Path() << RunState::done(1) << QStringLiteral("Not installed");
    }
    void label()
    {
        QFETCH(Path, path);
        QFETCH(RunState, state);
        QFETCH(QString, expected);
        QCOMPARE(statusLabel(path, state), expected);
    }
};

QTEST_MAIN(TestStatusLabel)
#include "tst_ui_statuslabel.moc"
