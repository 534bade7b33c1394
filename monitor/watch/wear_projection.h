// The wear projection's limits: what it takes before a line through an NVMe
// drive's percentage used is worth telling.
#pragma once

#include <cstdint>

namespace zentrova::watch {

inline constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
inline constexpr std::int64_t kWearWindowMs = 90 * kDayMs; // the line's readings
inline constexpr std::int64_t kWearMinSpanMs = 14 * kDayMs;
inline constexpr double kWearMinChange = 1.0; // percentage points
inline constexpr double kMonthMs = 30.436875 * kDayMs;
// Beyond this a line says nothing useful; the text still counts the months.
inline constexpr double kWearMaxMonths = 1200;

} // namespace zentrova::watch
