#include "device_registry.h"

#include "linux/linux_registry.h"
#include "sim/simulated_registry.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace zentrova::platform {

std::unique_ptr<DeviceRegistry> CreateSystemDeviceRegistry() {
    const char* simulated = std::getenv("ZENTROVA_SIMULATED_DRIVES");
    if (simulated != nullptr && simulated[0] != '\0')
        return std::make_unique<SimulatedRegistry>(simulated);
    return std::make_unique<LinuxRegistry>();
}

std::ostream* DebugStreamFromEnvironment() {
    const char* value = std::getenv("ZENTROVA_DEBUG_DETECTION");
    if (value == nullptr || value[0] == '\0' || std::strcmp(value, "0") == 0)
        return nullptr;
    return &std::cerr;
}

} // namespace zentrova::platform
