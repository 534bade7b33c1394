#include "selftest/selftest_pages.h"

#include <gtest/gtest.h>

#include <array>

using namespace zentrova::selftest;

namespace {

using Page = std::array<std::uint8_t, kPageSize>;

// An ATA log written as a drive writes it: `tests` descriptors, one after
// another round the 21 slots, test i (from 1) run at hour 100 + i.
Page AtaLog(int tests, std::uint8_t subcommand = 0x01, std::uint8_t status = 0x00) {
    Page page{};
    page[0] = 1;
    int slot = 0;
    for (int i = 1; i <= tests; ++i) {
        slot = (i - 1) % 21;
        std::uint8_t* d = page.data() + 2 + slot * 24;
        d[0] = subcommand;
        d[1] = status;
        d[2] = static_cast<std::uint8_t>((100 + i) & 0xff);
        d[3] = static_cast<std::uint8_t>((100 + i) >> 8);
        d[5] = 0xff, d[6] = 0xff, d[7] = 0xff, d[8] = 0x0f;
    }
    page[508] = static_cast<std::uint8_t>(tests == 0 ? 0 : slot + 1);
    return page;
}

} // namespace

TEST(SelfTestStatus, EveryCodeOfByte363) {
    struct Case {
        std::uint8_t byte;
        Verdict verdict;
        int percent;
    };
    const Case cases[] = {
        {0x00, Verdict::Passed, 0},   {0x10, Verdict::Aborted, 0}, {0x20, Verdict::Aborted, 0},
        {0x30, Verdict::Failed, 0},   {0x40, Verdict::Failed, 0},  {0x50, Verdict::Failed, 0},
        {0x60, Verdict::Failed, 0},   {0x70, Verdict::Failed, 0},  {0x84, Verdict::Failed, 0},
        {0x90, Verdict::Unknown, 0},  {0xe0, Verdict::Unknown, 0}, {0xf9, Verdict::Running, 90},
        {0xf3, Verdict::Running, 30}, {0xf0, Verdict::Running, 0},
    };
    for (const Case& c : cases) {
        Page page{};
        page[363] = c.byte;
        const ExecutionStatus status = DecodeExecutionStatus(page.data());
        EXPECT_EQ(status.code, c.byte >> 4) << int(c.byte);
        EXPECT_EQ(status.verdict, c.verdict) << int(c.byte);
        EXPECT_EQ(status.percentRemaining, c.percent) << int(c.byte);
    }
    for (std::uint8_t code = 0; code < 16; ++code)
        EXPECT_FALSE(AtaStatusText(code).empty());
    EXPECT_EQ(AtaStatusText(7), "Failed: read element");
    EXPECT_EQ(AtaStatusText(10), "Reserved status Ah");
}

TEST(SelfTestStatus, CapabilityAndPollingTimes) {
    struct Case {
        std::uint8_t capability, shortMin, extendedMin, word0, word1;
        bool supported;
        int expectShort, expectExtended;
    };
    const Case cases[] = {
        {0x5b, 2, 90, 0, 0, true, 2, 90},
        {0x0b, 2, 90, 0, 0, false, 2, 90},
        {0x10, 1, 0xff, 0x2c, 0x01, true, 1, 300}, // long test: minutes in 375-376
    };
    for (const Case& c : cases) {
        Page page{};
        page[367] = c.capability;
        page[372] = c.shortMin;
        page[373] = c.extendedMin;
        page[375] = c.word0;
        page[376] = c.word1;
        const Capability capability = DecodeCapability(page.data());
        EXPECT_EQ(capability.supported, c.supported);
        EXPECT_EQ(capability.shortMinutes, c.expectShort);
        EXPECT_EQ(capability.extendedMinutes, c.expectExtended);
    }
}

TEST(SelfTestStatus, NvmeCapabilityFromIdentify) {
    Page identify{};
    identify[316] = 0x2c;
    identify[317] = 0x01;
    EXPECT_FALSE(DecodeNvmeCapability(identify.data()).supported);
    identify[256] = 0x17;
    const Capability capability = DecodeNvmeCapability(identify.data());
    EXPECT_TRUE(capability.supported);
    EXPECT_EQ(capability.shortMinutes, 2);
    EXPECT_EQ(capability.extendedMinutes, 300);
}

TEST(SelfTestAtaLog, NewestFirstAcrossTheWrap) {
    struct Case {
        int tests;
        std::size_t entries;
    };
    // 25 tests: the index stands at slot 4 and the oldest four are gone.
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{5, 5}, Case{21, 21}, Case{25, 21}}) {
        const auto entries = DecodeAtaSelfTestLog(AtaLog(c.tests).data());
        ASSERT_EQ(entries.size(), c.entries) << c.tests;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].number, static_cast<int>(i) + 1);
            EXPECT_EQ(entries[i].powerOnHours, static_cast<std::uint64_t>(100 + c.tests - int(i)))
                << c.tests << " entry " << i;
            EXPECT_EQ(entries[i].type, TestType::Short);
        }
    }
    Page beyond = AtaLog(3);
    beyond[508] = 22;
    EXPECT_TRUE(DecodeAtaSelfTestLog(beyond.data()).empty());
}

TEST(SelfTestAtaLog, TypeVerdictAndFailingLba) {
    struct Case {
        std::uint8_t subcommand, status;
        TestType type;
        Verdict verdict;
        std::optional<std::uint64_t> lba;
    };
    const Case cases[] = {
        {0x02, 0x00, TestType::Extended, Verdict::Passed, std::nullopt},
        {0x82, 0x10, TestType::Extended, Verdict::Aborted, std::nullopt},
        {0x01, 0x73, TestType::Short, Verdict::Failed, 0x0234567},
        {0x03, 0x50, TestType::Conveyance, Verdict::Failed, std::nullopt},
    };
    for (const Case& c : cases) {
        Page page = AtaLog(1, c.subcommand, c.status);
        if (c.lba)
            for (int i = 0; i < 4; ++i)
                page[2 + 5 + i] = static_cast<std::uint8_t>(*c.lba >> (8 * i));
        const auto entries = DecodeAtaSelfTestLog(page.data());
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].type, c.type) << int(c.subcommand);
        EXPECT_EQ(entries[0].verdict, c.verdict) << int(c.status);
        EXPECT_EQ(entries[0].status, c.status >> 4);
        EXPECT_EQ(entries[0].failingLba, c.lba) << int(c.status);
    }
}

TEST(SelfTestNvmeLog, OperationEntriesAndFailingLba) {
    std::array<std::uint8_t, kNvmeLogSize> page{};
    for (std::size_t i = 0; i < 20; ++i)
        page[4 + i * 28] = 0x0f; // unused
    page[0] = 0x02;
    page[1] = 0x80 | 42;
    const std::uint8_t entries[][3] = {{0x10, 0, 1}, {0x27, 0x02, 2}, {0x21, 0, 3}};
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        std::uint8_t* e = page.data() + 4 + i * 28;
        e[0] = entries[i][0];
        e[2] = entries[i][1];
        e[4] = entries[i][2];
        e[11] = 0x01; // the hours are eight bytes wide
        e[16] = 0x99;
        e[23] = 0x01;
    }
    const NvmeSelfTestLog log = DecodeNvmeSelfTestLog(page.data(), page.size());
    EXPECT_EQ(log.running, TestType::Extended);
    EXPECT_EQ(log.percentComplete, 42);
    ASSERT_EQ(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[0].type, TestType::Short);
    EXPECT_EQ(log.entries[0].verdict, Verdict::Passed);
    EXPECT_EQ(log.entries[1].verdict, Verdict::Failed);
    EXPECT_EQ(log.entries[1].failingLba, 0x0100000000000099u);
    EXPECT_EQ(log.entries[2].verdict, Verdict::Aborted);
    EXPECT_EQ(log.entries[2].failingLba, std::nullopt);
    EXPECT_EQ(log.entries[2].powerOnHours, 0x0100000000000003u);
    EXPECT_EQ(log.entries[2].number, 3);
    // A page cut short gives the entries that fit whole.
    EXPECT_EQ(DecodeNvmeSelfTestLog(page.data(), 4 + 2 * 28 + 27).entries.size(), 2u);
    EXPECT_EQ(NvmeResultText(7), "Failed: one or more segments");
}
