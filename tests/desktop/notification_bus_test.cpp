// The session's notification server as the monitor talks to it, on a
// private bus with fake servers: which body each server gets, and whose
// clicks count.
#include "platform/notification_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace zentrova;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QString busAddress; // empty: no bus, every test skips

// A dbus-daemon of the test's own, the session bus of this process.
class PrivateBus : public ::testing::Environment {
  public:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !dir_.isValid())
            return;
        QFile config(dir_.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                    "<policy context=\"default\"><allow send_destination=\"*\"/>"
                                    "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy>"
                                    "</busconfig>")
                         .arg(dir_.path())
                         .toUtf8());
        config.close();
        daemon_.start(daemon, {QStringLiteral("--config-file=") + config.fileName(),
                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(10000))
            return;
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
        }
        busAddress = QString::fromUtf8(daemon_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
    }
    void TearDown() override {
        daemon_.kill();
        daemon_.waitForFinished(10000);
    }

  private:
    QTemporaryDir dir_;
    QProcess daemon_;
};

// A notification server on a connection of its own: it answers
// GetCapabilities with its list and keeps each body it is sent.
class FakeServer : public QDBusVirtualObject {
  public:
    FakeServer(const QString& name, QStringList capabilities)
        : bus(QDBusConnection::connectToBus(busAddress, name)),
          capabilities_(std::move(capabilities)) {
        bus.registerVirtualObject(kPath, this);
    }
    ~FakeServer() override { QDBusConnection::disconnectFromBus(bus.name()); }
    bool Own() { return bus.registerService(kService); }
    void Disown() { bus.unregisterService(kService); }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("GetCapabilities")) {
            ++asked;
            return connection.send(message.createReply(QVariant(capabilities_)));
        }
        if (message.member() == QLatin1String("Notify") && message.arguments().size() > 4) {
            bodies.push_back(message.arguments().at(4).toString());
            return connection.send(message.createReply(QVariant(static_cast<uint>(bodies.size()))));
        }
        return false;
    }

    QDBusConnection bus;
    int asked = 0;
    std::vector<QString> bodies;

  private:
    QStringList capabilities_;
};

class SessionBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (busAddress.isEmpty())
            GTEST_SKIP() << "SKIPPED: no dbus-daemon (scripts/deps.sh installs it)";
        notifications = platform::CreateSessionNotificationBus();
    }
    void Send(const QString& body) {
        notifications->Notify({QStringLiteral("Drive /dev/sdc is about to fail"), body,
                               platform::NotificationUrgency::Critical, 0},
                              [this](std::uint32_t id) { ids.push_back(id); });
        const std::size_t before = ids.size();
        ASSERT_TRUE(QTest::qWaitFor([&] { return ids.size() > before; }, 20000));
    }

    std::unique_ptr<platform::NotificationBus> notifications;
    std::vector<std::uint32_t> ids;
};

} // namespace

// A server that reads markup gets `&`, `<` and `>` escaped, one that does not
// gets the text as it is; each server is asked once, a new one again.
TEST_F(SessionBus, TheBodyIsEscapedOnlyForAServerThatReadsMarkup) {
    const QString model = QStringLiteral("OBAR <X1> & CO <a href=\"x\">AT&T</a>");
    FakeServer markup(QStringLiteral("markup"), {"body", "body-markup", "actions"});
    FakeServer plain(QStringLiteral("plain"), {"body", "actions"});
    ASSERT_TRUE(markup.Own());
    Send(model);
    Send(model);
    markup.Disown();
    ASSERT_TRUE(plain.Own());
    Send(model);
    plain.Disown();
    ASSERT_TRUE(markup.Own());
    Send(model);
    markup.Disown();

    const QString escaped =
        QStringLiteral("OBAR &lt;X1&gt; &amp; CO &lt;a href=\"x\"&gt;AT&amp;T&lt;/a&gt;");
    EXPECT_EQ(markup.bodies, (std::vector<QString>{escaped, escaped, escaped}));
    EXPECT_EQ(plain.bodies, std::vector<QString>{model});
    EXPECT_EQ(markup.asked, 2);
    EXPECT_EQ(plain.asked, 1);
}

// A click counts only from the connection that owns the service's name: a
// forged ActionInvoked from another program, or from a server that has
// given the name up, selects nothing.
TEST_F(SessionBus, ClicksCountOnlyFromTheServiceOwner) {
    std::vector<std::uint32_t> clicked;
    notifications->SetClickHandler([&](std::uint32_t id) { clicked.push_back(id); });
    FakeServer owner(QStringLiteral("owner"), {}), formerOwner(QStringLiteral("former"), {}),
        intruder(QStringLiteral("intruder"), {});
    ASSERT_TRUE(formerOwner.Own());
    formerOwner.Disown();
    ASSERT_TRUE(owner.Own());
    const auto click = [](FakeServer& from, uint id) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("default");
        from.bus.send(signal);
        // A round trip to the bus: the signal has been routed before it.
        from.bus.interface()->isServiceRegistered(kService);
    };
    click(intruder, 1);
    click(formerOwner, 2);
    click(owner, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !clicked.empty(); }, 20000));
    EXPECT_EQ(clicked, std::vector<std::uint32_t>{3});
    owner.Disown();
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PrivateBus);
    return RUN_ALL_TESTS();
}
