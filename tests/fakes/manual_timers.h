// Polling timers on a clock the test moves by hand.
#pragma once

#include "settings/timers.h"

#include <algorithm>
#include <map>
#include <vector>

namespace zentrova::testing {

class ManualTimers final : public settings::TimerBackend {
  public:
    struct Timer {
        std::int64_t interval, due;
        std::function<void()> tick;
    };
    struct Handle final : settings::RepeatingTimer {
        Handle(std::map<int, Timer>* live, int id) : live(live), id(id) {}
        ~Handle() override { live->erase(id); }
        std::map<int, Timer>* live;
        int id;
    };

    std::unique_ptr<settings::RepeatingTimer> Schedule(std::int64_t seconds,
                                                       std::function<void()> tick) override {
        live[++lastId] = Timer{seconds, now + seconds, std::move(tick)};
        return std::make_unique<Handle>(&live, lastId);
    }
    void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }

    // Moves the clock on: every timer ticks once per interval, the earliest
    // first; then what was posted runs.
    void Advance(std::int64_t seconds) {
        const std::int64_t end = now + seconds;
        const auto earlier = [](const auto& a, const auto& b) {
            return a.second.due < b.second.due;
        };
        for (auto next = std::min_element(live.begin(), live.end(), earlier);
             next != live.end() && next->second.due <= end;
             next = std::min_element(live.begin(), live.end(), earlier)) {
            now = next->second.due;
            next->second.due += next->second.interval;
            std::function<void()>{next->second.tick}(); // a copy: the tick may stop its timer
        }
        now = end;
        RunPosted();
    }
    void RunPosted() {
        for (std::size_t i = 0; i < posted.size(); ++i)
            std::function<void()>{posted[i]}(); // a copy: the task may post more
        posted.clear();
    }
    // The intervals of the running timers, oldest first.
    std::vector<std::int64_t> Intervals() const {
        std::vector<std::int64_t> out;
        for (const auto& [id, timer] : live)
            out.push_back(timer.interval);
        return out;
    }

    std::int64_t now = 0;
    int lastId = 0;
    std::map<int, Timer> live;
    std::vector<std::function<void()>> posted;
};

} // namespace zentrova::testing
