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
            .firmware = model ? std::optional<std::string>("F") : std::nullopt,
            .drive = state,
            .serial = std::move(serial)};
}

// One listing after the kernel's events, and what the list then holds.
struct Step {
    std::vector<FakeService> listing;
    std::vector<std::string> removed; // whole disks the kernel removed
    std::string changes;              // "+path" arrived, "~path" back, "-path" removed
    std::vector<std::string> records; // "path|slot|R(emoved) or -|serial"
};

struct ListCase {
    const char* name;
    std::vector<FakeService> start;
    std::vector<Step> steps;
    std::vector<int> enables; // SMART ENABLE commands per drive a, b, c, ...
    std::vector<std::string> leftOut{};
};

} // namespace

// Identity, not the device name, decides; a slot once given is its drive's
// for the run; only a drive the kernel removed, or whose name now belongs to
// another drive, is marked removed; drives listed before get no command.
TEST(DriveList, FollowsTheKernelByIdentity) {
    FakeDriveState s[6];
    const auto A = Disk("sda", "SA", &s[0]);
    const auto B = Disk("sdb", "SB", &s[1]);
    const auto C = Disk("sdc", "SC", &s[2]);
    const auto D = Disk("sdd", "SD", &s[3]);
    const auto renamed = [](FakeService d, const char* name) { return d.bsdName = name, d; };
    const std::vector<std::string> ab = {"/dev/sda|0|-|SA", "/dev/sdb|1|-|SB"};
    const std::vector<std::string> bGone = {"/dev/sda|0|-|SA", "/dev/sdb|1|R|SB"};
    FakeService nvme = Disk("nvme0", "SN", &s[2]);
    nvme.kind = zentrova::platform::DriveKind::Nvme;
    const std::vector<ListCase> cases = {
        {"unplugged", {A, B}, {{{A}, {"sdb"}, "-/dev/sdb", bGone}}, {1, 1}},
        {"unanswered or unlisted without a removal stays",
         {A, B},
         {{{A, Disk("sdb", {}, &s[1], std::nullopt)}, {}, "", ab}, {{A}, {"sdc"}, "", ab}},
         {1, 1}},
        {"serial unread this time", {A, B}, {{{A, Disk("sdb", {}, &s[1])}, {}, "", ab}}, {1, 1}},
        {"back under another name in its own slot",
         {A, B},
         {{{A}, {"sdb"}, "-/dev/sdb", bGone},
          {{A, renamed(B, "sdc")}, {}, "~/dev/sdc", {"/dev/sda|0|-|SA", "/dev/sdc|1|-|SB"}}},
         {1, 2}},
        {"out and in within one burst", {A, B}, {{{A, B}, {"sdb"}, "~/dev/sdb", ab}}, {1, 2}},
        {"replaced under the same name",
         {A, B},
         {{{A, renamed(C, "sdb")},
           {"sdb"},
           "+/dev/sdb -/dev/sdb",
           {"/dev/sda|0|-|SA", "/dev/sdb|1|R|SB", "/dev/sdb|2|-|SC"}}},
         {1, 1, 1}},
        {"replaced, the removal unheard",
         {A, B},
         {{{A, renamed(C, "sdb")},
           {},
           "+/dev/sdb -/dev/sdb",
           {"/dev/sda|0|-|SA", "/dev/sdb|1|R|SB", "/dev/sdb|2|-|SC"}}},
         {1, 1, 1}},
        {"a fifth drive never takes a removed drive's slot",
         {A, B, C, D},
         {{{A, B, C, D, Disk("sde", "SE", &s[4])},
           {},
           "",
           {"/dev/sda|0|-|SA", "/dev/sdb|1|-|SB", "/dev/sdc|2|-|SC", "/dev/sdd|3|-|SD"}},
          {{A, C, D, Disk("sde", "SE", &s[4])},
           {"sdb"},
           "-/dev/sdb",
           {"/dev/sda|0|-|SA", "/dev/sdb|1|R|SB", "/dev/sdc|2|-|SC", "/dev/sdd|3|-|SD"}}},
         {1, 1, 1, 1, 0},
         {"sde: Zentrova watches only the first four drives."}},
        {"an NVMe namespace names its controller",
         {A, nvme},
         {{{A}, {"nvme0n1"}, "-/dev/nvme0", {"/dev/sda|0|-|SA", "/dev/nvme0|1|R|SN"}}},
         {1, 0, 1}},
        {"twins without a serial stay two drives",
         {Disk("sda", {}, &s[0]), Disk("sdb", {}, &s[1])},
         {{{Disk("sda", {}, &s[0]), Disk("sdb", {}, &s[1])},
           {},
           "",
           {"/dev/sda|0|-|", "/dev/sdb|1|-|"}},
          {{Disk("sdb", {}, &s[1])}, {"sda"}, "-/dev/sda", {"/dev/sda|0|R|", "/dev/sdb|1|-|"}}},
         {1, 1}},
    };
    for (const ListCase& c : cases) {
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
            std::string told;
            for (const auto& [mark, list] :
                 {std::pair{'+', &changes.arrived}, std::pair{'~', &changes.returned},
                  std::pair{'-', &changes.departed}})
                for (const xDEV_INFO* r : *list)
                    told += (told.empty() ? "" : " ") + std::string(1, mark) + r->szDevFilePath;
            EXPECT_EQ(told, step.changes);
            std::vector<std::string> records;
            for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
                EXPECT_EQ(r->ppSmartInterface == nullptr, r->removed) << r->szDevFilePath;
                records.push_back(std::string(r->szDevFilePath) + "|" +
                                  std::to_string(r->nDevIndex) + "|" + (r->removed ? "R" : "-") +
                                  "|" + r->driveSerial);
            }
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
        const char* path;
        const char* name;
        bool names;
    } rows[] = {{"/dev/sdb", "sdb", true},        {"/dev/sdb", "sdb1", false},
                {"/dev/sdb", "sd", false},        {"/dev/nvme0", "nvme0n1", true},
                {"/dev/nvme0", "nvme0n12", true}, {"/dev/nvme1", "nvme10n1", false},
                {"/dev/nvme0", "nvme0n", false},  {"/dev/nvme0", "nvme0n1p1", false},
                {"/dev/sdb", "sdbn1", false}};
    for (const auto& row : rows) {
        std::snprintf(record.szDevFilePath, sizeof record.szDevFilePath, "%s", row.path);
        EXPECT_EQ(NamesDrive(row.name, record), row.names) << row.path << " " << row.name;
    }
}
