#include "settings_fixture.h"

#include <csignal>

using namespace zentrova;
using namespace zentrova::testing;

class Store : public SettingsFixture {};

TEST_F(Store, FirstRunWritesDefaultEntriesAndStartsHourlyTimers) {
    AddDrives(2);
    settings::ReadAndSavePreviousSettings(*this);
    EXPECT_EQ(std::pair(Entry("disk0"), Entry("disk1")), std::pair(Default(0), Default(1)));
    EXPECT_EQ(clock.Intervals(), (Seconds{3600, 3600}));
    EXPECT_EQ(std::pair(int(mirrors.gnCriticaltemp[1]), int(mirrors.gbCriticalTempEnable[1])),
              std::pair(50, 1));
    // A real XML property list whose every value is a string.
    EXPECT_TRUE(ReadAll(FilePath()).contains("<key>Hour</key>\n\t\t<string>1</string>"));
}

TEST_F(Store, CarryOverGoesByPositionAndDropsWhatIsGone) {
    const struct {
        int drivesNow;
        std::string stored0, carried0;
        Seconds timers;
        int critical0, enable0;
        std::string last; // the highest index now
    } cases[] = {
        // clang-format off
        {2, "DrvModel=M DrvFwrev=F DrvPoll=True Temp=False LogEvent=False Hour=0 Min=30 Temperature=45 X=x", // one drive fewer
         "DrvModel=M DrvFwrev=F DrvPoll=True Temp=False LogEvent=False Hour=0 Min=30 Temperature=45", {1800, 3600}, 45, 0, Default(1)},
        {3, "DrvModel=M DrvFwrev=F Temp=True Temperature=abc", "DrvModel=M DrvFwrev=F", {3600, 3600}, 0, 1, Default(2)}, // no DrvPoll, "StartUp" dropped
        {4, Default(0), Default(0), {3600, 3600, 3600}, 50, 1, ""}, // one drive added
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drivesNow);
        Fresh();
        Stored({c.stored0, Default(1, "StartUp=True "), Default(2, "StartUp=True ")});
        AddDrives(c.drivesNow);
        settings::ReadAndSavePreviousSettings(*this);
        EXPECT_EQ(Entry("disk0"), c.carried0);
        EXPECT_EQ(clock.Intervals(), c.timers);
        EXPECT_EQ(mirrors.gnCriticaltemp[0], c.critical0);
        EXPECT_EQ(mirrors.gbCriticalTempEnable[0], c.enable0);
        EXPECT_EQ(Entry(settings::DiskKey(c.drivesNow - 1)), c.last);
        EXPECT_EQ(Entry(settings::DiskKey(c.drivesNow)), "<none>");
    }
}

TEST_F(Store, AForeignEntryBecomesTheDefaultOnThePageAndStartUpGoesAtTheNextStart) {
    Stored({"DrvModel=OTHER DrvFwrev=FW0 DrvPoll=True Temp=False Hour=2"});
    AddDrives(1);
    settings::ReadAndSavePreviousSettings(*this);
    const settings::PageValues page = settings::SettingsForSelectedDrive(*this);
    EXPECT_TRUE(page.poll && page.criticalTemp && page.logEvent && page.hours == 1);
    EXPECT_EQ(Entry("disk0"), Default(0, "StartUp=True "));
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 1);
    EXPECT_EQ(clock.Intervals(), Seconds{7200}); // until Apply or the next start
    settings::ResetSettingsForTest();
    settings::ReadAndSavePreviousSettings(*this);
    EXPECT_EQ(Entry("disk0"), Default(0));
}

TEST_F(Store, AnUnreadableFileIsKeptAsideAndTheDrivesStartAsOnAFirstRun) {
    AddDrives(1);
    ASSERT_TRUE(Append(FilePath(), "<plist><dict><key>disk0</key>"));
    settings::ReadAndSavePreviousSettings(*this);
    const QStringList aside = QDir(data.path()).entryList({"Zentroset.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadAll(data.path() + "/" + aside[0]), "<plist><dict><key>disk0</key>");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].contains(FilePath()) && alerts[0].contains(aside[0]));
    EXPECT_EQ(Entry("disk0"), Default(0));
    EXPECT_EQ(clock.Intervals(), Seconds{3600});
    // Spoilt again while running: the next write keeps it too.
    ASSERT_TRUE(QFile::remove(FilePath()) && Append(FilePath(), "again"));
    ASSERT_EQ(settings::UpdateDictionaryWithDefaultSettings(*this), "");
    EXPECT_EQ(QDir(data.path()).entryList({"Zentroset.unreadable-*"}).size(), 2);
}

// A writer killed at any moment leaves a whole file of one generation.
TEST_F(Store, KillNineNeverLeavesATornFile) {
    for (int round = 0; round < 40; ++round) {
        FILE* out =
            ::popen(qPrintable("exec '" ZENTROVA_TORTURE_WRITER "' '" + data.path() + "'"), "r");
        char line[32];
        ASSERT_TRUE(out && std::fgets(line, sizeof line, out));
        const pid_t writer = std::atoi(line);
        for (int n = 0; n <= round % 8; ++n) // 1 to 8 whole writes, then anywhere
            ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
        ASSERT_EQ(::kill(writer, SIGKILL), 0);
        ::pclose(out);
        const auto dict = settings::ParseSettings(ReadAll(FilePath()));
        ASSERT_TRUE(dict && dict->entries.size() == 4) << "round " << round;
        for (const auto& [key, entry] : dict->entries)
            EXPECT_EQ(entry.items, dict->entries[0].second.items);
    }
    // Start-up removes what the killed writes left.
    settings::ReadAndSavePreviousSettings(*this);
    EXPECT_EQ(QDir(data.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Zentroset"});
}
