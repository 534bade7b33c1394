#include "ata_passthrough.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zentrova::platform::ata {

namespace {

constexpr std::uint8_t kOpAtaPassThrough16 = 0x85;
constexpr std::uint8_t kOpAtaPassThrough12 = 0xa1;

constexpr std::uint8_t kAtaIdentifyDevice = 0xec;
constexpr std::uint8_t kAtaSmart = 0xb0;
constexpr std::uint8_t kSmartReadData = 0xd0;
constexpr std::uint8_t kSmartReadThresholds = 0xd1;
constexpr std::uint8_t kSmartEnableOperations = 0xd8;
constexpr std::uint8_t kSmartDisableOperations = 0xd9;
constexpr std::uint8_t kSmartExecuteOfflineImmediate = 0xd4;
constexpr std::uint8_t kSmartReadLog = 0xd5;
// EXECUTE OFF-LINE IMMEDIATE's subcommands (in LBA low) and the log address.
constexpr std::uint8_t kSubcommandShortOffline = 0x01;
constexpr std::uint8_t kSubcommandExtendedOffline = 0x02;
constexpr std::uint8_t kSubcommandAbort = 0x7f;
constexpr std::uint8_t kLogSelfTest = 0x06;
// SMART commands carry this signature in LBA mid and LBA high.
constexpr std::uint8_t kSmartLbaMid = 0x4f;
constexpr std::uint8_t kSmartLbaHigh = 0xc2;

// PROTOCOL field (byte 1, bits 4:1).
constexpr std::uint8_t kProtocolNonData = 3;
constexpr std::uint8_t kProtocolPioDataIn = 4;
// Byte 2: CK_COND asks for the ATA registers back even on success; T_DIR
// from the device, BYT_BLOK with T_LENGTH 2 means "COUNT sectors".
constexpr std::uint8_t kFlagCkCond = 0x20;
constexpr std::uint8_t kFlagTDirIn = 0x08;
constexpr std::uint8_t kFlagBytBlok = 0x04;
constexpr std::uint8_t kFlagTLengthInCount = 0x02;

// SCSI status byte values.
constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;

// Host bytes and the driver byte of sg_io_hdr as the kernel reports them.
constexpr std::uint16_t kDidNoConnect = 0x01;
constexpr std::uint16_t kDidTimeOut = 0x03;
constexpr std::uint16_t kDidAbort = 0x05;
constexpr std::uint16_t kDriverMask = 0x0f;
constexpr std::uint16_t kDriverTimeout = 0x06;
constexpr std::uint16_t kDriverSense = 0x08;

constexpr std::uint8_t kDescriptorAtaStatusReturn = 0x09;
// ASC/ASCQ 00h/1Dh: ATA PASS-THROUGH INFORMATION AVAILABLE.
constexpr std::uint8_t kAscAtaInfo = 0x00;
constexpr std::uint8_t kAscqAtaInfo = 0x1d;

struct Registers {
    std::uint8_t features = 0;
    std::uint8_t count = 0;
    std::uint8_t lbaLow = 0;
    std::uint8_t lbaMid = 0;
    std::uint8_t lbaHigh = 0;
    std::uint8_t command = 0;
};

Registers RegistersFor(AtaCommand command) {
    const auto smart = [](std::uint8_t feature, std::uint8_t count, std::uint8_t lbaLow = 0) {
        return Registers{feature, count, lbaLow, kSmartLbaMid, kSmartLbaHigh, kAtaSmart};
    };
    switch (command) {
    case AtaCommand::IdentifyDevice:
        return Registers{0, 1, 0, 0, 0, kAtaIdentifyDevice};
    case AtaCommand::SmartEnableOperations:
        return smart(kSmartEnableOperations, 0);
    case AtaCommand::SmartDisableOperations:
        return smart(kSmartDisableOperations, 0);
    case AtaCommand::SmartReadData:
        return smart(kSmartReadData, 1);
    case AtaCommand::SmartReadThresholds:
        return smart(kSmartReadThresholds, 1);
    case AtaCommand::SmartShortSelfTest:
        return smart(kSmartExecuteOfflineImmediate, 0, kSubcommandShortOffline);
    case AtaCommand::SmartExtendedSelfTest:
        return smart(kSmartExecuteOfflineImmediate, 0, kSubcommandExtendedOffline);
    case AtaCommand::SmartAbortSelfTest:
        return smart(kSmartExecuteOfflineImmediate, 0, kSubcommandAbort);
    case AtaCommand::SmartReadSelfTestLog:
        return smart(kSmartReadLog, 1, kLogSelfTest);
    }
    return {};
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02Xh", static_cast<unsigned>(value));
    return text;
}

struct Bit {
    std::uint8_t mask;
    const char* name;
};

// " (DRDY ERR)" for the named bits that are set; nothing when none is.
template <std::size_t N> std::string BitNames(std::uint8_t value, const Bit (&bits)[N]) {
    std::string names;
    for (const Bit& bit : bits)
        if ((value & bit.mask) != 0)
            names += (names.empty() ? " (" : " ") + std::string(bit.name);
    return names.empty() ? names : names + ")";
}

std::string SenseText(const SenseInfo& sense) {
    static const char* const kKeys[16] = {
        "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
        "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
        "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
        "(reserved key)", "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
    std::string text = std::string("sense key ") + kKeys[sense.senseKey & 0x0f] + ", ASC " +
                       Hex(sense.asc) + " ASCQ " + Hex(sense.ascq);
    if (sense.ataStatus) {
        static const Bit kStatusBits[] = {
            {0x80, "BSY"}, {0x40, "DRDY"}, {0x20, "DF"}, {0x08, "DRQ"}, {0x01, "ERR"}};
        static const Bit kErrorBits[] = {
            {0x80, "ICRC"}, {0x40, "UNC"}, {0x10, "IDNF"}, {0x04, "ABRT"}, {0x02, "EOM"}};
        const std::uint8_t error = sense.ataError.value_or(0);
        text += ", ATA status " + Hex(*sense.ataStatus) + BitNames(*sense.ataStatus, kStatusBits) +
                " error " + Hex(error) + BitNames(error, kErrorBits);
    }
    return text;
}

Verdict Fail(Outcome outcome, std::string detail) {
    return Verdict{outcome, std::move(detail)};
}

Verdict CheckTransfer(const SgReply& reply, AtaCommand command) {
    if (ReadsSector(command) && reply.resid != 0)
        return Fail(Outcome::ShortTransfer,
                    "short transfer: " + std::to_string(reply.resid) + " of 512 bytes missing");
    return Verdict{Outcome::Ok, {}};
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string ErrnoText(int error) {
    std::string text = std::strerror(error);
    // Both the disk node and the pass-through itself are guarded.
    if (error == EACCES || error == EPERM)
        text += " (needs root or CAP_SYS_RAWIO)";
    return text;
}

bool ReadsSector(AtaCommand command) {
    return command == AtaCommand::IdentifyDevice || command == AtaCommand::SmartReadData ||
           command == AtaCommand::SmartReadThresholds ||
           command == AtaCommand::SmartReadSelfTestLog;
}

Cdb BuildCdb(AtaCommand command, CdbForm form) {
    const Registers r = RegistersFor(command);
    const bool dataIn = ReadsSector(command);
    const std::uint8_t protocol =
        static_cast<std::uint8_t>((dataIn ? kProtocolPioDataIn : kProtocolNonData) << 1);
    // A non-data command has nothing to show for itself but the registers, so
    // ask for them; the data-in commands are judged by the data that arrives.
    const std::uint8_t flags =
        dataIn ? static_cast<std::uint8_t>(kFlagTDirIn | kFlagBytBlok | kFlagTLengthInCount)
               : kFlagCkCond;

    Cdb cdb;
    std::uint8_t* b = cdb.bytes.data();
    if (form == CdbForm::Sixteen) {
        cdb.length = 16;
        b[0] = kOpAtaPassThrough16;
        b[1] = protocol; // EXTEND 0: 28-bit command
        b[2] = flags;
        b[4] = r.features; // byte 3 holds FEATURES (15:8)
        b[6] = r.count;    // byte 5 holds COUNT (15:8)
        b[8] = r.lbaLow;   // bytes 7, 9, 11 hold the upper LBA bytes
        b[10] = r.lbaMid;
        b[12] = r.lbaHigh;
        b[13] = 0; // DEVICE
        b[14] = r.command;
    } else {
        cdb.length = 12;
        b[0] = kOpAtaPassThrough12;
        b[1] = protocol;
        b[2] = flags;
        b[3] = r.features;
        b[4] = r.count;
        b[5] = r.lbaLow;
        b[6] = r.lbaMid;
        b[7] = r.lbaHigh;
        b[8] = 0; // DEVICE
        b[9] = r.command;
    }
    return cdb;
}

SenseInfo ParseSense(const std::uint8_t* sense, std::size_t length) {
    SenseInfo info;
    if (sense == nullptr || length == 0)
        return info;
    // The additional-length byte may claim more than was written; trust the
    // smaller of the two.
    const auto claimedEnd = [&]() -> std::size_t {
        return length >= 8 ? std::min<std::size_t>(length, 8u + sense[7]) : length;
    };
    const std::uint8_t responseCode = sense[0] & 0x7f;
    if (responseCode == 0x72 || responseCode == 0x73) {
        if (length < 4)
            return info;
        info.valid = true;
        info.descriptorFormat = true;
        info.senseKey = sense[1] & 0x0f;
        info.asc = sense[2];
        info.ascq = sense[3];
        const std::size_t end = claimedEnd();
        std::size_t pos = 8;
        while (pos + 2 <= end) {
            const std::uint8_t type = sense[pos];
            const std::size_t total = 2u + sense[pos + 1];
            if (pos + total > end)
                break;
            // The ATA Status Return descriptor is 14 bytes: ERROR at 3,
            // STATUS at 13.
            if (type == kDescriptorAtaStatusReturn && total >= 14) {
                info.ataError = sense[pos + 3];
                info.ataStatus = sense[pos + 13];
                break;
            }
            pos += total;
        }
    } else if (responseCode == 0x70 || responseCode == 0x71) {
        if (length < 3)
            return info;
        info.valid = true;
        info.senseKey = sense[2] & 0x0f;
        const std::size_t end = claimedEnd();
        if (end >= 14) {
            info.asc = sense[12];
            info.ascq = sense[13];
        }
        // The ATA registers ERROR, STATUS, DEVICE, COUNT sit in the
        // INFORMATION field (bytes 3-6), which the VALID bit or the 00h/1Dh
        // marker vouches for. Older libata left VALID clear and wrote them to
        // bytes 8-11 instead, leaving INFORMATION zero; a zero STATUS there
        // is no ATA status at all (DRDY is set on any completed command).
        const bool informationValid =
            (sense[0] & 0x80) != 0 ||
            (end >= 14 && info.asc == kAscAtaInfo && info.ascq == kAscqAtaInfo);
        if (informationValid && end >= 7) {
            info.ataError = sense[3];
            info.ataStatus = sense[4];
        } else if (!informationValid && end >= 12 && sense[9] != 0 &&
                   (sense[3] | sense[4] | sense[5] | sense[6]) == 0) {
            info.ataError = sense[8];
            info.ataStatus = sense[9];
        }
    }
    return info;
}

Verdict Judge(const SgReply& reply, AtaCommand command) {
    if (reply.ioctlResult < 0) {
        const Outcome outcome =
            reply.ioctlErrno == EINVAL ? Outcome::Rejected : Outcome::SystemError;
        return Fail(outcome, "SG_IO: " + ErrnoText(reply.ioctlErrno));
    }
    if (reply.hostStatus == kDidAbort)
        return Fail(Outcome::Rejected, "host adapter aborted the command");
    if (reply.hostStatus == kDidTimeOut || (reply.driverStatus & kDriverMask) == kDriverTimeout)
        return Fail(Outcome::TransportError, "timed out");
    if (reply.hostStatus == kDidNoConnect)
        return Fail(Outcome::TransportError, "device not connected");
    if (reply.hostStatus != 0)
        return Fail(Outcome::TransportError, "host status " + Hex(reply.hostStatus));
    const std::uint16_t driver = reply.driverStatus & kDriverMask;
    if (driver != 0 && driver != kDriverSense)
        return Fail(Outcome::TransportError, "driver status " + Hex(reply.driverStatus));

    std::uint8_t status = reply.status & 0xfe;
    if (status == kStatusGood && reply.maskedStatus != 0)
        status = static_cast<std::uint8_t>(reply.maskedStatus << 1);
    if (status != kStatusGood && status != kStatusCheckCondition)
        return Fail(Outcome::TransportError, "SCSI status " + Hex(status));

    // GOOD can come with sense data too (an ATAPI device refusing the command
    // on newer kernels); what the sense says then outweighs the status.
    const SenseInfo sense = ParseSense(reply.sense, reply.senseLength);
    if (!sense.valid) {
        if (status == kStatusGood)
            return CheckTransfer(reply, command);
        return Fail(Outcome::NoAtaStatus, "CHECK CONDITION without readable sense data");
    }
    if (sense.senseKey == kSenseIllegalRequest)
        return Fail(Outcome::Rejected, SenseText(sense));
    if (sense.senseKey != kSenseNoSense && sense.senseKey != kSenseRecoveredError)
        return Fail(Outcome::DeviceError, SenseText(sense));
    if (sense.ataStatus) {
        // BSY makes the other bits meaningless, so it cannot count as success.
        if ((*sense.ataStatus & (kAtaStatusErr | kAtaStatusDf | kAtaStatusBsy)) != 0)
            return Fail(Outcome::DeviceError, SenseText(sense));
        return CheckTransfer(reply, command);
    }
    // RECOVERED ERROR says the command completed; NO SENSE says nothing, so
    // only the status stands.
    if (sense.senseKey == kSenseRecoveredError || status == kStatusGood)
        return CheckTransfer(reply, command);
    return Fail(Outcome::NoAtaStatus, SenseText(sense));
}

bool WorthTwelveByteRetry(const Verdict& sixteenByteVerdict) {
    return sixteenByteVerdict.outcome == Outcome::Rejected;
}

std::string AtaString(const std::uint8_t* page, int firstWord, int wordCount) {
    std::string text;
    for (int w = firstWord; w < firstWord + wordCount; ++w) {
        const std::uint8_t* word = page + 2 * w; // words are little-endian
        text.push_back(static_cast<char>(word[1]));
        text.push_back(static_cast<char>(word[0]));
    }
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    const std::size_t last = text.find_last_not_of(' ');
    text.resize(last == std::string::npos ? 0 : last + 1);
    return text;
}

std::string IdentifyModel(const std::uint8_t* page) {
    return AtaString(page, 27, 20);
}

std::string IdentifyRevision(const std::uint8_t* page) {
    return AtaString(page, 23, 4);
}

std::string IdentifySerial(const std::uint8_t* page) {
    const std::string serial = AtaString(page, 10, 10);
    const std::size_t first = serial.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : serial.substr(first);
}

std::optional<std::string> IdentifyPageProblem(const std::uint8_t* page) {
    const auto filledWith = [page](std::uint8_t value) {
        return std::all_of(page, page + kSectorSize,
                           [value](std::uint8_t b) { return b == value; });
    };
    if (filledWith(0x00) || filledWith(0xff))
        return "IDENTIFY DEVICE data is blank";
    if ((page[1] & 0x80) != 0)
        return "IDENTIFY DEVICE data describes a packet (ATAPI) device";
    // Word 255: signature A5h in the low byte means the high byte makes the
    // sum of all 512 bytes zero.
    if (page[510] == 0xa5) {
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < kSectorSize; ++i)
            sum = static_cast<std::uint8_t>(sum + page[i]);
        if (sum != 0)
            return "IDENTIFY DEVICE checksum mismatch";
    }
    return std::nullopt;
}

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = IsDigit(a[i]);
        const bool digitB = IsDigit(b[j]);
        if (digitA != digitB)
            return digitA;
        std::size_t endA = i;
        while (endA < a.size() && IsDigit(a[endA]) == digitA)
            ++endA;
        std::size_t endB = j;
        while (endB < b.size() && IsDigit(b[endB]) == digitB)
            ++endB;
        std::string_view runA = a.substr(i, endA - i);
        std::string_view runB = b.substr(j, endB - j);
        if (digitA) {
            runA.remove_prefix(std::min(runA.find_first_not_of('0'), runA.size()));
            runB.remove_prefix(std::min(runB.find_first_not_of('0'), runB.size()));
        }
        // Shorter first: fewer digits is a smaller number, and the kernel
        // names its 27th disk sdaa, after sdz.
        if (runA.size() != runB.size())
            return runA.size() < runB.size();
        if (runA != runB)
            return runA < runB;
        i = endA;
        j = endB;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    // Equal but for leading zeros: fall back to plain byte order so the
    // ordering stays strict.
    return a < b;
}

} // namespace zentrova::platform::ata
