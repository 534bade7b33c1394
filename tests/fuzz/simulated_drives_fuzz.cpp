// Arbitrary bytes as a simulated-drives file: rejected whole with a message,
// or drives whose pages read back any number of times.
#include "platform/sim/simulated_registry.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace zentrova::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = std::string(std::getenv("TMPDIR") ?: "/tmp") +
                                    "/zentrova-drives-fuzz-" + std::to_string(getpid()) + ".json";
    std::ofstream file(path, std::ios::binary);
    if (!file.write(reinterpret_cast<const char*>(data), std::streamsize(size)).flush())
        std::abort();
    for (BlockStorageService& service : SimulatedRegistry(path).BlockStorageServices()) {
        if (!service.smartInterface)
            continue;
        std::uint8_t page[512];
        service.smartInterface->SMARTEnableDisableOperations(true);
        for (int read = 0; read < 3; ++read) {
            service.smartInterface->SMARTReadData(page);
            service.smartInterface->SMARTReadDataThresholds(page);
        }
    }
    return 0;
}
