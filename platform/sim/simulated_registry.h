#pragma once

#include "platform/device_registry.h"

#include <string>

namespace zentrova::platform {

// Drives described by a JSON file, for demonstrations and tests. The format
// is documented in docs/simulated-drives.md.
//
// Every call reads the file afresh and hands out drives with their own
// reading positions. A file that cannot be read or does not hold a valid
// description yields no drives at all, and one line on standard error naming
// the file, the line and the fault.
class SimulatedRegistry final : public DeviceRegistry {
  public:
    explicit SimulatedRegistry(std::string path) : path_(std::move(path)) {}
    std::vector<BlockStorageService> BlockStorageServices() override;

  private:
    std::string path_;
};

} // namespace zentrova::platform
