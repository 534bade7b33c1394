// What a drive says of its self-tests, read from byte pages: the running
// test and the drive's ability from an ATA drive's SMART data page, and the
// self-test log of either kind (ATA SMART log 06h, NVMe log page 06h), both
// as the same rows, newest first. Plain C++: no Qt, no device access.
#pragma once

#include "platform/selftest_layout.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zentrova::selftest {

inline constexpr std::size_t kPageSize = 512;

enum class TestType : std::uint8_t { Offline, Short, Extended, Conveyance, Selective, Vendor };

// How a test ended, as the page and the event log judge it.
enum class Verdict : std::uint8_t { Passed, Aborted, Failed, Running, Unknown };

struct ExecutionStatus {
    std::uint8_t code = 0;    // the status nibble, 0-15
    int percentRemaining = 0; // 0-90 in steps of ten while a test runs
    Verdict verdict = Verdict::Passed;
    bool running() const { return verdict == Verdict::Running; }
};

struct Capability {
    bool supported = false; // offline data collection capability, bit 4
    int shortMinutes = 0;   // recommended polling times
    int extendedMinutes = 0;
};

// One row of the self-test log.
struct LogEntry {
    int number = 0; // 1 the newest
    TestType type = TestType::Offline;
    std::uint8_t status = 0; // the kind's own status code
    Verdict verdict = Verdict::Unknown;
    std::uint64_t powerOnHours = 0;
    std::optional<std::uint64_t> failingLba;
    bool failed() const { return verdict == Verdict::Failed; }
};

// ATA: byte 363 of the SMART data page.
ExecutionStatus DecodeExecutionStatus(const std::uint8_t* smartData);
// ATA: bytes 367, 372, 373 and 375-376 of the SMART data page.
Capability DecodeCapability(const std::uint8_t* smartData);
// NVMe: Identify Controller's OACS bit 4 and EDSTT (bytes 256 and 316-317,
// within the 512 bytes the monitor keeps); a short test takes at most two
// minutes by the standard.
Capability DecodeNvmeCapability(const std::uint8_t* identify);
// ATA SMART self-test log (log address 06h): 21 descriptors in a circular
// buffer whose byte 508 names the newest; empty descriptors are left out.
std::vector<LogEntry> DecodeAtaSelfTestLog(const std::uint8_t* page);

// NVMe Device Self-test log (log identifier 06h) as far as `size` bytes
// reach (the full page is 564): the running operation and its completion,
// and the result entries, already newest first.
struct NvmeSelfTestLog {
    std::optional<TestType> running;
    int percentComplete = 0;
    std::vector<LogEntry> entries;
};
using platform::selftest::kNvmeLogSize;
NvmeSelfTestLog DecodeNvmeSelfTestLog(const std::uint8_t* page, std::size_t size);

// The words a user reads.
const char* TypeName(TestType type);
std::string AtaStatusText(std::uint8_t code);
std::string NvmeResultText(std::uint8_t code);
const char* VerdictName(Verdict verdict);

} // namespace zentrova::selftest
