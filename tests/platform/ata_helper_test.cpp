// The drive helper: its protocol, the process itself, and the registry's
// choice of road with what it tells the user.
#include "platform/linux/ata_helper_protocol.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/linux_registry.h"
#include "platform/sim/simulated_disk_access.h"

#include "fakes/sysfs_tree.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <linux/capability.h>
#include <sstream>

using namespace zentrova::platform;
using helper::Bytes;
using helper::ErrorCode;
using zentrova::testing::TempTree;

namespace {

struct Answer {
    std::uint8_t kind = 0;
    Bytes payload;
};

// One whole conversation with the helper's request loop, in memory.
std::vector<Answer> Converse(DiskAccess& disks, const Bytes& input) {
    std::size_t pos = 0;
    Bytes output;
    helper::Serve(
        [&](std::uint8_t* out, std::size_t n) {
            if (input.size() - pos < n)
                return false;
            std::memcpy(out, input.data() + pos, n);
            pos += n;
            return true;
        },
        [&](const std::uint8_t* bytes, std::size_t n) {
            output.insert(output.end(), bytes, bytes + n);
            return true;
        },
        disks);
    std::vector<Answer> answers;
    for (std::size_t at = 0; at + helper::kHeaderSize <= output.size();) {
        const auto header = helper::ParseHeader(output.data() + at);
        EXPECT_TRUE(header && header->version == helper::kProtocolVersion);
        const auto begin = output.begin() + static_cast<std::ptrdiff_t>(at + helper::kHeaderSize);
        answers.push_back({header->kind, Bytes(begin, begin + header->length)});
        at += helper::kHeaderSize + header->length;
    }
    return answers;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Error(ErrorCode code) {
    return {static_cast<std::uint8_t>(code)};
}

const Bytes kList = helper::EncodeListRequest();

// A machine whose disks may not be opened by this process.
class DeniedDisks final : public DiskAccess {
  public:
    std::vector<DiskFacts> ListDisks(std::string*) override {
        return {DiskFacts{"sda", 1 << 30, true, 0, "scsi"}};
    }
    DiskAnswer Run(const std::string& name, DiskCommand, ata::CdbForm) override {
        DiskAnswer answer;
        answer.detail = "open /dev/" + name + ": Permission denied";
        answer.denied = answer.refused = true;
        return answer;
    }
};

std::uint64_t StatusField(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    ADD_FAILURE() << field << " missing";
    return ~0ull;
}

} // namespace

// Names are checked against /sys/block whatever the caller sends: nothing
// but a whole hardware disk of the folder is ever opened.
TEST(AtaHelperProtocol, EveryRequestOnATreeOfDisks) {
    TempTree tree;
    tree.Dir("block/loop0");
    tree.Write("block/sda/device/type", "0");
    tree.Write("block/sda/size", "8");
    tree.Dir("block/sda/sda1");
    DirectDiskAccess disks(tree.Block(), tree.Dev());

    const std::vector<Answer> list = Converse(disks, kList);
    ASSERT_EQ(list.size(), 1u);
    std::vector<DiskFacts> facts;
    std::string error;
    ASSERT_TRUE(helper::DecodeListAnswer(list[0].kind, list[0].payload, &facts, &error));
    EXPECT_EQ(facts, disks.ListDisks(&error));
    EXPECT_EQ(facts.size(), 2u);

    const struct {
        std::string name;
        std::string detail;
    } refusals[] = {
        {"../sda", "not a disk name: \"../sda\""},
        {"sda1", "no disk sda1 in " + tree.Block()},
        {"loop0", "not a hardware disk (no device link in sysfs)"},
        {"sdz", "no disk sdz in " + tree.Block()},
        {"sda", "open " + tree.Dev() + "/sda: No such file or directory"},
    };
    for (const auto& c : refusals) {
        const auto answers =
            Converse(disks, helper::EncodeCommandRequest(c.name, DiskCommand::SmartReadData,
                                                         ata::CdbForm::Sixteen));
        ASSERT_EQ(answers.size(), 1u) << c.name;
        DiskAnswer answer;
        ASSERT_TRUE(helper::DecodeCommandAnswer(answers[0].kind, answers[0].payload,
                                                DiskCommand::SmartReadData, &answer));
        EXPECT_TRUE(answer.refused && !answer.ok()) << c.name;
        EXPECT_EQ(answer.detail, c.detail);
    }
}

TEST(AtaHelperProtocol, BadRequestsGetAnErrorAndOnlyAnUntrustedHeaderEndsTheTalk) {
    SimulatedDiskAccess disks(ZENTROVA_DEMO_DRIVES);
    const auto frame = [](std::uint8_t kind, Bytes payload) {
        return helper::Frame(kind, payload);
    };
    Bytes wrongVersion = kList;
    wrongVersion[2] = 2;
    Bytes wrongMagic = kList;
    wrongMagic[0] = 'X';
    const Bytes readData =
        helper::EncodeCommandRequest("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen);
    const Bytes tooLong = frame(helper::kListRequest, Bytes(helper::kMaxRequestPayload + 1));
    const struct {
        const char* what;
        Bytes input;
        std::vector<Bytes> errors; // error answers, in order
        std::size_t answers;       // all answers
    } cases[] = {
        {"unknown kind", Join({frame(0x7f, {}), kList}), {Error(ErrorCode::UnknownKind)}, 2},
        {"list with a payload", Join({frame(1, {0}), kList}), {Error(ErrorCode::Malformed)}, 2},
        {"unknown command",
         Join({frame(2, {9, 16, 3, 's', 'd', 'a'}), kList}),
         {Error(ErrorCode::Malformed)},
         2},
        {"unknown form",
         Join({frame(2, {3, 13, 3, 's', 'd', 'a'}), kList}),
         {Error(ErrorCode::Malformed)},
         2},
        {"name cut short",
         Join({frame(2, {3, 16, 4, 's', 'd', 'a'}), kList}),
         {Error(ErrorCode::Malformed)},
         2},
        {"wrong version", Join({wrongVersion, kList}), {Error(ErrorCode::BadHeader)}, 1},
        {"wrong magic", Join({wrongMagic, kList}), {Error(ErrorCode::BadHeader)}, 1},
        {"too long", Join({tooLong, kList}), {Error(ErrorCode::TooLong)}, 1},
        {"truncated header",
         Join({kList, Bytes(kList.begin(), kList.begin() + 5)}),
         {Error(ErrorCode::Truncated)},
         2},
        {"truncated payload",
         Bytes(readData.begin(), readData.end() - 1),
         {Error(ErrorCode::Truncated)},
         1},
        {"nothing", {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Answer> answers = Converse(disks, c.input);
        ASSERT_EQ(answers.size(), c.answers);
        std::vector<Bytes> errors;
        for (const Answer& a : answers)
            if (a.kind == helper::kErrorAnswer)
                errors.push_back(a.payload);
        EXPECT_EQ(errors, c.errors);
    }
}

class AtaHelperProcess : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_DEMO_DRIVES, 1); }
    void TearDown() override { ::unsetenv("ZENTROVA_SIMULATED_DRIVES"); }
    std::shared_ptr<HelperDiskAccess> Start() {
        std::string error;
        auto helper = HelperDiskAccess::Start(ZENTROVA_ATA_HELPER_PATH, &error);
        EXPECT_NE(helper, nullptr) << error;
        return helper;
    }
};

// The monitor reading the demo drives itself, and reading them through the
// helper because it may not: the same drives, the same pages, poll by poll.
TEST_F(AtaHelperProcess, BothRoadsListAndReadAlike) {
    int started = 0;
    const auto start = [&](std::string*) -> std::shared_ptr<DiskAccess> {
        ++started;
        return Start();
    };
    LinuxRegistry direct(std::make_shared<SimulatedDiskAccess>(ZENTROVA_DEMO_DRIVES), start, "",
                         nullptr);
    LinuxRegistry throughHelper(std::make_shared<DeniedDisks>(), start, ZENTROVA_ATA_HELPER_PATH,
                                nullptr);
    auto a = direct.BlockStorageServices();
    auto b = throughHelper.BlockStorageServices();
    EXPECT_EQ(started, 1); // only the road that could not read directly
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].bsdName, b[i].bsdName);
        EXPECT_EQ(a[i].sizeBytes, b[i].sizeBytes);
        EXPECT_EQ(a[i].deviceModel, b[i].deviceModel);
        EXPECT_EQ(a[i].deviceRevision, b[i].deviceRevision);
        for (int poll = 0; poll < 7; ++poll) {
            std::array<std::uint8_t, 512> pa{}, pb{}, ta{}, tb{};
            EXPECT_EQ(a[i].smartInterface->SMARTReadData(pa.data()),
                      b[i].smartInterface->SMARTReadData(pb.data()));
            EXPECT_EQ(a[i].smartInterface->SMARTReadDataThresholds(ta.data()),
                      b[i].smartInterface->SMARTReadDataThresholds(tb.data()));
            EXPECT_EQ(pa, pb);
            EXPECT_EQ(ta, tb);
        }
        EXPECT_EQ(a[i].smartInterface->SMARTEnableDisableOperations(true),
                  b[i].smartInterface->SMARTEnableDisableOperations(true));
        EXPECT_NE(b[i].smartInterface->SMARTEnableDisableOperations(false), 0);
    }
    EXPECT_EQ(direct.LeftOutDisks(), throughHelper.LeftOutDisks());
}

TEST_F(AtaHelperProcess, KeepsOnlyItsTwoCapabilitiesAndEndsWithTheMonitor) {
    auto helper = Start();
    ASSERT_NE(helper, nullptr);
    std::string error;
    ASSERT_EQ(helper->ListDisks(&error).size(), 3u); // past the dropping
    const pid_t pid = helper->Pid();
    const std::uint64_t kept = (1ull << CAP_SYS_RAWIO) | (1ull << CAP_DAC_READ_SEARCH);
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_EQ(StatusField(pid, set) & ~kept, 0u) << set;
    if (::geteuid() == 0) {
        EXPECT_EQ(StatusField(pid, "CapBnd"), kept);
    }
    EXPECT_EQ(StatusField(pid, "NoNewPrivs"), 1u);
    EXPECT_EQ(StatusField(pid, "Seccomp"), 2u); // a filter

    helper.reset(); // closes its input and waits for it
    EXPECT_NE(::kill(pid, 0), 0);

    // A helper that dies under the monitor fails the command, nothing more.
    helper = Start();
    ASSERT_EQ(::kill(helper->Pid(), SIGKILL), 0);
    EXPECT_FALSE(helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).ok());
    EXPECT_FALSE(helper->Run("sda", DiskCommand::SmartReadData, ata::CdbForm::Sixteen).ok());
}

// The helper's own checks, past its system-call filter, on a tree of disks.
TEST_F(AtaHelperProcess, AnswersAsTheDirectRoadOnATreeOfDisks) {
    TempTree tree;
    tree.Dir("block/loop0");
    tree.Write("block/sda/device/type", "0");
    tree.Write("dev/sda", ""); // opened, then refuses SG_IO
    ::unsetenv("ZENTROVA_SIMULATED_DRIVES");
    ::setenv("ZENTROVA_ATA_TEST_ROOT", tree.root().c_str(), 1);
    auto helper = Start();
    ::unsetenv("ZENTROVA_ATA_TEST_ROOT");
    ASSERT_NE(helper, nullptr);
    DirectDiskAccess direct(tree.Block(), tree.Dev());
    std::string error;
    EXPECT_EQ(helper->ListDisks(&error), direct.ListDisks(&error));
    for (const char* name : {"sda", "sda1", "loop0", "sdz"}) {
        const DiskAnswer a = helper->Run(name, DiskCommand::IdentifyDevice, ata::CdbForm::Sixteen);
        const DiskAnswer b = direct.Run(name, DiskCommand::IdentifyDevice, ata::CdbForm::Sixteen);
        EXPECT_EQ(a.outcome, b.outcome) << name;
        EXPECT_EQ(a.detail, b.detail) << name;
    }
    EXPECT_NE(::kill(helper->Pid(), 0), -1); // still running
}

// Without the privilege and without a working helper, nothing is listed and
// every disk says what would make it readable.
TEST(LinuxRegistryRoads, ExplainsAMissingOrPowerlessHelper) {
    const struct {
        bool helperStarts;
        std::string line;
    } cases[] = {
        {false, "sda: reading disks needs the Zentrova drive helper, which is not installed "
                "(/x/zentrova-ata); install it with: scripts/install.sh"},
        {true, "sda: the drive helper /x/zentrova-ata lacks its capabilities; give them with: "
               "sudo setcap cap_sys_rawio,cap_dac_read_search+ep /x/zentrova-ata"},
    };
    for (const auto& c : cases) {
        std::ostringstream debug;
        LinuxRegistry registry(
            std::make_shared<DeniedDisks>(),
            [&](std::string* whyNot) -> std::shared_ptr<DiskAccess> {
                *whyNot = "is not installed (/x/zentrova-ata)";
                return c.helperStarts ? std::make_shared<DeniedDisks>() : nullptr;
            },
            "/x/zentrova-ata", &debug);
        EXPECT_TRUE(registry.BlockStorageServices().empty());
        EXPECT_EQ(registry.LeftOutDisks(), std::vector<std::string>{c.line});
        EXPECT_NE(debug.str().find("sda skipped: open /dev/sda: Permission denied"),
                  std::string::npos);
    }
}
