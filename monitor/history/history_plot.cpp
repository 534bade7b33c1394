#include "history/history_plot.h"

#include "history/history_reading.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace zentrova::history {

namespace {
constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
} // namespace

QString RangeName(Range range) {
    switch (range) {
    case Range::Day:
        return QStringLiteral("Day");
    case Range::Week:
        return QStringLiteral("Week");
    case Range::Month:
        return QStringLiteral("Month");
    case Range::Year:
        return QStringLiteral("Year");
    case Range::All:
        break;
    }
    return QStringLiteral("All");
}

std::int64_t RangeStartMs(Range range, std::int64_t nowMs) {
    switch (range) {
    case Range::Day:
        return nowMs - kDayMs;
    case Range::Week:
        return nowMs - 7 * kDayMs;
    case Range::Month:
        return nowMs - 30 * kDayMs;
    case Range::Year:
        return nowMs - 365 * kDayMs;
    case Range::All:
        break;
    }
    return std::numeric_limits<std::int64_t>::min();
}

void PlotModel::Show(const Store* store, const Identity& drive, std::uint8_t entryId, Range range,
                     std::int64_t nowMs) {
    Clear();
    store_ = store;
    drive_ = drive;
    entryId_ = entryId;
    range_ = range;
    lastMs_ = RangeStartMs(range, nowMs) + 1;
    Update(nowMs);
}

void PlotModel::Update(std::int64_t nowMs) {
    if (store_ == nullptr)
        return;
    // Only what came since: the search starts at the last reading's time.
    for (Point& p : store_->Points(drive_, entryId_, lastMs_, lastReading_)) {
        lastMs_ = std::max(lastMs_, p.takenMs);
        lastReading_ = std::max(lastReading_, p.reading);
        points_.push_back(std::move(p));
    }
    const std::int64_t start = RangeStartMs(range_, nowMs);
    while (!points_.empty() && points_.front().takenMs <= start)
        points_.pop_front();
}

void PlotModel::Clear() {
    store_ = nullptr;
    points_.clear();
    lastMs_ = std::numeric_limits<std::int64_t>::min();
    lastReading_ = 0;
}

std::vector<QPointF> PlotModel::Temperatures() const {
    std::vector<QPointF> out;
    for (const Point& p : points_)
        if (p.temperature)
            out.emplace_back(double(p.takenMs), *p.temperature);
    return out;
}

std::vector<QPointF> PlotModel::Values() const {
    std::vector<QPointF> out;
    for (const Point& p : points_)
        if (p.entry && p.entry->value)
            out.emplace_back(double(p.takenMs), double(*p.entry->value));
    return out;
}

std::vector<QPointF> PlotModel::Raws() const {
    std::vector<QPointF> out;
    for (const Point& p : points_)
        if (p.entry)
            out.emplace_back(double(p.takenMs), RawNumber(p.entry->raw));
    return out;
}

std::optional<std::int64_t> PlotModel::Threshold() const {
    for (auto it = points_.rbegin(); it != points_.rend(); ++it)
        if (it->entry)
            return it->entry->threshold;
    return std::nullopt;
}

std::optional<Point> PlotModel::Nearest(double x) const {
    if (points_.empty())
        return std::nullopt;
    const auto after = std::lower_bound(points_.begin(), points_.end(), x,
                                        [](const Point& p, double t) { return p.takenMs < t; });
    if (after == points_.begin())
        return *after;
    if (after == points_.end())
        return points_.back();
    const auto before = std::prev(after);
    return x - before->takenMs <= after->takenMs - x ? *before : *after;
}

std::vector<QPointF> Thinned(const std::vector<QPointF>& points, double fromX, double toX,
                             int columns) {
    if (columns <= 0 || toX <= fromX || points.size() <= 2 * std::size_t(columns))
        return points;
    std::vector<QPointF> out;
    const double width = (toX - fromX) / columns;
    std::size_t i = 0;
    while (i < points.size()) {
        const double column = std::floor((points[i].x() - fromX) / width);
        std::size_t low = i, high = i, end = i;
        for (; end < points.size() && std::floor((points[end].x() - fromX) / width) == column;
             ++end) {
            if (points[end].y() < points[low].y())
                low = end;
            if (points[end].y() > points[high].y())
                high = end;
        }
        out.push_back(points[std::min(low, high)]);
        if (low != high)
            out.push_back(points[std::max(low, high)]);
        i = end;
    }
    return out;
}

QString TooltipText(const QString& series, double value, std::int64_t takenMs) {
    return QStringLiteral("%1: %2\n%3")
        .arg(series, QString::number(value, 'f', 0),
             QDateTime::fromMSecsSinceEpoch(takenMs).toString(
                 QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

} // namespace zentrova::history
