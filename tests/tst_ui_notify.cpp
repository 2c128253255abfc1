#include "testsupport.h"

#include "ui/contentview.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// The desktop notification at the end of a run, against a session bus of
// the test's own (a private dbus-daemon) and a notification service on it
// that records what it is asked.

namespace {

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        shown << Shown{summary, body, actions};
        return uint(shown.size());
    }
};

const QString path = u"/org/freedesktop/Notifications"_s;
const QString interface = u"org.freedesktop.Notifications"_s;

} // namespace

class TestUiNotify : public QObject {
    Q_OBJECT
    QProcess m_bus;
    QString m_address;

private Q_SLOTS:
    void initTestCase()
    {
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(m_bus.waitForStarted(deadline));
        QVERIFY(waitFor([&] { return m_bus.canReadLine(); }));
        m_address = QString::fromUtf8(m_bus.readLine().trimmed());
        // Before anything connects to the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished(deadline);
    }

    // Each agent's end on one line; a click on it brings the window up.
    // Without a notification service, nothing is shown (the taskbar's
    // alert stands in).
    void notifiesWhenAllHaveEnded_data()
    {
        QTest::addColumn<bool>("service");
        QTest::newRow("a notification service") << true;
        QTest::newRow("none on the bus") << false;
    }
    void notifiesWhenAllHaveEnded()
    {
        QFETCH(bool, service);
        QDBusConnection server =
            QDBusConnection::connectToBus(m_address, u"service %1"_s.arg(service));
        auto disconnect = qScopeGuard([&] { QDBusConnection::disconnectFromBus(server.name()); });
        NotificationService notifications;
        if (service) {
            QVERIFY(server.registerObject(path, &notifications, QDBusConnection::ExportAllSlots));
            QVERIFY(server.registerService(interface));
        }
        ModelRig::Tools tools{
            {u"claude"_s, {u"out=done\\n"_s}}, {u"gemini"_s, {u"exit=3"_s}}, {u"hermes"_s, {}}};
        FakeHome home;
        for (const auto& [name, steps] : tools)
            home.writeStandin(u".local/bin/"_s + name, steps);
        ProcessOwner owner;
        ContentView view(owner, QFile::encodeName(home.path()));
        BrevaneModel* model = view.model();
        model->setPlainOutput(true);
        model->scan();
        QVERIFY(waitFor([&] { return !model->scanning(); }));
        QSignalSpy settled(model, &BrevaneModel::settled);
        model->setTask(u"go"_s);
        model->start();
        QVERIFY(settled.wait(deadline));
        QCOMPARE(view.settledSummary(), u"claude \u2713 \u00b7 gemini \u2717 exit status 3 "
                                        "\u00b7 hermes \u2713"_s);
        if (!service) {
            // Nothing takes it: the window is not brought up.
            QVERIFY(notifications.shown.isEmpty());
            QVERIFY(!view.isVisible());
            return;
        }
        QVERIFY(waitFor([&] { return !notifications.shown.isEmpty(); }));
        QCOMPARE(notifications.shown.size(), 1);
        QCOMPARE(notifications.shown[0].body, view.settledSummary());
        QVERIFY(notifications.shown[0].actions.contains(u"default"_s));
        QVERIFY(!view.isVisible());
        QDBusMessage clicked = QDBusMessage::createSignal(path, interface, u"ActionInvoked"_s);
        clicked << uint(1) << u"default"_s;
        QVERIFY(server.send(clicked));
        QVERIFY(waitFor([&] { return view.isVisible(); }));
    }
};

QTEST_MAIN(TestUiNotify)
#include "tst_ui_notify.moc"
