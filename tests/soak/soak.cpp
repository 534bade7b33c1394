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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <malloc.h>
#include <unistd.h>

using namespace zentrova;

namespace {

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

QJsonObject Attribute(int id, int value, int raw, int threshold) {
    return {{"id", id},
            {"value", value},
            {"worst", value},
            {"raw", QJsonArray{raw & 255, raw >> 8}},
            {"threshold", threshold}};
}

// A few more readings than the drive's polls, which wander: the temperature
// climbs past the critical mark and back, the reallocation count grows, and
// the health value sinks to its threshold (a failure) and recovers. A change
// every eighth reading keeps the logs, which the log page reads afresh on each
// change of drive, to a few hundred lines.
QJsonObject Drive(int d) {
    QJsonArray readings;
    for (int r = 0; r < 2600; ++r) {
        const int q = r / 8, wave = (q * (d + 1)) % 40;
        const int temperature = 30 + (wave < 20 ? wave : 40 - wave) + d;
        readings.append(QJsonObject{
            {"attributes", QJsonArray{Attribute(5, 100 - (q * 7 + d * 13) % 70, q / 8, 36),
                                      Attribute(9, 90, q * 3 + d, 0),
                                      Attribute(194, 100 - temperature, temperature, 0)}}});
    }
    return {{"bsdName", QString("sd%1").arg(QChar('a' + d))},
            {"model", QString("SOAK DRIVE %1").arg(d)},
            {"readings", readings}};
}

// What is in use: the heap's free memory (the drives file's parse left
// plenty) goes back to the system first, or it would hide growth.
long ResidentKb() {
    ::malloc_trim(0);
    QFile statm("/proc/self/statm");
    const QList<QByteArray> pages =
        statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ') : QList<QByteArray>();
    return pages.value(1, "-1").toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

int Fail(const char* what) {
    std::fprintf(stderr, "soak: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long maxGrowthKb =
        argc == 3 && argv[1] == QString("--max-growth-kb") ? std::atol(argv[2]) : -1;
    QTemporaryDir dir, config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QJsonArray drives;
    for (int d = 0; d < 4; ++d)
        drives.append(Drive(d));
    QFile file(dir.filePath("drives.json"));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(QJsonObject{{"drives", drives}}).toJson(QJsonDocument::Compact)) <
            0 ||
        !file.flush())
        return Fail("cannot write the drives file");

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
        return std::make_unique<platform::SimulatedRegistry>(file.fileName().toStdString());
    };
    env.splashWait = [](int) {};
    env.currentDirectory = dir.path();
    env.openUrl = [](const QUrl&) { return true; };
    auto controller = std::make_unique<CountingController>(env);
    if (!controller->applicationWillFinishLaunching() || controller->FindNoOfDevices() != 4)
        return Fail("the monitor did not start with its drives");
    controller->Tab()->setCurrentIndex(2); // the log page
    QMainWindow* window = controller->MainWindow();
    auto edit = [window](const char* name, int value) {
        window->findChild<QLineEdit*>(name)->setText(QString::number(value));
    };

    long rssAt1000 = -1;
    for (int step = 0; controller->polls < 10000; ++step) {
        // Now and then one drive's settings: a one- to three-minute interval
        // and a critical temperature, applied.
        if (step % 97 == 0) {
            controller->DriveTable()->selectRow(step % 4);
            edit("SetsHrEdit", 0);
            edit("SetsMinEdit", 1 + step % 3);
            edit("SetsTempEdit", 45 + step % 10);
            window->findChild<QPushButton*>("SetsApplysettings")->click();
        }
        clock.Advance(60);
        app.processEvents();
        if (clock.live.empty())
            return Fail("no polling timer runs");
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
    if (maxGrowthKb >= 0 && rssAtEnd - rssAt1000 > maxGrowthKb)
        return Fail("memory grew by more than the limit");
    return 0;
}
