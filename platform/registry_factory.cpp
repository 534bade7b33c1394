#include "device_registry.h"

#include "linux/linux_registry.h"
#include "sim/simulated_registry.h"

#include <cstdlib>

namespace zentrova::platform {

std::unique_ptr<DeviceRegistry> CreateSystemDeviceRegistry() {
    const char* simulated = std::getenv("ZENTROVA_SIMULATED_DRIVES");
    if (simulated != nullptr && simulated[0] != '\0')
        return std::make_unique<SimulatedRegistry>(simulated);
    return std::make_unique<LinuxRegistry>();
}

} // namespace zentrova::platform
