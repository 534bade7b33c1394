#pragma once

#include "platform/device_registry.h"
#include "platform/linux/disk_access.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace zentrova::platform {

// Whole disks of /sys/block that answer ATA IDENTIFY DEVICE through SCSI ATA
// PASS-THROUGH over SG_IO, and NVMe controllers (one per controller, where
// its first namespace stands), in the kernel's name order.
//
// The disks are read directly when this process may, and otherwise through
// the drive helper zentrova-ata, which is started then and kept for as long as
// a drive handle uses it. An NVMe controller whose health the helper cannot
// read is listed all the same, from sysfs. Every hardware disk left out,
// and every controller without its health, gets one plain line for the
// window (LeftOutDisks); with ZENTROVA_DEBUG_DETECTION=1 in the
// environment every disk also gets one technical line on standard error.
// Why the helper cannot read the disks, and what the user can do about it,
// for the line under the drive table.
struct HelperTrouble {
    std::string why = "is not available"; // after "the Zentrova drive helper, which "
    std::string remedy = "install it with: scripts/install.sh";
};

class LinuxRegistry final : public DeviceRegistry {
  public:
    // Starts the helper, or answers null with the trouble it met.
    using HelperStarter = std::function<std::shared_ptr<DiskAccess>(HelperTrouble* trouble)>;

    LinuxRegistry();
    // Another tree, read directly only, and another debug stream (null:
    // none), for tests.
    LinuxRegistry(std::string sysBlockDir, std::string devDir, std::ostream* debugLog);
    // Any two roads; `helperPath` names the helper in the plain lines.
    LinuxRegistry(std::shared_ptr<DiskAccess> direct, HelperStarter helper, std::string helperPath,
                  std::ostream* debugLog);

    std::vector<BlockStorageService> BlockStorageServices() override;
    std::vector<std::string> LeftOutDisks() const override { return leftOut_; }

  private:
    std::shared_ptr<DiskAccess> direct_;
    HelperStarter helper_;
    std::string helperPath_;
    std::ostream* debugLog_;
    std::vector<std::string> leftOut_;
};

// The command a user runs to give an installed helper its capabilities.
std::string HelperCapabilityCommand(const std::string& helperPath);

// Why the helper at `path` cannot be run: `error` is what access() said
// (ENOENT for a missing one); `onlyForItsGroup` when the file's group may run
// it and others may not.
HelperTrouble ExplainUnrunnableHelper(const std::string& path, int error, bool onlyForItsGroup);

} // namespace zentrova::platform
