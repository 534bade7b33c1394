#include "selftest_pages.h"

#include "nvme/nvme_health.h"

#include <cstdio>

namespace zentrova::selftest {

namespace {

using namespace platform::selftest;

// The standard's longest short test.
constexpr int kNvmeShortMinutes = 2;

std::uint64_t LittleEndian(const std::uint8_t* bytes, std::size_t width) {
    return static_cast<std::uint64_t>(nvme::LittleEndian(bytes, width));
}

Verdict AtaVerdict(std::uint8_t code) {
    if (code == 0)
        return Verdict::Passed;
    if (code == 1 || code == 2)
        return Verdict::Aborted;
    if (code >= 3 && code <= 8)
        return Verdict::Failed;
    return code == 15 ? Verdict::Running : Verdict::Unknown;
}

Verdict NvmeVerdict(std::uint8_t code) {
    switch (code) {
    case 0:
        return Verdict::Passed;
    case 1: // aborted by a Device Self-test command
    case 2: // by a controller reset
    case 3: // by a namespace removal
    case 4: // by Format NVM
    case 8: // for a reason it does not know
    case 9: // by a sanitize operation
        return Verdict::Aborted;
    case 5:
    case 6:
    case 7:
        return Verdict::Failed;
    default:
        return Verdict::Unknown;
    }
}

// The subcommand that started the test, captive (80h and up) or not.
TestType AtaType(std::uint8_t subcommand) {
    switch (subcommand & 0x7f) {
    case 1:
        return TestType::Short;
    case 2:
        return TestType::Extended;
    case 3:
        return TestType::Conveyance;
    case 4:
        return TestType::Selective;
    default:
        return subcommand >= 0x40 ? TestType::Vendor : TestType::Offline;
    }
}

TestType NvmeType(std::uint8_t code) {
    if (code == 1)
        return TestType::Short;
    return code == 2 ? TestType::Extended : TestType::Vendor;
}

} // namespace

ExecutionStatus DecodeExecutionStatus(const std::uint8_t* smartData) {
    const std::uint8_t byte = smartData[kExecutionStatusByte];
    ExecutionStatus status;
    status.code = static_cast<std::uint8_t>(byte >> 4);
    status.verdict = AtaVerdict(status.code);
    status.percentRemaining = status.running() ? 10 * (byte & 0x0f) : 0;
    return status;
}

Capability DecodeCapability(const std::uint8_t* smartData) {
    Capability capability;
    capability.supported = (smartData[kOfflineCapabilityByte] & kSelfTestSupportedBit) != 0;
    capability.shortMinutes = smartData[kShortMinutesByte];
    capability.extendedMinutes = smartData[kExtendedMinutesByte];
    if (capability.extendedMinutes == 0xff)
        capability.extendedMinutes =
            static_cast<int>(LittleEndian(smartData + kExtendedMinutesWord, 2));
    return capability;
}

Capability DecodeNvmeCapability(const std::uint8_t* identify) {
    Capability capability;
    capability.supported = (identify[kOacsByte] & kOacsSelfTest) != 0;
    capability.shortMinutes = capability.supported ? kNvmeShortMinutes : 0;
    capability.extendedMinutes = static_cast<int>(LittleEndian(identify + kExtendedTimeWord, 2));
    return capability;
}

std::vector<LogEntry> DecodeAtaSelfTestLog(const std::uint8_t* page) {
    std::vector<LogEntry> entries;
    const std::size_t index = page[kAtaIndexByte];
    if (index == 0 || index > kAtaDescriptorCount)
        return entries;
    for (std::size_t back = 0; back < kAtaDescriptorCount; ++back) {
        const std::size_t slot = (index - 1 + kAtaDescriptorCount - back) % kAtaDescriptorCount;
        const std::uint8_t* d = page + kAtaFirstDescriptor + slot * kAtaDescriptorSize;
        // No logged test has subcommand 0: the buffer has not come round yet.
        if (d[0] == 0)
            break;
        LogEntry entry;
        entry.number = static_cast<int>(entries.size()) + 1;
        entry.type = AtaType(d[0]);
        entry.status = static_cast<std::uint8_t>(d[1] >> 4);
        entry.verdict = AtaVerdict(entry.status);
        entry.powerOnHours = LittleEndian(d + kAtaHoursOffset, 2);
        const std::uint64_t lba = LittleEndian(d + kAtaLbaOffset, 4) & kAtaNoLba;
        if (entry.failed() && lba != kAtaNoLba)
            entry.failingLba = lba;
        entries.push_back(entry);
    }
    return entries;
}

NvmeSelfTestLog DecodeNvmeSelfTestLog(const std::uint8_t* page, std::size_t size) {
    NvmeSelfTestLog log;
    if (size < kNvmeFirstEntry)
        return log;
    if (const std::uint8_t operation = page[0] & 0x0f; operation != 0) {
        log.running = NvmeType(operation);
        log.percentComplete = page[1] & 0x7f;
    }
    for (std::size_t i = 0; i < kNvmeEntryCount; ++i) {
        const std::size_t at = kNvmeFirstEntry + i * kNvmeEntrySize;
        if (at + kNvmeEntrySize > size)
            break;
        const std::uint8_t* e = page + at;
        const auto result = static_cast<std::uint8_t>(e[0] & 0x0f);
        if (result == kNvmeUnusedEntry)
            break;
        LogEntry entry;
        entry.number = static_cast<int>(i) + 1;
        entry.type = NvmeType(static_cast<std::uint8_t>(e[0] >> 4));
        entry.status = result;
        entry.verdict = NvmeVerdict(result);
        entry.powerOnHours = LittleEndian(e + kNvmeHoursOffset, 8);
        if ((e[2] & kNvmeFailingLbaValid) != 0)
            entry.failingLba = LittleEndian(e + kNvmeLbaOffset, 8);
        log.entries.push_back(entry);
    }
    return log;
}

const char* TypeName(TestType type) {
    switch (type) {
    case TestType::Offline:
        return "Off-line";
    case TestType::Short:
        return "Short";
    case TestType::Extended:
        return "Extended";
    case TestType::Conveyance:
        return "Conveyance";
    case TestType::Selective:
        return "Selective";
    case TestType::Vendor:
        break;
    }
    return "Vendor";
}

std::string AtaStatusText(std::uint8_t code) {
    static const char* const kTexts[16] = {
        "Completed without error",
        "Aborted by the host",
        "Interrupted by a reset",
        "Fatal error, not completed",
        "Failed: unknown element",
        "Failed: electrical element",
        "Failed: servo or seek element",
        "Failed: read element",
        "Failed: handling damage",
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        "In progress",
    };
    if (const char* text = kTexts[code & 0x0f])
        return text;
    char reserved[32];
    std::snprintf(reserved, sizeof reserved, "Reserved status %Xh", code & 0x0f);
    return reserved;
}

std::string NvmeResultText(std::uint8_t code) {
    static const char* const kTexts[] = {
        "Completed without error",       "Aborted by a self-test command",
        "Aborted by a controller reset", "Aborted by a namespace removal",
        "Aborted by a format",           "Fatal or unknown error",
        "Failed: segment unknown",       "Failed: one or more segments",
        "Aborted for an unknown reason", "Aborted by a sanitize",
    };
    if (code < std::size(kTexts))
        return kTexts[code];
    char reserved[32];
    std::snprintf(reserved, sizeof reserved, "Reserved result %Xh", code & 0x0f);
    return reserved;
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Passed:
        return "Passed";
    case Verdict::Aborted:
        return "Aborted";
    case Verdict::Failed:
        return "Failed";
    case Verdict::Running:
        return "Running";
    case Verdict::Unknown:
        break;
    }
    return "Unknown";
}

} // namespace zentrova::selftest
