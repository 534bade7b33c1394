// Polling timers on a clock the test moves by hand.
#pragma once

#include "settings/timers.h"

#include <functional>
#include <map>
#include <memory>
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
        for (;;) {
            Timer* next = nullptr;
            for (auto& [id, timer] : live)
                next = timer.due <= end && (!next || timer.due < next->due) ? &timer : next;
            if (next == nullptr)
                break;
            now = next->due;
            next->due += next->interval;
            std::function<void()> tick = next->tick; // the tick may stop its timer
            tick();
        }
        now = end;
        RunPosted();
    }
    void RunPosted() {
        while (!posted.empty()) {
            std::function<void()> task = std::move(posted.front());
            posted.erase(posted.begin());
            task();
        }
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
