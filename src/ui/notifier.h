#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

// Desktop notifications through the freedesktop notification service on
// the session bus. Calls are asynchronous: a slow or missing service never
// holds the window up.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    // Shows `summary` and `body`; `activated` runs when the user clicks the
    // notification. `unavailable` runs instead when no service takes it
    // (no session bus, no notification service, an error).
    void notify(const QString& summary, const QString& body, std::function<void()> activated,
                std::function<void()> unavailable);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    bool m_listening = false;
    QHash<uint, std::function<void()>> m_shown;
};
