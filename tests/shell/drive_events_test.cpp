// Drives that come and go while the window runs: the kernel's events through
// a fake source over a pipe, the registry's listing changed between calls.
#include "desktop/tray.h"
#include "fakes/fake_drive_events.h"
#include "settings/timers.h"
#include "shell_fixture.h"

namespace {
using Action = platform::DriveEventAction;
} // namespace

class DriveEvents : public Shell {
  protected:
    // `count` drives as the fixture makes them, each with a serial of its own.
    void World(int count) {
        AddDrives(count);
        for (int i = 0; i < count; ++i)
            registry.services[i].serial = "S" + std::to_string(i);
    }
    bool Follow(int count, int quietMs = 0) {
        World(count);
        return Start([this, quietMs](StartupEnvironment& env) {
            env.makeRegistry = [this] {
                return std::make_unique<LiveRegistry>(&registry, &listings);
            };
            env.makeDriveEvents = [this] { return events.Source(); };
            env.driveEventsQuietMilliseconds = quietMs;
        });
    }
    // The window's event loop runs until nothing is left to do.
    static void Settle() {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    void Burst(std::vector<platform::DriveEvent> burst) {
        events.Push(std::move(burst));
        Settle();
    }
    FakeService Without(const std::string& name) {
        FakeService gone;
        std::erase_if(registry.services, [&](const FakeService& s) {
            return s.bsdName == name ? (gone = s, true) : false;
        });
        return gone;
    }
    const device::xDEV_INFO* Record(int slot) const { return controller->GetCurrentDevice(slot); }
    QString Notes() const { return controller->DriveNotes()->text(); }

    FakeDriveEvents events;
    int listings = 0;
};

TEST_F(DriveEvents, ADriveArrivesLeavesAndComesBackToItsOwnSlot) {
    trayAvailable = true;
    settings::UserDefaults()->setValue("MetricsDirectory", dir.path());
    ASSERT_TRUE(Follow(2));
    // Arrives: its row, log, settings entry with the defaults, timer, tray entry.
    World(3);
    Burst({{Action::Add, "sdc"}});
    EXPECT_EQ(DriveRow(2), "/dev/sdc|5|42|Failed");
    EXPECT_TRUE(QFile::exists(LogPath(2)));
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{3600, 3600, 3600}));
    EXPECT_EQ(settings::store.mutDict.Find(settings::DiskKey(2))->Value("Temperature"), "50");
    EXPECT_TRUE(controller->TrayIcon()->ToolTip().contains("/dev/sdc"));
    // sdb's own settings, which it must find again.
    Drives()->selectRow(1);
    Find<QLineEdit>("SetsHrEdit")->setText("2");
    Find<QPushButton>("SetsApplysettings")->click();
    const QByteArray log = ReadAll(LogPath(1));

    // Leaves: greyed, "Removed", its verdict kept, no timer, never read again.
    const FakeService sdb = Without("sdb");
    Burst({{Action::Remove, "sdb"}});
    EXPECT_EQ(DriveRow(1), "/dev/sdb|3|Removed|OK");
    EXPECT_EQ(controller->willDisplayCell("SMART", 1).textColor, QColor(Qt::gray));
    EXPECT_FALSE(controller->willDisplayCell("SMART", 0).textColor == QColor(Qt::gray));
    EXPECT_EQ(clock.Intervals().size(), 2u);
    EXPECT_TRUE(controller->TrayIcon()->ToolTip().contains("/dev/sdb: Removed"));
    EXPECT_TRUE(ReadAll(dir.path() + "/zentrova.prom")
                    .contains(R"(zentrova_drive_listed{device="/dev/sdb",model="HD-EXAMPLE 80G",)"
                              R"(firmware="FW01",serial="S1"} 0)"));
    const int reads = Reads(1);
    clock.Advance(4 * 3600);
    Drives()->selectRow(0);
    Drives()->selectRow(1);
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    Find<QPushButton>("SetsApplysettings")->click(); // starts no timer for it
    EXPECT_EQ(clock.Intervals().size(), 2u);
    EXPECT_EQ(Reads(1), reads);
    EXPECT_EQ(metrics::metrics.gnFailedReads[1], 0u);

    // Comes back as sdd: its slot, log, settings and timer, its current path.
    FakeService back = sdb;
    back.bsdName = "sdd";
    registry.services.push_back(back);
    Burst({{Action::Add, "sdd"}});
    EXPECT_EQ(DriveRow(1), "/dev/sdd|3|N/A|OK");
    EXPECT_EQ(controller->FindNoOfDevices(), 3);
    EXPECT_EQ(ReadAll(LogPath(1)), log);
    EXPECT_EQ(settings::store.mutDict.Find(settings::DiskKey(1))->Value("Hour"), "2");
    EXPECT_EQ(clock.Intervals().size(), 3u);
    EXPECT_TRUE(clock.Intervals().back() == 7200);
    EXPECT_EQ(Record(1)->nDevIndex, 1);
    EXPECT_FALSE(Record(1)->removed);
}

// Several events, one listing; the new drive under the old name is another
// drive: a slot and log of its own.
TEST_F(DriveEvents, ABurstIsHandledOnceAndAReplacedDriveGetsASlotOfItsOwn) {
    ASSERT_TRUE(Follow(2, 60000));
    ASSERT_EQ(listings, 1);
    FakeService other = Without("sdb");
    other.serial = "S9";
    other.drive = &states[2];
    states[2].data = DataPage({{194, 100, 100, 33}});
    registry.services.push_back(other);
    Burst({{Action::Remove, "sdb"}});
    Burst({{Action::Add, "sdb"}, {Action::Change, "sdb"}});
    EXPECT_TRUE(controller->DriveEventsQuietTimer()->isActive());
    EXPECT_EQ(listings, 1) << "nothing before the burst has been quiet";
    controller->DriveEventsQuietTimer()->setInterval(0);
    controller->DriveEventsQuietTimer()->start();
    Settle();
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(DriveRow(1) + " " + DriveRow(2), "/dev/sdb|3|Removed|OK /dev/sdb|3|33|OK");
    // Its changes go to its own log, never the removed drive's.
    const QByteArray oldLog = ReadAll(LogPath(1));
    Drives()->selectRow(2);
    const qsizetype fresh = ReadAll(LogPath(2)).size();
    states[2].data = DataPage({{194, 90, 90, 35}});
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(ReadAll(LogPath(1)), oldLog);
    EXPECT_GT(ReadAll(LogPath(2)).size(), fresh);
    // Four slots for the run, the removed drive's among them: a fifth drive waits.
    for (const char* name : {"sdd", "sde"}) {
        registry.services.push_back(other);
        registry.services.back().bsdName = name;
        registry.services.back().serial = name;
    }
    Burst({{Action::Add, "sdd"}, {Action::Add, "sde"}});
    EXPECT_EQ(controller->FindNoOfDevices(), 4);
    EXPECT_EQ(Notes(), "vda: not an ATA drive.\nsde: Zentrova watches only the first four drives.");
}

// The read fails half-way (data page read, thresholds not): an ordinary
// failed read; the kernel's removal follows. A drive that fails a read but
// is still listed stays.
TEST_F(DriveEvents, ADriveThatLeavesDuringAPollIsAFailedReadThenRemoved) {
    ASSERT_TRUE(Follow(2));
    Drives()->selectRow(1);
    const QByteArray log = ReadAll(LogPath(1));
    const QString row = DriveRow(1);
    states[1].readThresholdsStatus = 5;
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    Burst({{Action::Change, "sdb"}});
    EXPECT_EQ(DriveRow(1), row) << "still listed: stays";
    Without("sdb");
    events.Push({{Action::Remove, "sdb"}});
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(DriveRow(1), row);
    EXPECT_EQ(ReadAll(LogPath(1)), log);
    EXPECT_TRUE(alerts.empty());
    Settle();
    EXPECT_EQ(DriveRow(1), "/dev/sdb|3|Removed|OK");
    EXPECT_EQ(Record(1)->ppSmartInterface, nullptr);
}

// A panel of the drive is up, its poll under it: the drive's handle stays
// until the panel's caller is done; a drive shown from the desktop meanwhile
// is shown too.
TEST_F(DriveEvents, ADriveThatLeavesUnderItsPanelIsRemovedAfterIt) {
    ASSERT_TRUE(Follow(2));
    states[1].data = DataPage({{5, 36, 36}, {194, 100, 90, 45}});
    states[1].thresholds = ThresholdsPage({{5, 0, 0, 0, 36}, {194}});
    bool heldUnderPanel = false;
    duringAlert = [&](const platform::AlertRequest& request) {
        if (request.title != "WARNING")
            return;
        Without("sdb");
        events.Push({{Action::Remove, "sdb"}});
        Settle(); // the panel's own event loop
        controller->ShowDrive(0);
        Settle();
        heldUnderPanel = Record(1)->ppSmartInterface != nullptr && !DriveRow(1).contains("Removed");
    };
    Drives()->selectRow(1);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(heldUnderPanel);
    Settle();
    EXPECT_EQ(DriveRow(1), "/dev/sdb|3|Removed|Failed");
    EXPECT_EQ(Drives()->selectionModel()->selectedRows().first().row(), 0);
    EXPECT_TRUE(controller->MainWindow()->isVisible());
}
