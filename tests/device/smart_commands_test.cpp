#include "device/device.h"
#include "device/knowndrives.h"
#include "fakes/fake_registry.h"

#include <gtest/gtest.h>

using namespace zentrova::device;
using namespace zentrova::testing;

TEST(Temperature, FirstQualifyingEntryOfTheThirtyInPageOrderWins) {
    std::vector<EntrySpec> thirtyFirst(30, {1});
    thirtyFirst.push_back({194, 1, 1, 55});
    // 194 with option 1 ("x10") is still read unscaled, with option 2 still
    // counts; no table row gives 220 option 1, so it is never a temperature.
    const struct {
        const char* model;
        Page data;
        std::uint32_t temperature;
        int readStatus = 0;
    } cases[] = {
        {"X", DataPage({{1}, {231, 90, 90, 37}}), 37},
        {"X", DataPage({{194, 100, 100, 41}, {231, 90, 90, 37}}), 41},
        {"X", DataPage({{1}, {9, 99, 99, 12}, {5}}), 0},
        {"SAMSUNG SV1204H", DataPage({{194, 100, 100, 250}}), 250},
        {"Maxtor 4D080H4", DataPage({{194, 100, 100, 33}}), 33},
        {"X", DataPage({{220, 1, 1, 60}, {194, 1, 1, 44}}), 44},
        {"X", DataPage(thirtyFirst), 0},
        {"X", DataPage({{194, 1, 1, 44}}), 0, 5},
    };
    for (const auto& c : cases) {
        FakeDriveState state{.readDataStatus = c.readStatus, .data = c.data};
        xDEV_INFO record;
        std::snprintf(record.szModelNum, sizeof record.szModelNum, "%s", c.model);
        record.ppSmartInterface = std::make_unique<FakeSmart>(&state);
        EXPECT_EQ(GetHDDTemperature(&record), c.temperature) << &c - cases;
    }
    EXPECT_TRUE(IsTemperatureAttribute(220, 1));
    EXPECT_TRUE(IsTemperatureAttribute(9, 2));
    EXPECT_EQ(GetHDDTemperature(nullptr), 0u);
}

// Nothing selected, a failed data read (which skips the thresholds and leaves
// their page alone) and a failed thresholds read each fail the pair.
TEST(SmartCommands, ReadBothPagesOfTheSelectedDrive) {
    ResetDeviceGlobalsForTest();
    std::uint8_t data[512], thresholds[512];
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 0);
    FakeDriveState state{.data = DataPage({{5}}), .thresholds = ThresholdsPage({{5, 0, 0, 0, 36}})};
    xDEV_INFO record;
    record.ppSmartInterface = std::make_unique<FakeSmart>(&state);
    dev.gpSelDevInfo = &record;
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 1);
    EXPECT_EQ(data[2] + thresholds[3], 5 + 36);
    thresholds[3] = 0xEE;
    state.readDataStatus = 1;
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds) + thresholds[3], 0xEE);
    state.readDataStatus = 0;
    state.readThresholdsStatus = 1;
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 0);
    EXPECT_EQ(state.readThresholdsCalls, 2);

    EXPECT_EQ(EnableSMARTForTheDrive(nullptr), 0);
    dev.gpSelDevInfo = nullptr;
}

TEST(LookupDrive, FirstRowThatNamesTheAttributeDecides) {
    // Rows 6 and 7 name the first two Fujitsu models; row 6 names 9, 192 and
    // 198, not 194. The earlier Fujitsu rows do not name 194, so the Maxtor row
    // does. Patterns are plain case-sensitive substrings, never regular
    // expressions, and the firmware is ignored.
    EXPECT_EQ(lookupdrive("FUJITSU MHS2020AT", "", 192), 1);
    EXPECT_EQ(lookupdrive("FUJITSU MHS2020AT", "", 194), 0);
    EXPECT_EQ(lookupdrive("FUJITSU MHR2040AT", "", 200), 1);
    EXPECT_EQ(lookupdrive("FUJITSU MHR2040AT", "", 201), 0);
    EXPECT_EQ(lookupdrive("FUJITSU MHR2040AT", "", 198), 1);
    EXPECT_EQ(lookupdrive("HITACHI_DK23EA-20", "", 9), 1);
    EXPECT_EQ(lookupdrive("FUJITSU MH / Maxtor 2B0", "", 194), 2);
    EXPECT_EQ(lookupdrive("FUJITSU MH / Maxtor 2B0", "", 9), 3);
    EXPECT_EQ(lookupdrive("xx Maxtor 4R080J0", "", 9), 1);
    EXPECT_EQ(lookupdrive("maxtor 6y080l0", "", 9), 0);
    EXPECT_EQ(lookupdrive("SAMSUNG .*$ HD", "", 9), 4);
    EXPECT_EQ(lookupdrive("Maxtor 91000D8", "", 9), 0);
    EXPECT_EQ(lookupdrive(nullptr, nullptr, 9), 0);
    EXPECT_EQ(lookupdrive("SAMSUNG SV1204H", nullptr, 194), 1);
}
