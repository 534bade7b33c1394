// The poll's rules that the demo drives cannot show: values that rise from or
// fall to 0, reads that fail part-way, a failing drive without a temperature.
// The road of a poll on the demo drives is in tests/shell/poll_e2e_test.cpp.
#include "smart/table_rules.h"
#include "smart_fixture.h"

using namespace zentrova;
using namespace zentrova::smart;
using namespace zentrova::testing;

namespace {

class PollCycle : public SmartTest {
  protected:
    QByteArray Entry(std::uint8_t id, const char* name, int last, int now_) {
        return AttributeChangeEntry(now, "HD-EXAMPLE 80G", "FW01", id, name, last, now_,
                                    host.LogLocale());
    }
};

} // namespace

TEST_F(PollCycle, RiseFromZeroIsLoggedFallToZeroNeverNorOnAnUncomparedDrive) {
    Detect({"HD-EXAMPLE 80G"});
    Select(0);
    SetReading(0, {{5, 100, 100}, {1, 0, 0}, {7, 50, 40}});
    PollOnce();
    SetReading(0, {{5, 99, 99}, {1, 20, 20}, {7, 0, 0}});
    PollOnce();
    EXPECT_EQ(LogBody(0), Entry(5, "Reallocated Sector Count", 100, 99) +
                              Entry(1, "Raw Read Error Rate", 0, 20));

    // A drive marked as not yet compared (start-up's first drive) logs
    // nothing, and the mark goes with its first reading.
    const QByteArray body = LogBody(0);
    smart::smart.gbFlag[0] = 1;
    SetReading(0, {{5, 98, 98}});
    PollOnce();
    EXPECT_EQ(LogBody(0), body);
    EXPECT_EQ(smart::smart.gbFlag[0], 0);
}

TEST_F(PollCycle, FailedReadIsNoVerdictAndNoReading) {
    Detect({"HD-EXAMPLE 80G", "OTHER"});
    Select(0);
    SetReading(0, {{5, 30, 30, 0, 36}, {9, 100, 100}});
    PollOnce();
    ASSERT_EQ(host.col3[0], "Failed");
    const std::size_t alertsBefore = alerts.size();

    // The read fails after the data page was half written.
    drives[0].readThresholdsStatus = 5;
    drives[0].failureFill = 0xEE;
    SetReading(0, {{5, 20, 20, 0, 36}, {9, 80, 80}});
    beeps = 0;
    PollOnce();
    EXPECT_EQ(host.col3[0], "Failed") << "the cell keeps what it showed";
    EXPECT_EQ(alerts.size(), alertsBefore);
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(smart::smart.gnTotAttr, 2) << "the drive's last rows stay";
    EXPECT_EQ(Row(host.columns, 0), "05|Reallocated Sector Count|12/05/2026|36|30|30|Failed");

    // The next good read is compared with the last good one.
    drives[0].readThresholdsStatus = 0;
    PollOnce();
    EXPECT_EQ(LogBody(0),
              Entry(5, "Reallocated Sector Count", 30, 20) + Entry(9, "Power On Hour", 100, 80));

    // A drive whose first read fails stays uncompared, shows no other drive's
    // rows (and its 30 empty rows read safely), and is read on its next click.
    smart::smart.gbFlag[1] = 1;
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(smart::smart.gbFlag[1], 1);
    EXPECT_EQ(AttributeRowCount(), 30);
    EXPECT_FALSE(AttributeCellValue(host.columns, "AttrName", 29).isValid());
    EXPECT_EQ(AttributeCellColour(host.columns, "AttrStatus", 29), CellColour::Blue);
    EXPECT_EQ(host.col3[1], "OK");
    const int reads = drives[1].readDataCalls;
    ShowSelectedDriveReading(host);
    EXPECT_EQ(drives[1].readDataCalls, reads + 1);
}

TEST_F(PollCycle, FailedReadAfterAnotherDriveShowsItsOwnLastReading) {
    Detect({"HD-EXAMPLE 80G", "OTHER"});
    Select(1);
    SetReading(1, {{9, 90, 90}});
    PollOnce();
    Select(0);
    SetReading(0, {{5, 100, 100}, {9, 100, 100}});
    PollOnce();
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(smart::smart.gnTotAttr, 1);
    EXPECT_EQ(Row(host.columns, 0).left(23), "09|Power On Hour||0|90|");
}

TEST_F(PollCycle, FailingDriveWithoutATemperatureKeepsItsTempCell) {
    Detect({"HD-EXAMPLE 80G"}); // an empty data page at detection: no temperature
    Select(0);
    settings::settings.gnCriticaltemp[0] = 50;
    SetReading(0, {{5, 1, 1, 0, 1}, {194, 100, 100, 60}});
    PollOnce();
    EXPECT_EQ(host.col2[0], QVariant(QStringLiteral("N/A")));
    EXPECT_EQ(host.col3[0], "Failed");
}

TEST_F(PollCycle, FailingDriveShowsItsOwnTemperature) {
    // A temperature at detection, and no drive ever over its limit: the
    // failing poll shows this reading's 40, not 0.
    drives[0].data = DataPage({{194, 100, 100, 38}});
    Detect({"HD-EXAMPLE 80G"});
    Select(0);
    settings::settings.gnCriticaltemp[0] = 50;
    SetReading(0, {{5, 1, 1, 0, 1}, {194, 100, 100, 40}});
    PollOnce();
    EXPECT_EQ(host.col2[0], QVariant(40));
    EXPECT_EQ(host.col3[0], "Failed");

    // A failing reading without a temperature attribute leaves the cell.
    SetReading(0, {{5, 1, 1, 0, 1}});
    PollOnce();
    EXPECT_EQ(host.col2[0], QVariant(40));
}
