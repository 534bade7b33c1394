// The NVMe road: the two fixed admin commands and their verdicts, the
// controllers in the disk list (plain and multipath shapes), the checks on
// every NVMe command on both roads, and a controller listed without its health.
#include "platform/linux/helper_client.h"
#include "platform/linux/linux_registry.h"
#include "platform/linux/nvme_admin.h"
#include "platform/sim/simulated_disk_access.h"

#include "fakes/sysfs_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>

using namespace zentrova::platform;

namespace {

// An ATA disk; a controller with two namespaces of its own, the kernel's
// first name on its second NSID; a multipath head whose subsystem lists two
// controllers and whose hidden path goes through the second; a head whose
// subsystem lists none.
std::shared_ptr<HelperDiskAccess> NvmeTree(zentrova::testing::TempTree& tree) {
    tree.Write("block/sda/device/type", "0");
    tree.NvmeController("nvme0", "ZT One", "1.0", "41500");
    tree.NvmeNamespace("nvme0n1", "nvme0", 1000, 2);
    tree.NvmeNamespace("nvme0n2", "nvme0", 7, 1);
    tree.NvmeController("nvme1", "ZT Two", "2.0");
    tree.NvmeController("nvme2", "ZT Three", "3.0");
    tree.NvmeNamespace("nvme1c2n1", "nvme2", 64);
    tree.NvmeMultipathHead("nvme1n1", "nvme-subsys1", {"nvme2", "nvme1"}, 64);
    tree.NvmeMultipathHead("nvme5n1", "nvme-subsys5", {}, 8);
    tree.Write("dev/nvme0", ""); // not the character device 244:0
    std::string error;
    auto helper = HelperDiskAccess::Start(
        {ZENTROVA_ATA_HELPER_PATH, {}, {"ZENTROVA_ATA_TEST_ROOT=" + tree.root().string()}}, &error);
    EXPECT_NE(helper, nullptr) << error;
    return helper;
}

DiskFacts Controller(const char* name, std::int64_t sectors, const char* model, const char* fw,
                     std::optional<int> celsius) {
    DiskFacts d{name, sectors * 512, true, std::nullopt, "nvme", DriveKind::Nvme, model, fw};
    d.sensorCelsius = celsius;
    return d;
}

// A controller a road may list but not read, for want of the privilege.
struct DeniedController final : DiskAccess {
    std::vector<DiskFacts> ListDisks(std::string*) override {
        return {Controller("nvme0", 1000, "ZT One", "1.0", 42)};
    }
    DiskAnswer Run(const std::string&, DiskCommand, ata::CdbForm) override {
        DiskAnswer answer;
        answer.detail = "open /dev/nvme0: Permission denied";
        answer.denied = answer.refused = true;
        return answer;
    }
};

// Pages that count up from their first byte: 1 for the health log, 2 for
// Identify Controller.
struct CountingPages final : AtaSmartInterface {
    int SMARTEnableDisableOperations(bool) override { return 0; }
    int SMARTReadData(std::uint8_t* page) override { return std::iota(page, page + 512, 1), 0; }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        return std::iota(page, page + 512, 2), 0;
    }
};

} // namespace

TEST(NvmeAdmin, Verdicts) {
    std::array<std::uint8_t, 4096> data{};
    std::iota(data.begin(), data.end(), 7);
    const std::tuple<int, int, ata::Outcome, bool, const char*> cases[] = {
        {0, 0, ata::Outcome::Ok, false, ""},
        {-1, EACCES, ata::Outcome::SystemError, true, "needs root or CAP_SYS_ADMIN)"},
        {-1, EPERM, ata::Outcome::SystemError, true, ""},
        {0x4002, 0, ata::Outcome::DeviceError, false,
         "NVMe status 4002h (status code type 0h, status code 02h: Invalid Field in Command)"},
    };
    for (const auto& [result, error, outcome, denied, detail] : cases) {
        const DiskAnswer a = nvme::JudgeAdminReply(result, error, data.data());
        EXPECT_EQ(std::tie(a.outcome, a.denied), std::tie(outcome, denied)) << result;
        EXPECT_NE(a.detail.find(detail), std::string::npos) << a.detail;
        // Only a success carries the page: the first 512 bytes of the data.
        EXPECT_EQ(std::equal(a.page.begin(), a.page.end(), data.begin()), a.ok()) << result;
    }
    // The open of a node fails on file access alone; each step names its own need.
    EXPECT_EQ(OpenErrnoText(EACCES, true),
              "Permission denied (opening it needs root or CAP_DAC_READ_SEARCH, and its health "
              "log then CAP_SYS_ADMIN)");
    EXPECT_EQ(OpenErrnoText(EPERM, false),
              "Operation not permitted (opening it needs root or CAP_DAC_READ_SEARCH, and the "
              "pass-through then CAP_SYS_RAWIO)");
    EXPECT_TRUE(nvme::IsControllerName("nvme12"));
    for (const char* name : {"nvme", "nvme0n1", "nvme0c0n1", "nvme0n1p1", "sda", "nvme0 "})
        EXPECT_FALSE(nvme::IsControllerName(name)) << name;
}

// One drive per controller where its first namespace stands, whichever
// shape, with the size of its lowest NSID whatever the kernel named it:
// of a multipath head's subsystem the first controller in order,
// the head's paths left out; a head whose subsystem names none stays a
// namespace. Both roads list alike, and refuse alike every NVMe command to
// what is no controller, and an ATA command to one.
TEST(NvmeRoads, ListControllersAndRefuseWhatIsNone) {
    zentrova::testing::TempTree tree;
    const auto helper = NvmeTree(tree);
    ASSERT_NE(helper, nullptr);
    const std::string dev = tree.root() / "dev";
    DirectDiskAccess direct(tree.root() / "block", dev);
    std::string error;
    const auto disks = direct.ListDisks(&error);
    ASSERT_EQ(disks.size(), 4u) << error;
    EXPECT_EQ(disks[1], Controller("nvme0", 7, "ZT One", "1.0", 42));
    EXPECT_EQ(disks[2], Controller("nvme1", 64, "ZT Two", "2.0", std::nullopt));
    EXPECT_EQ(ScreenDisk(disks[3]), "an NVMe namespace whose controller is not in sysfs");
    EXPECT_EQ(helper->ListDisks(&error), disks);

    const auto health = DiskCommand::NvmeReadHealthLog;
    const std::tuple<const char*, DiskCommand, std::string> cases[] = {
        {"nvme0n1", health, "not an NVMe controller name: \"nvme0n1\""},
        {"sda", health, "not an NVMe controller name"},
        {"nvme9", health, "no NVMe controller nvme9 in " + (tree.root() / "class/nvme").string()},
        {"nvme0", health, dev + "/nvme0 is not the character device 244:0"},
        {"nvme0", DiskCommand::IdentifyDevice, "nvme0 is an NVMe controller, which takes no ATA"},
    };
    for (const auto& [name, command, detail] : cases) {
        const DiskAnswer a = direct.Run(name, command, ata::CdbForm::Sixteen);
        EXPECT_TRUE(a.refused && a.detail.starts_with(detail)) << a.detail;
        EXPECT_EQ(helper->Run(name, command, ata::CdbForm::Sixteen).detail, a.detail) << name;
    }
}

// Without a helper, a controller is still listed from sysfs, with its
// temperature, and its line says how to read its health.
TEST(NvmeRegistry, AControllerWithoutItsHealthIsListedAndExplained) {
    LinuxRegistry registry(
        std::make_shared<DeniedController>(),
        [](HelperTrouble* trouble) -> std::shared_ptr<DiskAccess> {
            *trouble = ExplainUnrunnableHelper("/x/zentrova-ata", ENOENT, false);
            return nullptr;
        },
        "/x/zentrova-ata", nullptr);
    auto services = registry.BlockStorageServices();
    ASSERT_EQ(services.size(), 1u);
    const BlockStorageService& s = services[0];
    EXPECT_TRUE(s.kind == DriveKind::Nvme && s.bsdName == "nvme0" && s.sizeBytes == 512000 &&
                s.deviceModel == "ZT One" && s.deviceRevision == "1.0" && s.sensorCelsius == 42);
    std::array<std::uint8_t, kSmartPageSize> page{};
    EXPECT_NE(s.smartInterface->SMARTReadData(page.data()), 0);
    EXPECT_EQ(registry.LeftOutDisks(),
              std::vector<std::string>{"nvme0: reading its health needs the Zentrova drive "
                                       "helper, which is not installed (/x/zentrova-ata); "
                                       "install it with: scripts/install.sh"});
}

// A simulated controller's health log in the data page's place and Identify
// Controller in the thresholds', the same bytes as the helper's answers
// carry them; an ATA command to it is refused, as on the real road.
TEST(NvmeRegistry, PagesInTheirPlacesAndWholeThroughTheProtocol) {
    std::vector<BlockStorageService> drives(1);
    drives[0].kind = DriveKind::Nvme;
    drives[0].bsdName = "nvme0";
    drives[0].smartInterface = std::make_unique<CountingPages>();
    auto direct = std::make_shared<SimulatedDiskAccess>(std::move(drives));
    auto services = LinuxRegistry(direct, nullptr, "", nullptr).BlockStorageServices();
    ASSERT_EQ(services.size(), 1u);
    std::array<std::uint8_t, kSmartPageSize> pages[2]{};
    ASSERT_EQ(services[0].smartInterface->SMARTReadData(pages[0].data()) |
                  services[0].smartInterface->SMARTReadDataThresholds(pages[1].data()),
              0);
    EXPECT_EQ(pages[0][0] * 10 + pages[1][0], 12);
    for (const DiskCommand command :
         {DiskCommand::NvmeReadHealthLog, DiskCommand::NvmeIdentifyController}) {
        const helper::Bytes frame =
            helper::EncodeCommandAnswer(direct->Run("nvme0", command, {}), command);
        DiskAnswer decoded;
        ASSERT_TRUE(helper::DecodeCommandAnswer(
            frame[3], helper::Bytes(frame.begin() + helper::kHeaderSize, frame.end()), command,
            &decoded));
        EXPECT_EQ(decoded.page, pages[command == DiskCommand::NvmeIdentifyController]);
    }
    EXPECT_TRUE(direct->Run("nvme0", DiskCommand::SmartReadData, {}).refused);
}
