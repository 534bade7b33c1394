#include "settings_fixture.h"

#include <utility>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

class Timers : public SettingsFixture {
  protected:
    void Store(int k, const QString& poll, const QString& hour, const QString& min) {
        settings::SettingsDict dict = File();
        settings::DriveEntry entry;
        if (!poll.isNull())
            entry.Set("DrvPoll", poll);
        entry.Set("Hour", hour);
        entry.Set("Min", min);
        dict.Put(settings::DiskKey(k), entry);
        WriteFile(dict);
    }
};

struct IntervalCase {
    const char* poll;
    const char* hour;
    const char* min;
    std::int64_t seconds; // 0: no timer
};
// Test names carry the case name; the values stay out of them.
inline void PrintTo(const IntervalCase&, std::ostream*) {}

class Interval : public Timers, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(Interval, ComesFromHourAndMin) {
    const IntervalCase& c = GetParam();
    Store(0, c.poll, c.hour, c.min);
    settings::FireTimerForSelDevice(host, 0);
    EXPECT_EQ(clock.Intervals(),
              c.seconds == 0 ? std::vector<std::int64_t>{} : std::vector<std::int64_t>{c.seconds});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Interval,
    ::testing::Values(IntervalCase{"True", "0", "30", 1800}, IntervalCase{"True", "2", "90", 12600},
                      IntervalCase{"True", " +1abc", "x", 3600}, IntervalCase{"False", "1", "0", 0},
                      IntervalCase{nullptr, "1", "0", 0}, IntervalCase{"True", "0", "0", 0},
                      IntervalCase{"True", "-1", "30", 0},
                      IntervalCase{"True", "596524", "0", 0}, // > 2^31 s
                      IntervalCase{"True", "596523", "0", 2147482800}));

TEST_F(Timers, NoFileMeansHourlyAnOccupiedSlotStaysAndNoFifthTimer) {
    settings::FireTimerForSelDevice(host, 0);
    Store(0, "True", "0", "5");
    settings::FireTimerForSelDevice(host, 0); // keeps its hour
    settings::FireTimerForSelDevice(host, 4);
    EXPECT_EQ(clock.Intervals(), std::vector<std::int64_t>{3600});
}

TEST_F(Timers, LongIntervalsWaitInStepsAndMissedTicksComeAsOne) {
    const std::int64_t day = 24LL * 3600 * 1000;
    const std::int64_t month = 30 * day;
    struct Step {
        std::int64_t now;
        bool fire;
        std::int64_t due, wait;
    };
    for (const Step& s : {Step{0, false, month, 24 * day}, Step{24 * day, false, month, 6 * day},
                          Step{month, true, 2 * month, 24 * day},
                          Step{month + 2 * month + 5, true, 4 * month, month - 5}}) {
        const settings::TimerStep step = settings::StepRepeatingTimer(month, s.now, month);
        EXPECT_EQ(step.fire, s.fire) << s.now;
        EXPECT_EQ(step.dueMs, s.due) << s.now;
        EXPECT_EQ(step.waitMs, std::min(s.wait, 24 * day)) << s.now;
    }
}

TEST_F(Timers, ATickPollsTheSelectedDriveOrSelectsItsOwnRowFirst) {
    AddDrives(2);
    settings::FireTimerForSelDevice(host, 0);
    Store(1, "True", "0", "20");
    settings::FireTimerForSelDevice(host, 1);
    Select(0);
    clock.Advance(3600); // drive 1 at 20, 40 and 60 minutes, drive 0 at 60 first
    EXPECT_EQ(host.events, (std::vector<std::string>{"select 1", "poll 1", "poll 1", "select 0",
                                                     "poll 0", "select 1", "poll 1"}));
    EXPECT_EQ(mirrors.bPoll[1], 0);
}

TEST_F(Timers, TicksWaitWhileAPanelIsUpThenComeOncePerTimer) {
    AddDrives(2);
    settings::FireTimerForSelDevice(host, 0);
    settings::FireTimerForSelDevice(host, 1);
    Select(0);
    // Three hours pass under the panel.
    duringAlert = [this] { clock.Advance(3 * 3600); };
    platform::NSRunAlertPanel("Zentrova", "up", "OK");
    EXPECT_TRUE(host.events.empty());
    clock.RunPosted();
    EXPECT_EQ(host.events, (std::vector<std::string>{"poll 0", "select 1", "poll 1"}));

    // A poll's own panel holds the other drive's tick until the poll ends.
    host.events.clear();
    duringAlert = [this] { clock.Advance(1); };
    host.duringPoll = [this, shown = false]() mutable {
        if (std::exchange(shown, true))
            return;
        platform::NSRunAlertPanel("WARNING", "fails", "");
        host.events.push_back("panel closed");
    };
    clock.Advance(3600);
    EXPECT_EQ(host.events, (std::vector<std::string>{"select 0", "poll 0", "panel closed",
                                                     "select 1", "poll 1"}));
}

TEST_F(Timers, AStoppedTimerDeliversNoHeldTick) {
    AddDrives(1);
    settings::FireTimerForSelDevice(host, 0);
    duringAlert = [this] {
        clock.Advance(3600);
        settings::StopTimerForDrive(0);
    };
    platform::NSRunAlertPanel("Zentrova", "up", "OK");
    clock.RunPosted();
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(HasTimer(0));
}

} // namespace
