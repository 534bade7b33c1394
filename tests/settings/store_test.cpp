#include "settings/settings_page.h"
#include "settings_fixture.h"

#include <QFile>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

class Store : public SettingsFixture {};

TEST_F(Store, FirstRunWritesDefaultEntriesAndStartsHourlyTimers) {
    AddDrives(2);
    settings::ReadAndSavePreviousSettings(host);

    EXPECT_EQ(Entry("disk0"), kDefault0); // no "StartUp"
    EXPECT_EQ(Entry("disk1"), "DrvModel=MODEL-1 DrvFwrev=FW1 DrvPoll=True Temp=True "
                              "LogEvent=True Hour=1 Min=0 Temperature=50");
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{3600, 3600}));
    for (int i : {0, 1}) {
        EXPECT_EQ(mirrors.gnCriticaltemp[i], 50);
        EXPECT_EQ(mirrors.gbCriticalTempEnable[i], 1);
    }
    // A real XML property list whose every value is a string.
    const QByteArray bytes = ReadAll(FilePath());
    EXPECT_TRUE(bytes.startsWith("<?xml"));
    EXPECT_TRUE(bytes.contains("<key>Hour</key>\n\t\t<string>1</string>"));
    EXPECT_TRUE(alerts.empty());
}

struct CarryCase {
    const char* name;
    int drivesNow;
    // disk0 as the last run left it, disk1 and disk2 defaults
    std::vector<std::pair<QString, QString>> stored0;
    std::string carried0;
    std::vector<std::int64_t> timers;
    int critical0, enable0;
    std::string last; // the entry of the highest drive index of the last run
};
// Test names carry the case name; the values stay out of them.
inline void PrintTo(const CarryCase&, std::ostream*) {}

class CarryOver : public Store, public ::testing::WithParamInterface<CarryCase> {};

TEST_P(CarryOver, CarriesByPositionAndDropsWhatIsGone) {
    const CarryCase& c = GetParam();
    settings::SettingsDict last;
    settings::DriveEntry stored0;
    stored0.items = c.stored0;
    last.Put("disk0", stored0);
    for (int i : {1, 2})
        last.Put(settings::DiskKey(i),
                 settings::DefaultEntry(QString("MODEL-%1").arg(i), QString("FW%1").arg(i), true));
    WriteFile(last);
    AddDrives(c.drivesNow);
    settings::ReadAndSavePreviousSettings(host);

    EXPECT_EQ(Entry("disk0"), c.carried0);
    EXPECT_EQ(clock.Intervals(), c.timers);
    EXPECT_EQ(mirrors.gnCriticaltemp[0], c.critical0);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], c.enable0);
    EXPECT_EQ(Entry(settings::DiskKey(c.drivesNow - 1)), c.last);
    EXPECT_EQ(Entry(settings::DiskKey(c.drivesNow)), "<none>");
}

const std::string kCarried2 = "DrvModel=MODEL-2 DrvFwrev=FW2 DrvPoll=True Temp=True "
                              "LogEvent=True Hour=1 Min=0 Temperature=50"; // "StartUp" dropped

INSTANTIATE_TEST_SUITE_P(
    Cases, CarryOver,
    ::testing::Values(
        CarryCase{"OneDriveFewer",
                  2,
                  {{"DrvModel", "M"},
                   {"DrvFwrev", "F"},
                   {"DrvPoll", "True"},
                   {"Temp", "False"},
                   {"LogEvent", "False"},
                   {"Hour", "0"},
                   {"Min", "30"},
                   {"Temperature", "45"},
                   {"Extra", "x"}},
                  "DrvModel=M DrvFwrev=F DrvPoll=True Temp=False LogEvent=False Hour=0 Min=30 "
                  "Temperature=45",
                  {1800, 3600},
                  45,
                  0,
                  "DrvModel=MODEL-1 DrvFwrev=FW1 DrvPoll=True Temp=True LogEvent=True Hour=1 "
                  "Min=0 Temperature=50"},
        CarryCase{"LacksDrvPoll",
                  3,
                  {{"DrvModel", "M"}, {"DrvFwrev", "F"}, {"Temp", "True"}, {"Temperature", "abc"}},
                  "DrvModel=M DrvFwrev=F",
                  {3600, 3600},
                  0,
                  1,
                  kCarried2},
        CarryCase{"DriveAdded",
                  4,
                  settings::DefaultEntry("MODEL-0", "FW0", false).items,
                  kDefault0,
                  {3600, 3600, 3600},
                  50,
                  1,
                  ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Store, ForeignEntryBecomesTheDefaultWhenThePageLoadsAndStartUpGoesAtTheNextStart) {
    settings::SettingsDict last;
    settings::DriveEntry foreign = settings::DefaultEntry("OTHER", "FW0", false);
    foreign.Set("Hour", "2");
    foreign.Set("Temp", "False");
    last.Put("disk0", foreign);
    WriteFile(last);
    AddDrives(1);
    settings::ReadAndSavePreviousSettings(host);
    Select(0);

    const settings::PageValues page = settings::SettingsForSelectedDrive(host);
    EXPECT_TRUE(page.poll && page.criticalTemp && page.logEvent);
    EXPECT_EQ(page.hours, 1);
    EXPECT_EQ(Entry("disk0"), "DrvModel=MODEL-0 DrvFwrev=FW0 DrvPoll=True Temp=True StartUp=True "
                              "LogEvent=True Hour=1 Min=0 Temperature=50");
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 1);
    EXPECT_EQ(clock.Intervals(), std::vector<std::int64_t>{7200}); // until Apply or restart

    settings::ResetSettingsForTest();
    settings::SetTimerBackend(&clock);
    settings::ReadAndSavePreviousSettings(host);
    EXPECT_EQ(Entry("disk0"), kDefault0);
}

TEST_F(Store, UnreadableFileIsKeptAsideAndTheDrivesStartAsOnAFirstRun) {
    AddDrives(1);
    const QByteArray garbage = "<plist><dict><key>disk0</key>";
    ASSERT_TRUE(Append(FilePath(), garbage));
    settings::ReadAndSavePreviousSettings(host);

    const QStringList aside = QDir(data.path()).entryList({"Zentroset.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadAll(data.path() + "/" + aside[0]), garbage);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].contains(FilePath()) && alerts[0].contains(aside[0]));
    EXPECT_EQ(Entry("disk0"), kDefault0);
    EXPECT_EQ(clock.Intervals(), std::vector<std::int64_t>{3600});

    // Spoilt again while running: the next write keeps it too.
    ASSERT_TRUE(QFile::remove(FilePath()) && Append(FilePath(), "again"));
    Select(0);
    ASSERT_EQ(settings::UpdateDictionaryWithDefaultSettings(host), "");
    EXPECT_EQ(QDir(data.path()).entryList({"Zentroset.unreadable-*"}).size(), 2);
}

} // namespace

namespace {

// A writer killed at any moment leaves a whole file, of one generation.
TEST(AtomicWrite, KillNineNeverLeavesATornFile) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    for (int round = 0; round < 40; ++round) {
        FILE* pipe = nullptr;
        const pid_t pid = [&] {
            int fds[2];
            if (::pipe(fds) != 0)
                return pid_t(-1);
            const pid_t child = ::fork();
            if (child == 0) {
                ::dup2(fds[1], 1);
                ::close(fds[0]);
                ::execl(ZENTROVA_TORTURE_WRITER, ZENTROVA_TORTURE_WRITER,
                        data.path().toLocal8Bit().constData(), nullptr);
                ::_exit(127);
            }
            ::close(fds[1]);
            pipe = ::fdopen(fds[0], "r");
            return child;
        }();
        ASSERT_GT(pid, 0);
        // Let it finish 1 to 8 writes, then kill it wherever it is.
        char line[32];
        for (int n = 0; n <= round % 8; ++n)
            ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        std::fclose(pipe);

        const std::optional<settings::SettingsDict> dict =
            settings::ParseSettings(ReadAll(settings::SettingsFilePath(data.path())));
        ASSERT_TRUE(dict.has_value()) << "round " << round;
        ASSERT_EQ(dict->entries.size(), 4u);
        for (const auto& [key, entry] : dict->entries) {
            EXPECT_EQ(entry.Value("Generation"), dict->entries[0].second.Value("Generation"));
            EXPECT_EQ(entry.Value("Padding").size(), 2000);
        }
    }
    settings::RemoveLeftoverTemporaryFiles(data.path());
    EXPECT_EQ(QDir(data.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Zentroset"});
}

} // namespace
