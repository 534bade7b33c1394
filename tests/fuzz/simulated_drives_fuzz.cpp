// Arbitrary bytes as a simulated-drives file: rejected whole with a message,
// or drives whose pages read back any number of times.
#include "platform/sim/simulated_registry.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace zentrova::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp ? tmp : "/tmp") + "/zentrova-drives-fuzz-" +
               std::to_string(::getpid()) + ".json";
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
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
