// The monitor left running: four simulated drives whose readings drift and
// fail, polled by their timers on a hand-moved clock 10,000 times with the
// log page following, the settings page applied now and then and every panel
// answered. Prints the resident memory after 1,000 and 10,000 polls; with
// --max-growth-kb it fails when the growth between them is larger. Leaks and
// memory errors are the sanitizers' to report.
#include "AppController.h"
#include "fakes/fake_registry.h"
#include "fakes/manual_timers.h"
#include "platform/ui/alert_panel.h"

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <malloc.h>
#include <unistd.h>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

// Drive d's next reading, which wanders: the temperature climbs past the
// critical mark and back, the reallocation count grows, and the health value
// sinks to its threshold (a failure) and recovers. A change every eighth read
// keeps the logs, which the log page reads afresh on each change of drive, to
// a few hundred lines.
void Drift(FakeDriveState& drive, int d) {
    const int q = drive.readDataCalls / 8, wave = (q * (d + 1)) % 40;
    const auto temperature = std::uint8_t(30 + (wave < 20 ? wave : 40 - wave) + d);
    const auto health = std::uint8_t(100 - (q * 7 + d * 13) % 70);
    const std::vector<EntrySpec> entries{{5, health, health, std::uint8_t(q / 8), 36},
                                         {9, 90, 90, std::uint8_t(q * 3 + d)},
                                         {194, std::uint8_t(100 - temperature), 100, temperature}};
    drive.data = DataPage(entries);
    drive.thresholds = ThresholdsPage(entries);
}

// What is in use: the heap's free memory goes back to the system first, or
// it would hide growth.
long ResidentKb() {
    ::malloc_trim(0);
    QFile statm("/proc/self/statm");
    const QList<QByteArray> pages =
        statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ') : QList<QByteArray>();
    return pages.value(1, "-1").toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long maxGrowthKb =
        argc == 3 && argv[1] == QString("--max-growth-kb") ? std::atol(argv[2]) : -1;
    QTemporaryDir dir, config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    FakeDriveState drives[4];
    FakeRegistry registry;
    for (int d = 0; d < 4; ++d) {
        Drift(drives[d], d);
        registry.services.push_back({true, "sd" + std::string(1, char('a' + d)),
                                     80026361856LL * (d + 1), "SOAK DRIVE " + std::to_string(d),
                                     "S0", &drives[d]});
    }

    ManualTimers clock;
    settings::SetTimerBackend(&clock);
    platform::SetAlertHandler(
        [](const platform::AlertRequest&) { return platform::NSAlertDefaultReturn; });
    platform::SetBeepHandler([] {});
    const QDateTime start(QDate(2026, 12, 7), QTime(1, 0));
    platform::SetClockHandler([&] { return start.addSecs(clock.now); });
    StartupEnvironment env;
    env.makeRegistry = [&] { return std::make_unique<FakeRegistry>(registry); };
    env.splashWait = [](int) {};
    // The welcome window gives way to the main window at once: its 30 real
    // seconds would otherwise end mid-run on a slow machine, and the window
    // then drawn would count as growth.
    env.adTimerMilliseconds = 0;
    env.currentDirectory = dir.path();
    auto controller = std::make_unique<AppController>(env);
    if (!controller->applicationWillFinishLaunching() || controller->FindNoOfDevices() != 4)
        qFatal("soak: the monitor did not start with its drives");
    controller->Tab()->setCurrentIndex(2); // the log page
    QMainWindow* window = controller->MainWindow();

    long rssAt1000 = -1;
    int polls = 0;
    for (int step = 0; polls < 10000; ++step) {
        // Now and then one drive's settings: a one- to three-minute interval
        // and a critical temperature, applied.
        if (step % 97 == 0) {
            controller->DriveTable()->selectRow(step % 4);
            window->findChild<QLineEdit*>("SetsHrEdit")->setText("0");
            window->findChild<QLineEdit*>("SetsMinEdit")->setText(QString::number(1 + step % 3));
            window->findChild<QLineEdit*>("SetsTempEdit")->setText(QString::number(45 + step % 10));
            window->findChild<QPushButton*>("SetsApplysettings")->click();
        }
        clock.Advance(60);
        app.processEvents();
        if (clock.live.empty())
            qFatal("soak: no polling timer runs");
        polls = 0;
        for (int d = 0; d < 4; ++d) {
            polls += drives[d].readDataCalls;
            Drift(drives[d], d);
        }
        if (rssAt1000 < 0 && polls >= 1000)
            rssAt1000 = ResidentKb();
    }
    const long rssAtEnd = ResidentKb();
    std::printf("soak: %d polls (every read of a drive), log page at %lld lines, resident memory "
                "%ld kB after 1,000 polls, %ld kB after 10,000 (+%ld kB)\n",
                polls, static_cast<long long>(controller->LogLines().LineCount()), rssAt1000,
                rssAtEnd, rssAtEnd - rssAt1000);
    controller.reset();
    settings::SetTimerBackend(nullptr);
    std::fflush(stdout); // the figures stay on record when the check fails
    if (maxGrowthKb >= 0 && rssAtEnd - rssAt1000 > maxGrowthKb)
        qFatal("soak: memory grew by more than the limit");
    return 0;
}
