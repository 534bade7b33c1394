// The simulated drives (docs/simulated-drives.md) as disks of /sys/block,
// so that the drive helper and both roads of the Linux registry can be
// measured and tested without hardware: each drive with a name is a SCSI disk
// whose IDENTIFY DEVICE page carries its model and firmware, or, when its
// kind is Nvme, a controller whose admin commands answer its two pages.
#pragma once

#include "platform/device_registry.h"
#include "platform/linux/disk_access.h"

#include <string>

namespace zentrova::platform {

class SimulatedDiskAccess final : public DiskAccess {
  public:
    explicit SimulatedDiskAccess(const std::string& path);
    // Drives made in a test.
    explicit SimulatedDiskAccess(std::vector<BlockStorageService> drives);
    std::vector<DiskFacts> ListDisks(std::string* error) override;
    DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) override;

  private:
    std::vector<BlockStorageService> drives_;
};

} // namespace zentrova::platform
