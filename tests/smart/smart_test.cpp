#include "smart/attribute_catalogue.h"
#include "smart/log_lines.h"
#include "smart_fixture.h"

#include <sys/stat.h>

using namespace zentrova;
using namespace zentrova::smart;
using namespace zentrova::testing;

// Vendor options 1 to 4 rename a few identifiers; any other option is option 0.
TEST(AttributeCatalogue, NamesTyposAndVendorVariants) {
    const int idAndOption[] = {0,   0, 6,   0, 229, 0, 9,  2, 9,   4, 9,   5, 9,   -1,
                               194, 1, 194, 2, 220, 1, 10, 0, 192, 0, 228, 0, 198, 1};
    QStringList names;
    for (std::size_t i = 0; i < std::size(idAndOption); i += 2)
        names << AttributeName(std::uint8_t(idAndOption[i]), idAndOption[i + 1]);
    EXPECT_EQ(
        names.join('|'),
        "|Read Channal Margin|Unknown|Temperature|Power On Half Minutes|Power On Hour|"
        "Power On Hour|Temperature Celsius x10|Unknown|Temperature|Spin-Up Retry Count|"
        "Power-Off Retract Count|Power-off Retract Count|Off-Line Scan Uncorrected Sector Count");
}

// Drive 0 "HD-EXAMPLE 80G" selected, drive 1 "OTHER".
class Smart : public SmartTest {
  protected:
    void SetUp() override {
        Detect({"HD-EXAMPLE 80G", "OTHER"});
        Select(0);
    }
    std::uint8_t Evaluate(const std::vector<EntrySpec>& e) {
        const Page data = DataPage(e), thresholds = ThresholdsPage(e);
        return FillAttributeListTable(host, device::AttributeEntries(data.data()),
                                      device::ThresholdEntries(thresholds.data()), 0);
    }
    QByteArray Entry(std::uint8_t id, const char* name, int last, int value) {
        return AttributeChangeEntry(now, "HD-EXAMPLE 80G", "FW01", id, name, last, value,
                                    host.LogLocale());
    }
};

// The model takes option 3 from the known-drives table: 9 is "Power On Seconds".
TEST_F(Smart, EmptySlotsAreNoRowsAndFailuresAreDatedAndBeeped) {
    std::snprintf(device::dev.gpSelDevInfo->szModelNum, 41, "FUJITSU MHS2020AT");
    now = QDateTime(QDate(2007, 3, 14), QTime(10, 0));
    EXPECT_EQ(
        Evaluate(
            {{0, 200, 1}, {9, 200, 180, 0, 10}, {0, 0, 0, 0, 5}, {5, 36, 30, 0, 36}, {201, 0, 0}}),
        1);
    EXPECT_EQ(Row(host.columns, 0), "09|Power On Seconds||10|200|180|OK");
    EXPECT_EQ(Row(host.columns, 1), "05|Reallocated Sector Count|03/14/2007|36|36|30|Failed");
    EXPECT_EQ(Row(host.columns, 2), "C9|Detected TA Count|03/14/2007|0|0|0|Failed");
    // The poll, not the evaluation, sets the verdict.
    EXPECT_EQ(std::tuple(smart::smart.gnTotAttr, beeps, int(smart::smart.gbAttrFailed)),
              std::tuple(3, 2, 0));
}

TEST_F(Smart, TemperatureLimitAndItsPanel) {
    settings::settings.gnCriticaltemp[0] = 50;
    const struct {
        int degrees, enable, firstTime, uncompared, failed, panels;
    } cases[] = {
        {50, 1, 0, 0, 0, 0}, {51, 0, 0, 0, 1, 0}, // the panel needs the setting
        {51, 1, 1, 0, 1, 0},                      // no panel during start-up's first reload
        {51, 1, 0, 1, 0, 0},                      // a drive not yet compared checks none
        {51, 1, 0, 0, 1, 1},
    };
    for (const auto& c : cases) {
        settings::settings.gbCriticalTempEnable[0] = c.enable;
        host.firstTime = c.firstTime;
        smart::smart.gbFlag[0] = c.uncompared;
        alerts.clear();
        Evaluate({{194, 100, 100, std::uint8_t(c.degrees)}});
        EXPECT_EQ(std::pair(int(smart::smart.bTempFailed), int(alerts.size())),
                  std::pair(c.failed, c.panels))
            << c.degrees << c.enable << c.firstTime << c.uncompared;
    }
    // The last over-limit entry wins; a model with '%' is not a format; 220
    // is no temperature without option 1.
    std::snprintf(device::dev.gpSelDevInfo->szModelNum, 41, "%s", "HD %s%n 80G");
    Evaluate({{194, 100, 100, 60}, {231, 100, 100, 70}, {220, 100, 100, 99}});
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].message + QString::number(smart::smart.gnCurrTemp),
              "Drive: HD %s%n 80G\nS/N: FW01\nThe Current Temperature value exeeds "
              "than Critical Temperature70");
    // A failing poll over the limit: its panel alone, no "WARNING" on top.
    alerts.clear();
    SetReading(0, {{5, 1, 1, 0, 1}, {194, 100, 100, 60}});
    PollOnce();
    EXPECT_EQ(alerts.size() == 1 ? alerts[0].title : "", "Zentrova");
}

// The poll's rules that the demo drives of the shell tests cannot show.
TEST_F(Smart, RiseFromZeroIsLoggedFallToZeroNeverNorOnAnUncomparedDrive) {
    SetReading(0, {{5, 100, 100}, {1, 0, 0}, {7, 50, 40}});
    PollOnce();
    SetReading(0, {{5, 99, 99}, {1, 20, 20}, {7, 0, 0}});
    PollOnce();
    smart::smart.gbFlag[0] = 1; // start-up's first drive: the mark goes with its first reading
    SetReading(0, {{5, 98, 98}});
    PollOnce();
    EXPECT_EQ(LogBody(0), Entry(5, "Reallocated Sector Count", 100, 99) +
                              Entry(1, "Raw Read Error Rate", 0, 20));
    EXPECT_EQ(smart::smart.gbFlag[0], 0);
}

TEST_F(Smart, AFailedReadIsNoVerdictAndNoReading) {
    SetReading(0, {{5, 30, 30, 0, 36}, {9, 100, 100}});
    PollOnce();
    EXPECT_EQ(beeps, 2); // the failed attribute's, then the poll's
    const std::size_t panels = alerts.size();
    drives[0].readThresholdsStatus = 5; // after the data page was half written
    drives[0].failureFill = 0xEE;
    SetReading(0, {{5, 20, 20, 0, 36}, {9, 80, 80}});
    beeps = 0;
    PollOnce();
    EXPECT_EQ(host.col3[0] + Row(host.columns, 0),
              "Failed05|Reallocated Sector Count|12/05/2026|36|30|30|Failed");
    EXPECT_EQ(std::pair(alerts.size() + beeps, smart::smart.gnTotAttr), std::pair(panels, 2));
    drives[0].readThresholdsStatus = 0; // compared with the last good reading
    PollOnce();
    EXPECT_EQ(LogBody(0),
              Entry(5, "Reallocated Sector Count", 30, 20) + Entry(9, "Power On Hour", 100, 80));

    // A drive whose first read fails stays uncompared, shows 30 empty rows and
    // is read again on its next click.
    smart::smart.gbFlag[1] = 1;
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(std::tuple(int(smart::smart.gbFlag[1]), AttributeRowCount(), host.col3[1]),
              std::tuple(1, 30, QString("OK")));
    ShowSelectedDriveReading(host);
    EXPECT_EQ(drives[1].readDataCalls, 3);

    // Coming from another drive, a failed read shows the drive's own last reading.
    drives[1].readDataStatus = 0;
    SetReading(1, {{9, 90, 90}});
    PollOnce();
    Select(0);
    PollOnce();
    drives[1].readDataStatus = 5;
    Select(1);
    PollOnce();
    EXPECT_EQ(Row(host.columns, 0).left(23), "09|Power On Hour||0|90|");
}

// The first temperature entry of the reading; none at detection, none shown.
TEST_F(Smart, AFailingDriveShowsItsOwnTemperatureOrNone) {
    device::dev.gpSelDevInfo->nTemperature = 38;
    for (int d : {0, 1}) {
        Select(d);
        SetReading(d, {{5, 1, 1, 0, 1}, {194, 100, 100, 40}, {231, 100, 100, 45}});
        PollOnce();
    }
    EXPECT_EQ(host.col2, (QVariantList{40, QStringLiteral("N/A")}));
    Select(0);
    SetReading(0, {{5, 1, 1, 0, 1}}); // a reading without a temperature leaves the cell
    PollOnce();
    EXPECT_EQ(host.col2[0], QVariant(40));
}

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

TEST(EventLog, HeaderAndChangeEntryByteForByte) {
    EXPECT_EQ(LogHeader(kEvening, kEnglish),
              "Sat, Dec 05 2026, 09:43 PM :: INFO\r\nS.M.A.R.T. Monitoring started.\n\n\r\n");
    EXPECT_EQ(
        AttributeChangeEntry(kEvening, "HD 80G", "FW01", 197, "Pending", 100, 99, kEnglish),
        "Sat, Dec 05 2026, 09:43 PM :: ALERT\r\n[ HD 80G, S/N : FW01 ] - Attribute changed\r\n"
        "Attribute :  C5, Pending\r\nLast checked value :  100\r\nNew Value :  99\r\n\r\n");
    EXPECT_TRUE(AttributeChangeEntry(kEvening, "HD", "FW", 9, "Hours", 1, 2, kEnglish)
                    .contains("\r\nAttribute :  9, Hours\r\n"));
}

TEST_F(SmartTest, CreateLeavesWhatExistsAloneAndTheAppenderNeverCreates) {
    const QString path = LogFilePath(dir.path(), 0);
    LogAppender appender;
    EXPECT_FALSE(appender.Open(path));
    EXPECT_EQ(CreateLogFile(path, kEvening, kEnglish), LogCreateResult::Created);
    EXPECT_EQ(CreateLogFile(path, kEvening.addDays(1), kEnglish), LogCreateResult::Existed);
    // Another writer's line in between is not overwritten.
    ASSERT_TRUE(appender.Open(path) && appender.Append("one\r\n") && Append(path, "other\r\n") &&
                appender.Append("two\r\n"));
    EXPECT_EQ(ReadAll(path), LogHeader(kEvening, kEnglish) + "one\r\nother\r\ntwo\r\n");
    // Only regular files are logs; a FIFO must not block.
    ASSERT_TRUE(QDir(dir.path()).mkdir("SMARTLog3"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path() + "/fifo").constData(), 0600), 0);
    EXPECT_EQ(CreateLogFile(LogFilePath(dir.path(), 3), kEvening), LogCreateResult::Existed);
    EXPECT_FALSE(appender.Open(LogFilePath(dir.path(), 3)) || appender.Open(dir.path() + "/fifo"));
}

// Deleted and replaced logs, and scans in slices, are the shell's log page tests.
TEST_F(SmartTest, ReadsWhatWasAddedInLinesEndingAtLfAndKeepsSplitCharactersWhole) {
    const QString path = LogFilePath(dir.path(), 0);
    LogLineIndex index;
    std::int64_t pos = 0;
    EXPECT_FALSE(index.Refresh(path, &pos).ok || QFile::exists(path));
    const struct {
        QByteArray added;
        std::int64_t pos;
        QString text;
    } steps[] = {
        {"a\r\nb\n\n\r\n", 8, "a\nb\n\n\n"}, // CR LF and the header's LFs
        {"x\xC3", 9, "a\nb\n\n\nx"},         // "ä" (C3 A4) and "€" (E2 82 AC) split
        {"\xA4\xE2\x82", 11, "a\nb\n\n\nxä"},
        {"\xAC!", 15, "a\nb\n\n\nxä€!"},                              // a last line without an end
        {"\r\n\xFF\xC3(\r\n", 22, "a\nb\n\n\nxä€!\n\uFFFD\uFFFD(\n"}, // not UTF-8
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(Append(path, s.added));
        const bool restarted = index.Refresh(path, &pos).restarted;
        EXPECT_EQ(std::tuple(restarted, pos, index.Text(0, 99)),
                  std::tuple(s.pos == 8, s.pos, s.text));
    }
    ASSERT_TRUE(QFile::resize(path, 0) && Append(path, "new\r\n")); // cut in place: afresh
    EXPECT_TRUE(index.Refresh(path, &pos).restarted && index.Text(0, 9) == "new\n");
}
