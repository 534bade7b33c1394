#include "platform/linux/ata_passthrough.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace ata = zentrova::platform::ata;
using ata::AtaCommand;
using ata::CdbForm;
using ata::Outcome;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes CdbBytes(AtaCommand command, CdbForm form) {
    const ata::Cdb cdb = ata::BuildCdb(command, form);
    return Bytes(cdb.bytes.begin(), cdb.bytes.begin() + cdb.length);
}

// Parses from a heap copy of exactly the given length, so that a read past it
// is a read past an allocation (and caught by the address sanitizer).
ata::SenseInfo Parse(const Bytes& sense) {
    auto copy = std::make_unique<std::uint8_t[]>(sense.size());
    std::copy(sense.begin(), sense.end(), copy.get());
    return ata::ParseSense(copy.get(), sense.size());
}

// Descriptor sense as a SAT layer builds it for CK_COND: RECOVERED ERROR,
// ATA PASS-THROUGH INFORMATION AVAILABLE, one ATA Status Return descriptor.
Bytes AtaStatusSense(std::uint8_t key, std::uint8_t ataStatus, std::uint8_t ataError = 0) {
    Bytes s = {0x72, key, 0x00, 0x1d, 0, 0, 0, 14};
    Bytes d = {0x09, 0x0c, 0, ataError, 0, 0, 0, 0, 0, 0x4f, 0, 0xc2, 0, ataStatus};
    s.insert(s.end(), d.begin(), d.end());
    return s;
}

Bytes FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t ataStatus) {
    Bytes s(18, 0);
    s[0] = 0xf0; // VALID bit with response code 70h
    s[2] = key;
    s[3] = 0x00; // ERROR
    s[4] = ataStatus;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    return s;
}

struct Reply {
    ata::SgReply sg;
    Bytes sense;
};

ata::Verdict JudgeWith(Reply r, AtaCommand command) {
    r.sg.sense = r.sense.data();
    r.sg.senseLength = r.sense.size();
    return ata::Judge(r.sg, command);
}

Reply CheckCondition(Bytes sense) {
    Reply r;
    r.sg.status = 0x02;
    r.sg.driverStatus = 0x08; // DRIVER_SENSE: sense data present, not a fault
    r.sense = std::move(sense);
    return r;
}

// An IDENTIFY DEVICE page with ATA strings placed at the given words.
std::vector<std::uint8_t> IdentifyPage(const std::string& model, const std::string& revision) {
    std::vector<std::uint8_t> page(512, 0);
    const auto put = [&page](int firstWord, int words, std::string text) {
        text.resize(2 * words, ' ');
        for (int i = 0; i < words; ++i) {
            page[2 * (firstWord + i) + 1] = static_cast<std::uint8_t>(text[2 * i]);
            page[2 * (firstWord + i)] = static_cast<std::uint8_t>(text[2 * i + 1]);
        }
    };
    put(27, 20, model);
    put(23, 4, revision);
    page[0] = 0x40; // fixed device, ATA
    return page;
}

} // namespace

TEST(AtaPassThrough, CommandBlocksInBothForms) {
    // 16-byte: protocol<<1 in byte 1, flags in 2, FEATURES(7:0) in 4, COUNT(7:0)
    // in 6, LBA low/mid/high in 8/10/12, COMMAND in 14.
    EXPECT_EQ(CdbBytes(AtaCommand::SmartReadData, CdbForm::Sixteen),
              (Bytes{0x85, 0x08, 0x0e, 0, 0xd0, 0, 0x01, 0, 0, 0, 0x4f, 0, 0xc2, 0, 0xb0, 0}));
    // 12-byte: FEATURES 3, COUNT 4, LBA low/mid/high 5/6/7, COMMAND 9.
    EXPECT_EQ(CdbBytes(AtaCommand::SmartReadData, CdbForm::Twelve),
              (Bytes{0xa1, 0x08, 0x0e, 0xd0, 0x01, 0, 0x4f, 0xc2, 0, 0xb0, 0, 0}));

    // The other commands differ in protocol, flags, FEATURES, COUNT, LBA mid
    // and high, and COMMAND.
    const struct {
        AtaCommand command;
        Bytes fields;
    } others[] = {
        {AtaCommand::IdentifyDevice, {0x08, 0x0e, 0, 0x01, 0, 0, 0xec}},
        {AtaCommand::SmartEnableOperations, {0x06, 0x20, 0xd8, 0, 0x4f, 0xc2, 0xb0}},
        {AtaCommand::SmartDisableOperations, {0x06, 0x20, 0xd9, 0, 0x4f, 0xc2, 0xb0}},
        {AtaCommand::SmartReadThresholds, {0x08, 0x0e, 0xd1, 0x01, 0x4f, 0xc2, 0xb0}},
    };
    for (const auto& c : others) {
        const Bytes b = CdbBytes(c.command, CdbForm::Sixteen);
        EXPECT_EQ((Bytes{b[1], b[2], b[4], b[6], b[10], b[12], b[14]}), c.fields);
    }
}

TEST(AtaPassThrough, SenseParsing) {
    // The ATA Status Return descriptor after another descriptor (information, 12 bytes).
    Bytes s = {0x72, 0x01, 0x00, 0x1d, 0, 0, 0, 26, 0x00, 0x0a, 0x80, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes d = AtaStatusSense(0x01, 0x50, 0x04);
    s.insert(s.end(), d.begin() + 8, d.end());
    ata::SenseInfo info = Parse(s);
    ASSERT_TRUE(info.valid);
    EXPECT_TRUE(info.descriptorFormat);
    EXPECT_EQ(info.senseKey, 0x01);
    EXPECT_EQ(info.ataStatus, 0x50);
    EXPECT_EQ(info.ataError, 0x04);

    // The additional length claims more than was written, or a descriptor runs
    // past the end: no descriptor is trusted and nothing is read out of bounds.
    Bytes claimsMore = AtaStatusSense(0x01, 0x50);
    claimsMore[7] = 0xff;
    EXPECT_EQ(Parse(claimsMore).ataStatus, 0x50);
    Bytes longDescriptor = AtaStatusSense(0x01, 0x50);
    longDescriptor[9] = 0xf0;
    EXPECT_FALSE(Parse(longDescriptor).ataStatus.has_value());
    Bytes shortDescriptor = {0x72, 0x01, 0, 0x1d, 0, 0, 0, 4, 0x09, 0x02, 0x00, 0x51};
    EXPECT_FALSE(Parse(shortDescriptor).ataStatus.has_value());
    for (std::size_t n = 0; n < 22; ++n) {
        const Bytes cut(d.begin(), d.begin() + static_cast<long>(n));
        EXPECT_FALSE(Parse(cut).ataStatus.has_value()) << n;
    }
    EXPECT_FALSE(Parse({0x72, 0x01}).valid);
    EXPECT_FALSE(Parse({0x00, 0x01, 0x02, 0x03}).valid);
    EXPECT_FALSE(ata::ParseSense(nullptr, 32).valid);

    // Fixed format carries the ATA status in the information field, marked by 00h/1Dh.
    info = Parse(FixedSense(0x01, 0x00, 0x1d, 0x51));
    ASSERT_TRUE(info.valid);
    EXPECT_FALSE(info.descriptorFormat);
    EXPECT_EQ(info.ataStatus, 0x51);
    Bytes noInformation = FixedSense(0x05, 0x20, 0x00, 0x51);
    noInformation[0] = 0x70;
    EXPECT_FALSE(Parse(noInformation).ataStatus.has_value());
    Bytes fixedCut = FixedSense(0x01, 0x00, 0x1d, 0x50);
    fixedCut.resize(6);
    info = Parse(fixedCut);
    EXPECT_TRUE(info.valid);
    EXPECT_FALSE(info.ataStatus.has_value());
}

TEST(AtaPassThrough, Verdicts) {
    const auto outcome = [](Reply r, AtaCommand c) { return JudgeWith(std::move(r), c).outcome; };
    const AtaCommand enable = AtaCommand::SmartEnableOperations;
    const AtaCommand read = AtaCommand::SmartReadData;

    // What libata answers to SMART ENABLE with CK_COND, descriptor or fixed sense.
    EXPECT_EQ(outcome(CheckCondition(AtaStatusSense(0x01, 0x50)), enable), Outcome::Ok);
    EXPECT_EQ(outcome(CheckCondition(FixedSense(0x01, 0x00, 0x1d, 0x50)), enable), Outcome::Ok);
    // ERR, DF or BSY in the ATA status is a failure whatever the sense key.
    EXPECT_EQ(outcome(CheckCondition(AtaStatusSense(0x01, 0x51, 0x04)), enable),
              Outcome::DeviceError);
    EXPECT_EQ(outcome(CheckCondition(AtaStatusSense(0x01, 0x70)), enable), Outcome::DeviceError);
    EXPECT_EQ(outcome(CheckCondition(AtaStatusSense(0x00, 0xd0)), enable), Outcome::DeviceError);
    // An ABORTED COMMAND with a clean status still did not complete.
    EXPECT_EQ(outcome(CheckCondition(AtaStatusSense(0x0b, 0x50)), enable), Outcome::DeviceError);
    // NO SENSE without registers proves nothing; unreadable sense neither.
    EXPECT_EQ(outcome(CheckCondition({0x72, 0x00, 0, 0, 0, 0, 0, 0}), enable),
              Outcome::NoAtaStatus);
    EXPECT_EQ(outcome(CheckCondition({0x12, 0x34, 0x56}), enable), Outcome::NoAtaStatus);
    EXPECT_EQ(outcome(CheckCondition(Bytes{0x70, 0, 0, 0, 0, 0, 0, 0x0a, 0, 0, 0, 0}), enable),
              Outcome::NoAtaStatus);

    // Refusals of the command form are worth a 12-byte retry; drive errors are not.
    const ata::Verdict refused = JudgeWith(CheckCondition(FixedSense(0x05, 0x20, 0x00, 0)), read);
    EXPECT_EQ(refused.outcome, Outcome::Rejected);
    EXPECT_TRUE(ata::WorthTwelveByteRetry(refused));
    EXPECT_NE(refused.detail.find("ILLEGAL REQUEST"), std::string::npos);
    EXPECT_FALSE(ata::WorthTwelveByteRetry(
        JudgeWith(CheckCondition(AtaStatusSense(0x0b, 0x51, 0x04)), read)));

    // Reads: GOOD with the whole sector, or RECOVERED ERROR / clean ATA status.
    Reply good;
    EXPECT_EQ(outcome(good, read), Outcome::Ok);
    EXPECT_EQ(outcome(CheckCondition(FixedSense(0x01, 0x17, 0x01, 0)), read), Outcome::Ok);
    Reply shortRead;
    shortRead.sg.resid = 512;
    EXPECT_EQ(outcome(shortRead, read), Outcome::ShortTransfer);
    Reply recoveredShort = CheckCondition(AtaStatusSense(0x01, 0x50));
    recoveredShort.sg.resid = 12;
    EXPECT_EQ(outcome(recoveredShort, read), Outcome::ShortTransfer);
    Reply oldStyleStatus; // only masked_status set
    oldStyleStatus.sg.maskedStatus = 0x01;
    oldStyleStatus.sense = AtaStatusSense(0x0b, 0x51, 0x04);
    EXPECT_EQ(outcome(oldStyleStatus, read), Outcome::DeviceError);

    // The ioctl, the host adapter and the driver come before the drive; a
    // refused CDB or an aborted command is worth the other form.
    Reply ioctlFailed;
    ioctlFailed.sg.ioctlResult = -1;
    ioctlFailed.sg.ioctlErrno = EPERM;
    const ata::Verdict denied = JudgeWith(ioctlFailed, read);
    EXPECT_EQ(denied.outcome, Outcome::SystemError);
    EXPECT_NE(denied.detail.find("CAP_SYS_RAWIO"), std::string::npos);
    ioctlFailed.sg.ioctlErrno = EINVAL;
    EXPECT_EQ(outcome(ioctlFailed, read), Outcome::Rejected);
    for (std::uint16_t host : {0x01, 0x03, 0x05, 0x07}) {
        Reply hostError;
        hostError.sg.hostStatus = host;
        EXPECT_EQ(outcome(hostError, read),
                  host == 0x05 ? Outcome::Rejected : Outcome::TransportError)
            << host;
    }
    for (std::uint16_t driver : {0x06, 0x04}) {
        Reply driverError = CheckCondition(AtaStatusSense(0x01, 0x50));
        driverError.sg.driverStatus = driver;
        EXPECT_EQ(outcome(driverError, enable), Outcome::TransportError) << driver;
    }
    Reply busy;
    busy.sg.status = 0x08;
    EXPECT_EQ(outcome(busy, enable), Outcome::TransportError);
}

TEST(AtaPassThrough, SenseAsKernelsWriteIt) {
    // Byte for byte as libata answered: SMART ENABLE with CK_COND (descriptor
    // format); SMART READ DATA refused by the drive (ABRT) in 6.1's fixed
    // layout (registers in bytes 8-11, VALID clear) and 6.12's (VALID, bytes
    // 3-6); ATA PASS-THROUGH to an ATAPI device on 6.12 (status GOOD).
    const struct {
        Bytes sense;
        std::uint8_t scsiStatus;
        Outcome outcome;
        std::uint8_t ataStatus;
        std::uint8_t ataError;
        const char* detail;
    } cases[] = {
        {{0x72, 0x01, 0x00, 0x1d, 0, 0, 0,    0x0e, 0x09, 0x0c, 0,
          0,    0,    0,    0,    0, 0, 0x4f, 0,    0xc2, 0,    0x50},
         0x02,
         Outcome::Ok,
         0x50,
         0x00,
         ""},
        {{0x70, 0, 0x0b, 0, 0, 0, 0, 0x0a, 0x04, 0x41, 0x00, 0x01, 0, 0, 0, 0, 0, 0},
         0x02,
         Outcome::DeviceError,
         0x41,
         0x04,
         "ATA status 41h (DRDY ERR) error 04h (ABRT)"},
        {{0xf0, 0, 0x0b, 0x04, 0x41, 0xa0, 0x01, 0x0a, 0, 0, 0x4f, 0xc2, 0, 0, 0, 0, 0, 0},
         0x02,
         Outcome::DeviceError,
         0x41,
         0x04,
         "ABORTED COMMAND"},
        {{0xf0, 0, 0x05, 0x04, 0x41, 0x00, 0x01, 0x0a, 0, 0x01, 0x14, 0xeb, 0x20, 0, 0, 0, 0, 0},
         0x00,
         Outcome::Rejected,
         0x41,
         0x04,
         "ILLEGAL REQUEST, ASC 20h"},
    };
    for (const auto& c : cases) {
        const ata::SenseInfo info = Parse(c.sense);
        EXPECT_EQ(info.ataStatus, c.ataStatus) << int(c.sense[0]);
        EXPECT_EQ(info.ataError, c.ataError) << int(c.sense[0]);
        Reply r = CheckCondition(c.sense);
        r.sg.status = c.scsiStatus;
        const ata::Verdict v = JudgeWith(r, AtaCommand::SmartReadData);
        EXPECT_EQ(v.outcome, c.outcome) << v.detail;
        EXPECT_NE(v.detail.find(c.detail), std::string::npos) << v.detail;
    }
}

TEST(AtaPassThrough, IdentifyStrings) {
    // A full-width string keeps every character; leading blanks stay.
    std::vector<std::uint8_t> page =
        IdentifyPage("  WDC WD2500JS-00NCB1 12345678901234567", "ABCDEFGH");
    EXPECT_EQ(ata::IdentifyModel(page.data()), "  WDC WD2500JS-00NCB1 12345678901234567");
    EXPECT_EQ(ata::IdentifyRevision(page.data()), "ABCDEFGH");
    // NUL padding ends the string; blanks before it are still trimmed.
    page = IdentifyPage(std::string("HDT72 \0\0XYZ", 11), std::string("1.0 \0 ", 6));
    EXPECT_EQ(ata::IdentifyModel(page.data()), "HDT72");
    EXPECT_EQ(ata::IdentifyRevision(page.data()), "1.0");
    EXPECT_EQ(ata::IdentifyModel(IdentifyPage("", "").data()), "");
}

TEST(AtaPassThrough, IdentifyPageChecks) {
    std::vector<std::uint8_t> page = IdentifyPage("MODEL", "REV");
    EXPECT_FALSE(ata::IdentifyPageProblem(page.data()).has_value());
    page[510] = 0xa5;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i)
        sum = static_cast<std::uint8_t>(sum + page[i]);
    page[511] = static_cast<std::uint8_t>(0x100 - sum);
    EXPECT_FALSE(ata::IdentifyPageProblem(page.data()).has_value());
    page[60] ^= 0x01;
    EXPECT_TRUE(ata::IdentifyPageProblem(page.data()).has_value());

    EXPECT_TRUE(ata::IdentifyPageProblem(std::vector<std::uint8_t>(512, 0).data()).has_value());
    EXPECT_TRUE(ata::IdentifyPageProblem(std::vector<std::uint8_t>(512, 0xff).data()).has_value());
    page = IdentifyPage("CDROM", "1");
    page[1] = 0x85; // word 0 of a packet device
    EXPECT_TRUE(ata::IdentifyPageProblem(page.data()).has_value());
}

TEST(AtaPassThrough, NaturalOrderOfDiskNames) {
    std::vector<std::string> names = {"sdab", "sdaa", "sdz",     "sdb",     "vda",     "sda",
                                      "hda",  "sr0",  "nvme1n1", "nvme0n2", "nvme0n1", "nvme10n1"};
    std::sort(names.begin(), names.end(), ata::NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"sr0", "hda", "sda", "sdb", "sdz", "vda", "nvme0n1",
                                               "nvme0n2", "nvme1n1", "nvme10n1", "sdaa", "sdab"}));
    // A strict ordering, also for names equal but for leading zeros.
    EXPECT_FALSE(ata::NaturalLess("sda", "sda"));
    EXPECT_NE(ata::NaturalLess("sd01", "sd1"), ata::NaturalLess("sd1", "sd01"));
    EXPECT_TRUE(ata::NaturalLess("sd", "sda"));
}
