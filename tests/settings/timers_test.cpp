#include "settings_fixture.h"

#include <utility>

using namespace zentrova;
using namespace zentrova::testing;
using Seconds = std::vector<std::int64_t>;
using Events = std::vector<std::string>;

namespace {

class Timers : public SettingsFixture {};

TEST_F(Timers, IntervalComesFromHourAndMinAndIsNeverZeroOrNegative) {
    const std::pair<QString, Seconds> cases[] = {
        {"DrvPoll=True Hour=0 Min=30", {1800}},
        {"DrvPoll=True Hour=2 Min=90", {12600}},
        {"DrvPoll=True Hour=+1abc Min=x", {3600}},
        {"DrvPoll=False Hour=1 Min=0", {}},
        {"Hour=1 Min=0", {}},
        {"DrvPoll=True Hour=0 Min=0", {}},
        {"DrvPoll=True Hour=-1 Min=30", {}},
        {"DrvPoll=True Hour=596524 Min=0", {}}, // beyond 2^31 seconds
        {"DrvPoll=True Hour=596523 Min=0", {2147482800}},
    };
    for (const auto& [entry, seconds] : cases) {
        SCOPED_TRACE(entry.toStdString());
        Fresh();
        Stored({entry});
        settings::FireTimerForSelDevice(host, 0);
        EXPECT_EQ(clock.Intervals(), seconds);
    }
}

TEST_F(Timers, NoFileMeansHourlyAnOccupiedSlotStaysAndNoFifthTimer) {
    settings::FireTimerForSelDevice(host, 0);
    Stored({"DrvPoll=True Hour=0 Min=5"});
    settings::FireTimerForSelDevice(host, 0);
    settings::FireTimerForSelDevice(host, 4);
    EXPECT_EQ(clock.Intervals(), Seconds{3600});
}

TEST_F(Timers, LongIntervalsWaitInStepsAndMissedTicksComeAsOne) {
    const std::int64_t day = 24LL * 3600 * 1000, month = 30 * day;
    const settings::TimerStep steps[] = {{false, month, 24 * day},
                                         {false, month, 6 * day},
                                         {true, 2 * month, 24 * day},
                                         {true, 4 * month, 24 * day}};
    const std::int64_t nows[] = {0, 24 * day, month, 3 * month + 5};
    for (int i = 0; i < 4; ++i) {
        const settings::TimerStep step = settings::StepRepeatingTimer(month, nows[i], month);
        EXPECT_EQ(std::tie(step.fire, step.dueMs, step.waitMs),
                  std::tie(steps[i].fire, steps[i].dueMs, steps[i].waitMs))
            << i;
    }
}

TEST_F(Timers, ATickPollsTheSelectedDriveOrSelectsItsOwnRowFirst) {
    AddDrives(2);
    Stored({"DrvPoll=True Hour=1 Min=0", "DrvPoll=True Hour=0 Min=20"});
    settings::FireTimerForSelDevice(host, 0);
    settings::FireTimerForSelDevice(host, 1);
    Select(0);
    clock.Advance(3600); // drive 1 at 20, 40 and 60 minutes, drive 0 at 60 first
    EXPECT_EQ(host.events,
              (Events{"select 1", "poll 1", "poll 1", "select 0", "poll 0", "select 1", "poll 1"}));
}

TEST_F(Timers, TicksWaitWhileAPanelIsUpThenComeOncePerTimer) {
    AddDrives(2);
    settings::FireTimerForSelDevice(host, 0);
    settings::FireTimerForSelDevice(host, 1);
    Select(0);
    duringAlert = [this] { clock.Advance(3 * 3600); };
    platform::NSRunAlertPanel("Zentrova", "up", "OK");
    EXPECT_TRUE(host.events.empty());
    clock.RunPosted();
    EXPECT_EQ(host.events, (Events{"poll 0", "select 1", "poll 1"}));

    // A poll's own panel holds the other drive's tick until the poll ends.
    host.events.clear();
    duringAlert = [this] { clock.Advance(1); };
    host.duringPoll = [this, shown = false]() mutable {
        if (!std::exchange(shown, true)) {
            platform::NSRunAlertPanel("WARNING", "fails", "");
            host.events.push_back("panel closed");
        }
    };
    clock.Advance(3600);
    EXPECT_EQ(host.events, (Events{"select 0", "poll 0", "panel closed", "select 1", "poll 1"}));

    // A timer stopped under the panel delivers nothing.
    host.events.clear();
    duringAlert = [this] {
        clock.Advance(3600);
        settings::StopTimerForDrive(0);
        settings::StopTimerForDrive(1);
    };
    platform::NSRunAlertPanel("Zentrova", "up", "OK");
    clock.RunPosted();
    EXPECT_TRUE(host.events.empty());
}

} // namespace
