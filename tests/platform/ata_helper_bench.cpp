// What the drive helper costs: a poll (data and thresholds pages) of a
// simulated disk read directly and through the helper process, and the
// helper's resident memory. Prints the figures.
#include "platform/linux/helper_client.h"
#include "platform/sim/simulated_disk_access.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>

using namespace zentrova::platform;

namespace {

constexpr int kPolls = 5000;
constexpr double kTargetExtraMicros = 200;
constexpr long kTargetRssKiB = 2048;

// Median and mean of a poll, each timed alone: on a shared machine the mean
// carries every time the scheduler ran something else.
std::pair<double, double> MicrosPerPoll(DiskAccess& disks) {
    std::vector<double> micros;
    for (int i = 0; i < kPolls; ++i) {
        const auto start = std::chrono::steady_clock::now();
        for (DiskCommand c : {DiskCommand::SmartReadData, DiskCommand::SmartReadThresholds})
            if (!disks.Run("sda", c, ata::CdbForm::Sixteen).ok())
                return {-1, -1};
        const auto took = std::chrono::steady_clock::now() - start;
        micros.push_back(std::chrono::duration<double, std::micro>(took).count());
    }
    const double mean = std::accumulate(micros.begin(), micros.end(), 0.0) / kPolls;
    std::nth_element(micros.begin(), micros.begin() + kPolls / 2, micros.end());
    return {micros[kPolls / 2], mean};
}

} // namespace

int main() {
    ::setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_DEMO_DRIVES, 1);
    SimulatedDiskAccess direct(ZENTROVA_DEMO_DRIVES);
    std::string error;
    const auto helper = HelperDiskAccess::Start(ZENTROVA_ATA_HELPER_PATH, &error);
    const auto [directMedian, directMean] = MicrosPerPoll(direct);
    const auto [helperMedian, helperMean] =
        helper ? MicrosPerPoll(*helper) : std::pair<double, double>{-1, -1};
    if (directMean < 0 || helperMean < 0) {
        std::printf("FAILED: a poll did not succeed on both roads %s\n", error.c_str());
        return 1;
    }
    long rss = -1;
    std::ifstream in("/proc/" + std::to_string(helper->Pid()) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::strtol(line.c_str() + 6, nullptr, 10);
    const double extra = helperMedian - directMedian;
    const bool rssWithin = rss >= 0 && rss < kTargetRssKiB;
    std::printf("poll, direct:         median %8.1f us, mean %8.1f us\n", directMedian, directMean);
    std::printf("poll, through helper: median %8.1f us, mean %8.1f us\n", helperMedian, helperMean);
    std::printf("extra per poll:       median %8.1f us (target at most %.0f us): %s\n", extra,
                kTargetExtraMicros, extra <= kTargetExtraMicros ? "within" : "OVER");
    std::printf("helper resident:      %8ld KiB (target under %ld KiB): %s\n", rss, kTargetRssKiB,
                rssWithin ? "within" : "OVER");
    // Time on a shared machine is only reported; memory does not vary.
    return rssWithin ? 0 : 1;
}
