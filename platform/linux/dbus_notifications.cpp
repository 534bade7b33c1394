// The freedesktop Notifications interface on the session bus, through Qt
// D-Bus. Calls never wait for the server (only for the bus itself): a server
// that hangs must not hold up a poll, and a panel follows each notification
// anyway.
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

#include <utility>
#include <vector>

namespace zentrova::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// `&`, `<` and `>` as the markup's entities.
QString MarkupEscaped(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            escaped += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

class SessionNotificationBus : public QObject, public NotificationBus {
    Q_OBJECT

  public:
    SessionNotificationBus() : bus_(QDBusConnection::sessionBus()) {
        // Any program on the session bus may send this signal; named by the
        // service, it is taken only from the connection that owns the name.
        if (bus_.isConnected())
            bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
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

    // A body reaches the server as the server reads it: a drive's model text
    // such as "AT&T <DISK" is escaped for a server that reads markup, so it
    // shows as it is and never becomes markup of its own (a link, say).
    void Notify(const NotificationRequest& request,
                std::function<void(std::uint32_t)> sent) override {
        waiting_.push_back({request, std::move(sent)});
        const QDBusReply<QString> owner = bus_.interface() != nullptr
                                              ? bus_.interface()->serviceOwner(kService)
                                              : QDBusReply<QString>();
        if (!capabilitiesOf_.isEmpty() && owner.isValid() && owner.value() == capabilitiesOf_)
            SendWaiting();
        else
            AskCapabilities();
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
    struct Waiting {
        NotificationRequest request;
        std::function<void(std::uint32_t)> sent;
    };

    // Once per server: a server that comes later or replaces this one is
    // asked again. What waits for the answer goes out with it, in order.
    void AskCapabilities() {
        if (asking_)
            return;
        asking_ = true;
        auto* watcher = new QDBusPendingCallWatcher(
            bus_.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                          QStringLiteral("GetCapabilities"))),
            this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* finished) {
                    const QDBusPendingReply<QStringList> reply = *finished;
                    finished->deleteLater();
                    asking_ = false;
                    capabilitiesOf_ = reply.isValid() ? reply.reply().service() : QString();
                    // A server that does not say is sent escaped text: at
                    // worst it shows an entity, never markup from a drive.
                    bodyMarkup_ =
                        !reply.isValid() || reply.value().contains(QStringLiteral("body-markup"));
                    SendWaiting();
                });
    }

    void SendWaiting() {
        for (Waiting& waiting : std::exchange(waiting_, {}))
            Send(waiting.request, std::move(waiting.sent));
    }

    void Send(const NotificationRequest& request, std::function<void(std::uint32_t)> sent) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        QVariantMap hints;
        hints.insert(QStringLiteral("urgency"),
                     QVariant::fromValue(static_cast<uchar>(request.urgency)));
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zentrova"));
        call << QStringLiteral("Zentrova") << static_cast<uint>(request.replacesId)
             << QStringLiteral("zentrova") << request.summary
             << (bodyMarkup_ ? MarkupEscaped(request.body) : request.body)
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

    QDBusConnection bus_;
    std::function<void(std::uint32_t)> clicked_;
    std::vector<Waiting> waiting_;
    bool asking_ = false;
    // The unique bus name of the server whose capabilities these are.
    QString capabilitiesOf_;
    bool bodyMarkup_ = true;
};

} // namespace

std::unique_ptr<NotificationBus> CreateSessionNotificationBus() {
    return std::make_unique<SessionNotificationBus>();
}

} // namespace zentrova::platform

#include "dbus_notifications.moc"
