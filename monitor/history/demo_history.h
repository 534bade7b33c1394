// The demo's past. A fresh demo has no history, so nothing could be measured
// against last week and no wear could be projected; this writes readings as
// if the monitor had been running: a month of slowly rising wear for every
// NVMe drive and a week of unchanged readings for every ATA drive.
#pragma once

#include "history/history_store.h"

#include <cstdint>

namespace zentrova::history {

inline constexpr std::int64_t kDemoDayMs = 24 * 3600 * 1000LL;
// A reading every 12 hours, up to an hour before now.
inline constexpr std::int64_t kDemoStepMs = kDemoDayMs / 2;
inline constexpr int kDemoWearDays = 32; // NVMe: percentage used rises a point per 10 days
inline constexpr int kDemoAtaDays = 8;   // ATA: a week and a day, counts as they stand

// Adds the past of every drive of the detected list (device::dev), each
// under its identity as the monitor records it (IdentityOf), built from the
// pages the drive answers now. Stops at the first trouble.
Trouble SeedDemoHistory(Store& store, std::int64_t nowMs);

} // namespace zentrova::history
