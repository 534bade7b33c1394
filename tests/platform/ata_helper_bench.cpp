// What the drive helper costs: a poll (data and thresholds pages) of a
// simulated disk read directly and through the helper process, and the
// helper's memory. Prints the figures.
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
    SimulatedDiskAccess direct(ZENTROVA_DEMO_DRIVES);
    std::string error;
    const auto helper = HelperDiskAccess::Start(
        {ZENTROVA_ATA_HELPER_PATH, {}, {"ZENTROVA_SIMULATED_DRIVES=" ZENTROVA_DEMO_DRIVES}},
        &error);
    const double directMedian = MedianMicrosPerPoll(direct);
    const double helperMedian = helper ? MedianMicrosPerPoll(*helper) : -1;
    if (directMedian < 0 || helperMedian < 0) {
        std::printf("FAILED: a poll did not succeed on both roads %s\n", error.c_str());
        return 1;
    }
    // The helper links glibc dynamically: its resident set counts the pages of
    // the C library it shares with every other program. What it costs the
    // machine is its proportional set: its own pages and its share of those.
    long rss = -1, pss = -1;
    std::ifstream in("/proc/" + std::to_string(helper->Pid()) + "/smaps_rollup");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("Rss:"))
            rss = std::strtol(line.c_str() + 4, nullptr, 10);
        if (line.starts_with("Pss:"))
            pss = std::strtol(line.c_str() + 4, nullptr, 10);
    }
    // Time on a shared machine is only reported; memory does not vary.
    std::printf("poll median: direct %.1f us, through helper %.1f us, extra %.1f us (target 200 "
                "us)\nhelper memory: %ld KiB proportional (target under 2048 KiB), %ld KiB "
                "resident with the shared C library\n",
                directMedian, helperMedian, helperMedian - directMedian, pss, rss);
    return pss >= 0 && pss < 2048 ? 0 : 1;
}
