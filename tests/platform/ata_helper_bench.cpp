// What the drive helper costs: a poll (data and thresholds pages) read
// directly and through the helper process, on a simulated disk behind both
// roads, and the helper's resident memory. Prints the figures.
#include "platform/linux/helper_client.h"
#include "platform/linux/linux_registry.h"
#include "platform/sim/simulated_disk_access.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
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

struct Cost {
    double mean = -1;
    double median = -1;
};

// Each poll timed alone: on a shared machine the mean carries every time the
// scheduler ran something else, the median is what a poll costs.
Cost MicrosPerPoll(LinuxRegistry& registry) {
    std::vector<BlockStorageService> services = registry.BlockStorageServices();
    if (services.empty() || !services[0].smartInterface)
        return {};
    AtaSmartInterface& smart = *services[0].smartInterface;
    std::array<std::uint8_t, kSmartPageSize> data{}, thresholds{};
    std::vector<double> micros;
    micros.reserve(kPolls);
    for (int i = 0; i < kPolls; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (smart.SMARTReadData(data.data()) != 0 ||
            smart.SMARTReadDataThresholds(thresholds.data()) != 0)
            return {};
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    Cost cost;
    cost.mean = std::accumulate(micros.begin(), micros.end(), 0.0) / kPolls;
    std::nth_element(micros.begin(), micros.begin() + kPolls / 2, micros.end());
    cost.median = micros[kPolls / 2];
    return cost;
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

    const Cost directCost = MicrosPerPoll(direct);
    const Cost helperCost = MicrosPerPoll(throughHelper);
    if (directCost.mean < 0 || helperCost.mean < 0 || helper == nullptr) {
        std::printf("FAILED: a poll did not succeed on both roads\n");
        return 1;
    }
    const double extra = helperCost.median - directCost.median;
    const long rss = ResidentKiB(helper->Pid());
    std::printf("poll, direct:         median %8.1f us, mean %8.1f us\n", directCost.median,
                directCost.mean);
    std::printf("poll, through helper: median %8.1f us, mean %8.1f us\n", helperCost.median,
                helperCost.mean);
    std::printf("extra per poll:       median %8.1f us (target at most %.0f us): %s\n", extra,
                kTargetExtraMicros, extra <= kTargetExtraMicros ? "within" : "OVER");
    std::printf("helper resident:      %8ld KiB (target under %ld KiB): %s\n", rss, kTargetRssKiB,
                rss >= 0 && rss < kTargetRssKiB ? "within" : "OVER");
    // Time on a shared machine is only reported; memory does not vary.
    return rss >= 0 && rss < kTargetRssKiB ? 0 : 1;
}
