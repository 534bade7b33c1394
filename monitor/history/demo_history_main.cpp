// zentrova_demo_history DRIVES.json DATA-FOLDER: gives the simulated drives of
// DRIVES.json a past in a new DATA-FOLDER/history.sqlite3; an existing one is
// left as it is (scripts/demo.sh runs it before the demo's first start).
#include "device/device.h"
#include "history/demo_history.h"
#include "platform/sim/simulated_registry.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv) {
    namespace history = zentrova::history;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DRIVES.json DATA-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string path = std::string(argv[2]) + "/" + history::kHistoryFileName;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        std::fprintf(stderr, "zentrova_demo_history: %s exists: left as it is\n", path.c_str());
        return 0;
    }
    zentrova::platform::SimulatedRegistry registry(argv[1]);
    zentrova::device::SMARTDeviceDetection(registry);
    if (zentrova::device::dev.gpHeadDevInfo == nullptr) {
        std::fprintf(stderr, "zentrova_demo_history: no drives in %s\n", argv[1]);
        return 1;
    }
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    history::Store store([now] { return now; });
    history::Trouble trouble = store.Open(path);
    if (trouble.error.empty())
        trouble = history::SeedDemoHistory(store, now);
    zentrova::device::FreeDeviceList();
    if (!trouble.error.empty()) {
        std::fprintf(stderr, "zentrova_demo_history: %s: %s\n", path.c_str(),
                     trouble.error.c_str());
        return 1;
    }
    return 0;
}
