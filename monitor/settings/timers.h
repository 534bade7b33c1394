// One repeating polling timer per drive (`DISK0` to `DISK3`), behind a seam
// so that tests move time by hand. A tick never arrives while a modal panel
// is up: it is held, and each held timer ticks once when the last panel closes.
#pragma once

#include "settings/settings_host.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace zentrova::settings {

// A scheduled timer; destroying it stops it for good.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
};

class TimerBackend {
  public:
    virtual ~TimerBackend() = default;
    // Calls `tick` every `intervalSeconds` (positive), the first time one
    // interval from now.
    virtual std::unique_ptr<RepeatingTimer> Schedule(std::int64_t intervalSeconds,
                                                     std::function<void()> tick) = 0;
    // Runs `task` once from the event loop, after what runs now has ended.
    virtual void Post(std::function<void()> task) = 0;
};

// One wake-up of a repeating timer at `nowMs`: whether it ticks, when it is
// next due (ticks missed meanwhile come as one) and how long to wait, never
// longer than a single QTimer can.
struct TimerStep {
    bool fire = false;
    std::int64_t dueMs = 0;
    std::int64_t waitMs = 0;
};
TimerStep StepRepeatingTimer(std::int64_t dueMs, std::int64_t nowMs, std::int64_t intervalMs);

// The real timers on Qt's event loop, precise to the millisecond, also for
// intervals beyond the few weeks a single QTimer can wait.
TimerBackend& QtTimerBackend();
// The timer it schedules, ticking every `intervalMs` (positive).
std::unique_ptr<RepeatingTimer> MakeQtRepeatingTimer(std::int64_t intervalMs,
                                                     std::function<void()> tick);
// Null restores the real timers.
void SetTimerBackend(TimerBackend* backend);

struct TimerGlobals {
    std::unique_ptr<RepeatingTimer> DISK0, DISK1, DISK2, DISK3;
    // A tick that fell due while a panel was up, per drive.
    bool overdue[4] = {};
    bool deliveryPosted = false;
    SettingsHost* host = nullptr;
};

inline TimerGlobals timers;

void ResetTimersForTest();

// The slot of drive `k` (0 to 3), or null for any other index.
std::unique_ptr<RepeatingTimer>* TimerSlot(int k);

// Seconds from "Hour" and "Min" texts; nothing when the interval is zero,
// negative or does not fit 32 bits.
std::optional<std::int32_t> PollingIntervalSeconds(int hours, int minutes);

// Creates drive k's timer from its stored entry when polling is on and its
// slot is empty (no file: hourly).
void FireTimerForSelDevice(SettingsHost& host, int k);
// Stops drive k's timer and empties its slot.
void StopTimerForDrive(int k);
// The tick handler: polls the selected drive, or selects drive k's row with
// its `bPoll` mark so that the selection polls it.
void StartTimerForPollingDrive(SettingsHost& host, const QString& userInfo);

} // namespace zentrova::settings
