#include "AppController.h"
#include "device/device.h"
#include "fakes/fake_registry.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace zentrova::device;
using namespace zentrova::testing;

namespace {

class Detection : public ::testing::Test {
  protected:
    void SetUp() override { ResetDeviceGlobalsForTest(); }
    void TearDown() override { ResetDeviceGlobalsForTest(); }

    FakeService Drive(const char* name, std::int64_t size, FakeDriveState* state,
                      const char* model = "HD-EXAMPLE 80G", const char* fw = "FW01") {
        FakeService s;
        s.bsdName = name;
        s.sizeBytes = size;
        s.model = model;
        s.firmware = fw;
        s.drive = state;
        return s;
    }
    FakeRegistry registry;
};

std::vector<xDEV_INFO*> Records() {
    std::vector<xDEV_INFO*> out;
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        out.push_back(r);
    return out;
}

} // namespace

TEST_F(Detection, QualifyingRulesIndexesAndLinks) {
    FakeDriveState a, b, c, d;
    c.enableStatus = 7;
    registry.services.push_back(Drive("sda", 250'059'350'016LL, &a));
    FakeService noSmart = Drive("sdb", 1LL << 30, nullptr);
    noSmart.smart = false;
    registry.services.push_back(noSmart);
    FakeService noName = Drive("x", 1LL << 30, &b);
    noName.bsdName.reset();
    registry.services.push_back(noName);
    FakeService onlyRevision = Drive("sdc", 1LL << 30, &c);
    onlyRevision.model.reset();
    registry.services.push_back(onlyRevision);
    FakeService noIdentity = Drive("sdd", 1LL << 30, &d);
    noIdentity.model.reset();
    noIdentity.firmware.reset();
    registry.services.push_back(noIdentity);
    FakeService noSize = Drive("sde", 0, &d);
    noSize.sizeBytes.reset();
    registry.services.push_back(noSize);

    SMARTDeviceDetection(registry);

    auto records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(dev.nDevCnt, 3);
    EXPECT_EQ(dev.gpCurrDevInfo, records.back());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i]->nDevIndex, i);
        EXPECT_EQ(records[i]->pPrev, i == 0 ? nullptr : records[i - 1]);
    }
    EXPECT_EQ(records[2]->pNext, nullptr);

    EXPECT_STREQ(records[0]->szDevFilePath, "/dev/sda");
    EXPECT_EQ(records[0]->nSizeGB, 232);
    EXPECT_EQ(records[0]->bSmartEnabled, 1);
    EXPECT_STREQ(records[0]->szModelNum, "HD-EXAMPLE 80G");

    EXPECT_STREQ(records[1]->szDevFilePath, "/dev/sdc");
    EXPECT_STREQ(records[1]->szModelNum, "");
    EXPECT_STREQ(records[1]->szFirmwareRev, "FW01");
    EXPECT_EQ(records[1]->bSmartEnabled, 0) << "a failed enable still lists the drive";

    EXPECT_STREQ(records[2]->szDevFilePath, "/dev/sde");
    EXPECT_EQ(records[2]->nSizeGB, 0);
    EXPECT_EQ(d.enableCalls, 1) << "the drive without identity strings got no command";
}

TEST_F(Detection, SizesTruncateToWholeGibibytes) {
    FakeDriveState s;
    const std::int64_t sizes[] = {1LL << 30, (1LL << 30) - 1, 3 * (1LL << 30) - 512,
                                  (1LL << 62) /* low 32 bits of 2^32 */};
    const std::int32_t expected[] = {1, 0, 2, 0};
    for (std::int64_t size : sizes)
        registry.services.push_back(Drive("sda", size, &s));
    SMARTDeviceDetection(registry);
    auto records = Records();
    ASSERT_EQ(records.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(records[i]->nSizeGB, expected[i]) << i;
}

TEST_F(Detection, FifthDriveIsNeverListedNorCommanded) {
    FakeDriveState states[6];
    for (int i = 0; i < 6; ++i)
        registry.services.push_back(
            Drive(("sd" + std::string(1, char('a' + i))).c_str(), 1LL << 30, &states[i]));
    SMARTDeviceDetection(registry);
    EXPECT_EQ(dev.nDevCnt, 4);
    EXPECT_EQ(Records().size(), 4u);
    EXPECT_EQ(states[4].enableCalls, 0);
    EXPECT_EQ(states[5].readDataCalls, 0);
}

TEST_F(Detection, EmptyRegistryAndControllerLookups) {
    // The controller loads its windows, which need an application object.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "device_tests";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    SMARTDeviceDetection(registry);
    AppController controller;
    EXPECT_EQ(dev.gpHeadDevInfo, nullptr);
    EXPECT_EQ(dev.nDevCnt, 0);
    EXPECT_EQ(controller.FindNoOfDevices(), 0);
    EXPECT_EQ(controller.GetCurrentDevice(0), nullptr);

    FakeDriveState a, b;
    registry.services = {Drive("sda", 1, &a), Drive("sdb", 1, &b)};
    SMARTDeviceDetection(registry);
    EXPECT_EQ(controller.FindNoOfDevices(), 2);
    EXPECT_EQ(controller.GetCurrentDevice(0)->nDevIndex, 0);
    EXPECT_EQ(controller.GetCurrentDevice(1)->nDevIndex, 1);
    EXPECT_EQ(controller.GetCurrentDevice(7)->nDevIndex, 1) << "past the end: the last record";
    EXPECT_EQ(controller.GetCurrentDevice(-1)->nDevIndex, 1);
}

TEST_F(Detection, LongNamesAreCutToTheRecordFields) {
    FakeDriveState a;
    FakeService s = Drive(std::string(300, 'n').c_str(), 1, &a,
                          "A MODEL NAME THAT IS FAR LONGER THAN FORTY CHARACTERS", "FIRMWARE-9");
    s.model = *s.model + "\xc3\xa9";
    registry.services.push_back(s);
    SMARTDeviceDetection(registry);
    ASSERT_NE(dev.gpHeadDevInfo, nullptr);
    EXPECT_EQ(std::strlen(dev.gpHeadDevInfo->szDevFilePath), 127u);
    EXPECT_STREQ(dev.gpHeadDevInfo->szModelNum, "A MODEL NAME THAT IS FAR LONGER THAN FOR");
    EXPECT_STREQ(dev.gpHeadDevInfo->szFirmwareRev, "FIRMWARE");
}

TEST(RunningOS, VersionMapsToCodeLetter) {
    struct Case {
        int status;
        std::uint32_t version;
        char expected;
    } cases[] = {{0, 0x1030, 'R'}, {0, 0x102F, 'Q'}, {0, 0x1020, 'Q'}, {0, 0x101F, 'P'},
                 {0, 0x1010, 'P'}, {0, 0x100F, 'S'}, {-5, 0x1039, 0}};
    for (const Case& c : cases) {
        ResetDeviceGlobalsForTest();
        FakeVersion version(c.status, c.version);
        FindCurrentRunningOS(version);
        EXPECT_EQ(dev.gbRunningOS, c.expected) << std::hex << c.version;
    }
    ResetDeviceGlobalsForTest();
    FindCurrentRunningOS();
    EXPECT_EQ(dev.gbRunningOS, 'R') << "this platform draws alternating rows";
}
