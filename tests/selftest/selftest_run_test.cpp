#include "selftest/selftest_run.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace zentrova::selftest;
using zentrova::platform::SelfTestCommand;

namespace {

// One ATA drive in slot 1 whose data page and log the test writes, a poll
// that may be running, and everything asked of the host written down.
struct FakeHost final : SelfTestHost {
    bool pollRunning = false;
    bool nvme = false;
    bool accepts = true;
    std::array<std::uint8_t, kPageSize> log{};
    std::vector<std::string> calls;

    bool PollRunning() const override { return pollRunning; }
    bool IsNvme(int) const override { return nvme; }
    bool Execute(int drive, SelfTestCommand command) override {
        calls.push_back("execute " + std::to_string(drive) + " " +
                        std::to_string(static_cast<int>(command)));
        return accepts;
    }
    bool ReadLog(int, std::uint8_t* page) override {
        std::copy(log.begin(), log.end(), page);
        return true;
    }
    void PollDrive(int drive) override { calls.push_back("poll " + std::to_string(drive)); }
    void TestEnded(int drive, TestType type, const std::optional<LogEntry>& entry) override {
        calls.push_back("ended " + std::to_string(drive) + " " + TypeName(type) + " " +
                        (entry ? VerdictName(entry->verdict) : "none"));
    }
    void Changed(int) override {}

    // An ATA log of two short tests: an older one that passed, and the newest
    // with this status byte, whose verdict is the one that counts.
    void Logged(std::uint8_t status) {
        log[2] = 0x01;
        log[2 + 24] = 0x01;
        log[3 + 24] = status;
        log[508] = 2;
    }
};

std::array<std::uint8_t, kPageSize> Data(std::uint8_t executionStatus) {
    std::array<std::uint8_t, kPageSize> page{};
    page[363] = executionStatus;
    return page;
}

struct SelfTestRunTest : ::testing::Test {
    FakeHost host;
    std::int64_t now = 1'000'000;
    SelfTests tests{host, [this] { return now; }};
};

} // namespace

TEST_F(SelfTestRunTest, RunsWithProgressAndFinishesFromTheLog) {
    EXPECT_EQ(tests.Start(1, TestType::Extended), StartResult::Started);
    EXPECT_EQ(tests.At(1).state, State::Running);
    EXPECT_EQ(tests.Start(1, TestType::Short), StartResult::AlreadyRunning);
    tests.DataRead(1, Data(0xf7).data());
    EXPECT_EQ(tests.At(1).percentDone, 30);
    EXPECT_TRUE(tests.AnyRunning());
    host.Logged(0x76);
    tests.DataRead(1, Data(0x70).data());
    EXPECT_EQ(tests.At(1).state, State::Finished);
    EXPECT_TRUE(tests.LastFailed(1));
    EXPECT_FALSE(tests.AnyRunning());
    EXPECT_EQ(host.calls, (std::vector<std::string>{"execute 1 1", "ended 1 Extended Failed"}));
}

TEST_F(SelfTestRunTest, ReadsTheDriveEveryThirtySecondsWhileItRuns) {
    tests.Start(1, TestType::Short);
    now += kCheckIntervalMs - 1;
    tests.Tick();
    EXPECT_EQ(host.calls.size(), 1u);
    now += 1;
    tests.Tick();
    tests.Tick();
    EXPECT_EQ(host.calls.back(), "poll 1");
    EXPECT_EQ(host.calls.size(), 2u);
    // A poll in between puts the next read off by a whole interval.
    now += 10'000;
    tests.DataRead(1, Data(0xf5).data());
    now += kCheckIntervalMs - 1;
    tests.Tick();
    EXPECT_EQ(host.calls.size(), 2u);
}

TEST_F(SelfTestRunTest, AStartDuringAPollWaitsForItsEnd) {
    host.pollRunning = true;
    EXPECT_EQ(tests.Start(2, TestType::Short), StartResult::Waiting);
    EXPECT_EQ(tests.Start(2, TestType::Short), StartResult::AlreadyRunning);
    EXPECT_TRUE(host.calls.empty());
    host.pollRunning = false;
    tests.PollEnded();
    EXPECT_EQ(tests.At(2).state, State::Running);
    EXPECT_EQ(host.calls, std::vector<std::string>{"execute 2 0"});
}

TEST_F(SelfTestRunTest, AbortedRefusedAndNvme) {
    tests.Start(0, TestType::Short);
    host.Logged(0x10);
    EXPECT_TRUE(tests.Abort(0));
    EXPECT_EQ(tests.At(0).state, State::Aborted);
    EXPECT_FALSE(tests.LastFailed(0));
    EXPECT_EQ(host.calls.back(), "ended 0 Short Aborted");
    EXPECT_FALSE(tests.Abort(0)); // nothing runs

    host.accepts = false;
    EXPECT_EQ(tests.Start(3, TestType::Short), StartResult::Refused);
    EXPECT_EQ(tests.At(3).state, State::Idle);

    // An NVMe drive's progress and end come from its log, not its data page.
    host.accepts = true;
    host.nvme = true;
    host.log = {};
    tests.Start(3, TestType::Short);
    host.log[0] = 0x01;
    host.log[1] = 40;
    tests.DataRead(3, Data(0).data());
    EXPECT_EQ(tests.At(3).percentDone, 40);
    host.log[0] = 0;
    host.log[4] = 0x10;
    tests.DataRead(3, Data(0).data());
    EXPECT_EQ(tests.At(3).state, State::Finished);
    ASSERT_TRUE(tests.At(3).result);
    EXPECT_EQ(tests.At(3).result->verdict, Verdict::Passed);
}
