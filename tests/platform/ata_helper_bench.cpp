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

using namespace zentrova::platform;

namespace {

constexpr int kPolls = 5000;

// The median poll, each timed alone: on a shared machine a mean carries every
// time the scheduler ran something else. -1 when a poll fails.
double MedianMicrosPerPoll(DiskAccess& disks) {
    std::vector<double> micros;
    for (int i = 0; i < kPolls; ++i) {
        const auto start = std::chrono::steady_clock::now();
        for (DiskCommand c : {DiskCommand::SmartReadData, DiskCommand::SmartReadThresholds})
            if (!disks.Run("sda", c, ata::CdbForm::Sixteen).ok())
                return -1;
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::nth_element(micros.begin(), micros.begin() + kPolls / 2, micros.end());
    return micros[kPolls / 2];
}

} // namespace

int main() {
    ::setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_DEMO_DRIVES, 1);
    SimulatedDiskAccess direct(ZENTROVA_DEMO_DRIVES);
    std::string error;
    const auto helper = HelperDiskAccess::Start(ZENTROVA_ATA_HELPER_PATH, &error);
    const double directMedian = MedianMicrosPerPoll(direct);
    const double helperMedian = helper ? MedianMicrosPerPoll(*helper) : -1;
    if (directMedian < 0 || helperMedian < 0) {
        std::printf("FAILED: a poll did not succeed on both roads %s\n", error.c_str());
        return 1;
    }
    long rss = -1;
    std::ifstream in("/proc/" + std::to_string(helper->Pid()) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("VmRSS:"))
            rss = std::strtol(line.c_str() + 6, nullptr, 10);
    // Time on a shared machine is only reported; memory does not vary.
    std::printf("poll median: direct %.1f us, through helper %.1f us, extra %.1f us (target 200 "
                "us)\nhelper resident: %ld KiB (target under 2048 KiB)\n",
                directMedian, helperMedian, helperMedian - directMedian, rss);
    return rss >= 0 && rss < 2048 ? 0 : 1;
}
