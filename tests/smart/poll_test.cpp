// The poll's rules that the demo drives of the shell tests cannot show.
#include "smart_fixture.h"

using namespace zentrova;
using namespace zentrova::smart;
using namespace zentrova::testing;

class Poll : public SmartTest {
  protected:
    void SetUp() override {
        Detect({"HD-EXAMPLE 80G", "OTHER"});
        Select(0);
    }
    QByteArray Entry(std::uint8_t id, const char* name, int last, int value) {
        return AttributeChangeEntry(now, "HD-EXAMPLE 80G", "FW01", id, name, last, value,
                                    host.LogLocale());
    }
};

TEST_F(Poll, RiseFromZeroIsLoggedFallToZeroNeverNorOnAnUncomparedDrive) {
    SetReading(0, {{5, 100, 100}, {1, 0, 0}, {7, 50, 40}});
    PollOnce();
    SetReading(0, {{5, 99, 99}, {1, 20, 20}, {7, 0, 0}});
    PollOnce();
    const QByteArray body =
        Entry(5, "Reallocated Sector Count", 100, 99) + Entry(1, "Raw Read Error Rate", 0, 20);
    EXPECT_EQ(LogBody(0), body);
    smart::smart.gbFlag[0] = 1; // start-up's first drive: the mark goes with its first reading
    SetReading(0, {{5, 98, 98}});
    PollOnce();
    EXPECT_EQ(LogBody(0), body);
    EXPECT_EQ(smart::smart.gbFlag[0], 0);
}

TEST_F(Poll, AFailedReadIsNoVerdictAndNoReading) {
    SetReading(0, {{5, 30, 30, 0, 36}, {9, 100, 100}});
    PollOnce();
    const std::size_t panels = alerts.size();
    drives[0].readThresholdsStatus = 5; // after the data page was half written
    drives[0].failureFill = 0xEE;
    SetReading(0, {{5, 20, 20, 0, 36}, {9, 80, 80}});
    beeps = 0;
    PollOnce();
    EXPECT_EQ(host.col3[0], "Failed");
    EXPECT_EQ(alerts.size() + beeps, panels);
    EXPECT_EQ(Row(host.columns, 0), "05|Reallocated Sector Count|12/05/2026|36|30|30|Failed");
    EXPECT_EQ(smart::smart.gnTotAttr, 2);
    drives[0].readThresholdsStatus = 0; // compared with the last good reading
    PollOnce();
    EXPECT_EQ(LogBody(0),
              Entry(5, "Reallocated Sector Count", 30, 20) + Entry(9, "Power On Hour", 100, 80));

    // A drive whose first read fails stays uncompared, shows 30 empty rows
    // (safely read), and is read again on its next click.
    smart::smart.gbFlag[1] = 1;
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(smart::smart.gbFlag[1], 1);
    EXPECT_EQ(AttributeRowCount(), 30);
    EXPECT_FALSE(AttributeCellValue(host.columns, "AttrName", 29).isValid());
    EXPECT_EQ(host.col3[1], "OK");
    const int reads = drives[1].readDataCalls;
    ShowSelectedDriveReading(host);
    EXPECT_EQ(drives[1].readDataCalls, reads + 1);

    // Coming from another drive, a failed read shows the drive's own last reading.
    drives[1].readDataStatus = 0;
    SetReading(1, {{9, 90, 90}});
    PollOnce();
    Select(0);
    PollOnce();
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(smart::smart.gnTotAttr, 1);
    EXPECT_EQ(Row(host.columns, 0).left(23), "09|Power On Hour||0|90|");
}

TEST_F(Poll, AFailingDriveShowsItsOwnTemperatureOrNone) {
    settings::settings.gnCriticaltemp[0] = settings::settings.gnCriticaltemp[1] = 50;
    device::dev.gpSelDevInfo->nTemperature = 38; // drive 1 had none at detection
    for (int d : {0, 1}) {
        Select(d);
        SetReading(d, {{5, 1, 1, 0, 1}, {194, 100, 100, 40}, {231, 100, 100, 45}});
        PollOnce();
    }
    EXPECT_EQ(host.col3, (QStringList{"Failed", "Failed"}));
    EXPECT_EQ(host.col2, (QVariantList{40, QStringLiteral("N/A")}));
    Select(0);
    SetReading(0, {{5, 1, 1, 0, 1}}); // a reading without a temperature leaves the cell
    PollOnce();
    EXPECT_EQ(host.col2[0], QVariant(40));
}
