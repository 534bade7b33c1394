// The window's idle cost of following drives that come and go: the monitor
// on four fake drives with their real (hourly) timers, left alone for a
// quiet spell, once without a drive event source and once with one that has
// no event. Prints how often the process woke (its threads' context
// switches) in each; fails when the source adds any wake-up.
// window_idle_bench [SECONDS]
#include "AppController.h"
#include "fakes/fake_drive_events.h"
#include "fakes/fake_registry.h"
#include "fakes/monitor_reset.h"
#include "history/history.h"
#include "metrics/metrics.h"
#include "platform/ui/alert_panel.h"
#include "settings/store.h"
#include "settings/timers.h"
#include "smart/smart_state.h"
#include "watch/watch.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

// Every thread's context switches so far: each one a wake-up.
long ContextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Wake-ups of the whole process over `seconds` of an idle window.
long IdleWakeUps(bool withSource, int seconds) {
    QTemporaryDir dir;
    FakeDriveState states[4];
    FakeRegistry registry;
    for (int i = 0; i < 4; ++i)
        registry.services.push_back({true, "sd" + std::string(1, char('a' + i)), 1LL << 30,
                                     "BENCH DISK", "FW01", &states[i]});
    FakeDriveEvents events;
    StartupEnvironment env;
    env.makeRegistry = [&] { return std::make_unique<FakeRegistry>(registry); };
    env.splashWait = [](int) {};
    env.currentDirectory = dir.path();
    env.adTimerMilliseconds = 24 * 3600 * 1000;
    env.openUrl = [](const QUrl&) { return true; };
    env.systemTrayAvailable = [] { return false; };
    if (withSource)
        env.makeDriveEvents = [&] { return events.Source(); };
    long woke = -1;
    {
        AppController controller(std::move(env));
        if (!controller.applicationWillFinishLaunching())
            return -1;
        // Start-up's queued work ends first; the two timers of the
        // measurement wake the process alike in both runs.
        long before = 0;
        QTimer::singleShot(1000, [&] { before = ContextSwitches(); });
        QTimer::singleShot(1000 + seconds * 1000, [&] {
            woke = ContextSwitches() - before;
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
    }
    ResetMonitorGlobalsForTest();
    return woke;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    platform::SetAlertHandler([](const platform::AlertRequest&) { return 0; });
    const long without = IdleWakeUps(false, seconds);
    const long with = IdleWakeUps(true, seconds);
    std::printf("zentrova window idle: %ld wake-ups in %d s with the drive event source and no "
                "event, %ld without it\n",
                with, seconds, without);
    if (with < 0 || without < 0 || with > without) {
        std::printf("FAIL: the drive event source costs wake-ups when nothing happens\n");
        return 1;
    }
    return 0;
}
