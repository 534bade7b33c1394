// The one seam between the Linux registry and the disks: list the whole disks
// of /sys/block, and run one of four ATA commands on one of them.
//
// The monitor reads directly (DirectDiskAccess) when it may open the disks
// itself, and otherwise through the privileged helper zentrova-ata
// (HelperDiskAccess), which runs a DirectDiskAccess of its own. Both roads go
// through the same code, so they give the same lists, notes and pages.
#pragma once

#include "platform/device_registry.h"
#include "platform/linux/ata_passthrough.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrova::platform {

// What detection needs to know of one entry of /sys/block before it sends
// anything to it. An NVMe controller stands in the list where its first
// namespace stands in /sys/block, in place of all its namespaces: the
// controller is the drive, and sysfs tells what the window shows of it
// before any command, so that it is listed even when it cannot be read.
struct DiskFacts {
    std::string name; // as in /sys/block ("sda", "cciss!c0d0"), or a controller ("nvme0")
    std::optional<std::int64_t> sizeBytes; // of a controller: its lowest NSID's
    bool hasDevice = false;                // a hardware parent: loop, zram, dm have none
    std::optional<int> scsiType;           // SCSI peripheral device type, when it has one
    std::string parentSubsystem;           // "scsi", "virtio", "nvme", ... ("" when unknown)
    DriveKind kind = DriveKind::Ata;
    // A controller's model, firmware revision and hwmon temperature (°C).
    std::string model{};
    std::string firmware{};
    std::optional<int> sensorCelsius{};
    bool operator==(const DiskFacts&) const = default;
};

// The only commands that ever reach a disk: all but the self-tests read, none
// writes, and a self-test only starts or stops the drive's own test of
// itself. This table is what protects the disks. Opening a disk read-only does not:
// with CAP_SYS_RAWIO the kernel accepts any SG_IO command, a write included,
// on a read-only descriptor. A request for any other code is refused before
// anything is sent, and each code maps to fixed registers (ata_passthrough.cpp).
enum class DiskCommand : std::uint8_t {
    IdentifyDevice = 1,
    SmartEnableOperations = 2,
    SmartReadData = 3,
    SmartReadThresholds = 4,
    // NVMe admin commands to a controller (/dev/nvmeN), each fixed whole in
    // nvme_admin.cpp: Identify Controller (06h, CNS 01h), of whose 4096
    // bytes the answer carries the first 512, and Get Log Page (02h) of the
    // SMART / Health Information log (02h) for all namespaces.
    NvmeIdentifyController = 5,
    NvmeReadHealthLog = 6,
    // SMART EXECUTE OFF-LINE IMMEDIATE (B0h, D4h) with subcommand 01h, 02h
    // or 7Fh, and SMART READ LOG (B0h, D5h) of log address 06h alone.
    SmartShortSelfTest = 7,
    SmartExtendedSelfTest = 8,
    SmartAbortSelfTest = 9,
    SmartReadSelfTestLog = 10,
    // Device Self-test (14h) of the controller and all its namespaces with
    // code 1h, 2h or Fh, and Get Log Page of the Device Self-test log (06h),
    // of which the answer carries the first 512 of its 564 bytes.
    NvmeShortSelfTest = 11,
    NvmeExtendedSelfTest = 12,
    NvmeAbortSelfTest = 13,
    NvmeReadSelfTestLog = 14,
};
inline constexpr DiskCommand kLastDiskCommand = DiskCommand::NvmeReadSelfTestLog;

struct DiskAnswer {
    ata::Outcome outcome = ata::Outcome::SystemError;
    std::string detail;   // why it failed, for the detection notes; empty on success
    bool denied = false;  // failed for want of a privilege (EACCES, EPERM)
    bool refused = false; // never sent: not a disk to ask, or it could not be opened
    std::array<std::uint8_t, ata::kSectorSize> page{}; // the sector, for reading commands
    bool ok() const { return outcome == ata::Outcome::Ok; }
};

class DiskAccess {
  public:
    virtual ~DiskAccess() = default;
    // Every entry of /sys/block in the kernel's name order, the namespaces
    // of an NVMe controller folded into the controller; on failure an empty
    // list and `error` says why.
    virtual std::vector<DiskFacts> ListDisks(std::string* error) = 0;
    virtual DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) = 0;
};

// Whether detection ever sends a command to this entry, and if not why.
std::optional<std::string> ScreenDisk(const DiskFacts& facts);

// A disk name as /sys/block spells it: letters, digits, '_', '-' and '!'
// (the kernel's '/'), at most 32 characters. Nothing that could climb out.
bool IsPlainDiskName(std::string_view name);

// strerror of a failed open of a disk's or a controller's node, with what
// the open needs, and the command after it, where a privilege is missing.
std::string OpenErrnoText(int error, bool controller);

bool ReadsSector(DiskCommand command);
// The ATA command of an ATA code; none for the NVMe codes.
std::optional<ata::AtaCommand> ToAtaCommand(DiskCommand command);

// Reads the disks of this machine (or of a test tree with the same shape).
// Every command names its disk afresh and is checked against the sysfs
// folder: a plain name of a whole hardware disk whose type is a disk.
// An NVMe command names a controller instead, checked against the class
// folder beside the block folder (/sys/class/nvme): exactly "nvme" and
// digits, a controller there, its node the character device sysfs names.
// A disk or controller is opened read-only once and kept open until it
// leaves the folder or this object ends (read-only keeps no write from a
// disk; see DiskCommand).
class DirectDiskAccess final : public DiskAccess {
  public:
    DirectDiskAccess(std::string sysBlockDir = "/sys/block", std::string devDir = "/dev");
    DirectDiskAccess(const DirectDiskAccess&) = delete;
    DirectDiskAccess& operator=(const DirectDiskAccess&) = delete;
    ~DirectDiskAccess() override;

    std::vector<DiskFacts> ListDisks(std::string* error) override;
    DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) override;

    // Every path this object reads from, for a confined helper: the sysfs
    // folders (block, class/nvme and class/nvme-subsystem, and devices, where
    // their links lead) and the node of each disk and controller listed now
    // that it may open. A drive that appears later is not among them: a new
    // drive list starts a new helper.
    std::vector<std::string> FilesToRead();

  private:
    void Forget(const std::string& name);
    DiskAnswer RunNvme(const std::string& name, DiskCommand command);
    // The descriptor of `node` kept under `name`, opened and checked against
    // the device number in `sysDir`/dev on first use; -1 with `refusal` set.
    int Node(const std::string& name, const std::string& node, const std::string& sysDir,
             bool characterDevice, DiskAnswer* refusal);

    std::string sysBlockDir_;
    std::string nvmeClassDir_; // class/nvme beside the block folder
    std::string devDir_;
    std::map<std::string, int> open_;
};

} // namespace zentrova::platform
