#pragma once

#include "platform/device_registry.h"

#include <string>

namespace zentrova::platform {

// Drives described by a JSON file, for demonstrations and tests.
class SimulatedRegistry final : public DeviceRegistry {
  public:
    explicit SimulatedRegistry(std::string path) : path_(std::move(path)) {}
    std::vector<BlockStorageService> BlockStorageServices() override;

  private:
    std::string path_;
};

} // namespace zentrova::platform
