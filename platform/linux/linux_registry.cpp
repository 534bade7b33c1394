#include "linux_registry.h"

namespace zentrova::platform {

std::vector<BlockStorageService> LinuxRegistry::BlockStorageServices() { return {}; }

} // namespace zentrova::platform
