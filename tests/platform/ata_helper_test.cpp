// The Linux road to the disks: the registry's screening, the drive helper's
// protocol and process, and the choice of road with what it tells the user.
#include "platform/linux/helper_client.h"
#include "platform/linux/linux_registry.h"
#include "platform/sim/simulated_disk_access.h"

#include "fakes/sysfs_tree.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <linux/capability.h>
#include <sstream>

using namespace zentrova::platform;
using helper::Bytes;
using helper::ErrorCode;

namespace {

// The answers of one whole conversation with the request loop: their kinds,
// an error as minus its code.
std::vector<int> Converse(const Bytes& input) {
    SimulatedDiskAccess disks(ZENTROVA_DEMO_DRIVES);
    std::istringstream in(std::string(input.begin(), input.end()));
    Bytes out;
    helper::Serve(
        [&](std::uint8_t* to, std::size_t n) {
            return !!in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(n));
        },
        [&](const std::uint8_t* bytes, std::size_t n) {
            out.insert(out.end(), bytes, bytes + n);
            return true;
        },
        disks);
    std::vector<int> answers;
    for (std::size_t at = 0; at + helper::kHeaderSize <= out.size();) {
        const helper::Header header = helper::ParseHeader(out.data() + at).value();
        at += helper::kHeaderSize;
        answers.push_back(header.kind == helper::kErrorAnswer ? -out[at] : header.kind);
        at += header.length;
    }
    return answers;
}

// The demo drives behind a road that refuses the 16-byte command form (as
// some USB bridges do), or that may not open a disk at all.
struct DemoDisks final : DiskAccess {
    explicit DemoDisks(bool denied) : denied_(denied) {}
    std::vector<DiskFacts> ListDisks(std::string* error) override { return sim_.ListDisks(error); }
    DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) override {
        if (!denied_ && form == ata::CdbForm::Twelve)
            return sim_.Run(name, command, form);
        DiskAnswer answer;
        answer.outcome = denied_ ? ata::Outcome::SystemError : ata::Outcome::Rejected;
        answer.detail = "open /dev/" + name + ": Permission denied";
        answer.denied = answer.refused = denied_;
        return answer;
    }
    SimulatedDiskAccess sim_{ZENTROVA_DEMO_DRIVES};
    bool denied_;
};

std::uint64_t StatusField(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field + ":"))
            return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    return ~0ull;
}

// The helper, reading the demo drives, or the folders /sys/block and /dev of
// a scratch tree when given its root.
std::shared_ptr<HelperDiskAccess> StartHelper(const std::string& root = {}) {
    const char* name = root.empty() ? "ZENTROVA_SIMULATED_DRIVES" : "ZENTROVA_ATA_TEST_ROOT";
    ::setenv(name, root.empty() ? ZENTROVA_DEMO_DRIVES : root.c_str(), 1);
    std::string error;
    auto helper = HelperDiskAccess::Start(ZENTROVA_ATA_HELPER_PATH, &error);
    ::unsetenv(name);
    EXPECT_NE(helper, nullptr) << error;
    return helper;
}

} // namespace

// Only an untrusted header ends the talk; every other bad request gets its
// error and the next request its answer.
TEST(AtaHelperProtocol, BadRequestsGetAnError) {
    using enum ErrorCode;
    const Bytes list = helper::EncodeListRequest();
    const auto then = [&](Bytes first) {
        first.insert(first.end(), list.begin(), list.end());
        return first;
    };
    const auto e = [](ErrorCode code) { return -static_cast<int>(code); };
    const int answer = helper::kListAnswer;
    const Bytes read =
        helper::EncodeCommandRequest("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen);
    const std::pair<Bytes, std::vector<int>> cases[] = {
        {then(helper::Frame(0x7f, {})), {e(UnknownKind), answer}},
        {then(helper::Frame(1, {0})), {e(Malformed), answer}},
        {then(helper::Frame(2, {9, 16, 3, 's', 'd', 'a'})), {e(Malformed), answer}},
        {then(helper::Frame(2, {3, 13, 3, 's', 'd', 'a'})), {e(Malformed), answer}},
        {then(helper::Frame(2, {3, 16, 4, 's', 'd', 'a'})), {e(Malformed), answer}},
        {then(helper::Frame(2, {4, 12, 3, 's', 'd', 'a'})), {helper::kCommandAnswer, answer}},
        {then({'Z', 'A', 2, 1, 0, 0, 0, 0}), {e(BadHeader)}},
        {then({'X', 'A', 1, 1, 0, 0, 0, 0}), {e(BadHeader)}},
        {then(helper::Frame(1, Bytes(helper::kMaxRequestPayload + 1))), {e(TooLong)}},
        {Bytes(list.begin(), list.begin() + 5), {e(Truncated)}},
        {Bytes(read.begin(), read.end() - 1), {e(Truncated)}},
        {{}, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Converse(cases[i].first), cases[i].second) << i;
}

// The monitor reading the demo drives itself, in the 12-byte form once the
// 16-byte one is refused, and reading them through the helper because it may
// not: the same drives, the same pages, poll by poll.
TEST(AtaHelperProcess, BothRoadsListAndReadAlike) {
    int started = 0;
    const auto start = [&](std::string*) -> std::shared_ptr<DiskAccess> {
        ++started;
        return StartHelper();
    };
    LinuxRegistry direct(std::make_shared<DemoDisks>(false), start, "", nullptr);
    LinuxRegistry throughHelper(std::make_shared<DemoDisks>(true), start, ZENTROVA_ATA_HELPER_PATH,
                                nullptr);
    auto a = direct.BlockStorageServices();
    auto b = throughHelper.BlockStorageServices();
    EXPECT_EQ(started, 1); // only the road that could not read directly
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    const auto poll = [](BlockStorageService& s) {
        std::array<std::uint8_t, 1024> pages{};
        const int status = s.smartInterface->SMARTReadData(pages.data()) * 10 +
                           s.smartInterface->SMARTReadDataThresholds(pages.data() + 512);
        return std::pair(status, pages);
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(std::tie(a[i].bsdName, a[i].sizeBytes, a[i].deviceModel, a[i].deviceRevision),
                  std::tie(b[i].bsdName, b[i].sizeBytes, b[i].deviceModel, b[i].deviceRevision));
        for (int n = 0; n < 7; ++n)
            EXPECT_EQ(poll(a[i]), poll(b[i]));
        EXPECT_EQ(a[i].smartInterface->SMARTEnableDisableOperations(true),
                  b[i].smartInterface->SMARTEnableDisableOperations(true));
        EXPECT_NE(b[i].smartInterface->SMARTEnableDisableOperations(false), 0);
    }
}

TEST(AtaHelperProcess, KeepsOnlyItsTwoCapabilitiesAndEndsWithTheMonitor) {
    auto helper = StartHelper();
    ASSERT_NE(helper, nullptr);
    std::string error;
    ASSERT_EQ(helper->ListDisks(&error).size(), 3u); // past the dropping
    const pid_t pid = helper->Pid();
    const std::uint64_t kept = (1ull << CAP_SYS_RAWIO) | (1ull << CAP_DAC_READ_SEARCH);
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_EQ(StatusField(pid, set) & ~kept, 0u) << set;
    EXPECT_TRUE(::geteuid() != 0 || StatusField(pid, "CapBnd") == kept);
    // No new privileges; a system-call filter.
    EXPECT_EQ(std::pair(StatusField(pid, "NoNewPrivs"), StatusField(pid, "Seccomp")),
              (std::pair<std::uint64_t, std::uint64_t>{1, 2}));
    helper.reset(); // closes its input and waits for it
    EXPECT_NE(::kill(pid, 0), 0);

    // A helper that dies under the monitor fails the command, nothing more.
    helper = StartHelper();
    ASSERT_EQ(::kill(helper->Pid(), SIGKILL), 0);
    for (int i = 0; i < 2; ++i)
        EXPECT_FALSE(helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).ok());
}

// Without the privilege and without a working helper, nothing is listed and
// every disk says what would make it readable.
TEST(LinuxRegistryRoads, ExplainsAMissingOrPowerlessHelper) {
    const std::pair<bool, std::string> cases[] = {
        {false, "sda: reading disks needs the Zentrova drive helper, which is not installed "
                "(/x/zentrova-ata); install it with: scripts/install.sh"},
        {true, "sda: the drive helper /x/zentrova-ata lacks its capabilities; give them with: "
               "sudo setcap cap_sys_rawio,cap_dac_read_search+ep /x/zentrova-ata"},
    };
    for (const auto& [helperStarts, line] : cases) {
        LinuxRegistry registry(
            std::make_shared<DemoDisks>(true),
            [&](std::string* whyNot) -> std::shared_ptr<DiskAccess> {
                *whyNot = "is not installed (/x/zentrova-ata)";
                return helperStarts ? std::make_shared<DemoDisks>(true) : nullptr;
            },
            "/x/zentrova-ata", nullptr);
        EXPECT_TRUE(registry.BlockStorageServices().empty());
        ASSERT_EQ(registry.LeftOutDisks().size(), 3u);
        EXPECT_EQ(registry.LeftOutDisks()[0], line);
    }
}

// Every kind of block device, read directly and through the helper: sorted,
// screened and explained alike, nothing unproven listed; and past its
// system-call filter the helper, whatever name it is sent, opens nothing but a
// whole hardware disk of the folder.
TEST(LinuxRegistryTree, BothRoadsScreenDisksAndExplainEachOne) {
    zentrova::testing::TempTree tree;
    tree.Dir("block/loop0");                  // virtual: no device link
    tree.Write("block/sr0/device/type", "5"); // optical drive: never gets a pass-through
    tree.Write("block/sda/device/type", "0");
    tree.Dir("block/sda/sda1");
    tree.Write("dev/sda", "");    // a node that does not speak SG_IO
    tree.Dir("block/sdb/device"); // no node in /dev
    tree.Write("block/sdaa/device/type", "0");
    tree.Write("block/sdaa/dev", "8:0");
    tree.Write("dev/sdaa", ""); // not the block device sysfs names
    tree.Link("block/vda/device/subsystem", "/sys/bus/virtio");
    tree.Link("block/nvme0n1/device/subsystem", "/sys/class/nvme");
    const std::string dev = tree.root() / "dev", block = tree.root() / "block";
    // Each reason once, in natural order; the window shows a line for every
    // hardware disk, none for the loop device.
    std::string want;
    for (const std::string& why : std::initializer_list<std::string>{
             "sr0 skipped: SCSI peripheral type 5 is not a disk",
             "sda skipped: ATA IDENTIFY DEVICE failed: SG_IO: Inappropriate ioctl for device",
             "sdb skipped: open " + dev + "/sdb: No such file or directory",
             "vda skipped: a virtio disk, not an ATA device",
             "loop0 skipped: not a hardware disk (no device link in sysfs)",
             "nvme0n1 skipped: an NVMe drive, not an ATA device",
             "sdaa skipped: " + dev + "/sdaa is not the block device 8:0"})
        want += "zentrova: " + why + "\n";
    const auto helper = StartHelper(tree.root());
    ASSERT_NE(helper, nullptr);
    const auto direct = std::make_shared<DirectDiskAccess>(block, dev);
    const std::shared_ptr<DiskAccess> roads[] = {direct, helper};
    for (const std::shared_ptr<DiskAccess>& road : roads) {
        std::ostringstream debug;
        LinuxRegistry registry(road, nullptr, "", &debug);
        EXPECT_TRUE(registry.BlockStorageServices().empty());
        EXPECT_EQ(debug.str(), want);
        std::string heads;
        for (const std::string& line : registry.LeftOutDisks())
            heads += line.substr(0, line.find(' ', line.find(' ') + 1)) + "|";
        EXPECT_EQ(heads, "sr0: not|sda: did|sdb: could|vda: virtio|nvme0n1: NVMe|sdaa: could|");
    }
    for (const char* name : {"sda1", "sdz", "loop0", "sr0"}) {
        const DiskAnswer a = helper->Run(name, DiskCommand::IdentifyDevice, ata::CdbForm::Sixteen);
        const DiskAnswer b = direct->Run(name, DiskCommand::IdentifyDevice, ata::CdbForm::Sixteen);
        EXPECT_TRUE(a.refused && a.detail == b.detail) << name << ": " << a.detail;
    }
    EXPECT_EQ(direct->Run("../sda", DiskCommand::IdentifyDevice, ata::CdbForm::Sixteen).detail,
              "not a disk name: \"../sda\"");
    EXPECT_EQ(direct->Run("sda1", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).detail,
              "no disk sda1 in " + block);
    EXPECT_NE(::kill(helper->Pid(), 0), -1); // still running

    std::ostringstream missing; // no sysfs folder at all: nothing listed, and said why
    EXPECT_TRUE(LinuxRegistry(block + "/none", dev, &missing).BlockStorageServices().empty());
    EXPECT_NE(missing.str().find("cannot list"), std::string::npos);
}
