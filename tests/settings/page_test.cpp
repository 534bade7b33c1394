#include "settings/settings_page.h"
#include "settings_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

const QString kSaved = "Zentrova settings updated successfully.";
const QString kZero = "You have entered Zero value for both hour(s) and minute(s). Please eneter "
                      "non-zero value for atleast one, either hour(s) (or) minute(s).";

class Page : public SettingsFixture {
  protected:
    void SetUp() override {
        SettingsFixture::SetUp();
        AddDrives(1);
        settings::ReadAndSavePreviousSettings(host); // hourly, defaults
        Select(0);
        mirrors.gnCriticaltemp[0] = 47;
    }
};

struct ApplyCase {
    const char* name;
    settings::PageInput input;
    std::string entry; // from "DrvPoll" on; empty: the file is unchanged
    std::vector<std::int64_t> timers;
    QString alert;
    int critical, enable, checkLog, selectable;
};
// Test names carry the case name; the values stay out of them.
inline void PrintTo(const ApplyCase&, std::ostream*) {}

class Apply : public Page, public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(Apply, StoresTheEntryTheMirrorsAndTheTimer) {
    const ApplyCase& c = GetParam();
    settings::ApplySettings(host, c.input);
    const std::string prefix = "DrvModel=MODEL-0 DrvFwrev=FW0 ";
    EXPECT_EQ(Entry("disk0"), c.entry.empty() ? kDefault0 : prefix + c.entry);
    EXPECT_EQ(clock.Intervals(), c.timers);
    EXPECT_EQ(alerts, std::vector<QString>{c.alert});
    EXPECT_EQ(mirrors.gnCriticaltemp[0], c.critical);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], c.enable);
    EXPECT_EQ(mirrors.gbCheckLog[0], c.checkLog);
    EXPECT_EQ(host.logSelectable, c.selectable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Apply,
    ::testing::Values(
        // Rejected before anything changes: the hourly timer keeps running.
        ApplyCase{"ZeroInterval",
                  {true, "abc", "", true, "30", true, false},
                  "",
                  {3600},
                  kZero,
                  47,
                  1,
                  0,
                  -1},
        ApplyCase{"BeyondThirtyTwoBits",
                  {true, "596524", "0", true, "30", true, false},
                  "",
                  {3600},
                  "The polling interval must be longer than zero and shorter than 68 years. "
                  "Please enter other hour(s) or minute(s).",
                  47,
                  1,
                  0,
                  -1},
        ApplyCase{"TwoHoursNinetyMinutes",
                  {true, "2", "90", true, "45", true, false},
                  "DrvPoll=True Temp=True LogEvent=True Hour=2 Min=90 Temperature=45",
                  {12600},
                  kSaved,
                  45,
                  1,
                  1,
                  1},
        ApplyCase{"EverythingOff",
                  {false, "5", "5", false, "45", false, false},
                  "DrvPoll=False Temp=False LogEvent=False Hour=1 Min=0 Temperature=50",
                  {},
                  kSaved,
                  47,
                  0,
                  0,
                  0},
        ApplyCase{"TemperatureNotANumber",
                  {true, "0", "1", true, "abc", true, false},
                  "DrvPoll=True Temp=True LogEvent=True Hour=0 Min=1 Temperature=0",
                  {60},
                  kSaved,
                  0,
                  1,
                  1,
                  1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Page, AFailedWriteSaysSoAndLeavesTheFileAsItWas) {
    const QByteArray before = ReadAll(FilePath());
    // A file size limit makes the write itself fail, whoever runs the test.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    settings::ApplySettings(host, {true, "0", "30", true, "45", true, false});
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(ReadAll(FilePath()), before);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].startsWith("The settings could not be saved ("))
        << alerts[0].toStdString();
    EXPECT_EQ(clock.Intervals(), std::vector<std::int64_t>{3600}); // from the file as it is
    EXPECT_EQ(QDir(data.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(Page, ShowsTheStoredEntryAndNoTemperatureMeansNoCheck) {
    settings::ApplySettings(host, {false, "", "", true, "45", false, false});
    const settings::PageValues page = settings::SettingsForSelectedDrive(host);
    EXPECT_FALSE(page.poll);
    EXPECT_EQ(page.hours, 1);
    EXPECT_EQ(page.minutes, 0);
    EXPECT_EQ(page.temperature, 45);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 1);

    device::dev.gpSelDevInfo->nTemperature = 0;
    EXPECT_FALSE(settings::SettingsForSelectedDrive(host).hasTemperature);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 0);
}

TEST_F(Page, WithoutAFileThePageShowsDefaultsAndWritesNothing) {
    ASSERT_TRUE(QFile::remove(FilePath()));
    const settings::PageValues page = settings::SettingsForSelectedDrive(host);
    EXPECT_TRUE(page.poll && page.criticalTemp && page.logEvent && !page.startsUp);
    EXPECT_EQ(page.temperature, 50);
    EXPECT_FALSE(QFile::exists(FilePath()));
}

} // namespace
