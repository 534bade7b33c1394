#include "settings_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace zentrova;
using namespace zentrova::testing;
using Seconds = std::vector<std::int64_t>;

namespace {

const QString kSaved = "Zentrova settings updated successfully.";

class Page : public SettingsFixture {
  protected:
    // One drive, started with the defaults, selected.
    void Started() {
        Fresh();
        AddDrives(1);
        settings::ReadAndSavePreviousSettings(host);
        Select(0);
        mirrors.gnCriticaltemp[0] = 47;
    }
};

TEST_F(Page, ApplyValidatesStoresSetsTheMirrorsAndRestartsTheTimer) {
    const QString zero = "You have entered Zero value for both hour(s) and minute(s). Please "
                         "eneter non-zero value for atleast one, either hour(s) (or) minute(s).";
    const QString range = "The polling interval must be longer than zero and shorter than 68 "
                          "years. Please enter other hour(s) or minute(s).";
    struct Case {
        settings::PageInput input;
        QString entry; // from "DrvPoll" on; empty: the file is unchanged
        Seconds timers;
        QString alert;
        std::string mirrors; // critical temperature, its check, log check, log selectable
    } cases[] = {
        // clang-format off
        // Rejected before anything changes: the hourly timer keeps running.
        {{true, "abc", "", true, "30", true, false}, "", {3600}, zero, "47 1 0 -1"},
        {{true, "596524", "0", true, "30", true, false}, "", {3600}, range, "47 1 0 -1"},
        {{true, "2", "90", true, "45", true, false},
         "DrvPoll=True Temp=True LogEvent=True Hour=2 Min=90 Temperature=45", {12600}, kSaved, "45 1 1 1"},
        {{false, "5", "5", false, "45", false, false},
         "DrvPoll=False Temp=False LogEvent=False Hour=1 Min=0 Temperature=50", {}, kSaved, "47 0 0 0"},
        {{true, "0", "1", true, "abc", true, false},
         "DrvPoll=True Temp=True LogEvent=True Hour=0 Min=1 Temperature=0", {60}, kSaved, "0 1 1 1"},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        Started();
        settings::ApplySettings(host, c.input);
        const QString prefix = "DrvModel=MODEL-0 DrvFwrev=FW0 ";
        EXPECT_EQ(Entry("disk0"),
                  (c.entry.isEmpty() ? Default(0) : prefix + c.entry).toStdString());
        EXPECT_EQ(clock.Intervals(), c.timers);
        EXPECT_EQ(alerts, std::vector<QString>{c.alert});
        EXPECT_EQ(std::to_string(mirrors.gnCriticaltemp[0]) + " " +
                      std::to_string(mirrors.gbCriticalTempEnable[0]) + " " +
                      std::to_string(mirrors.gbCheckLog[0]) + " " +
                      std::to_string(host.logSelectable),
                  c.mirrors);
    }
}

TEST_F(Page, AFailedWriteSaysSoAndLeavesTheFileAsItWas) {
    Started();
    const QByteArray before = ReadAll(FilePath());
    // A file size limit makes the write fail, whoever runs the test.
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
    EXPECT_TRUE(alerts[0].startsWith("The settings could not be saved (")) << qPrintable(alerts[0]);
    EXPECT_EQ(clock.Intervals(), Seconds{3600}); // from the file as it is
}

TEST_F(Page, ShowsTheStoredEntryTheDefaultsWithoutAFileAndNoCheckWithoutATemperature) {
    Started();
    settings::ApplySettings(host, {false, "", "", true, "45", false, false});
    settings::PageValues page = settings::SettingsForSelectedDrive(host);
    EXPECT_TRUE(!page.poll && page.hours == 1 && page.minutes == 0 && page.temperature == 45);

    device::dev.gpSelDevInfo->nTemperature = 0;
    EXPECT_FALSE(settings::SettingsForSelectedDrive(host).hasTemperature);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 0);

    ASSERT_TRUE(QFile::remove(FilePath()));
    page = settings::SettingsForSelectedDrive(host);
    EXPECT_TRUE(page.poll && page.logEvent && page.temperature == 50 && !page.startsUp);
    EXPECT_FALSE(QFile::exists(FilePath()));
}

} // namespace
