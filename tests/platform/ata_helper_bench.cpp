// What the drive helper costs: a poll (data and thresholds pages) read
// directly and through the helper process, on a simulated disk behind both
// roads, and the helper's resident memory. Prints the figures.
#include "platform/linux/helper_client.h"
#include "platform/linux/linux_registry.h"
#include "platform/sim/simulated_disk_access.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace zentrova::platform;

namespace {

constexpr int kPolls = 5000;
constexpr double kTargetExtraMicros = 200;
constexpr long kTargetRssKiB = 2048;

class DeniedDisks final : public DiskAccess {
  public:
    std::vector<DiskFacts> ListDisks(std::string*) override {
        return {DiskFacts{"sda", 0, true, 0, "scsi"}};
    }
    DiskAnswer Run(const std::string&, DiskCommand, ata::CdbForm) override {
        DiskAnswer answer;
        answer.denied = answer.refused = true;
        return answer;
    }
};

double MicrosPerPoll(LinuxRegistry& registry) {
    std::vector<BlockStorageService> services = registry.BlockStorageServices();
    if (services.empty() || !services[0].smartInterface)
        return -1;
    AtaSmartInterface& smart = *services[0].smartInterface;
    std::array<std::uint8_t, kSmartPageSize> data{}, thresholds{};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPolls; ++i) {
        if (smart.SMARTReadData(data.data()) != 0 ||
            smart.SMARTReadDataThresholds(thresholds.data()) != 0)
            return -1;
    }
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / kPolls;
}

long ResidentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace

int main() {
    ::setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_DEMO_DRIVES, 1);
    LinuxRegistry direct(std::make_shared<SimulatedDiskAccess>(ZENTROVA_DEMO_DRIVES), nullptr, "",
                         nullptr);
    std::shared_ptr<HelperDiskAccess> helper;
    std::string error;
    LinuxRegistry throughHelper(
        std::make_shared<DeniedDisks>(),
        [&](std::string* whyNot) -> std::shared_ptr<DiskAccess> {
            helper = HelperDiskAccess::Start(ZENTROVA_ATA_HELPER_PATH, whyNot);
            return helper;
        },
        ZENTROVA_ATA_HELPER_PATH, nullptr);

    const double directMicros = MicrosPerPoll(direct);
    const double helperMicros = MicrosPerPoll(throughHelper);
    if (directMicros < 0 || helperMicros < 0 || helper == nullptr) {
        std::printf("FAILED: a poll did not succeed on both roads\n");
        return 1;
    }
    const double extra = helperMicros - directMicros;
    const long rss = ResidentKiB(helper->Pid());
    std::printf("poll, direct:         %8.1f us\n", directMicros);
    std::printf("poll, through helper: %8.1f us\n", helperMicros);
    std::printf("extra per poll:       %8.1f us (target at most %.0f us): %s\n", extra,
                kTargetExtraMicros, extra <= kTargetExtraMicros ? "within" : "OVER");
    std::printf("helper resident:      %8ld KiB (target under %ld KiB): %s\n", rss, kTargetRssKiB,
                rss >= 0 && rss < kTargetRssKiB ? "within" : "OVER");
    // Time on a shared machine is only reported; memory does not vary.
    return rss >= 0 && rss < kTargetRssKiB ? 0 : 1;
}
