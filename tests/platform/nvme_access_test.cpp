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
#include <cstring>
#include <numeric>

using namespace zentrova::platform;

namespace {

std::shared_ptr<HelperDiskAccess> StartTreeHelper(const std::string& root) {
    std::string error;
    auto helper = HelperDiskAccess::Start(
        {ZENTROVA_ATA_HELPER_PATH, {}, {"ZENTROVA_ATA_TEST_ROOT=" + root}}, &error);
    EXPECT_NE(helper, nullptr) << error;
    return helper;
}

// Two controllers: one with two namespaces of its own, one reached through a
// multipath head, whose subsystem also lists a second controller and whose
// hidden path goes through that one; an ATA disk before them, and a
// multipath head whose subsystem lists no controller after them.
void NvmeTree(zentrova::testing::TempTree& tree) {
    tree.Write("block/sda/device/type", "0");
    tree.NvmeController("nvme0", "ZT NVMe One", "1.0", "41500");
    tree.NvmeNamespace("nvme0n1", "nvme0", 1000);
    tree.NvmeNamespace("nvme0n2", "nvme0", 7);
    tree.NvmeController("nvme1", "ZT NVMe Two", "2.0");
    tree.NvmeController("nvme2", "ZT NVMe Three", "3.0");
    tree.NvmeNamespace("nvme1c2n1", "nvme2", 64);
    tree.NvmeMultipathHead("nvme1n1", "nvme-subsys1", {"nvme2", "nvme1"}, 64);
    tree.NvmeMultipathHead("nvme5n1", "nvme-subsys5", {}, 8);
}

DiskFacts Controller(const std::string& name, std::int64_t sectors, const std::string& model,
                     const std::string& firmware, std::optional<int> celsius) {
    return DiskFacts{.name = name,
                     .sizeBytes = sectors * 512,
                     .hasDevice = true,
                     .scsiType = std::nullopt,
                     .parentSubsystem = "nvme",
                     .kind = DriveKind::Nvme,
                     .model = model,
                     .firmware = firmware,
                     .sensorCelsius = celsius};
}

// A controller the roads may list but not read: the direct road for want of
// the privilege, or a helper without its capabilities.
struct DeniedController final : DiskAccess {
    std::vector<DiskFacts> ListDisks(std::string*) override {
        return {Controller("nvme0", 1000, "ZT NVMe One", "1.0", 42)};
    }
    DiskAnswer Run(const std::string&, DiskCommand, ata::CdbForm) override {
        DiskAnswer answer;
        answer.detail = "open /dev/nvme0: Permission denied";
        answer.denied = answer.refused = true;
        return answer;
    }
};

// A simulated controller whose two pages count up from their first byte.
struct CountingPages final : AtaSmartInterface {
    int SMARTEnableDisableOperations(bool) override { return 0; }
    int SMARTReadData(std::uint8_t* page) override { return Fill(page, 1); }
    int SMARTReadDataThresholds(std::uint8_t* page) override { return Fill(page, 2); }
    static int Fill(std::uint8_t* page, std::uint8_t first) {
        std::iota(page, page + kSmartPageSize, first);
        return 0;
    }
};

std::vector<BlockStorageService> SimulatedController() {
    std::vector<BlockStorageService> drives(1);
    drives[0].kind = DriveKind::Nvme;
    drives[0].bsdName = "nvme0";
    drives[0].sizeBytes = 512000;
    drives[0].deviceModel = "ZT NVMe One";
    drives[0].deviceRevision = "1.0";
    drives[0].sensorCelsius = 42;
    drives[0].smartInterface = std::make_unique<CountingPages>();
    return drives;
}

} // namespace

TEST(NvmeAdmin, EachCodeIsOneFixedCommand) {
    std::uint8_t data[1];
    const struct {
        DiskCommand command;
        std::uint8_t opcode;
        std::uint32_t nsid, cdw10, length;
    } cases[] = {
        {DiskCommand::NvmeIdentifyController, 0x06, 0, 0x01, 4096},
        {DiskCommand::NvmeReadHealthLog, 0x02, 0xffffffff, 0x007f0002, 512},
    };
    for (const auto& c : cases) {
        nvme_admin_cmd cmd = nvme::BuildAdminCommand(c.command, data);
        EXPECT_EQ(std::make_tuple(cmd.opcode, cmd.nsid, cmd.cdw10, cmd.data_len, cmd.timeout_ms),
                  std::make_tuple(c.opcode, c.nsid, c.cdw10, c.length, 30000u));
        EXPECT_EQ(cmd.addr, reinterpret_cast<std::uintptr_t>(data));
        // Nothing else is set: no flags, no metadata, no other dword.
        cmd.opcode = 0, cmd.nsid = cmd.cdw10 = cmd.data_len = cmd.timeout_ms = 0, cmd.addr = 0;
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&cmd);
        EXPECT_TRUE(std::all_of(raw, raw + sizeof cmd, [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(NvmeAdmin, Verdicts) {
    std::array<std::uint8_t, 4096> data{};
    std::iota(data.begin(), data.end(), 7);
    const struct {
        int result, error;
        ata::Outcome outcome;
        bool denied;
        const char* detail;
    } cases[] = {
        {0, 0, ata::Outcome::Ok, false, ""},
        {-1, EACCES, ata::Outcome::SystemError, true, "(needs root or CAP_SYS_ADMIN)"},
        {-1, EPERM, ata::Outcome::SystemError, true, "CAP_SYS_ADMIN"},
        {-1, ENODEV, ata::Outcome::SystemError, false, "No such device"},
        {0x4002, 0, ata::Outcome::DeviceError, false,
         "NVMe status 4002h (status code type 0h, status code 02h: Invalid Field in Command)"},
        {0x109, 0, ata::Outcome::DeviceError, false, "type 1h, status code 09h: Invalid Log Page"},
        {0x2ff, 0, ata::Outcome::DeviceError, false, "type 2h, status code FFh)"},
    };
    for (const auto& c : cases) {
        const DiskAnswer a = nvme::JudgeAdminReply(c.result, c.error, data.data());
        EXPECT_EQ(std::tie(a.outcome, a.denied), std::tie(c.outcome, c.denied)) << c.result;
        EXPECT_NE(a.detail.find(c.detail), std::string::npos) << a.detail;
        // Only a success carries the page: the first 512 bytes of the data.
        EXPECT_EQ(std::equal(a.page.begin(), a.page.end(), data.begin()), a.ok()) << c.result;
    }
}

TEST(NvmeAdmin, ControllerNames) {
    for (const char* name : {"nvme0", "nvme12", "nvme999999"})
        EXPECT_TRUE(nvme::IsControllerName(name)) << name;
    for (const char* name : {"nvme", "nvme0n1", "nvme0c0n1", "nvme0n1p1", "sda", "../nvme0",
                             "nvme0 ", "nvmeX", "xnvme0", "nvme1234567", "NVME0"})
        EXPECT_FALSE(nvme::IsControllerName(name)) << name;
}

// One drive per controller where its first namespace stands, whichever
// shape: the multipath head's subsystem names its controllers, the first
// in order is taken, and the head's paths are the same namespace again; a
// head whose subsystem names none stays a namespace. Both roads list
// alike, fields and all.
TEST(NvmeListing, ControllersInPlaceOfTheirNamespaces) {
    zentrova::testing::TempTree tree;
    NvmeTree(tree);
    std::string error;
    const auto direct =
        DirectDiskAccess(tree.root() / "block", tree.root() / "dev").ListDisks(&error);
    ASSERT_EQ(direct.size(), 4u) << error;
    EXPECT_EQ(direct[0].name, "sda");
    EXPECT_EQ(direct[1], Controller("nvme0", 1000, "ZT NVMe One", "1.0", 42));
    EXPECT_EQ(direct[2], Controller("nvme1", 64, "ZT NVMe Two", "2.0", std::nullopt));
    EXPECT_EQ(direct[3].name + (direct[3].kind == DriveKind::Ata ? " namespace" : ""),
              "nvme5n1 namespace"); // no controller: left a namespace
    EXPECT_EQ(ScreenDisk(direct[3]), "an NVMe namespace whose controller is not in sysfs");
    EXPECT_EQ(ScreenDisk(direct[1]), std::nullopt);
    const auto helper = StartTreeHelper(tree.root());
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(helper->ListDisks(&error), direct);
}

// Every NVMe command names a controller, checked afresh on both roads; a
// controller takes no ATA command.
TEST(NvmeChecks, BothRoadsRefuseWhatIsNoController) {
    zentrova::testing::TempTree tree;
    NvmeTree(tree);
    tree.Write("dev/nvme0", ""); // not the character device 244:0
    const std::string block = tree.root() / "block", dev = tree.root() / "dev";
    const auto health = DiskCommand::NvmeReadHealthLog;
    const std::tuple<const char*, DiskCommand, std::string> cases[] = {
        {"nvme0n1", health, "not an NVMe controller name: \"nvme0n1\""},
        {"nvme1c2n1", DiskCommand::NvmeIdentifyController, "not an NVMe controller name"},
        {"nvme0n1p1", health, "not an NVMe controller name"},
        {"sda", health, "not an NVMe controller name: \"sda\""},
        {"nvme9", health, "no NVMe controller nvme9 in " + (tree.root() / "class/nvme").string()},
        {"nvme0", health, dev + "/nvme0 is not the character device 244:0"},
        {"nvme1", health, "open " + dev + "/nvme1: No such file or directory"},
        {"nvme0", DiskCommand::IdentifyDevice, "nvme0 is an NVMe controller, which takes no ATA"},
        {"nvme0n1", DiskCommand::SmartReadData, "an NVMe namespace"},
    };
    DirectDiskAccess direct(block, dev);
    const auto helper = StartTreeHelper(tree.root());
    ASSERT_NE(helper, nullptr);
    for (const auto& [name, command, detail] : cases) {
        const DiskAnswer a = direct.Run(name, command, ata::CdbForm::Sixteen);
        EXPECT_TRUE(a.refused && !a.ok()) << name;
        EXPECT_NE(a.detail.find(detail), std::string::npos) << a.detail;
        EXPECT_EQ(helper->Run(name, command, ata::CdbForm::Sixteen).detail, a.detail) << name;
    }
}

// Without a helper that can read it, a controller is still listed from
// sysfs, with its temperature, and its line says how to read its health.
TEST(NvmeRegistry, AControllerWithoutItsHealthIsListedAndExplained) {
    const std::string path = "/x/zentrova-ata";
    const std::pair<bool, std::string> cases[] = {
        {false, "nvme0: reading its health needs the Zentrova drive helper, which is not "
                "installed (/x/zentrova-ata); install it with: scripts/install.sh"},
        {true, "nvme0: the drive helper /x/zentrova-ata lacks its capabilities; give them with: "
               "sudo setcap cap_sys_rawio,cap_dac_read_search,cap_sys_admin+ep /x/zentrova-ata"},
    };
    for (const auto& [helperRuns, line] : cases) {
        std::ostringstream debug;
        LinuxRegistry registry(
            std::make_shared<DeniedController>(),
            [&](HelperTrouble* trouble) -> std::shared_ptr<DiskAccess> {
                *trouble = ExplainUnrunnableHelper(path, ENOENT, false);
                return helperRuns ? std::make_shared<DeniedController>() : nullptr;
            },
            path, &debug);
        auto services = registry.BlockStorageServices();
        ASSERT_EQ(services.size(), 1u);
        const BlockStorageService& s = services[0];
        EXPECT_EQ(std::tie(s.kind, s.bsdName, s.sizeBytes, s.deviceModel, s.deviceRevision,
                           s.sensorCelsius),
                  std::make_tuple(DriveKind::Nvme, std::optional<std::string>("nvme0"),
                                  std::optional<std::int64_t>(512000),
                                  std::optional<std::string>("ZT NVMe One"),
                                  std::optional<std::string>("1.0"), std::optional<int>(42)));
        std::array<std::uint8_t, kSmartPageSize> page{};
        EXPECT_NE(s.smartInterface->SMARTReadData(page.data()), 0);
        EXPECT_EQ(registry.LeftOutDisks(), std::vector<std::string>{line});
        EXPECT_NE(debug.str().find("nvme0 listed: NVMe controller \"ZT NVMe One\" firmware "
                                   "\"1.0\", 512000 bytes, sensor 42 C; health log: open"),
                  std::string::npos)
            << debug.str();
    }
}

// A simulated controller read directly, its health log in the data page's
// place and Identify Controller in the thresholds', and both pages as the
// helper's answers carry them: the same bytes.
TEST(NvmeRegistry, ThePagesCrossTheHelperProtocolWhole) {
    auto direct = std::make_shared<SimulatedDiskAccess>(SimulatedController());
    LinuxRegistry registry(direct, nullptr, "", nullptr);
    auto services = registry.BlockStorageServices();
    ASSERT_EQ(services.size(), 1u);
    std::array<std::uint8_t, kSmartPageSize> health{}, identify{};
    AtaSmartInterface& channel = *services[0].smartInterface;
    EXPECT_EQ(channel.SMARTEnableDisableOperations(false), 0);
    ASSERT_EQ(
        channel.SMARTReadData(health.data()) | channel.SMARTReadDataThresholds(identify.data()), 0);
    EXPECT_EQ(health[0] * 10 + identify[0], 12);

    for (const DiskCommand command :
         {DiskCommand::NvmeReadHealthLog, DiskCommand::NvmeIdentifyController}) {
        const DiskAnswer sent = direct->Run("nvme0", command, ata::CdbForm::Sixteen);
        DiskAnswer decoded;
        const helper::Bytes frame = helper::EncodeCommandAnswer(sent, command);
        ASSERT_TRUE(helper::DecodeCommandAnswer(
            frame[3], helper::Bytes(frame.begin() + helper::kHeaderSize, frame.end()), command,
            &decoded));
        EXPECT_EQ(decoded.page, command == DiskCommand::NvmeReadHealthLog ? health : identify);
    }
    // An ATA command to the controller is refused, as on the real road.
    EXPECT_TRUE(direct->Run("nvme0", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).refused);
}
