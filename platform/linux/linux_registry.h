#pragma once

#include "platform/device_registry.h"

#include <iosfwd>
#include <string>

namespace zentrova::platform {

// Whole disks of /sys/block that answer ATA IDENTIFY DEVICE through SCSI ATA
// PASS-THROUGH over SG_IO, in the kernel's name order. Disks that do not
// answer are left out silently; with ZENTROVA_DEBUG_DETECTION=1 in the
// environment every disk gets one line on standard error saying why it was
// left out or that it was listed.
class LinuxRegistry final : public DeviceRegistry {
  public:
    LinuxRegistry();
    // Other roots and another debug stream (null: none), for tests.
    LinuxRegistry(std::string sysBlockDir, std::string devDir, std::ostream* debugLog);
    std::vector<BlockStorageService> BlockStorageServices() override;

  private:
    std::string sysBlockDir_;
    std::string devDir_;
    std::ostream* debugLog_;
};

} // namespace zentrova::platform
