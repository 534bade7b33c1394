// Polling timers on a clock the test moves by hand.
#pragma once

#include "settings/timers.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace zentrova::testing {

class ManualTimers final : public settings::TimerBackend {
  public:
    struct Entry {
        std::int64_t interval = 0;
        std::int64_t due = 0;
        std::function<void()> tick;
    };
    class Handle final : public settings::RepeatingTimer {
      public:
        Handle(ManualTimers* owner, int id) : owner_(owner), id_(id) {}
        ~Handle() override { owner_->live.erase(id_); }

      private:
        ManualTimers* owner_;
        int id_;
    };

    std::unique_ptr<settings::RepeatingTimer> Schedule(std::int64_t seconds,
                                                       std::function<void()> tick) override {
        live[++lastId] = Entry{seconds, now + seconds, std::move(tick)};
        return std::make_unique<Handle>(this, lastId);
    }
    void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }

    // Moves the clock on; each timer that fell due ticks once per interval.
    void Advance(std::int64_t seconds) {
        const std::int64_t end = now + seconds;
        for (;;) {
            auto next = live.end();
            for (auto it = live.begin(); it != live.end(); ++it) {
                if (it->second.due <= end &&
                    (next == live.end() || it->second.due < next->second.due))
                    next = it;
            }
            if (next == live.end())
                break;
            now = next->second.due;
            next->second.due += next->second.interval;
            std::function<void()> tick = next->second.tick;
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
    // The intervals of the live timers, in creation order.
    std::vector<std::int64_t> Intervals() const {
        std::vector<std::int64_t> out;
        for (const auto& [id, entry] : live)
            out.push_back(entry.interval);
        return out;
    }

    std::int64_t now = 0;
    int lastId = 0;
    std::map<int, Entry> live;
    std::vector<std::function<void()>> posted;
};

} // namespace zentrova::testing
