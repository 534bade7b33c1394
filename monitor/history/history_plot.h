// What the History page plots for one drive and range, without widgets: the
// readings in the range, kept as they come so that a poll adds only its own.
#pragma once

#include "history/history_store.h"

#include <QPointF>
#include <QString>

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

namespace zentrova::history {

enum class Range { Day, Week, Month, Year, All };
inline constexpr Range kRanges[] = {Range::Day, Range::Week, Range::Month, Range::Year, Range::All};
QString RangeName(Range range);

// The earliest time a range shows at `nowMs` (exclusive); All has none.
std::int64_t RangeStartMs(Range range, std::int64_t nowMs);

class PlotModel {
  public:
    // Loads the drive's readings in `range` up to `nowMs`, with `entryId`.
    void Show(const Store* store, const Identity& drive, std::uint8_t entryId, Range range,
              std::int64_t nowMs);
    // After a poll: adds the readings since the last one shown and lets go of
    // those that left the range.
    void Update(std::int64_t nowMs);
    void Clear();

    bool Empty() const { return points_.empty(); }
    std::size_t Size() const { return points_.size(); }
    // The readings shown, oldest first: for plots of the raw bytes read
    // another way.
    const std::deque<Point>& Points() const { return points_; }
    const Identity& Drive() const { return drive_; }
    std::uint8_t EntryId() const { return entryId_; }
    Range CurrentRange() const { return range_; }

    // x: ms since the epoch; y: degrees, the value, the raw value.
    std::vector<QPointF> Temperatures() const;
    std::vector<QPointF> Values() const;
    std::vector<QPointF> Raws() const;
    // The latest threshold of the entry; none when it has none.
    std::optional<std::int64_t> Threshold() const;
    // The reading nearest to time `x`, for the tooltip; none when empty.
    std::optional<Point> Nearest(double x) const;

  private:
    const Store* store_ = nullptr;
    Identity drive_;
    std::uint8_t entryId_ = 0;
    Range range_ = Range::Day;
    // Where the next update starts: the last reading shown, and its time.
    std::int64_t lastMs_ = std::numeric_limits<std::int64_t>::min();
    std::int64_t lastReading_ = 0;
    std::deque<Point> points_;
};

// At most two points per column of `columns` across [fromX, toX]: each
// column's lowest and highest, in time order, so a peak of one reading still
// shows. A year of hourly readings is far more points than a chart is wide.
std::vector<QPointF> Thinned(const std::vector<QPointF>& points, double fromX, double toX,
                             int columns);

// The tooltip: "<series>: <value>" and the local date and time of the reading.
QString TooltipText(const QString& series, double value, std::int64_t takenMs);

} // namespace zentrova::history
