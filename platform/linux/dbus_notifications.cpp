// The freedesktop Notifications interface on the session bus, through Qt
// D-Bus. Calls never wait for the server: a server that hangs must not hold
// up a poll, and a panel follows each notification anyway.
#include "platform/notification_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace zentrova::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

class SessionNotificationBus : public QObject, public NotificationBus {
    Q_OBJECT

  public:
    SessionNotificationBus() : bus_(QDBusConnection::sessionBus()) {
        if (bus_.isConnected())
            bus_.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                         SLOT(OnActionInvoked(uint, QString)));
    }

    QString Unavailable() override {
        if (!bus_.isConnected())
            return QStringLiteral("no session bus (%1)").arg(bus_.lastError().message());
        QDBusConnectionInterface* daemon = bus_.interface();
        if (daemon != nullptr && daemon->isServiceRegistered(kService).value())
            return {};
        // A server the bus starts on the first call counts as there.
        const QDBusReply<QStringList> startable = bus_.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")));
        if (startable.isValid() && startable.value().contains(kService))
            return {};
        return QStringLiteral("no notification server on the session bus");
    }

    void Notify(const NotificationRequest& request,
                std::function<void(std::uint32_t)> sent) override {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        QVariantMap hints;
        hints.insert(QStringLiteral("urgency"),
                     QVariant::fromValue(static_cast<uchar>(request.urgency)));
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zentrova"));
        call << QStringLiteral("Zentrova") << static_cast<uint>(request.replacesId)
             << QStringLiteral("zentrova") << request.summary << request.body
             << QStringList{QStringLiteral("default"), QStringLiteral("Show")} << hints
             << -1; // the server's own timeout
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [sent = std::move(sent)](QDBusPendingCallWatcher* finished) {
                    const QDBusPendingReply<uint> reply = *finished;
                    finished->deleteLater();
                    if (sent)
                        sent(reply.isValid() ? reply.value() : 0);
                });
    }

    void SetClickHandler(std::function<void(std::uint32_t)> clicked) override {
        clicked_ = std::move(clicked);
    }

  private slots:
    void OnActionInvoked(uint id, const QString& key) {
        if (key == QLatin1String("default") && clicked_)
            clicked_(id);
    }

  private:
    QDBusConnection bus_;
    std::function<void(std::uint32_t)> clicked_;
};

} // namespace

std::unique_ptr<NotificationBus> CreateSessionNotificationBus() {
    return std::make_unique<SessionNotificationBus>();
}

} // namespace zentrova::platform

#include "dbus_notifications.moc"
