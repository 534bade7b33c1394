// ATA commands wrapped in SCSI ATA PASS-THROUGH, without touching a device:
// the command blocks, the reading of sense data, the verdict on one SG_IO
// exchange, the strings of an IDENTIFY DEVICE page and the order of disk names.
//
// Kept apart from the ioctl so that every byte the kernel sees and every
// answer it may give can be checked in a unit test.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zentrova::platform::ata {

inline constexpr std::size_t kSectorSize = 512;

// The two command forms. The 16-byte one is the standard's main form; some USB
// bridges know only the 12-byte one.
enum class CdbForm { Sixteen, Twelve };

enum class AtaCommand {
    IdentifyDevice,
    SmartEnableOperations,
    SmartDisableOperations,
    SmartReadData,
    SmartReadThresholds,
    // SMART EXECUTE OFF-LINE IMMEDIATE in off-line mode, so the drive keeps
    // serving I/O while it tests itself, and the one log it may read.
    SmartShortSelfTest,
    SmartExtendedSelfTest,
    SmartAbortSelfTest,
    SmartReadSelfTestLog,
};

struct Cdb {
    std::array<std::uint8_t, 16> bytes{};
    std::uint8_t length = 0;
};

// Whether the command moves one 512-byte sector from the drive (PIO data-in)
// or no data at all.
bool ReadsSector(AtaCommand command);

Cdb BuildCdb(AtaCommand command, CdbForm form);

// What the sense data says, as far as this layer needs it.
struct SenseInfo {
    bool valid = false;
    bool descriptorFormat = false;
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    // The ATA Status field the drive ended the command with, when the sense
    // data carries it (ATA Status Return descriptor, or fixed format marked
    // ATA PASS-THROUGH INFORMATION AVAILABLE).
    std::optional<std::uint8_t> ataStatus;
    std::optional<std::uint8_t> ataError;
};

// Reads no byte at or past `length`, whatever the lengths inside claim.
SenseInfo ParseSense(const std::uint8_t* sense, std::size_t length);

inline constexpr std::uint8_t kSenseNoSense = 0x0;
inline constexpr std::uint8_t kSenseRecoveredError = 0x1;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x5;
inline constexpr std::uint8_t kSenseAbortedCommand = 0xb;

inline constexpr std::uint8_t kAtaStatusErr = 0x01;
inline constexpr std::uint8_t kAtaStatusDf = 0x20;
inline constexpr std::uint8_t kAtaStatusBsy = 0x80;

// The fields of sg_io_hdr that tell how an exchange ended, plus the ioctl's
// own result.
struct SgReply {
    int ioctlResult = 0;
    int ioctlErrno = 0;
    std::uint8_t status = 0;
    std::uint8_t maskedStatus = 0;
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    int resid = 0;
    const std::uint8_t* sense = nullptr;
    std::size_t senseLength = 0;
};

enum class Outcome {
    Ok = 0,
    SystemError,    // the ioctl itself failed
    TransportError, // host adapter or driver trouble, time-outs included
    Rejected,       // the command form was refused (ILLEGAL REQUEST and the like)
    DeviceError,    // the drive ended the command with an error
    NoAtaStatus,    // an answer that proves nothing either way
    ShortTransfer,  // the sector did not arrive whole
};

struct Verdict {
    Outcome outcome = Outcome::NoAtaStatus;
    std::string detail; // for the detection debug lines; empty on success
    bool ok() const { return outcome == Outcome::Ok; }
};

Verdict Judge(const SgReply& reply, AtaCommand command);

// Whether a refusal of the 16-byte form is worth a second try with the 12-byte
// form: the command was refused as such, not failed by the drive.
bool WorthTwelveByteRetry(const Verdict& sixteenByteVerdict);

// An ATA string of IDENTIFY DEVICE: two characters per word, high byte first.
// Stops at a NUL; trailing blanks are dropped.
std::string AtaString(const std::uint8_t* page, int firstWord, int wordCount);
std::string IdentifyModel(const std::uint8_t* page);    // words 27-46
std::string IdentifyRevision(const std::uint8_t* page); // words 23-26
// Words 10-19, leading blanks dropped too: drives pad a short serial on
// either side.
std::string IdentifySerial(const std::uint8_t* page);

// Why a page that came back as IDENTIFY DEVICE data cannot be one; nullopt
// when it looks like a real ATA device's.
std::optional<std::string> IdentifyPageProblem(const std::uint8_t* page);

// strerror, with a hint where the answer is a missing privilege.
std::string ErrnoText(int error);

// Kernel disk names in the kernel's own order: runs of digits compare as
// numbers, runs of letters shorter first (sdz before sdaa), then by bytes.
bool NaturalLess(std::string_view a, std::string_view b);

} // namespace zentrova::platform::ata
