#include "ui/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QPointer>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent)
{
}

void DesktopNotifier::notify(const QString& summary, const QString& body,
                             std::function<void()> activated, std::function<void()> unavailable)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        unavailable();
        return;
    }
    if (!m_listening) {
        bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                    SLOT(notificationClosed(uint, uint)));
        m_listening = true;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    // The "default" action is the click on the notification itself.
    call << QGuiApplication::applicationDisplayName() << uint(0)
         << QGuiApplication::desktopFileName() << summary << body
         << QStringList{QStringLiteral("default"), tr("Show")}
         << QVariantMap{{QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName()}}
         << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, activated = std::move(activated),
             unavailable = std::move(unavailable)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError())
                    unavailable();
                else
                    m_shown.insert(reply.value(), activated);
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action)
{
    const auto shown = m_shown.constFind(id);
    if (shown == m_shown.cend() || action != QStringLiteral("default"))
        return;
    const std::function<void()> activated = *shown;
    m_shown.remove(id);
    activated();
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    m_shown.remove(id);
}
