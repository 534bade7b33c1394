#include "simulated_registry.h"

namespace zentrova::platform {

std::vector<BlockStorageService> SimulatedRegistry::BlockStorageServices() { return {}; }

} // namespace zentrova::platform
