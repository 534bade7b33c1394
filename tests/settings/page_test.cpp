#include "settings_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace zentrova;
using namespace zentrova::testing;

const QString kSaved = "Zentrova settings updated successfully.";

class Page : public SettingsFixture {
  protected:
    // One drive, started with the defaults, selected.
    void Started() {
        Fresh();
        AddDrives(1);
        settings::ReadAndSavePreviousSettings(*this);
        mirrors.gnCriticaltemp[0] = 47;
    }
};

TEST_F(Page, ApplyValidatesStoresSetsTheMirrorsAndRestartsTheTimer) {
    const QString zero = "You have entered Zero value for both hour(s) and minute(s). Please "
                         "eneter non-zero value for atleast one, either hour(s) (or) minute(s).";
    const QString range = "The polling interval must be longer than zero and shorter than 68 "
                          "years. Please enter other hour(s) or minute(s).";
    const QString login = "The settings were saved, but the start at log-in could not be changed";
    const QString unsaved = "The settings could not be saved (";
    const struct {
        settings::PageInput input;
        std::string entry; // from "DrvPoll" on; empty: the file is unchanged
        Seconds timers;
        QString alert;
        const char* mirrors; // critical temperature, its check, log check, log selectable
    } cases[] = {
        // clang-format off
        // Rejected before anything changes: the hourly timer keeps running.
        {{true, "abc", "", true, "30", true, false}, "", {3600}, zero, "47 1 0 -1"},
        {{true, "596524", "0", true, "30", true, false}, "", {3600}, range, "47 1 0 -1"},
        {{true, "2", "90", true, "45", true, false}, "DrvPoll=True Temp=True LogEvent=True Hour=2 Min=90 Temperature=45", {12600}, kSaved, "45 1 1 1"},
        {{false, "5", "5", false, "45", false, false}, "DrvPoll=False Temp=False LogEvent=False Hour=1 Min=0 Temperature=50", {}, kSaved, "47 0 0 0"},
        {{true, "0", "1", true, "abc", true, false}, "DrvPoll=True Temp=True LogEvent=True Hour=0 Min=1 Temperature=0", {60}, kSaved, "0 1 1 1"},
        {{true, "0", "30", true, "45", true, true}, "DrvPoll=True Temp=True LogEvent=True Hour=0 Min=30 Temperature=45", {1800}, login, "45 1 1 1"},
        {{true, "0", "30", true, "45", true, false}, "", {3600}, unsaved, "45 1 1 1"}, // the timer from the file as it is
        // clang-format on
    };
    // A file size limit makes a write fail, whoever runs the test.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{}, small{64, 0};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    small.rlim_max = old.rlim_max;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        Started();
        // A log-in list we cannot read is left alone.
        ASSERT_TRUE(c.alert != login || Append(settings::LoginWindowPath(), "not a list"));
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, c.alert == unsaved ? &small : &old), 0);
        settings::ApplySettings(*this, c.input);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(Entry("disk0"),
                  c.entry.empty() ? Default(0) : "DrvModel=MODEL-0 DrvFwrev=FW0 " + c.entry);
        EXPECT_EQ(clock.Intervals(), c.timers);
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_TRUE(alerts[0].startsWith(c.alert)) << qPrintable(alerts[0]);
        EXPECT_EQ(QString::asprintf("%d %d %d %d", mirrors.gnCriticaltemp[0],
                                    mirrors.gbCriticalTempEnable[0], mirrors.gbCheckLog[0],
                                    logSelectable)
                      .toStdString(),
                  c.mirrors);
        EXPECT_TRUE(c.alert != login || ReadAll(settings::LoginWindowPath()) == "not a list");
    }
}

TEST_F(Page, ShowsTheStoredEntryTheDefaultsWithoutAFileAndNoCheckWithoutATemperature) {
    Started();
    settings::ApplySettings(*this, {false, "", "", true, "45", false, false});
    settings::PageValues page = settings::SettingsForSelectedDrive(*this);
    EXPECT_TRUE(!page.poll && page.hours == 1 && page.minutes == 0 && page.temperature == 45);
    device::dev.gpSelDevInfo->nTemperature = 0;
    EXPECT_FALSE(settings::SettingsForSelectedDrive(*this).hasTemperature);
    EXPECT_EQ(mirrors.gbCriticalTempEnable[0], 0);
    ASSERT_TRUE(QFile::remove(FilePath()));
    page = settings::SettingsForSelectedDrive(*this);
    EXPECT_TRUE(page.poll && page.logEvent && page.temperature == 50 && !page.startsUp);
    EXPECT_FALSE(QFile::exists(FilePath()));
}
