#include "device/device.h"
#include "fakes/fake_registry.h"

#include <gtest/gtest.h>

#include <cstdio>

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

namespace {

FakeService Disk(const char* name, std::optional<std::string> serial, FakeDriveState* state,
                 std::optional<std::string> model = "M") {
    return {.bsdName = name,
            .sizeBytes = kGiB,
            .model = model,
            .firmware = model,
            .drive = state,
            .serial = std::move(serial)};
}

// One listing after the kernel's events, and what the list then holds.
struct Step {
    std::vector<FakeService> listing;
    std::vector<std::string> removed; // whole disks the kernel removed
    std::string changes;              // "+name" arrived, "~name" back, "-name" removed
    std::string records;              // "<name><slot>", "R" when removed
};

} // namespace

// Identity, not the device name, decides; a slot once given is its drive's
// for the run; only a drive the kernel removed, or whose name now belongs to
// another drive, is marked removed; drives listed before get no command.
TEST(DriveList, FollowsTheKernelByIdentity) {
    FakeDriveState s[5];
    const auto A = Disk("sda", "SA", &s[0]), B = Disk("sdb", "SB", &s[1]),
               C = Disk("sdc", "SC", &s[2]), D = Disk("sdd", "SD", &s[3]),
               E = Disk("sde", "SE", &s[4]);
    const auto as = [](FakeService d, const char* name) { return d.bsdName = name, d; };
    FakeService nvme = Disk("nvme0", "SN", &s[2]);
    nvme.kind = zentrova::platform::DriveKind::Nvme;
    const FakeService twin0 = Disk("sda", {}, &s[0]), twin1 = Disk("sdb", {}, &s[1]);
    const struct {
        const char* name;
        std::vector<FakeService> start;
        std::vector<Step> steps;
        std::vector<int> enables; // SMART ENABLE commands per drive a, b, c, ...
        std::vector<std::string> leftOut{};
    } cases[] = {
        {"unplugged", {A, B}, {{{A}, {"sdb"}, "-sdb", "sda0 sdb1R"}}, {1, 1}},
        {"unanswered, unlisted or its serial unread without a removal: stays",
         {A, B},
         {{{A, Disk("sdb", {}, &s[1], std::nullopt)}, {}, "", "sda0 sdb1"},
          {{A}, {"sdc"}, "", "sda0 sdb1"},
          {{A, Disk("sdb", {}, &s[1])}, {}, "", "sda0 sdb1"}},
         {1, 1}},
        {"back under another name in its own slot",
         {A, B},
         {{{A}, {"sdb"}, "-sdb", "sda0 sdb1R"}, {{A, as(B, "sdc")}, {}, "~sdc", "sda0 sdc1"}},
         {1, 2}},
        {"out and in within one burst: probed again",
         {A, B},
         {{{A, B}, {"sdb"}, "~sdb", "sda0 sdb1"}},
         {1, 2}},
        {"replaced under the same name",
         {A, B},
         {{{A, as(C, "sdb")}, {"sdb"}, "+sdb -sdb", "sda0 sdb1R sdb2"}},
         {1, 1, 1}},
        {"replaced, the removal unheard",
         {A, B},
         {{{A, as(C, "sdb")}, {}, "+sdb -sdb", "sda0 sdb1R sdb2"}},
         {1, 1, 1}},
        {"a fifth drive never takes a removed drive's slot",
         {A, B, C, D},
         {{{A, B, C, D, E}, {}, "", "sda0 sdb1 sdc2 sdd3"},
          {{A, C, D, E}, {"sdb"}, "-sdb", "sda0 sdb1R sdc2 sdd3"},
          {{A, C, D, E}, {}, "", "sda0 sdb1R sdc2 sdd3"}},
         {1, 1, 1, 1, 0},
         {"sde: Zentrova watches only the first four drives."}},
        {"an NVMe namespace names its controller",
         {A, nvme},
         {{{A}, {"nvme0n1"}, "-nvme0", "sda0 nvme01R"}},
         {1, 0, 1}},
        {"twins without a serial stay two drives",
         {twin0, twin1},
         {{{twin0, twin1}, {}, "", "sda0 sdb1"}, {{twin1}, {"sda"}, "-sda", "sda0R sdb1"}},
         {1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDeviceGlobalsForTest();
        for (FakeDriveState& state : s)
            state = {};
        FakeRegistry registry;
        registry.services = c.start;
        SMARTDeviceDetection(registry);
        for (const Step& step : c.steps) {
            registry.services = step.listing;
            const DriveListChanges changes = UpdateDriveList(registry, step.removed);
            std::string told, records;
            for (const auto& [mark, list] :
                 {std::pair{"+", &changes.arrived}, std::pair{"~", &changes.returned},
                  std::pair{"-", &changes.departed}})
                for (const xDEV_INFO* r : *list)
                    told +=
                        (told.empty() ? mark : std::string(" ") + mark) + (r->szDevFilePath + 5);
            for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
                EXPECT_EQ(r->ppSmartInterface == nullptr, r->removed) << r->szDevFilePath;
                records += (records.empty() ? "" : " ") + std::string(r->szDevFilePath + 5) +
                           std::to_string(r->nDevIndex) + (r->removed ? "R" : "");
            }
            EXPECT_EQ(told, step.changes);
            EXPECT_EQ(records, step.records);
        }
        for (std::size_t i = 0; i < c.enables.size(); ++i)
            EXPECT_EQ(s[i].enableCalls, c.enables[i]) << "drive " << i;
        EXPECT_EQ(dev.leftOutDisks, c.leftOut);
    }
}

TEST(DriveList, KernelNamesOfARecord) {
    xDEV_INFO record;
    const struct {
        const char *path, *name;
        bool names;
    } rows[] = {{"/dev/sdb", "sdb", true},          {"/dev/sdb", "sdb1", false},
                {"/dev/nvme0", "nvme0n1", true},    {"/dev/nvme0", "nvme0n12", true},
                {"/dev/nvme1", "nvme10n1", false},  {"/dev/nvme0", "nvme0n", false},
                {"/dev/nvme0", "nvme0n1p1", false}, {"/dev/sdb", "sdbn1", false}};
    for (const auto& row : rows) {
        std::snprintf(record.szDevFilePath, sizeof record.szDevFilePath, "%s", row.path);
        EXPECT_EQ(NamesDrive(row.name, record), row.names) << row.path << " " << row.name;
    }
}
