// The device registry and ATA SMART interface as drive detection sees them.
//
// Detection needs only this much of a platform: the block-storage services in
// a stable order, and for each one whether it speaks ATA SMART, its kernel name
// and size, and the model, firmware and serial strings the drive reports
// about itself.
// The Linux implementation talks to real disks; the simulated one reads a JSON
// file so that the monitor can be shown and tested without hardware.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zentrova::platform {

inline constexpr std::size_t kSmartPageSize = 512;

// What a drive speaks, and so how its two pages are laid out.
enum class DriveKind : std::uint8_t {
    Ata,  // SMART READ DATA and the thresholds page
    Nvme, // one controller: its health log and Identify Controller (nvme_pages.h)
};

// The drive's own test of itself: start a short or an extended one, or stop
// the one that runs.
enum class SelfTestCommand : std::uint8_t { Short, Extended, Abort };

// Answered by a channel that has no self-test commands.
inline constexpr int kNoSelfTests = -2;

// An open SMART channel to one drive. Every command answers a status code, 0
// meaning success, as the drive access layer expects.
//
// An NVMe controller answers the same three calls with its own pages:
// SMARTEnableDisableOperations sends nothing and answers 0 (its health log
// cannot be switched off), SMARTReadData fills the SMART / Health
// Information log (log identifier 02h) and SMARTReadDataThresholds the first
// 512 bytes of Identify Controller, which hold its temperature thresholds.
// So the poll, its page buffers and previous readings serve both kinds.
class AtaSmartInterface {
  public:
    virtual ~AtaSmartInterface() = default;
    virtual int SMARTEnableDisableOperations(bool enable) = 0;
    // Fills exactly kSmartPageSize bytes on success; on failure the page may
    // hold anything the attempt left there.
    virtual int SMARTReadData(std::uint8_t* page) = 0;
    virtual int SMARTReadDataThresholds(std::uint8_t* page) = 0;
    // The self-tests: an ATA drive's SMART EXECUTE OFF-LINE IMMEDIATE and
    // its self-test log (log address 06h), an NVMe controller's Device
    // Self-test and the first 512 bytes of its self-test log (06h). The only
    // commands that make a drive do something; the running test shows in
    // the data page (ATA) or the log (NVMe).
    virtual int SMARTExecuteSelfTest(SelfTestCommand) { return kNoSelfTests; }
    virtual int SMARTReadSelfTestLog(std::uint8_t*) { return kNoSelfTests; }
};

struct BlockStorageService {
    // Null when the service offers no ATA SMART interface.
    std::unique_ptr<AtaSmartInterface> smartInterface;
    // Media entry: kernel name of the whole disk ("sda") and its size in bytes.
    std::optional<std::string> bsdName;
    std::optional<std::int64_t> sizeBytes;
    // Identify entry: "device model" and "device revision".
    std::optional<std::string> deviceModel;
    std::optional<std::string> deviceRevision;
    // The serial number the drive reports (IDENTIFY DEVICE words 10-19, or
    // Identify Controller bytes 4-23), trimmed; none when it could not be read.
    // It tells apart two drives of one model and firmware.
    std::optional<std::string> deviceSerial;
    DriveKind kind = DriveKind::Ata;
    // The drive's temperature in degrees Celsius as a sensor reports it
    // without any command to the drive (an NVMe controller's hwmon), for
    // when its pages cannot be read; none when there is no such sensor.
    std::optional<int> sensorCelsius;
};

class DeviceRegistry {
  public:
    virtual ~DeviceRegistry() = default;
    // Every block-storage service, in a stable order. The caller owns the
    // returned handles.
    virtual std::vector<BlockStorageService> BlockStorageServices() = 0;
    // Why the last listing left out the disks it did: one line in plain words
    // per disk a user would miss, for the window.
    virtual std::vector<std::string> LeftOutDisks() const { return {}; }
};

// The system's version as packed decimal digits, one per 4-bit group
// (0x1039 stands for 10.3.9). Answers 0 with the value set, or an error code.
class SystemVersionSource {
  public:
    virtual ~SystemVersionSource() = default;
    virtual int SystemVersion(std::uint32_t* value) = 0;
};

// The registry this process uses: the simulated one when the environment
// variable ZENTROVA_SIMULATED_DRIVES names a file, the Linux one otherwise.
std::unique_ptr<DeviceRegistry> CreateSystemDeviceRegistry();

// Standard error when the debug switch ZENTROVA_DEBUG_DETECTION is on (set,
// not empty, not "0"), where the monitor explains what it found and did;
// otherwise null.
std::ostream* DebugStreamFromEnvironment();

// This platform always draws alternating rows, so it reports a version in the
// range that asks for them.
SystemVersionSource& SystemVersion();

} // namespace zentrova::platform
