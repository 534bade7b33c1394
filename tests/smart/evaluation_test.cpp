#include "smart/attribute_catalogue.h"
#include "smart/evaluation.h"
#include "smart_fixture.h"

using namespace zentrova;
using namespace zentrova::smart;
using namespace zentrova::testing;

TEST(AttributeCatalogue, NamesTyposAndVendorVariants) {
    const struct {
        int id;
        int option;
        const char* name;
    } cases[] = {
        {0, 0, ""},
        {6, 0, "Read Channal Margin"},
        {209, 0, "Offline Seek Performnce"},
        {192, 0, "Power-Off Retract Count"},
        {228, 0, "Power-off Retract Count"},
        {195, 0, "ECC on the fly count"},
        {229, 0, "Unknown"},
        {255, 0, "Unknown"},
        {9, 2, "Temperature"},
        {9, 4, "Power On Half Minutes"},
        {9, 5, "Power On Hour"},
        {9, -1, "Power On Hour"},
        {194, 1, "Temperature Celsius x10"},
        {194, 2, "Unknown"},
        {194, 3, "Temperature"},
        {198, 1, "Off-Line Scan Uncorrected Sector Count"},
        {220, 1, "Temperature"},
        {220, 0, "Disk Shift"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AttributeName(static_cast<std::uint8_t>(c.id), c.option), c.name)
            << c.id << " option " << c.option;

    // The known-drives table gives the option; the model field is read no
    // further than its end.
    device::xDEV_INFO fujitsu;
    std::snprintf(fujitsu.szModelNum, sizeof fujitsu.szModelNum, "FUJITSU MHS2020AT");
    EXPECT_EQ(VendorOptionFor(&fujitsu, 9), 3);
    EXPECT_EQ(VendorOptionFor(nullptr, 9), 0);
    std::memset(fujitsu.szModelNum, 'A', sizeof fujitsu.szModelNum); // no terminator
    EXPECT_EQ(VendorOptionFor(&fujitsu, 9), 0);
}

class Evaluation : public SmartTest {
  protected:
    std::uint8_t Evaluate(const std::vector<EntrySpec>& e) {
        const Page data = DataPage(e);
        const Page thresholds = ThresholdsPage(e);
        return FillAttributeListTable(host, device::AttributeEntries(data.data()),
                                      device::ThresholdEntries(thresholds.data()), 0);
    }
};

TEST_F(Evaluation, RowsStayInStepAndFailuresAreDatedAndBeeped) {
    Detect({"FUJITSU MHS2020AT"});
    Select(0);
    // Empty slots before and between used entries, and a value byte above a
    // threshold in an empty slot: every row is still one attribute's own.
    now = QDateTime(QDate(2007, 3, 14), QTime(10, 0));
    EXPECT_EQ(Evaluate({{0, 200, 1, 0, 0},
                        {9, 200, 180, 0, 10},
                        {0, 0, 0, 0, 5},
                        {5, 36, 30, 0, 36},
                        {201, 0, 0, 0, 0},
                        {229, 90, 80, 0, 91}}),
              1);
    EXPECT_EQ(smart::smart.gnTotAttr, 4);
    EXPECT_EQ(Row(host.columns, 0), "09|Power On Seconds||10|200|180|OK");
    EXPECT_EQ(Row(host.columns, 1), "05|Reallocated Sector Count|03/14/2007|36|36|30|Failed");
    EXPECT_EQ(Row(host.columns, 2), "C9|Detected TA Count|03/14/2007|0|0|0|Failed");
    EXPECT_EQ(Row(host.columns, 3), "E5|Unknown|03/14/2007|91|90|80|Failed");
    EXPECT_EQ(beeps, 3);
    EXPECT_EQ(smart::smart.gbAttrFailed, 0) << "the poll, not the evaluation, sets the verdict";
    EXPECT_TRUE(alerts.empty());
}

TEST_F(Evaluation, TemperatureLimitAndItsPanel) {
    Detect({"M1"});
    Select(0);
    settings::settings.gnCriticaltemp[0] = 50;
    Evaluate({{194, 100, 100, 50}});
    EXPECT_EQ(smart::smart.bTempFailed, 0);

    // One degree more: flagged, but the panel needs the setting.
    Evaluate({{194, 100, 100, 51}});
    EXPECT_EQ(smart::smart.bTempFailed, 1);
    EXPECT_EQ(smart::smart.gnCurrTemp, 51);
    EXPECT_TRUE(alerts.empty());

    settings::settings.gbCriticalTempEnable[0] = 1;
    host.firstTime = true;
    Evaluate({{194, 100, 100, 51}});
    EXPECT_TRUE(alerts.empty()) << "no panel during start-up's first reload";

    host.firstTime = false;
    // The last over-limit entry wins; a model with '%' is not a format.
    std::snprintf(device::dev.gpSelDevInfo->szModelNum, 41, "%s", "HD %s%n 80G");
    Evaluate({{194, 100, 100, 60}, {231, 100, 100, 70}, {220, 100, 100, 99}});
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Zentrova");
    EXPECT_EQ(alerts[0].message, "Drive: HD %s%n 80G\nS/N: FW01\nThe Current Temperature value "
                                 "exeeds than Critical Temperature");
    EXPECT_EQ(alerts[0].defaultButton, "OK");
    EXPECT_EQ(smart::smart.gnCurrTemp, 70) << "220 is no temperature without option 1";

    // A drive not yet compared checks no temperature.
    smart::smart.gbFlag[0] = 1;
    Evaluate({{194, 100, 100, 90}});
    EXPECT_EQ(smart::smart.bTempFailed, 0);
    EXPECT_EQ(alerts.size(), 1u);
}
