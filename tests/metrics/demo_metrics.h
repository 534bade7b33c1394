// The demo drives, detected and polled through the real poll by a windowless
// controller that hands each read to the metrics as the monitor's does.
#pragma once

#include "metrics/metrics.h"
#include "platform/sim/simulated_registry.h"
#include "platform/ui/alert_panel.h"
#include "smart/quiet_host.h"

namespace zentrova::testing {

class MetricsHost : public QuietHost {
  public:
    void PollReadFinished(int drive, const std::uint8_t* data,
                          const std::uint8_t* thresholds) override {
        metrics::MetricsRecordRead(drive, data, thresholds);
    }
};

inline void DetectDemoDrives() {
    platform::SimulatedRegistry registry(ZENTROVA_DEMO_DRIVES);
    device::SMARTDeviceDetection(registry);
    metrics::MetricsDrivesDetected();
}

inline device::xDEV_INFO* Drive(int index) {
    for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == index)
            return r;
    return nullptr;
}

inline void PollDrive(MetricsHost& host, int index, int times) {
    device::dev.gpSelDevInfo = Drive(index);
    for (int i = 0; i < times; ++i)
        smart::PollSelDriveForSMARTAndFillAttributeTable(host);
}

// A model string as a drive could send it, with every character the format
// escapes.
inline constexpr char kOddModel[] = "QUOTE\" BACK\\SLASH\nLINE";

} // namespace zentrova::testing
