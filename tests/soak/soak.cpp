// The monitor left running: four simulated drives whose readings drift and
// fail, polled by their timers on a hand-moved clock 10,000 times with the
// log page following, the settings page applied now and then and every panel
// answered. Prints the resident memory after 1,000 and 10,000 polls; with
// --max-growth-kb it fails when the growth between them is larger. Leaks and
// memory errors are the sanitizers' to report.
#include "AppController.h"
#include "fakes/manual_timers.h"
#include "platform/sim/simulated_registry.h"
#include "platform/ui/alert_panel.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

using namespace zentrova;

namespace {

constexpr int kDrives = 4;
constexpr int kPolls = 10000;
constexpr int kReadings = 2600; // a few more than each drive's polls

class CountingController final : public AppController {
  public:
    using AppController::AppController;
    void PollReadFinished(int drive, const std::uint8_t* data,
                          const std::uint8_t* thresholds) override {
        ++polls;
        AppController::PollReadFinished(drive, data, thresholds);
    }
    int polls = 0;
};

// Readings that wander: the temperature climbs past the critical mark and
// back, the reallocation count grows, and the health value sinks to its
// threshold (a failure) and recovers. Drive 3 reads raw pages, all zero
// thresholds but one.
QJsonObject Drive(int d) {
    QJsonArray readings;
    for (int r = 0; r < kReadings; ++r) {
        // A change every eighth reading keeps the logs, which the log page
        // reads afresh on each change of drive, to a few hundred lines.
        const int q = r / 8;
        const int wave = (q * (d + 1)) % 40;
        const int temperature = 30 + (wave < 20 ? wave : 40 - wave) + d;
        auto attribute = [](int id, int value, int raw, int threshold) {
            return QJsonObject{{"id", id},
                               {"flags", 51},
                               {"value", value},
                               {"worst", value},
                               {"raw", QJsonArray{raw & 255, raw >> 8}},
                               {"threshold", threshold}};
        };
        readings.append(QJsonObject{
            {"attributes", QJsonArray{attribute(5, 100 - (q * 7 + d * 13) % 70, q / 8, 36),
                                      attribute(9, 90, q * 3 + d, 0),
                                      attribute(194, 100 - temperature, temperature, 0)}}});
    }
    return QJsonObject{{"bsdName", QString("sd%1").arg(QChar('a' + d))},
                       {"sizeBytes", 80026361856LL * (d + 1)},
                       {"model", QString("SOAK DRIVE %1").arg(d)},
                       {"firmware", "S0"},
                       {"readings", readings}};
}

// What is in use: the heap's free memory (the drives file's parse left
// plenty) goes back to the system first, or it would hide growth.
long ResidentKb() {
    ::malloc_trim(0);
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    char line[256];
    long kb = -1;
    while (kb < 0 && std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::atol(line + 6);
    std::fclose(status);
    return kb;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long maxGrowthKb =
        argc == 3 && std::strcmp(argv[1], "--max-growth-kb") == 0 ? std::atol(argv[2]) : -1;
    QTemporaryDir dir, config;
    if (!dir.isValid() || !config.isValid())
        return std::fprintf(stderr, "soak: no scratch folder\n"), 1;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

    QJsonArray drives;
    for (int d = 0; d < kDrives; ++d)
        drives.append(Drive(d));
    const QString drivesFile = dir.path() + "/drives.json";
    QFile file(drivesFile);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(QJsonObject{{"drives", drives}}).toJson(QJsonDocument::Compact)) <
            0 ||
        !file.flush())
        return std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(drivesFile)), 1;
    file.close();

    testing::ManualTimers clock;
    settings::SetTimerBackend(&clock);
    int panels = 0;
    platform::SetAlertHandler([&](const platform::AlertRequest&) {
        ++panels;
        return platform::NSAlertDefaultReturn;
    });
    platform::SetBeepHandler([] {});
    const QDateTime start(QDate(2026, 12, 7), QTime(1, 0));
    platform::SetClockHandler([&] { return start.addSecs(clock.now); });

    StartupEnvironment env;
    env.makeRegistry = [&] {
        return std::make_unique<platform::SimulatedRegistry>(drivesFile.toStdString());
    };
    env.splashWait = [](int) {};
    env.currentDirectory = dir.path();
    env.openUrl = [](const QUrl&) { return true; };
    auto controller = std::make_unique<CountingController>(env);
    if (!controller->applicationWillFinishLaunching() || controller->FindNoOfDevices() != kDrives)
        return std::fprintf(stderr, "soak: the monitor did not start with its drives\n"), 1;
    controller->Tab()->setCurrentIndex(2); // the log page
    QMainWindow* window = controller->MainWindow();

    long rssAt1000 = -1;
    for (int step = 0; controller->polls < kPolls; ++step) {
        // Now and then the settings page of one drive: a one- to three-minute
        // interval and a critical temperature, applied.
        if (step % 97 == 0) {
            controller->DriveTable()->selectRow(step % kDrives);
            window->findChild<QLineEdit*>("SetsHrEdit")->setText("0");
            window->findChild<QLineEdit*>("SetsMinEdit")->setText(QString::number(1 + step % 3));
            window->findChild<QLineEdit*>("SetsTempEdit")->setText(QString::number(45 + step % 10));
            window->findChild<QPushButton*>("SetsApplysettings")->click();
        }
        clock.Advance(60);
        app.processEvents();
        if (clock.live.empty())
            return std::fprintf(stderr, "soak: no polling timer runs\n"), 1;
        if (rssAt1000 < 0 && controller->polls >= 1000)
            rssAt1000 = ResidentKb();
    }
    const long rssAtEnd = ResidentKb();
    std::printf("soak: %d polls, %d panels answered, log page at %lld lines\n", controller->polls,
                panels, static_cast<long long>(controller->LogLines().LineCount()));
    std::printf("soak: resident memory %ld kB after 1,000 polls, %ld kB after %d (growth %ld kB)\n",
                rssAt1000, rssAtEnd, controller->polls, rssAtEnd - rssAt1000);
    controller.reset();
    settings::SetTimerBackend(nullptr);
    if (maxGrowthKb >= 0 && rssAtEnd - rssAt1000 > maxGrowthKb) {
        std::fprintf(stderr, "soak: memory grew by more than %ld kB\n", maxGrowthKb);
        return 1;
    }
    return 0;
}
