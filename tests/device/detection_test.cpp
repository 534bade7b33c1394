#include "device/device.h"
#include "fakes/fake_registry.h"

#include <gtest/gtest.h>

using namespace zentrova::device;
using namespace zentrova::testing;

namespace {

struct Detection : ::testing::Test {
    void SetUp() override { ResetDeviceGlobalsForTest(); }
    void TearDown() override { ResetDeviceGlobalsForTest(); }
    // The records as "path|model|firmware|size|smart", checking their links.
    std::vector<std::string> Detect() {
        SMARTDeviceDetection(registry);
        std::vector<std::string> out;
        for (xDEV_INFO *r = dev.gpHeadDevInfo, *prev = nullptr; r != nullptr;
             prev = r, r = r->pNext) {
            EXPECT_EQ(r->pPrev, prev);
            EXPECT_EQ(r->nDevIndex, static_cast<int>(out.size()));
            EXPECT_EQ(r->pNext == nullptr, dev.gpCurrDevInfo == r);
            out.push_back(std::string(r->szDevFilePath) + "|" + r->szModelNum + "|" +
                          r->szFirmwareRev + "|" + std::to_string(r->nSizeGB) + "|" +
                          std::to_string(r->bSmartEnabled));
        }
        EXPECT_EQ(dev.nDevCnt, static_cast<int>(out.size()));
        return out;
    }
    FakeRegistry registry;
    FakeDriveState a, b, c;
};

constexpr std::int64_t kGiB = 1LL << 30;

} // namespace

// Left out: no SMART interface, no name, neither model nor firmware, past the
// fourth drive. A failed enable still lists the drive; sizes truncate to whole
// GiB (2^62 bytes are 2^32 GiB, of which the record keeps the low 32 bits), a
// missing one is zero; long names are cut to the record's fields, and what is
// not printable ASCII becomes '?'.
TEST_F(Detection, QualifyingRules) {
    c.enableStatus = 7;
    registry.services = {
        {.bsdName = "sda", .sizeBytes = kGiB, .model = "M", .firmware = "F", .drive = &a},
        {.smart = false, .bsdName = "sdb", .sizeBytes = kGiB, .model = "M", .firmware = "F"},
        {.sizeBytes = kGiB, .model = "M", .firmware = "F", .drive = &b},
        {.bsdName = "sdc", .sizeBytes = 3 * kGiB - 512, .firmware = "F", .drive = &c},
        {.bsdName = "sdd", .sizeBytes = kGiB, .drive = &b},
        {.bsdName = "sde", .model = "M", .drive = &a},
        {.bsdName = std::string(300, 'n'),
         .sizeBytes = 1LL << 62,
         .model = "A MODEL NAME THAT IS \xc3\xa9 LONGER THAN FORTY CHARACTERS",
         .firmware = "FIRMWARE-9",
         .drive = &a},
        {.bsdName = "sdf", .model = "M", .drive = &b},
    };
    EXPECT_EQ(Detect(), (std::vector<std::string>{
                            "/dev/sda|M|F|1|1", "/dev/sdc||F|2|0", "/dev/sde|M||0|1",
                            "/dev/" + std::string(122, 'n') +
                                "|A MODEL NAME THAT IS ?? LONGER THAN FORT|FIRMWARE|0|1"}));
    EXPECT_EQ(b.enableCalls, 0) << "drives left out get no command";
    EXPECT_EQ(dev.leftOutDisks,
              std::vector<std::string>{"sdf: Zentrova watches only the first four drives."});
}
