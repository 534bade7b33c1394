#include "settings_fixture.h"

#include <QFile>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace zentrova;
using namespace zentrova::testing;
using Seconds = std::vector<std::int64_t>;

namespace {

class Store : public SettingsFixture {};

TEST_F(Store, FirstRunWritesDefaultEntriesAndStartsHourlyTimers) {
    AddDrives(2);
    settings::ReadAndSavePreviousSettings(host);
    EXPECT_EQ(Entry("disk0"), Default(0).toStdString()); // no "StartUp"
    EXPECT_EQ(Entry("disk1"), Default(1).toStdString());
    EXPECT_EQ(clock.Intervals(), (Seconds{3600, 3600}));
    EXPECT_EQ(mirrors.gnCriticaltemp[1], 50);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[1], 1);
    // A real XML property list whose every value is a string.
    EXPECT_TRUE(ReadAll(FilePath()).contains("<key>Hour</key>\n\t\t<string>1</string>"));
}

TEST_F(Store, CarryOverGoesByPositionAndDropsWhatIsGone) {
    struct Case {
        int drivesNow;
        QString stored0, carried0;
        Seconds timers;
        int critical0, enable0;
        QString last; // the highest index now
    } cases[] = {
        // clang-format off
        {2, // one drive fewer
         "DrvModel=M DrvFwrev=F DrvPoll=True Temp=False LogEvent=False Hour=0 Min=30 Temperature=45 X=x",
         "DrvModel=M DrvFwrev=F DrvPoll=True Temp=False LogEvent=False Hour=0 Min=30 Temperature=45",
         {1800, 3600}, 45, 0, Default(1)},
        {3, "DrvModel=M DrvFwrev=F Temp=True Temperature=abc", "DrvModel=M DrvFwrev=F", // no DrvPoll
         {3600, 3600}, 0, 1, Default(2)}, // "StartUp" dropped
        {4, Default(0), Default(0), {3600, 3600, 3600}, 50, 1, ""}, // a drive added
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.drivesNow);
        Fresh();
        Stored({c.stored0, Default(1, "StartUp=True "), Default(2, "StartUp=True ")});
        AddDrives(c.drivesNow);
        settings::ReadAndSavePreviousSettings(host);
        EXPECT_EQ(Entry("disk0"), c.carried0.toStdString());
        EXPECT_EQ(clock.Intervals(), c.timers);
        EXPECT_EQ(mirrors.gnCriticaltemp[0], c.critical0);
        EXPECT_EQ(mirrors.gbCriticalTempEnable[0], c.enable0);
        EXPECT_EQ(Entry(settings::DiskKey(c.drivesNow - 1)), c.last.toStdString());
        EXPECT_EQ(Entry(settings::DiskKey(c.drivesNow)), "<none>");
    }
}

TEST_F(Store, ForeignEntryBecomesTheDefaultWhenThePageLoadsAndStartUpGoesAtTheNextStart) {
    Stored({"DrvModel=OTHER DrvFwrev=FW0 DrvPoll=True Temp=False Hour=2"});
    AddDrives(1);
    settings::ReadAndSavePreviousSettings(host);
    Select(0);
    const settings::PageValues page = settings::SettingsForSelectedDrive(host);
    EXPECT_TRUE(page.poll && page.criticalTemp && page.logEvent && page.hours == 1);
    EXPECT_EQ(Entry("disk0"), Default(0, "StartUp=True ").toStdString());
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 1);
    EXPECT_EQ(clock.Intervals(), Seconds{7200}); // until Apply or the next start

    settings::ResetSettingsForTest();
    settings::ReadAndSavePreviousSettings(host);
    EXPECT_EQ(Entry("disk0"), Default(0).toStdString());
}

TEST_F(Store, UnreadableFileIsKeptAsideAndTheDrivesStartAsOnAFirstRun) {
    AddDrives(1);
    ASSERT_TRUE(Append(FilePath(), "<plist><dict><key>disk0</key>"));
    settings::ReadAndSavePreviousSettings(host);
    const QStringList aside = QDir(data.path()).entryList({"Zentroset.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadAll(data.path() + "/" + aside[0]), "<plist><dict><key>disk0</key>");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].contains(FilePath()) && alerts[0].contains(aside[0]));
    EXPECT_EQ(Entry("disk0"), Default(0).toStdString());
    EXPECT_EQ(clock.Intervals(), Seconds{3600});

    // Spoilt again while running: the next write keeps it too.
    ASSERT_TRUE(QFile::remove(FilePath()) && Append(FilePath(), "again"));
    Select(0);
    ASSERT_EQ(settings::UpdateDictionaryWithDefaultSettings(host), "");
    EXPECT_EQ(QDir(data.path()).entryList({"Zentroset.unreadable-*"}).size(), 2);
}

// A writer killed at any moment leaves a whole file of one generation.
TEST_F(Store, KillNineNeverLeavesATornFile) {
    for (int round = 0; round < 40; ++round) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::execl(ZENTROVA_TORTURE_WRITER, ZENTROVA_TORTURE_WRITER, qPrintable(data.path()),
                    nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* lines = ::fdopen(out[0], "r");
        char line[32];
        for (int n = 0; n <= round % 8; ++n) // 1 to 8 whole writes, then anywhere
            ASSERT_NE(std::fgets(line, sizeof line, lines), nullptr);
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
        std::fclose(lines);

        const auto dict = settings::ParseSettings(ReadAll(FilePath()));
        ASSERT_TRUE(dict && dict->entries.size() == 4) << "round " << round;
        for (const auto& [key, entry] : dict->entries)
            EXPECT_EQ(entry.items, dict->entries[0].second.items);
    }
    settings::RemoveLeftoverTemporaryFiles(data.path());
    EXPECT_EQ(QDir(data.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Zentroset"});
}

} // namespace
