// The window with the desktop around it: notifications before panels, a
// click on one, the tray icon and closing into the tray.
#include "desktop/tray.h"
#include "shell_fixture.h"

class Desktop : public Shell {
  protected:
    // Drive 1 fails its attribute 5 and is 45 degrees warm.
    void AddFailingDrives() {
        AddDrives(3);
        states[1].data = DataPage({{5, 36, 36}, {194, 100, 90, 45}});
        states[1].thresholds = ThresholdsPage({{5, 0, 0, 0, 36}, {194}});
    }
    int SelectedRow() const {
        const QModelIndexList rows = Drives()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }
};

TEST_F(Desktop, EachPanelIsToldToTheDesktopJustBeforeItOpens) {
    AddFailingDrives();
    std::vector<std::size_t> panelsWhenSent;
    notifications.onSend = [&] { panelsWhenSent.push_back(alerts.size()); };
    ASSERT_TRUE(Start());
    Drives()->selectRow(1);
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    ASSERT_EQ(notifications.sent.size(), 2u);
    const platform::NotificationRequest& first = notifications.sent[0];
    EXPECT_EQ(first.summary, "Drive /dev/sdb is about to fail");
    EXPECT_EQ(first.body, alerts.at(0).message);
    EXPECT_EQ(first.urgency, platform::NotificationUrgency::Critical);
    EXPECT_EQ(notifications.sent[1].replacesId, 1u); // the same fact again
    EXPECT_EQ(panelsWhenSent, (std::vector<std::size_t>{0, 1}));

    // The temperature alert, once the drive is over its limit after start-up.
    Drives()->selectRow(0);
    settings::settings.gnCriticaltemp[0] = 39;
    settings::settings.gbCriticalTempEnable[0] = 1;
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    ASSERT_EQ(notifications.sent.size(), 3u);
    EXPECT_EQ(notifications.sent[2].summary, "Drive /dev/sda is over its critical temperature");
    EXPECT_EQ(notifications.sent[2].body, alerts.back().message);

    // Failing and too hot: the temperature alert stands in for the "WARNING"
    // panel, and the desktop still hears of the failure after it.
    Drives()->selectRow(1);
    settings::settings.gnCriticaltemp[1] = 44;
    settings::settings.gbCriticalTempEnable[1] = 1;
    const std::size_t panels = alerts.size();
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    ASSERT_EQ(alerts.size(), panels + 1);
    EXPECT_EQ(alerts.back().title, "Zentrova");
    ASSERT_EQ(notifications.sent.size(), 5u);
    EXPECT_EQ(notifications.sent[4].summary, "Drive /dev/sdb is about to fail");

    // The program's own troubles: a settings file it cannot read, a data
    // folder it cannot use.
    QFile settingsFile(dir.path() + "/Zentrodat/Zentroset");
    ASSERT_TRUE(settingsFile.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                settingsFile.write("not a property list") > 0);
    settingsFile.close();
    ASSERT_TRUE(Start());
    EXPECT_EQ(notifications.sent.back().summary, "Zentrova could not read its settings");
    EXPECT_FALSE(
        Start([this](StartupEnvironment& env) { env.currentDirectory = dir.path() + "/x"; }));
    EXPECT_EQ(notifications.sent.back().summary, "Zentrova cannot use its data folder");
    EXPECT_EQ(notifications.sent.back().body, alerts.back().message);

    // No server: the panels as before, nothing sent.
    notifications = {};
    notifications.unavailable = "none";
    ASSERT_TRUE(Start());
    alerts.clear();
    Drives()->selectRow(1);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(notifications.sent.empty());
}

// A click shows the window with the drive chosen; during a panel, only once
// the panel is answered and its caller is done.
TEST_F(Desktop, ClickOnANotificationShowsItsDrive) {
    AddFailingDrives();
    ASSERT_TRUE(Start());
    Drives()->selectRow(1);
    Drives()->selectRow(0);
    ASSERT_FALSE(controller->MainWindow()->isVisible());
    notifications.click(1);
    EXPECT_TRUE(controller->MainWindow()->isVisible());
    EXPECT_EQ(SelectedRow(), 1);

    Drives()->selectRow(0);
    answer = platform::NSAlertAlternateReturn;
    duringAlert = [&](const platform::AlertRequest&) {
        notifications.click(1);
        controller->ShowDrive(-1); // then the tray icon: the window alone
        EXPECT_EQ(SelectedRow(), 0);
    };
    controller->OnAppClose();
    EXPECT_EQ(SelectedRow(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(SelectedRow(), 1);
}

// A drive shown from a notification or the tray raises no second panel for
// what the desktop has just told; a click in the table alerts as before.
TEST_F(Desktop, ADriveShownFromTheDesktopRaisesNoSecondPanel) {
    AddFailingDrives();
    trayAvailable = true;
    ASSERT_TRUE(Start());
    Drives()->selectRow(1);
    Find<QCheckBox>("SetsCriticalTemp")->setChecked(true);
    Find<QLineEdit>("SetsTempEdit")->setText("44");
    Find<QPushButton>("SetsApplysettings")->click();
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    ASSERT_EQ(alerts.back().title, "Zentrova"); // the temperature alert
    ASSERT_EQ(notifications.sent.at(1).summary, "Drive /dev/sdb is over its critical temperature");
    const std::size_t panels = alerts.size();
    Drives()->selectRow(0);
    notifications.click(2); // that notification
    EXPECT_EQ(SelectedRow(), 1);
    Drives()->selectRow(0);
    controller->TrayIcon()->Menu()->actions().at(3)->trigger(); // drive 1
    EXPECT_EQ(SelectedRow(), 1);
    EXPECT_EQ(alerts.size(), panels);
    Drives()->selectRow(0);
    Drives()->selectRow(1);
    EXPECT_EQ(alerts.size(), panels + 1);
    EXPECT_EQ(alerts.back().title, "Zentrova");
}

TEST_F(Desktop, TrayFollowsTheDrivesAndClosingIntoItKeepsPolling) {
    AddFailingDrives();
    registry.services.pop_back(); // only drives that start well
    trayAvailable = true;
    ASSERT_TRUE(Start());
    desktop::Tray* tray = controller->TrayIcon();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->State(), desktop::TrayState::AllOk) << tray->ToolTip().toStdString();
    Drives()->selectRow(1);
    EXPECT_EQ(tray->State(), desktop::TrayState::Failed);
    EXPECT_EQ(tray->ToolTip(), "Zentrova\n/dev/sda: OK, 40 °C\n/dev/sdb: Failed, 45 °C");
    states[0].readDataStatus = 5;
    Drives()->selectRow(0);
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_TRUE(tray->ToolTip().contains("/dev/sda: could not be read, 40 °C"))
        << tray->ToolTip().toStdString();
    states[0].readDataStatus = 0;
    controller->PollSelDriveForSMARTAndFillAttributeTable(); // its next good read
    EXPECT_TRUE(tray->ToolTip().contains("/dev/sda: OK, 40 °C")) << tray->ToolTip().toStdString();

    // Without the choice, Close asks and the window stays on "No".
    controller->OnClickContinueImg();
    answer = platform::NSAlertAlternateReturn;
    controller->OnAppClose();
    EXPECT_TRUE(alerts.back().defaultButton == "Yes" && controller->MainWindow()->isVisible());
    answer = platform::NSAlertDefaultReturn;

    // Keep running in the tray, polled every minute.
    ASSERT_FALSE(Find<QCheckBox>("SetsKeepInTray")->isHidden());
    Find<QCheckBox>("SetsKeepInTray")->setChecked(true);
    Find<QLineEdit>("SetsHrEdit")->setText("0");
    Find<QLineEdit>("SetsMinEdit")->setText("1");
    Find<QPushButton>("SetsApplysettings")->click();
    EXPECT_TRUE(settings::KeepRunningInTray());
    alerts.clear();
    controller->OnAppClose();
    EXPECT_TRUE(alerts.empty() && !controller->MainWindow()->isVisible() &&
                !controller->HasEnded());
    const qint64 logSize = ReadAll(LogPath(0)).size();
    states[0].data = DataPage({{194, 99, 90, 40}});
    clock.Advance(60);
    EXPECT_GT(ReadAll(LogPath(0)).size(), logSize);
    // The tray's Quit asks as Close did, and ends.
    tray->Menu()->actions().last()->trigger();
    EXPECT_EQ(alerts.back().defaultButton, "Yes");
    EXPECT_TRUE(controller->HasEnded());

    // Without a tray, the setting is neither offered nor obeyed.
    trayAvailable = false;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(controller->TrayIcon() == nullptr && Find<QCheckBox>("SetsKeepInTray")->isHidden());
    controller->OnAppClose();
    EXPECT_TRUE(controller->HasEnded());
}

// A reallocated count that grows puts the drive on Watch beside its own OK:
// an amber marker with the reasons in its Drive cell, the banner above the
// attributes, the count in the Raw column, an amber tray and a notification
// per rule that a growth replaces. A failed read changes none of it; a week
// without growth ends it, untold.
TEST_F(Desktop, AGrowingReallocatedCountPutsTheDriveOnWatch) {
    AddDrives(2);
    registry.services[1].model = "HD-OTHER 80G";          // a drive of its own in the history
    const auto withReallocated = [](std::uint8_t count) { // an empty slot is no row
        return DataPage({{5, 100, 100, count}, {0}, {194, 100, 90, 40}, {0xE1, 100, 100, 7}});
    };
    states[0].data = withReallocated(0);
    trayAvailable = true;
    QDateTime now = kEvening;
    platform::SetClockHandler([&now] { return now; });
    settings::UserDefaults()->setValue("MetricsDirectory", dir.path());
    ASSERT_TRUE(Start()); // the first load reads sda: nothing reallocated
    QLabel* banner = Find<QLabel>("TheWatchBanner");
    const QModelIndex sda = Drives()->model()->index(0, 0);
    EXPECT_TRUE(banner->isHidden());
    EXPECT_FALSE(sda.data(Qt::DecorationRole).isValid());

    const auto poll = [&](std::uint8_t count) {
        now = now.addSecs(3600);
        states[0].data = withReallocated(count);
        controller->PollSelDriveForSMARTAndFillAttributeTable();
    };
    poll(3); // the metrics file of this very read has it
    EXPECT_TRUE(ReadAll(dir.path() + "/zentrova.prom")
                    .contains(R"(zentrova_drive_watch{device="/dev/sda",model="HD-EXAMPLE 80G",)"
                              R"(firmware="FW01",serial="",reason="reallocated_sectors"} 1)"));
    poll(5);
    poll(5);
    const std::string reason = "5 more sectors were reallocated";
    EXPECT_EQ(DriveRow(0), "/dev/sda|1|40|OK");
    EXPECT_TRUE(
        sda.data(Qt::DecorationRole).value<QIcon>().pixmap(12, 12).toImage().pixelColor(6, 6) ==
        desktop::kWatchAmber);
    EXPECT_TRUE(sda.data(Qt::ToolTipRole).toString().startsWith(reason.c_str()))
        << sda.data(Qt::ToolTipRole).toString().toStdString();
    EXPECT_FALSE(Drives()->model()->index(1, 0).data(Qt::DecorationRole).isValid());
    EXPECT_TRUE(!banner->isHidden() && banner->text().startsWith(reason.c_str()))
        << banner->text().toStdString();
    EXPECT_EQ(Attrs()->model()->headerData(7, Qt::Horizontal).toString(), "Raw");
    EXPECT_EQ(Cell(Attrs(), 0, 6) + "|" + Cell(Attrs(), 0, 7) + "|" + Cell(Attrs(), 1, 7) + "|" +
                  Cell(Attrs(), 2, 7),
              "OK|5|40|00 00 00 00 00 07");
    EXPECT_EQ(controller->TrayIcon()->State(), desktop::TrayState::OnWatch);
    EXPECT_TRUE(controller->TrayIcon()->ToolTip().contains(
        "/dev/sda: on Watch, more sectors reallocated, 40 °C"))
        << controller->TrayIcon()->ToolTip().toStdString();
    ASSERT_EQ(notifications.sent.size(), 2u);
    EXPECT_EQ(notifications.sent[0].summary, "Drive /dev/sda is on Watch");
    EXPECT_EQ(notifications.sent[0].urgency, platform::NotificationUrgency::Normal);
    EXPECT_TRUE(notifications.sent[1].body.startsWith(reason.c_str()));
    EXPECT_EQ(notifications.sent[1].replacesId, 1u);
    EXPECT_TRUE(alerts.empty()); // no panel for Watch

    states[0].readDataStatus = 5;
    poll(9);
    EXPECT_TRUE(sda.data(Qt::DecorationRole).isValid() && !banner->isHidden());
    EXPECT_EQ(Cell(Attrs(), 0, 7), "5");
    states[0].readDataStatus = 0;

    now = now.addDays(8);
    poll(5);
    EXPECT_TRUE(banner->isHidden());
    EXPECT_FALSE(sda.data(Qt::DecorationRole).isValid());
    EXPECT_TRUE(
        ReadAll(dir.path() + "/zentrova.prom").contains(R"(reason="reallocated_sectors"} 0)"));
    EXPECT_TRUE(Cell(Attrs(), 0, 7).startsWith("5 (unchanged since "))
        << Cell(Attrs(), 0, 7).toStdString();
    EXPECT_EQ(controller->TrayIcon()->State(), desktop::TrayState::AllOk);
    EXPECT_EQ(notifications.sent.size(), 2u);
    Drives()->selectRow(1);
    notifications.click(1); // shows the drive, as the others do
    EXPECT_EQ(SelectedRow(), 0);

    // An NVMe drive with all well: its wear projection alone, in grey; the
    // Raw column by the health field's offset.
    states[2].data = {};
    states[2].data[160] = 3; // media and data integrity errors
    registry.services.push_back({true, "nvme0", std::int64_t(1) << 30, "NV-EXAMPLE", "NV01",
                                 &states[2], platform::DriveKind::Nvme});
    ASSERT_TRUE(Start());
    Drives()->selectRow(2);
    banner = Find<QLabel>("TheWatchBanner");
    EXPECT_FALSE(Drives()->model()->index(2, 0).data(Qt::DecorationRole).isValid());
    EXPECT_TRUE(!banner->isHidden() && banner->text().contains("Wear: not enough history yet"))
        << banner->text().toStdString();
    EXPECT_TRUE((Cell(Attrs(), 4, 0) + "|" + Cell(Attrs(), 4, 7)).startsWith("A0|3 (unchanged"))
        << Cell(Attrs(), 4, 7).toStdString();
}
