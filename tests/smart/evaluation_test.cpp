#include "smart/attribute_catalogue.h"
#include "smart_fixture.h"

using namespace zentrova;
using namespace zentrova::smart;
using namespace zentrova::testing;

TEST(AttributeCatalogue, NamesTyposAndVendorVariants) {
    const std::tuple<int, int, const char*> cases[] = {
        // clang-format off
        {0, 0, ""}, {6, 0, "Read Channal Margin"}, {209, 0, "Offline Seek Performnce"},
        {228, 0, "Power-off Retract Count"}, {229, 0, "Unknown"}, {9, 2, "Temperature"},
        {9, 4, "Power On Half Minutes"}, {9, 5, "Power On Hour"}, {9, -1, "Power On Hour"},
        {194, 1, "Temperature Celsius x10"}, {194, 2, "Unknown"}, {194, 3, "Temperature"},
        {198, 1, "Off-Line Scan Uncorrected Sector Count"}, {220, 1, "Temperature"}, {220, 0, "Disk Shift"},
        // clang-format on
    };
    for (const auto& [id, option, name] : cases)
        EXPECT_EQ(AttributeName(std::uint8_t(id), option), name) << id << "/" << option;
    // The option comes from the known-drives table, read no further than the model field.
    device::xDEV_INFO fujitsu;
    std::snprintf(fujitsu.szModelNum, sizeof fujitsu.szModelNum, "FUJITSU MHS2020AT");
    EXPECT_EQ(std::pair(VendorOptionFor(&fujitsu, 9), VendorOptionFor(nullptr, 9)),
              std::pair(3, 0));
    std::memset(fujitsu.szModelNum, 'A', sizeof fujitsu.szModelNum);
    EXPECT_EQ(VendorOptionFor(&fujitsu, 9), 0);
}

class Evaluation : public SmartTest {
  protected:
    std::uint8_t Evaluate(const std::vector<EntrySpec>& e) {
        const Page data = DataPage(e), thresholds = ThresholdsPage(e);
        return FillAttributeListTable(host, device::AttributeEntries(data.data()),
                                      device::ThresholdEntries(thresholds.data()), 0);
    }
};

TEST_F(Evaluation, EmptySlotsAreNoRowsAndFailuresAreDatedAndBeeped) {
    Detect({"FUJITSU MHS2020AT"});
    Select(0);
    now = QDateTime(QDate(2007, 3, 14), QTime(10, 0));
    // clang-format off
    EXPECT_EQ(Evaluate({{0, 200, 1}, {9, 200, 180, 0, 10}, {0, 0, 0, 0, 5}, {5, 36, 30, 0, 36}, {201, 0, 0}, {229, 90, 80, 0, 91}}), 1);
    // clang-format on
    EXPECT_EQ(smart::smart.gnTotAttr, 4);
    EXPECT_EQ(Row(host.columns, 0), "09|Power On Seconds||10|200|180|OK");
    EXPECT_EQ(Row(host.columns, 1), "05|Reallocated Sector Count|03/14/2007|36|36|30|Failed");
    EXPECT_EQ(Row(host.columns, 2), "C9|Detected TA Count|03/14/2007|0|0|0|Failed");
    EXPECT_EQ(Row(host.columns, 3), "E5|Unknown|03/14/2007|91|90|80|Failed");
    EXPECT_EQ(beeps, 3);
    EXPECT_EQ(smart::smart.gbAttrFailed, 0) << "the poll, not the evaluation, sets the verdict";
}

TEST_F(Evaluation, TemperatureLimitAndItsPanel) {
    Detect({"M1"});
    Select(0);
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
    EXPECT_EQ(alerts[1].title + alerts[1].defaultButton, "ZentrovaOK");
    EXPECT_EQ(alerts[1].message, "Drive: HD %s%n 80G\nS/N: FW01\nThe Current Temperature value "
                                 "exeeds than Critical Temperature");
    EXPECT_EQ(smart::smart.gnCurrTemp, 70);
}
