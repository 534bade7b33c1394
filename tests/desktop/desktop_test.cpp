// Notifications and the tray icon, apart from the window: what is sent for
// each event, when a notification replaces another, and what the tray shows.
#include "desktop/notices.h"
#include "desktop/tray.h"
#include "fakes/fake_notifications.h"

#include <QApplication>
#include <QMenu>

#include <gtest/gtest.h>

#include <sstream>

using namespace zentrova;
using desktop::TrayDrive;
using desktop::TrayState;
using platform::DesktopNotice;
using platform::NoticeKind;
using platform::NotificationUrgency;

TEST(Notices, SummaryAndUrgencyOfEachEvent) {
    const struct {
        NoticeKind kind;
        const char* summary;
        NotificationUrgency urgency;
    } cases[] = {
        {NoticeKind::DriveFailing, "Drive /dev/sdc is about to fail",
         NotificationUrgency::Critical},
        {NoticeKind::DriveOverCriticalTemp, "Drive /dev/sdc is over its critical temperature",
         NotificationUrgency::Normal},
        {NoticeKind::DataFolderUnusable, "Zentrova cannot use its data folder",
         NotificationUrgency::Normal},
        {NoticeKind::SettingsUnreadable, "Zentrova could not read its settings",
         NotificationUrgency::Normal},
        {NoticeKind::SettingsUnsaved, "Zentrova could not save its settings",
         NotificationUrgency::Normal},
        {NoticeKind::DriveOnWatch, "Drive /dev/sdc is on Watch", NotificationUrgency::Normal},
        {NoticeKind::DriveAdvice, "Drive /dev/sdc had garbled transfers",
         NotificationUrgency::Normal},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(desktop::NoticeSummary({c.kind, 2, "/dev/sdc", "x"}), c.summary);
        EXPECT_EQ(desktop::NoticeUrgency(c.kind), c.urgency) << c.summary;
    }
}

// The same fact for the same drive (and Watch rule) replaces; another drive,
// fact or rule is a notification of its own; a click names the drive of its
// notification.
TEST(Notices, RepeatsReplaceAndClicksNameTheirDrive) {
    zentrova::testing::FakeNotificationServer server;
    std::ostringstream debug;
    desktop::DesktopNotices notices(
        std::make_unique<zentrova::testing::FakeNotificationBus>(server), &debug);
    std::vector<int> clicked;
    notices.SetClickHandler([&](int drive) { clicked.push_back(drive); });
    const DesktopNotice sent[] = {
        {NoticeKind::DriveOverCriticalTemp, 2, "/dev/sdc", "hot"},
        {NoticeKind::DriveOverCriticalTemp, 2, "/dev/sdc", "hot again"},
        {NoticeKind::DriveOverCriticalTemp, 3, "/dev/sdd", "hot"},
        {NoticeKind::DriveFailing, 2, "/dev/sdc", "failing"},
        {NoticeKind::DriveOnWatch, 2, "/dev/sdc", "3 more", "reallocated_sectors"},
        {NoticeKind::DriveOnWatch, 2, "/dev/sdc", "pending", "pending_sectors"},
        {NoticeKind::DriveOnWatch, 2, "/dev/sdc", "5 more", "reallocated_sectors"},
    };
    for (const DesktopNotice& notice : sent)
        notices.Announce(notice);
    ASSERT_EQ(server.sent.size(), 7u);
    const std::uint32_t replaces[] = {0, 1, 0, 0, 0, 0, 4};
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(server.sent[i].replacesId, replaces[i]) << i;
    EXPECT_EQ(server.sent[1].body, "hot again");
    for (std::uint32_t id : {3u, 1u, 99u})
        server.click(id);
    EXPECT_EQ(clicked, (std::vector<int>{2, 2}));
    EXPECT_EQ(debug.str(), "");
}

TEST(Notices, WithoutAServerNothingIsSentAndOneLineSaysSo) {
    zentrova::testing::FakeNotificationServer server;
    server.unavailable = "no notification server on the session bus";
    std::ostringstream debug;
    desktop::DesktopNotices notices(
        std::make_unique<zentrova::testing::FakeNotificationBus>(server), &debug);
    for (int i = 0; i < 3; ++i)
        notices.Announce({NoticeKind::DriveFailing, 0, "/dev/sda", "failing"});
    EXPECT_TRUE(server.sent.empty());
    EXPECT_EQ(debug.str(), "zentrova: no desktop notifications are sent: no notification server "
                           "on the session bus\n");
    server.unavailable.clear(); // a server that comes later is used
    notices.Announce({NoticeKind::DriveFailing, 0, "/dev/sda", "failing"});
    EXPECT_EQ(server.sent.size(), 1u);
}

// The worst drive decides the icon: failed, then too hot, then on Watch,
// then unreadable.
TEST(TrayIcon, StateToolTipAndBadge) {
    const TrayDrive ok{"/dev/sda", "OK", "40", false, false};
    const TrayDrive hot{"/dev/sdb", "OK", "61", true, false};
    const TrayDrive lost{"/dev/sdc", "OK", "", false, true};
    const TrayDrive failed{"/dev/sdd", "Failed", "41", true, true};
    const TrayDrive watched{"/dev/sdg", "OK", "38", false, false, "reallocated sectors growing"};
    const TrayDrive watchedLost{"/dev/sdh", "OK", "", false, true, "unreadable sectors"};
    const struct {
        std::vector<TrayDrive> drives;
        TrayState state;
    } cases[] = {
        {{}, TrayState::AllOk},
        {{ok, ok}, TrayState::AllOk},
        {{ok, lost}, TrayState::Unreadable},
        {{lost, hot, ok}, TrayState::OverCriticalTemp},
        {{hot, failed, lost}, TrayState::Failed},
        {{ok, lost, watched}, TrayState::OnWatch},
        {{{"/dev/sdj", "OK", "62", true, false, "x"}}, TrayState::OverCriticalTemp},
        {{watchedLost, failed}, TrayState::Failed},
        {{watchedLost}, TrayState::OnWatch},
    };
    for (const auto& c : cases)
        EXPECT_EQ(desktop::OverallState(c.drives), c.state) << c.drives.size();
    // A drive still too hot by its last reading outranks its failed read.
    EXPECT_EQ(desktop::TrayToolTip({ok,
                                    hot,
                                    lost,
                                    failed,
                                    {"/dev/sde", "", "", false, false},
                                    {"/dev/sdf", "OK", "60", true, true},
                                    watched,
                                    {"/dev/sdi", "Failed", "", false, false, "x"}}),
              "Zentrova\n/dev/sda: OK, 40 °C\n/dev/sdb: over its critical temperature, 61 °C\n"
              "/dev/sdc: could not be read\n/dev/sdd: Failed, 41 °C\n/dev/sde: not read yet\n"
              "/dev/sdf: over its critical temperature, 60 °C\n"
              "/dev/sdg: on Watch, reallocated sectors growing, 38 °C\n/dev/sdi: Failed");

    QPixmap plain(32, 32);
    plain.fill(Qt::white);
    const QIcon program(plain);
    const auto corner = [&](TrayState state) {
        return desktop::StateIcon(program, state).pixmap(32, 32).toImage().pixelColor(25, 25);
    };
    EXPECT_EQ(corner(TrayState::AllOk), QColor(Qt::white));
    EXPECT_EQ(corner(TrayState::Failed), QColor(0xd3, 0x2f, 0x2f));
    EXPECT_NE(corner(TrayState::Unreadable), corner(TrayState::OverCriticalTemp));
    EXPECT_EQ(corner(TrayState::OnWatch), desktop::kWatchAmber);
    EXPECT_NE(corner(TrayState::OnWatch), corner(TrayState::OverCriticalTemp));
}

// The menu: the window, each drive, About and Quit, each to its own action.
TEST(TrayIcon, MenuEntriesFollowTheDrives) {
    std::vector<QString> done;
    desktop::TrayActions actions;
    actions.toggleWindow = [&] { done.push_back("toggle"); };
    actions.showWindow = [&] { done.push_back("show"); };
    actions.showDrive = [&](int row) { done.push_back("drive " + QString::number(row)); };
    actions.about = [&] { done.push_back("about"); };
    actions.quit = [&] { done.push_back("quit"); };
    QPixmap program(16, 16);
    program.fill(Qt::blue);
    desktop::Tray tray(QIcon(program), actions);
    tray.Update({{"/dev/sda", "OK", "40", false, false}, {"/dev/sdb", "OK", "", false, false}});
    tray.Update({{"/dev/sda", "OK", "40", false, false}, {"/dev/sdb", "Failed", "", false, false}});
    QStringList texts;
    for (QAction* action : tray.Menu()->actions())
        texts.append(action->text());
    EXPECT_EQ(texts.join('|'), "Show Zentrova||/dev/sda: OK, 40 °C|/dev/sdb: Failed||About|Quit");
    EXPECT_EQ(tray.State(), TrayState::Failed);
    EXPECT_EQ(tray.ToolTip(), "Zentrova\n/dev/sda: OK, 40 °C\n/dev/sdb: Failed");
    for (int i : {0, 3, 5, 6})
        tray.Menu()->actions()[i]->trigger();
    EXPECT_EQ(done, (std::vector<QString>{"show", "drive 1", "about", "quit"}));
}

// What a panel's caller holds stays while the panel is up: an action asked
// for meanwhile waits for the event loop after the last panel.
TEST(Panels, AnActionWaitsUntilNoPanelIsUp) {
    std::vector<QString> order;
    platform::WhenNoPanelIsUp([&] { order.push_back("at once"); });
    platform::SetAlertHandler([&](const platform::AlertRequest& request) {
        if (request.title == "outer") {
            platform::WhenNoPanelIsUp([&] { order.push_back("first"); });
            platform::NSRunAlertPanel("inner", "", "");
            platform::WhenNoPanelIsUp([&] { order.push_back("last asked"); });
        }
        order.push_back(request.title);
        return platform::NSAlertDefaultReturn;
    });
    platform::NSRunAlertPanel("outer", "", "");
    order.push_back("caller goes on");
    QCoreApplication::processEvents();
    platform::SetAlertHandler({});
    EXPECT_EQ(order,
              (std::vector<QString>{"at once", "inner", "outer", "caller goes on", "last asked"}));
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
