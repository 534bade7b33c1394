// Where the Watch judgement finds a drive's past: the history store (every
// look-up one indexed query, the periods in its `watch` table), or, without
// a store, the first reading of this run.
#pragma once

#include "watch/watch.h"

#include <map>

namespace zentrova::watch {

class StorePast final : public Past {
  public:
    explicit StorePast(history::Store& store) : store_(store) {}
    std::optional<Sample> AtOrBefore(const history::Identity& drive, std::uint8_t id,
                                     std::int64_t ms) const override;
    std::optional<Sample> First(const history::Identity& drive, std::uint8_t id) const override;
    std::vector<Sample> Since(const history::Identity& drive, std::uint8_t id,
                              std::int64_t fromMs) const override;
    std::vector<Open> OpenWatches(const history::Identity& drive) const override;
    void WatchStarted(const history::Identity& drive, const std::string& reason, std::int64_t ms,
                      std::uint64_t count) override;
    void WatchGrew(const history::Identity& drive, const std::string& reason,
                   std::uint64_t count) override;
    void WatchEnded(const history::Identity& drive, const std::string& reason,
                    std::int64_t ms) override;

  private:
    history::Store& store_;
};

// No store: growth is measured from each drive's first reading of this run
// (kept in `firstOfRun`, one reading per drive); periods live in the
// Watcher's memory alone.
class RunPast final : public Past {
  public:
    explicit RunPast(std::map<history::Identity, history::Reading>& firstOfRun)
        : first_(firstOfRun) {}
    // Keeps `reading` when it is its drive's first of this run.
    void Remember(const history::Reading& reading);
    std::optional<Sample> AtOrBefore(const history::Identity& drive, std::uint8_t id,
                                     std::int64_t ms) const override;
    std::optional<Sample> First(const history::Identity& drive, std::uint8_t id) const override;
    std::vector<Sample> Since(const history::Identity& drive, std::uint8_t id,
                              std::int64_t fromMs) const override;
    std::vector<Open> OpenWatches(const history::Identity&) const override { return {}; }
    void WatchStarted(const history::Identity&, const std::string&, std::int64_t,
                      std::uint64_t) override {}
    void WatchGrew(const history::Identity&, const std::string&, std::uint64_t) override {}
    void WatchEnded(const history::Identity&, const std::string&, std::int64_t) override {}

  private:
    std::map<history::Identity, history::Reading>& first_;
};

} // namespace zentrova::watch
