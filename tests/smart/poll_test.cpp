#include "smart_fixture.h"

#include <cstring>

using namespace zentrova;
using namespace zentrova::smart;
using namespace zentrova::testing;

namespace {

const char* const kWarning = "HD-EXAMPLE 80G,\nFW01,\nis about to fail.\nMake sure to take "
                             "backup of your data before it is lost.";

class PollCycle : public SmartTest {
  protected:
    QByteArray Entry(std::uint8_t id, const char* name, int last, int now_) {
        return AttributeChangeEntry(now, "HD-EXAMPLE 80G", "FW01", id, name, last, now_,
                                    host.LogLocale());
    }
};

} // namespace

TEST_F(PollCycle, ChangesAreLoggedAgainstThePreviousReadingOnly) {
    Detect({"HD-EXAMPLE 80G"});
    Select(0);
    SetReading(0, {{5, 100, 100}, {1, 0, 0}, {7, 50, 40}, {194, 100, 100, 0x24}});
    PollOnce();
    ASSERT_NE(smart::smart.gpSmartDataStruct[0], nullptr);
    ASSERT_NE(smart::smart.gpSmartThreshStruct[0], nullptr);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(smart::smart.gpPrevSmartAttr[0]),
              smart::smart.gTempDataStruct[0] + 2);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(smart::smart.gpPrevThreshold[0]),
              smart::smart.gTempThreshStruct[0] + 2);
    EXPECT_EQ(LogBody(0), "") << "the first poll compares with nothing";
    EXPECT_EQ(host.col3[0], "Failed") << "attribute 1 is at its threshold of 0";
    EXPECT_TRUE(host.drvFailed);
    EXPECT_EQ(smart::smart.gnTotAttr, 4);

    // 100 to 99 logged; a rise from 0 logged; a fall to 0 never.
    now = now.addSecs(3600);
    SetReading(0, {{5, 99, 99}, {1, 20, 20}, {7, 0, 0}, {194, 100, 100, 0x25}});
    PollOnce();
    EXPECT_EQ(LogBody(0), Entry(5, "Reallocated Sector Count", 100, 99) +
                              Entry(1, "Raw Read Error Rate", 0, 20));
    const QByteArray body = LogBody(0);
    PollOnce();
    EXPECT_EQ(LogBody(0), body) << "an unchanged reading adds nothing";

    // A drive marked as not yet compared (start-up's first drive) logs nothing,
    // and the mark goes with its first reading.
    smart::smart.gbFlag[0] = 1;
    SetReading(0, {{5, 98, 98}});
    PollOnce();
    EXPECT_EQ(LogBody(0), body);
    EXPECT_EQ(smart::smart.gbFlag[0], 0);

    // With the log-event setting the log page catches up after every poll.
    EXPECT_EQ(host.logRefreshes, 0);
    settings::settings.gbCheckLog[0] = 1;
    PollOnce();
    EXPECT_EQ(host.logRefreshes, 1);

    // A log removed meanwhile is not made again; the table still fills.
    ASSERT_TRUE(QFile::remove(LogFilePath(dir.path(), 0)));
    SetReading(0, {{5, 97, 97}, {3, 90, 90}});
    PollOnce();
    EXPECT_FALSE(QFile::exists(LogFilePath(dir.path(), 0)));
    EXPECT_EQ(smart::smart.gnTotAttr, 2);
    EXPECT_EQ(host.Row(1), "03|Spin Up Time||0|90|90|OK");
}

TEST_F(PollCycle, FailureBeepsTurnsTheDriveFailedAndWarns) {
    Detect({"HD-EXAMPLE 80G", "HD-EXAMPLE 80G"});
    drives[0].data = DataPage({{194, 100, 100, 38}}); // a temperature at detection
    device::dev.gpHeadDevInfo->nTemperature = 38;
    Select(0);
    SetReading(0, {{5, 36, 36, 0, 36}, {7, 10, 10, 0, 11}, {1, 0, 0, 0, 0}, {3, 99, 99, 0, 1}});
    host.minimised = true;
    std::uint8_t popedWhileUp = 0;
    onAlert = [&] { popedWhileUp = smart::smart.gbMessagePoped[0]; };
    PollOnce();
    EXPECT_EQ(beeps, 4) << "one per failed attribute, one for the poll";
    EXPECT_EQ(smart::smart.gbAttrFailed, 1);
    EXPECT_EQ(host.col3[0], "Failed");
    EXPECT_EQ(host.col2[0], QVariant(0)) << "no over-limit temperature since start-up";
    EXPECT_FALSE(host.minimised);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "WARNING");
    EXPECT_EQ(alerts[0].message, kWarning);
    EXPECT_TRUE(alerts[0].defaultButton.isEmpty());
    EXPECT_TRUE(alerts[0].alternateButton.isEmpty());
    EXPECT_EQ(popedWhileUp, 1);
    EXPECT_EQ(smart::smart.gbMessagePoped[0], 0);

    // Warned again on the next poll; while the panel is up a poll of the
    // same drive reads nothing.
    const int reads = drives[0].readDataCalls;
    onAlert = [&] { PollOnce(); };
    PollOnce();
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(drives[0].readDataCalls, reads + 1);

    // An over-limit temperature holds the warning back, with the alert
    // setting off: "Failed" and beeps, no panel at all.
    onAlert = nullptr;
    settings::settings.gnCriticaltemp[0] = 50;
    SetReading(0, {{5, 36, 36, 0, 36}, {194, 100, 100, 51}});
    beeps = 0;
    PollOnce();
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(host.col2[0], QVariant(51));

    // Drive 1 has no temperature from detection: its "Temp" cell is never rewritten.
    Select(1);
    SetReading(1, {{5, 1, 1, 0, 1}});
    PollOnce();
    EXPECT_EQ(host.col2[1], QVariant(QStringLiteral("N/A")));
    EXPECT_EQ(host.col3[1], "Failed");
    EXPECT_EQ(host.col3[0], "Failed");
}

TEST_F(PollCycle, FailedReadIsNoVerdictAndNoReading) {
    Detect({"HD-EXAMPLE 80G", "OTHER"});
    Select(0);
    SetReading(0, {{5, 30, 30, 0, 36}, {9, 100, 100}});
    PollOnce();
    ASSERT_EQ(host.col3[0], "Failed");
    const std::size_t alertsBefore = alerts.size();
    std::uint8_t good[512];
    std::memcpy(good, smart::smart.gTempDataStruct[0], 512);

    // The read fails after the data page was half written.
    drives[0].readThresholdsStatus = 5;
    drives[0].failureFill = 0xEE;
    SetReading(0, {{5, 20, 20, 0, 36}, {9, 80, 80}});
    beeps = 0;
    PollOnce();
    EXPECT_EQ(host.col3[0], "Failed") << "the cell keeps what it showed";
    EXPECT_EQ(alerts.size(), alertsBefore);
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(std::memcmp(good, smart::smart.gTempDataStruct[0], 512), 0);
    EXPECT_EQ(smart::smart.gnTotAttr, 2) << "the drive's last rows stay";
    EXPECT_EQ(host.Row(0), "05|Reallocated Sector Count|12/05/2026|36|30|30|Failed");

    // The next good read is compared with the last good one.
    drives[0].readThresholdsStatus = 0;
    PollOnce();
    EXPECT_EQ(LogBody(0),
              Entry(5, "Reallocated Sector Count", 30, 20) + Entry(9, "Power On Hour", 100, 80));

    // A drive whose first read fails stays unread and uncompared, and shows
    // no other drive's rows.
    smart::smart.gbFlag[1] = 1;
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(smart::smart.gpPrevThreshold[1], nullptr);
    EXPECT_EQ(smart::smart.gbFlag[1], 1);
    EXPECT_EQ(smart::smart.gnTotAttr, 0);
    EXPECT_TRUE(host.columns.Attr_1_Array.isEmpty());
    EXPECT_EQ(host.col3[1], "OK");
}

TEST_F(PollCycle, SelectionRedisplaysAReadDriveAndReadsTheRest) {
    Detect({"HD-EXAMPLE 80G", "OTHER"});
    SetReading(0, {{5, 36, 36, 0, 36}});
    SetReading(1, {{1, 100, 100}});
    host.firstTime = true; // start-up's first reload reads the first drive
    Select(0);
    ShowSelectedDriveReading(host);
    host.firstTime = false;
    EXPECT_EQ(drives[0].readThresholdsCalls, 1);
    Select(1);
    ShowSelectedDriveReading(host); // never read: read now
    EXPECT_EQ(drives[1].readThresholdsCalls, 1);

    // A click back on drive 0: its last reading again, without a read, with
    // the failed attribute's beep but no log entry and no warning.
    SetReading(0, {{5, 20, 20, 0, 36}});
    const std::size_t alertsBefore = alerts.size();
    beeps = 0;
    Select(0);
    ShowSelectedDriveReading(host);
    EXPECT_EQ(drives[0].readThresholdsCalls, 1);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(alerts.size(), alertsBefore);
    EXPECT_EQ(LogBody(0), "");
    EXPECT_EQ(host.Row(0), "05|Reallocated Sector Count|12/05/2026|36|36|36|Failed");

    // The drive's timer marks it: the selection reads it and clears the mark.
    settings::settings.bPoll[0] = 1;
    ShowSelectedDriveReading(host);
    EXPECT_EQ(drives[0].readThresholdsCalls, 2);
    EXPECT_EQ(settings::settings.bPoll[0], 0);
    EXPECT_EQ(LogBody(0), Entry(5, "Reallocated Sector Count", 36, 20));
}

TEST_F(PollCycle, DriveTableValueSetStoresOnlyTheProgramsOwnValues) {
    Detect({"A", "B"});
    smart::smart.gnCurrTemp = 57;
    smart::smart.gbAttrFailed = 1;
    Select(1);
    EXPECT_FALSE(DriveTableValueSet("SMART", 1, false).setSmart) << "before the first push";
    EXPECT_FALSE(DriveTableValueSet("SMART", 0, true).setSmart) << "not the selected row";
    DriveCellUpdate u = DriveTableValueSet("smart", 1, true);
    EXPECT_TRUE(u.setSmart);
    EXPECT_EQ(u.smartStatus, "Failed");
    EXPECT_TRUE(u.restoreMinimisedWindow);
    EXPECT_FALSE(u.setTemp);
    smart::smart.gbAttrFailed = 0;
    EXPECT_EQ(DriveTableValueSet("SMART", 1, true).smartStatus, "OK");
    EXPECT_TRUE(DriveTableValueSet("SMART", 1, true).restoreMinimisedWindow);
    u = DriveTableValueSet("Temp", 1, true);
    EXPECT_TRUE(u.setTemp);
    EXPECT_EQ(u.temp, 57);
    EXPECT_FALSE(u.restoreMinimisedWindow);
    EXPECT_FALSE(DriveTableValueSet("DrvSize", 1, true).reloadDriveTable);
    device::dev.gpSelDevInfo = nullptr;
    EXPECT_FALSE(DriveTableValueSet("SMART", 1, true).setSmart);
}

TEST_F(PollCycle, AttributeTableShowsEachRowByItsOwnData) {
    EXPECT_EQ(AttributeRowCount(), 30);
    EXPECT_FALSE(AttributeCellValue(host.columns, "AttrName", 0).isValid());
    EXPECT_EQ(AttributeCellColour(host.columns, "AttrStatus", 0), CellColour::Blue);

    Detect({"HD-EXAMPLE 80G"});
    Select(0);
    std::vector<EntrySpec> entries;
    for (std::uint8_t id = 1; id <= 22; ++id)
        entries.push_back({id, 100, 100, 0, static_cast<std::uint8_t>(id == 2 ? 100 : 10)});
    entries.insert(entries.begin() + 1, EntrySpec{0, 5, 5, 0, 9}); // an empty slot early on
    SetReading(0, entries);
    PollOnce();
    EXPECT_EQ(AttributeRowCount(), 22);
    const AttributeColumns& c = host.columns;
    EXPECT_EQ(AttributeCellValue(c, "AttrID", 1).toString(), "02");
    EXPECT_EQ(AttributeCellValue(c, "attrfaildate", 1).toString(), "12/05/2026");
    EXPECT_FALSE(AttributeCellValue(c, "AttrID", 22).isValid());
    EXPECT_FALSE(AttributeCellValue(c, "Unrelated", 1).isValid());
    for (const char* col : {"AttrFailDate", "AttrThreshold", "AttrValue", "AttrWorst"}) {
        EXPECT_EQ(AttributeCellColour(c, col, 1), CellColour::Red) << col;
        EXPECT_EQ(AttributeCellColour(c, col, 2), CellColour::Black) << col;
    }
    EXPECT_EQ(AttributeCellColour(c, "AttrStatus", 1), CellColour::Red);
    EXPECT_EQ(AttributeCellColour(c, "AttrStatus", 2), CellColour::Blue);
    // Asked out of order, rows still keep their own colours.
    EXPECT_EQ(AttributeCellColour(c, "AttrValue", 2), CellColour::Black);
    EXPECT_EQ(AttributeCellColour(c, "AttrValue", 1), CellColour::Red);
    for (const char* col : {"AttrID", "AttrName"})
        EXPECT_EQ(AttributeCellColour(c, col, 1), CellColour::Default) << col;

    EXPECT_EQ(DriveCellColour("SMART", "Failed"), CellColour::Red);
    EXPECT_EQ(DriveCellColour("smart", "FAILED"), CellColour::Red);
    EXPECT_EQ(DriveCellColour("SMART", "OK"), CellColour::Blue);
    EXPECT_EQ(DriveCellColour("Temp", "Failed"), CellColour::Default);
}
