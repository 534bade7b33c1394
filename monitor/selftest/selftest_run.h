// The self-tests the monitor started, one per drive slot, as a state machine
// the Self-test page shows: idle, waiting for a poll to end, running with its
// progress, finished with the log's newest entry, or aborted. No widgets and
// no timers: the controller feeds it the polls' pages and a tick, and it asks
// its host for what touches a drive or the window.
#pragma once

#include "platform/device_registry.h"
#include "selftest/selftest_pages.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace zentrova::selftest {

inline constexpr int kSlots = 4;
// While a test runs its drive is read this often, whatever its polling
// interval, so that the progress bar moves.
inline constexpr std::int64_t kCheckIntervalMs = 30'000;

class SelfTestHost {
  public:
    virtual ~SelfTestHost() = default;
    virtual bool PollRunning() const = 0;
    virtual bool IsNvme(int drive) const = 0;
    virtual bool Execute(int drive, platform::SelfTestCommand command) = 0;
    virtual bool ReadLog(int drive, std::uint8_t* page) = 0; // kPageSize bytes
    // A fresh read of the drive's data page, which comes back through DataRead.
    virtual void PollDrive(int drive) = 0;
    // The test has ended and the log holds its entry (none when the log
    // could not be read).
    virtual void TestEnded(int drive, TestType type, const std::optional<LogEntry>& entry) = 0;
    virtual void Changed(int drive) = 0; // the page shows something new
};

enum class State : std::uint8_t { Idle, Waiting, Running, Finished, Aborted };

enum class StartResult : std::uint8_t { Started, Waiting, AlreadyRunning, Refused };

struct Slot {
    State state = State::Idle;
    TestType type = TestType::Short;
    int percentDone = 0;
    std::optional<LogEntry> result; // of the last test that ended
    std::int64_t nextCheckMs = 0;
};

class SelfTests {
  public:
    SelfTests(SelfTestHost& host, std::function<std::int64_t()> nowMs);

    const Slot& At(int drive) const { return slots_[Index(drive)]; }
    bool AnyRunning() const;
    // A failed last test counts against the drive as a failed attribute does.
    bool LastFailed(int drive) const;

    StartResult Start(int drive, TestType type);
    bool Abort(int drive);
    // The end of every poll: a start that waited for it goes out now.
    void PollEnded();
    // Every read of a drive's data page (null when the read failed): how far
    // an ATA drive's test has come, and whether it ended.
    void DataRead(int drive, const std::uint8_t* dataPage);
    // From the controller's timer: reads each running drive that is due.
    void Tick();
    void Reset();

  private:
    static std::size_t Index(int drive);
    bool Send(int drive);
    void End(int drive, State state);

    SelfTestHost& host_;
    std::function<std::int64_t()> now_;
    std::array<Slot, kSlots> slots_{};
};

} // namespace zentrova::selftest
