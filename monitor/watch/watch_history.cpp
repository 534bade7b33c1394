#include "watch/watch_history.h"

namespace zentrova::watch {

namespace {

std::optional<Past::Sample> SampleOf(const std::optional<history::Point>& point) {
    if (!point || !point->entry)
        return std::nullopt;
    return Past::Sample{point->takenMs, *point->entry};
}

} // namespace

std::optional<Past::Sample> StorePast::AtOrBefore(const history::Identity& drive, std::uint8_t id,
                                                  std::int64_t ms) const {
    return SampleOf(store_.AtOrBefore(drive, id, ms));
}

std::optional<Past::Sample> StorePast::First(const history::Identity& drive,
                                             std::uint8_t id) const {
    return SampleOf(store_.FirstWith(drive, id));
}

std::vector<Past::Sample> StorePast::Since(const history::Identity& drive, std::uint8_t id,
                                           std::int64_t fromMs) const {
    std::vector<Sample> samples;
    for (history::Point& p : store_.Points(drive, id, fromMs))
        if (p.entry)
            samples.push_back({p.takenMs, std::move(*p.entry)});
    return samples;
}

std::vector<Past::Open> StorePast::OpenWatches(const history::Identity& drive) const {
    std::vector<Open> open;
    for (const history::WatchRecord& w : store_.WatchPeriods(drive, true))
        open.push_back({w.reason, w.startedMs, w.toldCount});
    return open;
}

void StorePast::WatchStarted(const history::Identity& drive, const std::string& reason,
                             std::int64_t ms, std::uint64_t count) {
    store_.AddWatchStart(drive, reason, ms, count);
}

void StorePast::WatchGrew(const history::Identity& drive, const std::string& reason,
                          std::uint64_t count) {
    store_.SetWatchTold(drive, reason, count);
}

void StorePast::WatchEnded(const history::Identity& drive, const std::string& reason,
                           std::int64_t ms) {
    store_.EndWatch(drive, reason, ms);
}

void RunPast::Remember(const history::Reading& reading) {
    first_.try_emplace(reading.identity, reading);
}

std::optional<Past::Sample> RunPast::First(const history::Identity& drive, std::uint8_t id) const {
    const auto it = first_.find(drive);
    if (it == first_.end())
        return std::nullopt;
    for (const history::Entry& e : it->second.entries)
        if (e.id == id)
            return Sample{it->second.takenMs, e};
    return std::nullopt;
}

std::optional<Past::Sample> RunPast::AtOrBefore(const history::Identity& drive, std::uint8_t id,
                                                std::int64_t ms) const {
    auto first = First(drive, id);
    if (first && first->takenMs > ms)
        return std::nullopt;
    return first;
}

std::vector<Past::Sample> RunPast::Since(const history::Identity& drive, std::uint8_t id,
                                         std::int64_t fromMs) const {
    std::vector<Sample> samples;
    if (auto first = First(drive, id); first && first->takenMs >= fromMs)
        samples.push_back(std::move(*first));
    return samples;
}

} // namespace zentrova::watch
