#include "platform/linux/ata_passthrough.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <numeric>
#include <vector>

namespace ata = zentrova::platform::ata;
using ata::AtaCommand;
using ata::Outcome;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Descriptor sense with one ATA Status Return descriptor, as libata writes it
// for CK_COND.
Bytes AtaSense(std::uint8_t key, std::uint8_t status, std::uint8_t error = 0) {
    return {0x72,  key, 0, 0x1d, 0, 0, 0,    14, 0x09, 0x0c, 0,
            error, 0,   0, 0,    0, 0, 0x4f, 0,  0xc2, 0,    status};
}

Bytes FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t status) {
    return {0xf0, 0, key, 0, status, 0, 0, 10, 0, 0, 0, 0, asc, ascq, 0, 0, 0, 0};
}

Bytes Patched(Bytes b, std::size_t at, std::uint8_t value) {
    b[at] = value;
    return b;
}

constexpr ata::SgReply kCheck{.status = 0x02, .driverStatus = 0x08}; // sense present

// Judges sense data from a heap copy of exactly its length, so that a read
// past it is a read past an allocation (and caught by the address sanitizer).
ata::Verdict Judge(ata::SgReply sg, const Bytes& sense, AtaCommand command) {
    auto copy = std::make_unique<std::uint8_t[]>(sense.size());
    std::copy(sense.begin(), sense.end(), copy.get());
    sg.sense = copy.get();
    sg.senseLength = sense.size();
    return ata::Judge(sg, command);
}

// An IDENTIFY DEVICE page with the revision at words 23-26 and the model at
// 27-46, the first character of each word in its high byte.
Bytes IdentifyPage(std::string model, std::string revision) {
    Bytes page(512, 0);
    revision.resize(8, ' ');
    model.resize(40, ' ');
    const std::string words = revision + model;
    for (std::size_t i = 0; i < words.size(); ++i)
        page[46 + (i ^ 1)] = static_cast<std::uint8_t>(words[i]);
    page[0] = 0x40;
    return page;
}

} // namespace

// The 16-byte form of every command is checked from the road's calls on
// (ata_helper_test.cpp, LinuxRoad); here the 12-byte one.
TEST(AtaPassThrough, CommandBlocksInTheTwelveByteForm) {
    using enum AtaCommand;
    const std::tuple<AtaCommand, ata::CdbForm, std::string> cases[] = {
        {SmartReadData, ata::CdbForm::Twelve, "a1080ed001004fc200b00000"},
        {SmartExtendedSelfTest, ata::CdbForm::Twelve, "a10620d400024fc200b00000"},
        {SmartReadSelfTestLog, ata::CdbForm::Twelve, "a1080ed501064fc200b00000"},
    };
    for (const auto& [command, form, hex] : cases) {
        const ata::Cdb cdb = ata::BuildCdb(command, form);
        std::string out;
        for (std::size_t i = 0; i < cdb.length; ++i)
            out += {"0123456789abcdef"[cdb.bytes[i] >> 4], "0123456789abcdef"[cdb.bytes[i] & 15]};
        EXPECT_EQ(out, hex);
    }
}

TEST(AtaPassThrough, Verdicts) {
    const AtaCommand enable = AtaCommand::SmartEnableOperations, read = AtaCommand::SmartReadData;
    Bytes twoDescriptors = {0x72, 0, 0, 0x1d, 0, 0, 0, 26, 0, 0x0a,
                            0x80, 0, 1, 2,    3, 4, 5, 6,  7, 8};
    const Bytes ataOne = AtaSense(0, 0x51, 0x04);
    twoDescriptors.insert(twoDescriptors.end(), ataOne.begin() + 8, ataOne.end());
    // A read refused by the drive as libata reports it: in 6.1's fixed layout
    // (registers in bytes 8-11, VALID clear) and in 6.12's (VALID, bytes 3-6);
    // to an ATAPI device on 6.12 (status GOOD).
    const Bytes v61 = {0x70, 0, 0x0b, 0, 0, 0, 0, 0x0a, 0x04, 0x41, 0, 1, 0, 0, 0, 0, 0, 0};
    const Bytes v612 = {0xf0, 0, 0x0b, 4, 0x41, 0xa0, 1, 0x0a, 0, 0, 0x4f, 0xc2, 0, 0, 0, 0, 0, 0};
    const Bytes atapi = {0xf0, 0, 5, 4, 0x41, 0, 1, 0x0a, 0, 1, 0x14, 0xeb, 0x20, 0, 0, 0, 0, 0};
    const struct {
        ata::SgReply sg;
        Bytes sense;
        AtaCommand command;
        Outcome outcome;
        const char* detail = "";
    } cases[] = {
        // SMART ENABLE with CK_COND; ERR, DF or BSY fail whatever the key;
        // ABORTED COMMAND fails with a clean status; no registers prove nothing.
        {kCheck, AtaSense(1, 0x50), enable, Outcome::Ok},
        {kCheck, FixedSense(1, 0, 0x1d, 0x50), enable, Outcome::Ok},
        {kCheck, AtaSense(1, 0x51, 4), enable, Outcome::DeviceError},
        {kCheck, AtaSense(1, 0x70), enable, Outcome::DeviceError},
        {kCheck, AtaSense(0, 0xd0), enable, Outcome::DeviceError},
        {kCheck, AtaSense(0x0b, 0x50), enable, Outcome::DeviceError},
        {kCheck, {0x72, 0, 0, 0, 0, 0, 0, 0}, enable, Outcome::NoAtaStatus},
        {kCheck, {0x12, 0x34, 0x56}, enable, Outcome::NoAtaStatus},
        {kCheck, {0x70, 0, 0, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0}, enable, Outcome::NoAtaStatus},
        // With NO SENSE only the registers tell: an ATA descriptor after
        // another one; lengths that claim too much or too little; fixed
        // format with and without VALID or the 00h/1Dh marker.
        {kCheck, twoDescriptors, enable, Outcome::DeviceError, "error 04h (ABRT)"},
        {kCheck, Patched(AtaSense(0, 0x50), 7, 0xff), enable, Outcome::Ok},
        {kCheck, Patched(AtaSense(0, 0x50), 9, 0xf0), enable, Outcome::NoAtaStatus},
        {kCheck, {0x72, 0, 0, 0x1d, 0, 0, 0, 4, 0x09, 0x02, 0, 0x50}, enable, Outcome::NoAtaStatus},
        {kCheck, {0x72, 0}, enable, Outcome::NoAtaStatus, "without readable sense"},
        {kCheck, FixedSense(0, 0, 0x1d, 0x51), enable, Outcome::DeviceError},
        {kCheck, Patched(FixedSense(0, 0x20, 0, 0x51), 0, 0x70), enable, Outcome::NoAtaStatus},
        {kCheck, {0xf0, 0, 0, 0, 0x51, 0}, enable, Outcome::NoAtaStatus},
        // Reads: the whole sector, with GOOD or a recovered error.
        {kCheck, FixedSense(5, 0x20, 0, 0), read, Outcome::Rejected, "ILLEGAL REQUEST"},
        {{}, {}, read, Outcome::Ok},
        {kCheck, FixedSense(1, 0x17, 1, 0), read, Outcome::Ok},
        {{.resid = 512}, {}, read, Outcome::ShortTransfer},
        {{.status = 2, .driverStatus = 8, .resid = 12},
         AtaSense(1, 0x50),
         read,
         Outcome::ShortTransfer},
        {{.maskedStatus = 1}, AtaSense(0x0b, 0x51, 4), read, Outcome::DeviceError},
        {kCheck, v61, read, Outcome::DeviceError, "ATA status 41h (DRDY ERR) error 04h (ABRT)"},
        {kCheck, v612, read, Outcome::DeviceError, "ATA status 41h (DRDY ERR) error 04h"},
        {{.driverStatus = 8}, atapi, read, Outcome::Rejected, "ASC 20h ASCQ 00h, ATA status 41h"},
        // The ioctl, the host adapter and the driver come before the drive.
        {{.ioctlResult = -1, .ioctlErrno = EPERM}, {}, read, Outcome::SystemError, "CAP_SYS_RAWIO"},
        {{.ioctlResult = -1, .ioctlErrno = EINVAL}, {}, read, Outcome::Rejected},
        {{.hostStatus = 5}, {}, read, Outcome::Rejected},
        {{.hostStatus = 7}, {}, read, Outcome::TransportError},
        {{.status = 2, .driverStatus = 4}, AtaSense(1, 0x50), enable, Outcome::TransportError},
        {{.status = 8}, {}, enable, Outcome::TransportError},
    };
    for (const auto& c : cases) {
        const ata::Verdict v = Judge(c.sg, c.sense, c.command);
        EXPECT_EQ(v.outcome, c.outcome) << &c - cases << " " << v.detail;
        EXPECT_EQ(ata::WorthTwelveByteRetry(v), c.outcome == Outcome::Rejected);
        EXPECT_NE(v.detail.find(c.detail), std::string::npos) << v.detail;
    }
    for (std::size_t n = 0; n < ataOne.size(); ++n)
        EXPECT_EQ(Judge(kCheck, Bytes(ataOne.begin(), ataOne.begin() + n), enable).outcome,
                  Outcome::NoAtaStatus);
    EXPECT_FALSE(ata::ParseSense(nullptr, 32).valid);
}

TEST(AtaPassThrough, IdentifyPage) {
    // A full-width string keeps every character, leading blanks included; NUL
    // ends a string, and the blanks before it are trimmed.
    const std::string full = "  WDC WD2500JS-00NCB1 12345678901234567";
    Bytes page = IdentifyPage(full, "ABCDEFGH");
    EXPECT_EQ(ata::IdentifyModel(page.data()) + "|" + ata::IdentifyRevision(page.data()),
              full + "|ABCDEFGH");
    page = IdentifyPage(std::string("HDT72 \0\0XYZ", 11), std::string("1.0 \0 ", 6));
    EXPECT_EQ(ata::IdentifyModel(page.data()) + "|" + ata::IdentifyRevision(page.data()),
              "HDT72|1.0");
    // The serial, words 10-19, padded on either side.
    const std::string serial = "    WD-WCAP12345678 ";
    for (std::size_t i = 0; i < serial.size(); ++i)
        page[20 + (i ^ 1)] = static_cast<std::uint8_t>(serial[i]);
    EXPECT_EQ(ata::IdentifySerial(page.data()), "WD-WCAP12345678");
    // Word 255's checksum, when signed with A5h; blank pages; packet devices.
    page[510] = 0xa5;
    page[511] = static_cast<std::uint8_t>(-std::accumulate(page.begin(), page.begin() + 511, 0));
    EXPECT_FALSE(ata::IdentifyPageProblem(page.data()));
    for (const Bytes& bad : {Patched(page, 60, page[60] ^ 1), Bytes(512, 0), Bytes(512, 0xff),
                             Patched(IdentifyPage("CD", "1"), 1, 0x85)})
        EXPECT_TRUE(ata::IdentifyPageProblem(bad.data()));
}

TEST(AtaPassThrough, NaturalOrderOfDiskNames) {
    std::vector<std::string> names = {"sdab", "sdaa", "sdz",     "sdb",     "vda",     "sda",
                                      "hda",  "sr0",  "nvme1n1", "nvme0n2", "nvme0n1", "nvme10n1"};
    std::sort(names.begin(), names.end(), ata::NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"sr0", "hda", "sda", "sdb", "sdz", "vda", "nvme0n1",
                                               "nvme0n2", "nvme1n1", "nvme10n1", "sdaa", "sdab"}));
    // Strict, also for names equal but for leading zeros.
    EXPECT_FALSE(ata::NaturalLess("sda", "sda"));
    EXPECT_NE(ata::NaturalLess("sd01", "sd1"), ata::NaturalLess("sd1", "sd01"));
}
