#pragma once

#include "platform/device_registry.h"

namespace zentrova::platform {

// Whole disks of /sys/block that answer ATA IDENTIFY DEVICE through SCSI ATA
// PASS-THROUGH over SG_IO.
class LinuxRegistry final : public DeviceRegistry {
  public:
    std::vector<BlockStorageService> BlockStorageServices() override;
};

} // namespace zentrova::platform
