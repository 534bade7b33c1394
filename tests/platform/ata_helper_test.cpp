// The Linux road to the disks: the registry's screening, the drive helper's
// protocol and process, and the choice of road with what it tells the user.
#include "platform/install_layout.h"
#include "platform/linux/helper/file_barrier.h"
#include "platform/linux/helper/privileges.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/linux_registry.h"
#include "platform/linux/nvme_admin.h"
#include "platform/sim/simulated_disk_access.h"

#include "fakes/sysfs_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <linux/capability.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <linux/nvme_ioctl.h> // after sys/ioctl.h, whose macros it uses

using namespace zentrova::platform;
namespace layout = zentrova::platform;
namespace fs = std::filesystem;
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
// some USB bridges do; an NVMe command has no such form), or that may not
// open a disk at all.
struct DemoDisks final : DiskAccess {
    explicit DemoDisks(bool denied) : denied_(denied) {}
    std::vector<DiskFacts> ListDisks(std::string* error) override { return sim_.ListDisks(error); }
    DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) override {
        if (!denied_ && (form == ata::CdbForm::Twelve || nvme::IsNvmeCommand(command)))
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

// The test build of the helper, reading the demo drives, or the folders
// /sys/block and /dev of a scratch tree when given its root.
std::shared_ptr<HelperDiskAccess> StartHelper(const std::string& root = {},
                                              std::chrono::milliseconds deadline = kHelperDeadline,
                                              const char* path = ZENTROVA_ATA_HELPER_PATH) {
    const std::string hook = root.empty()
                                 ? std::string("ZENTROVA_SIMULATED_DRIVES=") + ZENTROVA_DEMO_DRIVES
                                 : "ZENTROVA_ATA_TEST_ROOT=" + root;
    std::string error;
    auto helper = HelperDiskAccess::Start({path, {}, {hook}, deadline}, &error);
    EXPECT_NE(helper, nullptr) << error;
    return helper;
}

std::vector<std::string> Names(const std::vector<DiskFacts>& disks) {
    std::vector<std::string> names;
    for (const DiskFacts& d : disks)
        names.push_back(d.name);
    return names;
}

// How a child process that makes one system call behind the helper's
// system-call filter ends: its exit status, or minus the signal that ended it.
template <typename Call> int EndUnderTheFilter(Call call) {
    const pid_t child = ::fork();
    if (child == 0) {
        // exit_group itself: a sanitizer's _exit would run its leak check,
        // whose system calls the filter forbids.
        std::string error;
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !helper::RestrictSystemCalls(&error))
            ::syscall(SYS_exit_group, 99);
        call();
        ::syscall(SYS_exit_group, 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

int OpenUnderTheFilter(const std::string& path, int flags) {
    return EndUnderTheFilter([&] { ::syscall(SYS_openat, AT_FDCWD, path.c_str(), flags, 0600); });
}

// A road that answers every command and keeps the codes it was sent: an ATA
// disk whose IDENTIFY page passes, and an NVMe controller.
struct RecordingDisks final : DiskAccess {
    std::vector<DiskFacts> ListDisks(std::string*) override {
        DiskFacts controller{"nvme0", 512, true, std::nullopt, "nvme", DriveKind::Nvme};
        return {DiskFacts{"sda", 512, true, 0, "scsi"}, controller};
    }
    DiskAnswer Run(const std::string&, DiskCommand command, ata::CdbForm) override {
        sent.push_back(command);
        DiskAnswer answer;
        answer.outcome = ata::Outcome::Ok;
        answer.page[0] = 0x40;
        return answer;
    }
    std::vector<DiskCommand> sent;
};

// What the kernel gets for a code: the 16-byte ATA PASS-THROUGH in hex, or
// the NVMe admin command's fields.
std::string SentBytes(DiskCommand command) {
    char text[128];
    if (const auto ataCommand = ToAtaCommand(command)) {
        const ata::Cdb cdb = ata::BuildCdb(*ataCommand, ata::CdbForm::Sixteen);
        std::string hex;
        for (std::size_t i = 0; i < cdb.length; ++i) {
            std::snprintf(text, sizeof text, "%02x", cdb.bytes[i]);
            hex += text;
        }
        return hex;
    }
    std::uint8_t data[1];
    const nvme_admin_cmd c = nvme::BuildAdminCommand(command, data);
    std::snprintf(text, sizeof text, "%02x nsid=%x cdw10=%08x len=%u data=%d rest=%x timeout=%u",
                  c.opcode, c.nsid, c.cdw10, c.data_len, c.addr != 0,
                  static_cast<unsigned>((c.flags | c.cdw2 | c.cdw3 | c.metadata | c.metadata_len |
                                         c.cdw11 | c.cdw12 | c.cdw13 | c.cdw14 | c.cdw15) != 0),
                  c.timeout_ms);
    return text;
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
        {then(helper::Frame(2, {15, 16, 3, 's', 'd', 'a'})), {e(Malformed), answer}},
        {then(helper::Frame(2, {3, 13, 3, 's', 'd', 'a'})), {e(Malformed), answer}},
        {then(helper::Frame(2, {3, 16, 4, 's', 'd', 'a'})), {e(Malformed), answer}},
        {then(helper::Frame(2, {4, 12, 3, 's', 'd', 'a'})), {helper::kCommandAnswer, answer}},
        {then({'Z', 'A', 1, 1, 0, 0, 0, 0}), {e(BadHeader)}},
        {then({'X', 'A', 1, 1, 0, 0, 0, 0}), {e(BadHeader)}},
        {then(helper::Frame(1, Bytes(helper::kMaxRequestPayload + 1))), {e(TooLong)}},
        {Bytes(list.begin(), list.begin() + 5), {e(Truncated)}},
        {Bytes(read.begin(), read.end() - 1), {e(Truncated)}},
        {{}, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Converse(cases[i].first), cases[i].second) << i;
    // The command table is what keeps writes from the disks: every code
    // outside it is refused, none is sent.
    for (int code = 0; code < 256; ++code) {
        const bool known = code >= 1 && code <= 14;
        const std::vector<int> want{known ? helper::kCommandAnswer : e(Malformed)};
        EXPECT_EQ(Converse(helper::Frame(2, {std::uint8_t(code), 16, 3, 's', 'd', 'a'})), want)
            << code;
    }
}

// The monitor reading the demo drives itself, in the 12-byte form once the
// 16-byte one is refused, and reading them through the helper because it may
// not: the same drives, the same pages, poll by poll.
TEST(AtaHelperProcess, BothRoadsListAndReadAlike) {
    int started = 0;
    const auto start = [&](HelperTrouble*) -> std::shared_ptr<DiskAccess> {
        ++started;
        return StartHelper();
    };
    LinuxRegistry direct(std::make_shared<DemoDisks>(false), start, "", nullptr);
    LinuxRegistry throughHelper(std::make_shared<DemoDisks>(true), start, ZENTROVA_ATA_HELPER_PATH,
                                nullptr);
    auto a = direct.BlockStorageServices();
    auto b = throughHelper.BlockStorageServices();
    EXPECT_EQ(started, 1); // only the road that could not read directly
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.size(), 4u); // the three ATA drives and the NVMe one
    EXPECT_EQ(b[3].kind, DriveKind::Nvme);
    // The serials from IDENTIFY DEVICE and Identify Controller, unpadded.
    EXPECT_EQ(b[0].deviceSerial, "ZDH0000000250");
    EXPECT_EQ(b[3].deviceSerial, "ZDN0000000512");
    const auto poll = [](BlockStorageService& s) {
        std::array<std::uint8_t, 1024> pages{};
        const int status = s.smartInterface->SMARTReadData(pages.data()) * 10 +
                           s.smartInterface->SMARTReadDataThresholds(pages.data() + 512);
        return std::pair(status, pages);
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(std::tie(a[i].bsdName, a[i].sizeBytes, a[i].deviceModel, a[i].deviceRevision,
                           a[i].deviceSerial, a[i].kind, a[i].sensorCelsius),
                  std::tie(b[i].bsdName, b[i].sizeBytes, b[i].deviceModel, b[i].deviceRevision,
                           b[i].deviceSerial, b[i].kind, b[i].sensorCelsius));
        for (int n = 0; n < 7; ++n)
            EXPECT_EQ(poll(a[i]), poll(b[i]));
        EXPECT_EQ(a[i].smartInterface->SMARTEnableDisableOperations(true),
                  b[i].smartInterface->SMARTEnableDisableOperations(true));
        EXPECT_EQ(b[i].smartInterface->SMARTEnableDisableOperations(false) != 0,
                  b[i].kind == DriveKind::Ata); // an NVMe drive has nothing to switch
        // A self-test runs alike on both roads, poll by poll, into the same log.
        const int started = a[i].smartInterface->SMARTExecuteSelfTest(SelfTestCommand::Short);
        EXPECT_EQ(b[i].smartInterface->SMARTExecuteSelfTest(SelfTestCommand::Short) != 0,
                  started != 0);
        for (int n = 0; n < 10; ++n)
            EXPECT_EQ(poll(a[i]), poll(b[i]));
        std::array<std::uint8_t, 2 * 512> logs{};
        EXPECT_EQ(a[i].smartInterface->SMARTReadSelfTestLog(logs.data()) == 0, started == 0);
        EXPECT_EQ(b[i].smartInterface->SMARTReadSelfTestLog(logs.data() + 512) == 0, started == 0);
        EXPECT_TRUE(std::equal(logs.begin(), logs.begin() + 512, logs.begin() + 512));
        EXPECT_EQ(logs[a[i].kind == DriveKind::Nvme ? 4 : 2] != 0, started == 0) << i;
    }
}

TEST(AtaHelperProcess, KeepsOnlyItsThreeCapabilitiesAndNothingOfTheMonitorAndEndsWithIt) {
    const int inherited = ::open("/dev/null", O_RDONLY); // no close-on-exec
    auto helper = StartHelper();
    ::close(inherited);
    ASSERT_NE(helper, nullptr);
    std::string error;
    ASSERT_GE(helper->ListDisks(&error).size(), 3u); // past the dropping
    const pid_t pid = helper->Pid();
    const std::uint64_t kept =
        (1ull << CAP_SYS_RAWIO) | (1ull << CAP_DAC_READ_SEARCH) | (1ull << CAP_SYS_ADMIN);
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_EQ(StatusField(pid, set) & ~kept, 0u) << set;
    EXPECT_TRUE(::geteuid() != 0 || StatusField(pid, "CapBnd") == kept);
    // No new privileges; a system-call filter.
    EXPECT_EQ(std::pair(StatusField(pid, "NoNewPrivs"), StatusField(pid, "Seccomp")),
              (std::pair<std::uint64_t, std::uint64_t>{1, 2}));
    std::vector<std::string> fds;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        fds.push_back(entry.path().filename());
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
    helper.reset(); // closes its input and waits for it
    EXPECT_NE(::kill(pid, 0), 0);

    // The monitor's own environment never reaches the helper.
    std::string none;
    helper = HelperDiskAccess::Start({ZENTROVA_ATA_HELPER_PATH, {}, {}}, &error);
    ASSERT_NE(helper, nullptr);
    std::ifstream(("/proc/" + std::to_string(helper->Pid()) + "/environ").c_str()) >> none;
    EXPECT_EQ(none, "");
}

// A helper that hangs, answers garbage or dies costs one request at most its
// deadline; the request fails, the helper is gone, and the next request
// starts a new one. A dead helper never ends the monitor through SIGPIPE.
TEST(AtaHelperProcess, ABrokenHelperFailsOneRequestAndTheNextStartsANewOne) {
    zentrova::testing::TempTree tree;
    const std::pair<const char*, std::string> cases[] = {
        {"hangs", "did not answer within 200 ms"},
        {"printf 'garbage!'; exec /bin/sleep 60", "answered in an unknown protocol"},
        {"exit 3", "ended unexpectedly"},
    };
    for (const auto& [first, why] : cases) {
        // The first start misbehaves, every later one is the real helper.
        const std::string once = tree.root() / "started";
        fs::remove(once);
        const std::string script = tree.Write(
            "stand-in", "#!/bin/sh\nif [ ! -e " + once + " ]; then : >" + once + "; " +
                            (std::string(first) == "hangs" ? "exec /bin/sleep 60" : first) +
                            "; fi\nexec " ZENTROVA_ATA_HELPER_PATH "\n");
        fs::permissions(script, fs::perms::owner_all);
        auto helper = StartHelper({}, std::chrono::milliseconds(200), script.c_str());
        ASSERT_NE(helper, nullptr);
        const pid_t broken = helper->Pid();
        const auto start = std::chrono::steady_clock::now();
        const DiskAnswer failed =
            helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << first;
        EXPECT_EQ(failed.detail, "drive helper: " + why) << first;
        EXPECT_NE(::kill(broken, 0), 0) << first; // killed and reaped
        EXPECT_TRUE(helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).ok());
    }

    auto helper = StartHelper();
    const pid_t pid = helper->Pid();
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    siginfo_t ended{};
    ASSERT_EQ(::waitid(P_PID, pid, &ended, WEXITED | WNOWAIT), 0); // dead, not yet reaped
    EXPECT_FALSE(helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).ok());
    EXPECT_TRUE(helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).ok());
}

// The filter ends the process on any open that could change a file: for
// writing, creating, truncating or making a nameless file. Reading passes.
TEST(HelperBarriers, SystemCallFilterKillsEveryOpenThatCouldChangeAFile) {
    zentrova::testing::TempTree tree;
    const std::string file = tree.Write("file", "kept");
    const std::pair<int, int> cases[] = {
        {O_RDONLY, 0},
        {O_WRONLY, -SIGSYS},
        {O_RDWR, -SIGSYS},
        {O_RDONLY | O_CREAT, -SIGSYS},
        {O_RDONLY | O_TRUNC, -SIGSYS},
        {O_TMPFILE | O_RDWR, -SIGSYS},
        {O_RDONLY | O_DIRECTORY, 0},
    };
    for (const auto& [flags, ended] : cases)
        EXPECT_EQ(OpenUnderTheFilter((flags & O_DIRECTORY) ? tree.root().string() : file, flags),
                  ended)
            << std::hex << flags;
    EXPECT_EQ(std::ifstream(file).rdbuf()->sgetc(), 'k'); // not truncated
}

// Of the NVMe requests only the 32-bit admin command passes the filter (on
// a descriptor that is no controller it fails, and the process goes on):
// not the I/O command, which moves a namespace's blocks, nor the 64-bit one.
TEST(HelperBarriers, SystemCallFilterLetsOnlyTheNvmeAdminCommandThrough) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::pair<unsigned long, int> cases[] = {
        {NVME_IOCTL_ADMIN_CMD, 0},
        {NVME_IOCTL_IO_CMD, -SIGSYS},
        {NVME_IOCTL_ADMIN64_CMD, -SIGSYS},
    };
    for (const auto& [request, ended] : cases)
        EXPECT_EQ(EndUnderTheFilter([&] { ::syscall(SYS_ioctl, fd, request, nullptr); }), ended)
            << std::hex << request;
    ::close(fd);
}

// Landlock holds the helper to the sysfs folders and the nodes of the drives
// it may read, even where its capabilities would let it read anything: a
// size file that links out of the scratch tree is read directly, but not
// through the helper; a node that is no listed drive's (a memory device, an
// optical drive, an NVMe namespace) not at all.
TEST(HelperBarriers, LandlockKeepsTheHelperInItsFolders) {
    std::string detail;
    zentrova::testing::TempTree tree, outside;
    tree.Write("block/sda/device/type", "0");
    fs::create_symlink(outside.Write("size", "8"), tree.root() / "block/sda/size");
    tree.Write("block/sr0/device/type", "5");
    tree.NvmeController("nvme0", "ZT One", "1.0");
    tree.NvmeNamespace("nvme0n1", "nvme0", 8);
    const std::string dev = tree.root() / "dev", block = tree.root() / "block";
    const std::string root = tree.root();
    const char* nodes[] = {"sda", "nvme0", "mem", "sr0", "nvme0n1"}; // readable: the first two
    for (const char* node : nodes)
        tree.Write(fs::path("dev") / node, "");
    const std::vector<std::string> files = DirectDiskAccess(block, dev).FilesToRead();
    EXPECT_EQ(files,
              (std::vector<std::string>{block, root + "/class/nvme", root + "/class/nvme-subsystem",
                                        root + "/devices", dev + "/sda", dev + "/nvme0"}));
    if (::syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U /* version */) < 0)
        GTEST_SKIP() << "SKIPPED: this kernel has no Landlock (" << std::strerror(errno) << ")";
    const pid_t child = ::fork();
    if (child == 0) {
        int opened = 0; // a bit per node that opens behind the barrier
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            helper::RestrictFileAccess(files, &detail) != helper::FileBarrier::Enforced)
            ::syscall(SYS_exit_group, 99);
        for (std::size_t i = 0; i < std::size(nodes); ++i)
            if (const int fd = ::open((dev + "/" + nodes[i]).c_str(), O_RDONLY); fd >= 0)
                opened |= 1 << i, ::close(fd);
        ::syscall(SYS_exit_group, opened);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0b00011);
    std::string error;
    const auto direct = DirectDiskAccess(block, dev).ListDisks(&error);
    const auto helper = StartHelper(tree.root());
    ASSERT_NE(helper, nullptr);
    const auto confined = helper->ListDisks(&error);
    ASSERT_EQ(Names(direct), Names(confined));
    const std::vector<std::string> names = Names(direct);
    const std::size_t at = std::find(names.begin(), names.end(), "sda") - names.begin();
    ASSERT_LT(at, direct.size());
    EXPECT_EQ(direct[at].sizeBytes, 4096);
    EXPECT_EQ(confined[at].sizeBytes, std::nullopt);
}

// The installed helper has no stand-ins for tests, neither their names nor
// the simulated drives' JSON parser, so no environment turns it away from
// the machine's own disks.
TEST(HelperBarriers, InstalledHelperHasNoTestHooks) {
    const auto contents = [](const char* path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string installed = contents(ZENTROVA_INSTALLED_ATA_HELPER_PATH);
    const std::string test = contents(ZENTROVA_ATA_HELPER_PATH);
    for (const char* mark :
         {"ZENTROVA_SIMULATED_DRIVES", "ZENTROVA_ATA_TEST_ROOT", "parse_error"}) {
        EXPECT_NE(test.find(mark), std::string::npos) << mark;
        EXPECT_EQ(installed.find(mark), std::string::npos) << mark;
    }
    zentrova::testing::TempTree tree;
    tree.Write("block/zentrovatest0/device/type", "0");
    const auto helper =
        StartHelper(tree.root(), kHelperDeadline, ZENTROVA_INSTALLED_ATA_HELPER_PATH);
    ASSERT_NE(helper, nullptr);
    std::string error;
    const std::vector<std::string> names = Names(helper->ListDisks(&error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(std::count(names.begin(), names.end(), "zentrovatest0"), 0);
}

// The installed monitor finds the helper the install put beside it; the
// build tree's monitor finds the one in its own folder.
TEST(HelperBarriers, MonitorFindsItsHelper) {
    zentrova::testing::TempTree tree;
    layout::installLayout.rootPrefix = tree.root();
    tree.Write(layout::MonitorProgramPath().substr(tree.root().string().size() + 1), "");
    tree.Write(layout::AtaHelperProgramPath().substr(tree.root().string().size() + 1), "");
    tree.Write("build/monitor/zentrova-ata", "");
    EXPECT_EQ(FindAtaHelperFor(layout::MonitorProgramPath()), layout::AtaHelperProgramPath());
    EXPECT_EQ(FindAtaHelperFor(tree.root() / "build/monitor/zentrova"),
              tree.root() / "build/monitor/zentrova-ata");
    layout::ResetInstallLayoutForTest();
}

// Without the privilege and without a working helper, nothing is listed and
// every disk says what would make it readable.
TEST(LinuxRegistryRoads, ExplainsAMissingForbiddenOrPowerlessHelper) {
    const std::string helper = "/x/zentrova-ata";
    const std::pair<std::optional<HelperTrouble>, std::string> cases[] = {
        {ExplainUnrunnableHelper(helper, ENOENT, false),
         "sda: reading disks needs the Zentrova drive helper, which is not installed "
         "(/x/zentrova-ata); install it with: scripts/install.sh"},
        {ExplainUnrunnableHelper(helper, EACCES, true),
         "sda: reading disks needs the Zentrova drive helper, which only members of the group "
         "zentrova may run (/x/zentrova-ata); join the group with: sudo usermod -aG zentrova "
         "$USER, then log out and log in again"},
        {ExplainUnrunnableHelper(helper, EACCES, false),
         "sda: reading disks needs the Zentrova drive helper, which cannot be run "
         "(/x/zentrova-ata: Permission denied); install it with: scripts/install.sh"},
        {std::nullopt,
         "sda: the drive helper /x/zentrova-ata lacks its capabilities; give them with: sudo "
         "setcap cap_sys_rawio,cap_dac_read_search,cap_sys_admin+ep /x/zentrova-ata"},
    };
    for (const auto& [trouble, line] : cases) {
        LinuxRegistry registry(
            std::make_shared<DemoDisks>(true),
            [&](HelperTrouble* out) -> std::shared_ptr<DiskAccess> {
                *out = trouble.value_or(HelperTrouble{});
                return trouble ? nullptr : std::make_shared<DemoDisks>(true);
            },
            helper, nullptr);
        for (const BlockStorageService& listed : registry.BlockStorageServices())
            EXPECT_EQ(listed.kind, DriveKind::Nvme); // an NVMe drive is listed from sysfs
        ASSERT_GE(registry.LeftOutDisks().size(), 3u);
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
    tree.Write("dev/sda", "");    // sysfs names no device number for it
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
             "sda skipped: cannot read " + block + "/sda/dev: No such file or directory",
             "sdb skipped: open " + dev + "/sdb: No such file or directory",
             "vda skipped: a virtio disk, not an ATA device",
             "loop0 skipped: not a hardware disk (no device link in sysfs)",
             "nvme0n1 skipped: an NVMe namespace whose controller is not in sysfs",
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
        EXPECT_EQ(heads, "sr0: not|sda: could|sdb: could|vda: virtio|nvme0n1: an|sdaa: could|");
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

// A fact the checks rest on that cannot be read (the descriptor limit
// reached, a file the kernel will not give) refuses the command, as a wrong
// one does: the node is never sent one.
TEST(LinuxRegistryTree, AnUnreadableFactRefusesTheCommand) {
    zentrova::testing::TempTree tree;
    const std::string block = tree.root() / "block", dev = tree.root() / "dev";
    tree.Write("block/sda/device/type", "0");
    tree.Write("block/sda/dev", "8:0\n");
    tree.Dir("block/sdb/device/type"); // a type that cannot be read
    tree.NvmeController("nvme0", "ZT One", "1.0");
    fs::remove(tree.root() / "class/nvme/nvme0/dev");
    tree.Dir("class/nvme/nvme0/dev");
    for (const char* node : {"sda", "sdb", "nvme0"})
        tree.Write(fs::path("dev") / node, "");
    DirectDiskAccess direct(block, dev);
    const auto run = [&](const char* name, DiskCommand command) {
        return direct.Run(name, command, ata::CdbForm::Sixteen);
    };
    std::vector<std::pair<DiskAnswer, std::string>> cases;
#ifndef ZENTROVA_SANITIZED
    // One descriptor left: the node opens, its device number cannot be read.
    // (Not under the sanitizers, whose checks then fail for want of one.)
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(lowest);
    rlimit one = saved;
    one.rlim_cur = static_cast<rlim_t>(lowest) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &one), 0);
    const DiskAnswer limited = run("sda", DiskCommand::IdentifyDevice);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    cases.emplace_back(limited, "cannot read " + block + "/sda/dev: Too many open files");
#endif
    const std::pair<DiskAnswer, std::string> more[] = {
        {run("sdb", DiskCommand::IdentifyDevice),
         "cannot read " + block + "/sdb/device/type: Is a directory"},
        {run("nvme0", DiskCommand::NvmeReadHealthLog),
         "cannot read " + (tree.root() / "class/nvme/nvme0/dev").string() + ": Is a directory"},
        {run("sda", DiskCommand::IdentifyDevice), dev + "/sda is not the block device 8:0"},
    };
    cases.insert(cases.end(), std::begin(more), std::end(more));
    for (const auto& [answer, detail] : cases)
        EXPECT_TRUE(answer.refused && answer.detail == detail) << answer.detail;
}

// On the Linux road each call of a drive's handle sends its own code, and
// each code its own command, as the kernel gets it: the whole table. SMART
// ENABLE sent as DISABLE would switch S.M.A.R.T. off on every drive; an
// abort sent as a short test would start one.
TEST(LinuxRoad, EachCallSendsItsOwnCommand) {
    auto disks = std::make_shared<RecordingDisks>();
    auto services = LinuxRegistry(disks, nullptr, "", nullptr).BlockStorageServices();
    ASSERT_EQ(services.size(), 2u);
    // Detection: IDENTIFY DEVICE to the disk, the health log of the controller
    // and then its Identify Controller, for the serial number.
    EXPECT_EQ(disks->sent, (std::vector{DiskCommand::IdentifyDevice, DiskCommand::NvmeReadHealthLog,
                                        DiskCommand::NvmeIdentifyController}));
    AtaSmartInterface& disk = *services[0].smartInterface;
    AtaSmartInterface& controller = *services[1].smartInterface;
    std::uint8_t page[512];
    using enum DiskCommand;
    const std::tuple<std::function<int()>, DiskCommand, std::string> rows[] = {
        {nullptr, IdentifyDevice, "85080e0000000100000000000000ec00"},
        {[&] { return disk.SMARTEnableDisableOperations(true); }, SmartEnableOperations,
         "85062000d800000000004f00c200b000"},
        {[&] { return disk.SMARTReadData(page); }, SmartReadData,
         "85080e00d000010000004f00c200b000"},
        {[&] { return disk.SMARTReadDataThresholds(page); }, SmartReadThresholds,
         "85080e00d100010000004f00c200b000"},
        {[&] { return controller.SMARTReadDataThresholds(page); }, NvmeIdentifyController,
         "06 nsid=0 cdw10=00000001 len=4096 data=1 rest=0 timeout=30000"},
        {[&] { return controller.SMARTReadData(page); }, NvmeReadHealthLog,
         "02 nsid=ffffffff cdw10=007f0002 len=512 data=1 rest=0 timeout=30000"},
        {[&] { return disk.SMARTExecuteSelfTest(SelfTestCommand::Short); }, SmartShortSelfTest,
         "85062000d400000001004f00c200b000"},
        {[&] { return disk.SMARTExecuteSelfTest(SelfTestCommand::Extended); },
         SmartExtendedSelfTest, "85062000d400000002004f00c200b000"},
        {[&] { return disk.SMARTExecuteSelfTest(SelfTestCommand::Abort); }, SmartAbortSelfTest,
         "85062000d40000007f004f00c200b000"},
        {[&] { return disk.SMARTReadSelfTestLog(page); }, SmartReadSelfTestLog,
         "85080e00d500010006004f00c200b000"},
        {[&] { return controller.SMARTExecuteSelfTest(SelfTestCommand::Short); }, NvmeShortSelfTest,
         "14 nsid=ffffffff cdw10=00000001 len=0 data=0 rest=0 timeout=30000"},
        {[&] { return controller.SMARTExecuteSelfTest(SelfTestCommand::Extended); },
         NvmeExtendedSelfTest, "14 nsid=ffffffff cdw10=00000002 len=0 data=0 rest=0 timeout=30000"},
        {[&] { return controller.SMARTExecuteSelfTest(SelfTestCommand::Abort); }, NvmeAbortSelfTest,
         "14 nsid=ffffffff cdw10=0000000f len=0 data=0 rest=0 timeout=30000"},
        {[&] { return controller.SMARTReadSelfTestLog(page); }, NvmeReadSelfTestLog,
         "02 nsid=ffffffff cdw10=007f0006 len=512 data=1 rest=0 timeout=30000"},
    };
    ASSERT_EQ(std::size(rows), static_cast<std::size_t>(kLastDiskCommand)); // every code
    for (const auto& [call, code, bytes] : rows) {
        if (call) {
            disks->sent.clear();
            EXPECT_EQ(call(), 0);
            EXPECT_EQ(disks->sent, std::vector{code}) << bytes;
        }
        EXPECT_EQ(SentBytes(code), bytes) << static_cast<int>(code);
    }
}
