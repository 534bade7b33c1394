// Drives that come and go while the service runs, in this process: the
// kernel's events through a fake source over a pipe (the real notifier road),
// the registry's listing changed between bursts, the drives' timers on a
// clock moved by hand, the journal's lines collected.
#include "journal.h"
#include "service_host.h"

#include "fakes/fake_drive_events.h"
#include "fakes/fake_registry.h"
#include "fakes/manual_timers.h"
#include "fakes/monitor_reset.h"
#include "smart/event_log.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace zentrova;
using namespace zentrova::testing;
using Action = platform::DriveEventAction;

class ServiceDriveEvents : public ::testing::Test {
  protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "service_tests";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr)
            new QCoreApplication(argc, argv); // lives as long as the process
        ASSERT_TRUE(dir.isValid());
        ResetMonitorGlobalsForTest();
        settings::SetTimerBackend(&clock);
        service::SetJournalWriter([this](const QByteArray& line) { journal.append(line); });
        for (int i = 0; i < 2; ++i)
            world.services.push_back(Drive(i));
        service::ServiceConfig config;
        config.textfileDir = config.dataDir = dir.path();
        config.intervalMinutes = 30;
        config.criticalTemperature = 45;
        host = std::make_unique<service::ServiceHost>(config);
        LiveRegistry start(&world, &listings);
        ASSERT_TRUE(host->Start(start));
        host->FollowDriveEvents(events.Source(), std::make_unique<LiveRegistry>(&world, &listings),
                                0);
        ASSERT_TRUE(host->FollowsDriveEvents());
    }
    void TearDown() override {
        host.reset();
        service::SetJournalWriter({});
        settings::SetTimerBackend(nullptr);
        ResetMonitorGlobalsForTest();
    }

    // Drive i: "sd" plus its letter, its own serial and temperature.
    FakeService Drive(int i) {
        states[i].data = DataPage({{194, 100, 100, std::uint8_t(30 + i)}});
        FakeService s{true,
                      "sd" + std::string(1, char('a' + i)),
                      std::int64_t(1) << 30,
                      "MODEL " + std::to_string(i),
                      "FW01",
                      &states[i]};
        s.serial = "S" + std::to_string(i);
        return s;
    }
    // One burst, and the event loop run until nothing is left to do.
    void Burst(std::vector<platform::DriveEvent> burst) {
        events.Push(std::move(burst));
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    FakeService Without(const std::string& name) {
        FakeService gone;
        std::erase_if(world.services, [&](const FakeService& s) {
            return s.bsdName == name ? (gone = s, true) : false;
        });
        return gone;
    }
    // Whether the text file lists drive i under `device` with `listed`.
    bool Listed(const char* device, int i, int listed) const {
        QFile f(dir.filePath(QStringLiteral("zentrova.prom")));
        const QByteArray sample =
            QStringLiteral("zentrova_drive_listed{device=\"%1\",model=\"MODEL "
                           "%2\",firmware=\"FW01\",serial=\"S%2\"} %3\n")
                .arg(device)
                .arg(i)
                .arg(listed)
                .toUtf8();
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(sample);
    }
    int Count(const QByteArray& line) const { return int(journal.count(line)); }

    QTemporaryDir dir;
    FakeDriveState states[6];
    FakeRegistry world;
    FakeDriveEvents events;
    ManualTimers clock;
    int listings = 0;
    QList<QByteArray> journal;
    std::unique_ptr<service::ServiceHost> host;
};

TEST_F(ServiceDriveEvents, ArrivesLeavesComesBackAndAFifthWaits) {
    ASSERT_EQ(listings, 1);
    // sdb's own interval, which it must find again when it comes back.
    settings::DriveEntry* sdb = nullptr;
    for (auto& [key, entry] : settings::store.mutDict.entries)
        if (key == settings::DiskKey(1))
            sdb = &entry;
    ASSERT_NE(sdb, nullptr);
    sdb->Set(QStringLiteral("Hour"), QStringLiteral("2"));
    sdb->Set(QStringLiteral("Min"), QStringLiteral("0"));
    ASSERT_TRUE(settings::SaveSettings(dir.path()).isEmpty());

    // Arrives, in a burst of three events listed once: read at once, a log,
    // the configuration's interval and critical temperature, a timer.
    world.services.push_back(Drive(2));
    Burst({{Action::Add, "sdc"}, {Action::Change, "sdc"}, {Action::Change, "sdc"}});
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(states[2].readDataCalls, 2); // the probe's and one poll's
    EXPECT_TRUE(QFile::exists(smart::LogFilePath(dir.path(), 2)));
    EXPECT_EQ(settings::store.mutDict.Find(settings::DiskKey(2))->Value("Temperature"), "45");
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{1800, 1800, 1800}));
    EXPECT_TRUE(Listed("/dev/sdc", 2, 1));

    // Leaves: no timer, never read again, listed 0 in the text file.
    const FakeService gone = Without("sdb");
    Burst({{Action::Remove, "sdb"}});
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{1800, 1800}));
    EXPECT_TRUE(Listed("/dev/sdb", 1, 0));
    const int reads = states[1].readDataCalls;
    clock.Advance(8 * 3600);
    EXPECT_EQ(states[1].readDataCalls, reads);
    EXPECT_GT(states[0].readDataCalls, 8);

    // Comes back as sdd: its slot and its own two-hourly interval.
    FakeService back = gone;
    back.bsdName = "sdd";
    world.services.push_back(back);
    Burst({{Action::Add, "sdd"}});
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{1800, 1800, 7200}));
    EXPECT_GT(states[1].readDataCalls, reads);
    EXPECT_TRUE(Listed("/dev/sdd", 1, 1));

    // The fourth slot is taken, a fifth drive waits; told once, not at
    // every listing.
    world.services.push_back(Drive(4));
    world.services.push_back(Drive(5));
    Burst({{Action::Add, "sde"}, {Action::Add, "sdf"}});
    Burst({{Action::Change, "sdf"}});
    EXPECT_EQ(clock.Intervals().size(), 4u);
    EXPECT_EQ(states[5].readDataCalls, 0);

    const std::vector<std::pair<QByteArray, int>> lines = {
        {"<5>Drive /dev/sdc (MODEL 2, serial S2) arrived.\n", 1},
        {"<4>Drive /dev/sdb (MODEL 1, serial S1) was removed.\n", 1},
        {"<5>Drive /dev/sdd (MODEL 1, serial S1) is back.\n", 1},
        {"<5>Drive /dev/sde (MODEL 4, serial S4) arrived.\n", 1},
        {"<4>" + QByteArray::fromStdString(*device::NoSlotLine(world.BlockStorageServices()[4])) +
             "\n",
         1},
    };
    for (const auto& [line, count] : lines)
        EXPECT_EQ(Count(line), count) << line.constData() << journal.join().constData();
    EXPECT_EQ(journal.size(), qsizetype(lines.size())) << journal.join().constData();
}

} // namespace
