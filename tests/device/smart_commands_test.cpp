#include "device/device.h"
#include "fakes/fake_registry.h"

#include <gtest/gtest.h>

using namespace zentrova::device;
using namespace zentrova::testing;

namespace {

std::uint32_t TemperatureOf(const char* model, const Page& data, int readStatus = 0) {
    FakeDriveState state;
    state.data = data;
    state.readDataStatus = readStatus;
    xDEV_INFO record;
    std::snprintf(record.szModelNum, sizeof record.szModelNum, "%s", model);
    record.ppSmartInterface = std::make_unique<FakeSmart>(&state);
    return GetHDDTemperature(&record);
}

} // namespace

TEST(Temperature, FirstQualifyingEntryOfTheThirtyInPageOrderWins) {
    EXPECT_EQ(TemperatureOf("X", DataPage({{1}, {231, 90, 90, 37}})), 37u);
    EXPECT_EQ(TemperatureOf("X", DataPage({{194, 100, 100, 41}, {231, 90, 90, 37}})), 41u);
    EXPECT_EQ(TemperatureOf("X", DataPage({{1}, {9, 99, 99, 12}, {5}})), 0u);
    // Attribute 194 with option 1 ("x10") is still read unscaled, and with
    // option 2 ("Unknown") still counts.
    EXPECT_EQ(TemperatureOf("SAMSUNG SV1204H", DataPage({{194, 100, 100, 250}})), 250u);
    EXPECT_EQ(TemperatureOf("Maxtor 4D080H4", DataPage({{194, 100, 100, 33}})), 33u);
    // No table row gives 220 option 1, so it is never a temperature here.
    EXPECT_EQ(TemperatureOf("X", DataPage({{220, 1, 1, 60}, {194, 1, 1, 44}})), 44u);
    EXPECT_TRUE(IsTemperatureAttribute(220, 1));
    EXPECT_TRUE(IsTemperatureAttribute(9, 2));

    Page page{};
    page[2 + 12 * 30] = 194; // would be entry 31
    page[2 + 12 * 30 + 5] = 55;
    EXPECT_EQ(TemperatureOf("X", page), 0u);
    EXPECT_EQ(TemperatureOf("X", DataPage({{194, 1, 1, 44}}), 5), 0u) << "failed read";
    EXPECT_EQ(GetHDDTemperature(nullptr), 0u);
}

TEST(SmartCommands, ReadBothPagesOfTheSelectedDrive) {
    ResetDeviceGlobalsForTest();
    std::uint8_t data[512], thresholds[512];
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 0) << "no selected drive";

    FakeDriveState state;
    state.data = DataPage({{5, 100, 100}});
    state.thresholds = ThresholdsPage({{5, 0, 0, 0, 36}});
    xDEV_INFO record;
    record.ppSmartInterface = std::make_unique<FakeSmart>(&state);
    dev.gpSelDevInfo = &record;

    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 1);
    EXPECT_EQ(data[2], 5);
    EXPECT_EQ(thresholds[3], 36);

    std::memset(thresholds, 0xEE, sizeof thresholds);
    state.readDataStatus = 1;
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 0);
    EXPECT_EQ(state.readThresholdsCalls, 1) << "a failed data read skips the thresholds";
    EXPECT_EQ(thresholds[3], 0xEE);

    state.readDataStatus = 0;
    state.readThresholdsStatus = 1;
    EXPECT_EQ(GetSMARTAttributeAndThreshold(data, thresholds), 0);

    EXPECT_EQ(EnableSMARTForTheDrive(record.ppSmartInterface.get()), 1);
    state.enableStatus = 0x2C;
    EXPECT_EQ(EnableSMARTForTheDrive(record.ppSmartInterface.get()), 0);
    EXPECT_EQ(EnableSMARTForTheDrive(nullptr), 0);
    dev.gpSelDevInfo = nullptr;
}
