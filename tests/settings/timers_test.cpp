#include "settings/timers.h"
#include "settings_fixture.h"

using namespace zentrova;
using namespace zentrova::testing;
using Events = std::vector<std::string>;

class Timers : public SettingsFixture {};

TEST_F(Timers, IntervalComesFromHourAndMinAndIsNeverZeroNegativeOrBeyond32Bits) {
    const std::pair<std::string, Seconds> cases[] = {
        // clang-format off
        {"DrvPoll=True Hour=0 Min=30", {1800}}, {"DrvPoll=True Hour=2 Min=90", {12600}},
        {"DrvPoll=True Hour=+1abc Min=x", {3600}}, {"DrvPoll=False Hour=1 Min=0", {}}, {"Hour=1 Min=0", {}},
        {"DrvPoll=True Hour=0 Min=0", {}}, {"DrvPoll=True Hour=-1 Min=30", {}},
        {"DrvPoll=True Hour=596524 Min=0", {}}, {"DrvPoll=True Hour=596523 Min=0", {2147482800}},
        // clang-format on
    };
    for (const auto& [entry, seconds] : cases) {
        SCOPED_TRACE(entry);
        Fresh();
        Stored({entry});
        settings::FireTimerForSelDevice(*this, 0);
        EXPECT_EQ(clock.Intervals(), seconds);
    }
    // Without a file: hourly. An occupied slot stays; there is no fifth timer.
    Fresh();
    settings::FireTimerForSelDevice(*this, 0);
    Stored({"DrvPoll=True Hour=0 Min=5"});
    settings::FireTimerForSelDevice(*this, 0);
    settings::FireTimerForSelDevice(*this, 4);
    EXPECT_EQ(clock.Intervals(), Seconds{3600});
}

TEST(TimerSteps, LongIntervalsWaitInStepsAndMissedTicksComeAsOne) {
    const std::int64_t day = 24LL * 3600 * 1000, month = 30 * day;
    const std::tuple<std::int64_t, bool, std::int64_t, std::int64_t> cases[] = {
        {0, false, month, 24 * day},
        {24 * day, false, month, 6 * day},
        {month, true, 2 * month, 24 * day},
        {3 * month + 5, true, 4 * month, 24 * day}};
    for (const auto& [now, fire, due, wait] : cases) {
        const settings::TimerStep step = settings::StepRepeatingTimer(month, now, month);
        EXPECT_EQ(std::tie(step.fire, step.dueMs, step.waitMs), std::tie(fire, due, wait)) << now;
    }
}

TEST_F(Timers, ATickPollsTheSelectedDriveOrSelectsItsOwnRowFirst) {
    AddDrives(2);
    Stored({"DrvPoll=True Hour=1 Min=0", "DrvPoll=True Hour=0 Min=20"});
    settings::FireTimerForSelDevice(*this, 0);
    settings::FireTimerForSelDevice(*this, 1);
    clock.Advance(3600); // drive 1 at 20, 40 and 60 minutes, drive 0 at 60 first
    EXPECT_EQ(events,
              (Events{"select 1", "poll 1", "poll 1", "select 0", "poll 0", "select 1", "poll 1"}));
}

TEST_F(Timers, TicksWaitWhileAPanelIsUpThenComeOncePerTimer) {
    AddDrives(2);
    settings::FireTimerForSelDevice(*this, 0);
    settings::FireTimerForSelDevice(*this, 1);
    duringAlert = [this] { clock.Advance(3 * 3600); };
    platform::NSRunAlertPanel("Zentrova", "up", "OK");
    EXPECT_TRUE(events.empty());
    clock.RunPosted();
    EXPECT_EQ(events, (Events{"poll 0", "select 1", "poll 1"}));

    // A poll's own panel holds the other drive's tick until the poll ends.
    events.clear();
    duringAlert = [this] { clock.Advance(1); };
    duringPoll = [this, shown = false]() mutable {
        if (!std::exchange(shown, true)) {
            platform::NSRunAlertPanel("WARNING", "fails", "");
            events.push_back("panel closed");
        }
    };
    clock.Advance(3600);
    EXPECT_EQ(events, (Events{"select 0", "poll 0", "panel closed", "select 1", "poll 1"}));

    // A timer stopped under the panel delivers nothing.
    events.clear();
    duringAlert = [this] {
        clock.Advance(3600);
        settings::StopTimerForDrive(0);
        settings::StopTimerForDrive(1);
    };
    platform::NSRunAlertPanel("Zentrova", "up", "OK");
    clock.RunPosted();
    EXPECT_TRUE(events.empty());
}
