#include "watch/wear_projection.h"

#include "watch/watch.h"
#include "watch/watch_text.h"

#include <algorithm>
#include <cmath>

namespace zentrova::watch {

Projection ProjectWear(std::span<const std::pair<std::int64_t, double>> points,
                       std::int64_t nowMs) {
    Projection p;
    p.text = NotEnoughHistoryText();
    if (points.empty())
        return p;
    const double current = points.back().second;
    if (current >= 100) {
        p.text = LifeUsedText(static_cast<std::uint64_t>(current));
        return p;
    }
    // The last 90 days only: a drive's use changes over its life, and the
    // recent rate is the one that tells when it ends.
    const auto first = std::find_if(points.begin(), points.end(), [&](const auto& point) {
        return point.first >= nowMs - kWearWindowMs;
    });
    const std::span<const std::pair<std::int64_t, double>> recent(first, points.end());
    if (recent.size() < 2 || recent.back().first - recent.front().first < kWearMinSpanMs)
        return p;
    const auto [low, high] =
        std::minmax_element(recent.begin(), recent.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; });
    if (high->second - low->second < kWearMinChange)
        return p;

    // Least squares over (days since the window's first reading, percent).
    const std::int64_t t0 = recent.front().first;
    double sx = 0, sy = 0;
    for (const auto& [t, y] : recent) {
        sx += double(t - t0) / kDayMs;
        sy += y;
    }
    const double n = double(recent.size());
    const double mx = sx / n, my = sy / n;
    double sxy = 0, sxx = 0;
    for (const auto& [t, y] : recent) {
        const double dx = double(t - t0) / kDayMs - mx;
        sxy += dx * (y - my);
        sxx += dx * dx;
    }
    if (sxx <= 0 || sxy <= 0)
        return p;                   // no rise to project: no guess
    const double slope = sxy / sxx; // percentage points a day
    const double intercept = my - slope * mx;
    const double endDay = (100 - intercept) / slope;
    const double nowDay = double(nowMs - t0) / kDayMs;
    p.monthsLeft = std::clamp((endDay - nowDay) * kDayMs / kMonthMs, 0.0, kWearMaxMonths);
    p.endMs = nowMs + static_cast<std::int64_t>(p.monthsLeft * kMonthMs);
    p.estimated = true;
    p.text = LifeLeftText(p.monthsLeft, p.endMs);
    return p;
}

} // namespace zentrova::watch
