// Every global of the monitor's layers back to its start value, for a test or
// benchmark that runs the whole controller more than once in one process.
#pragma once

#include "device/device.h"
#include "history/history.h"
#include "metrics/metrics.h"
#include "settings/store.h"
#include "smart/smart_state.h"
#include "watch/watch.h"

namespace zentrova::testing {

inline void ResetMonitorGlobalsForTest() {
    device::ResetDeviceGlobalsForTest();
    smart::ResetSmartGlobalsForTest();
    settings::ResetSettingsForTest();
    metrics::ResetMetricsGlobalsForTest();
    history::ResetHistoryForTest();
    watch::ResetWatchForTest();
}

} // namespace zentrova::testing
