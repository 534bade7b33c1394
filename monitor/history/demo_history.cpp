#include "history/demo_history.h"

#include "device/device.h"
#include "history/history_reading.h"
#include "platform/nvme_pages.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zentrova::history {

Trouble SeedDemoHistory(Store& store, std::int64_t nowMs) {
    for (const device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        std::array<std::uint8_t, platform::kSmartPageSize> data{}, thresholds{};
        if (!r->ppSmartInterface || r->ppSmartInterface->SMARTReadData(data.data()) != 0 ||
            r->ppSmartInterface->SMARTReadDataThresholds(thresholds.data()) != 0)
            continue; // a drive that does not answer has no past to show
        const bool nvme = r->driveKind == platform::DriveKind::Nvme;
        const std::uint8_t usedNow = data[platform::nvme::kPercentageUsed.offset];
        const std::int64_t span = (nvme ? kDemoWearDays : kDemoAtaDays) * kDemoDayMs;
        for (std::int64_t ago = span; ago >= kDemoStepMs; ago -= kDemoStepMs) {
            if (nvme) {
                const double used = usedNow - static_cast<double>(ago) / kDemoDayMs / 10;
                data[platform::nvme::kPercentageUsed.offset] =
                    static_cast<std::uint8_t>(std::max(0.0, std::round(used)));
            }
            const Trouble trouble =
                store.Add(ReadingOf(*r, data.data(), thresholds.data(), nowMs - ago));
            if (!trouble.error.empty())
                return trouble;
        }
    }
    return {};
}

} // namespace zentrova::history
