// The log page with large logs: time from a drive's selection to its painted
// log page, the cost of one appended entry, and the memory a 200 MB log adds.
// Prints the figures next to their targets; asserts nothing.
#include "AppController.h"
#include "platform/sim/simulated_registry.h"
#include "platform/ui/alert_panel.h"
#include "shell/log_page_view.h"
#include "smart/event_log.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const QDateTime kWhen(QDate(2026, 12, 5), QTime(21, 43));

QByteArray Entry(int attribute) {
    return zentrova::smart::AttributeChangeEntry(kWhen, "ZENTROVA DEMO HD 80G", "ZD0.97",
                                                 std::uint8_t(attribute), "Raw Read Error Rate",
                                                 100, 99);
}

// A log of about `megabytes` MB: the header and then a 1 MB block of
// entries written again and again. Answers the number of entries.
long WriteLog(const QString& path, int megabytes) {
    QByteArray block;
    long perBlock = 0;
    while (block.size() < (1 << 20)) {
        block += Entry(1 + perBlock % 200);
        ++perBlock;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(zentrova::smart::LogHeader(kWhen));
    for (int i = 0; i < megabytes; ++i)
        file.write(block);
    return perBlock * megabytes;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Selects `row` and waits until its log is indexed and the page painted.
double ShowMs(AppController& controller, int row, double* firstPaintMs) {
    QElapsedTimer clock;
    clock.start();
    controller.DriveTable()->selectRow(row);
    controller.LogView()->viewport()->repaint();
    if (firstPaintMs != nullptr)
        *firstPaintMs = double(clock.nsecsElapsed()) / 1e6;
    while (controller.LogLines().Scanning())
        QApplication::processEvents();
    controller.LogView()->viewport()->repaint();
    return double(clock.nsecsElapsed()) / 1e6;
}

void Report(const char* what, double value, const char* unit, double target) {
    std::printf("%-52s %10.2f %s  (target < %g %s)%s\n", what, value, unit, target, unit,
                value < target ? "" : "  OVER TARGET");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkdir("Zentrodat")) {
        std::printf("SKIPPED: no scratch directory\n");
        return 77;
    }
    const QString data = dir.path() + "/Zentrodat/SMARTLog";
    const long small = WriteLog(data + "1", 20);
    const long large = WriteLog(data + "2", 200);
    if (small == 0 || large == 0) {
        std::printf("SKIPPED: could not write 220 MB of logs in %s\n", qPrintable(dir.path()));
        return 77;
    }

    zentrova::platform::SetAlertHandler([](const zentrova::platform::AlertRequest&) {
        return zentrova::platform::NSAlertDefaultReturn;
    });
    zentrova::platform::SetBeepHandler([] {});
    StartupEnvironment env;
    env.makeRegistry = [] {
        return std::make_unique<zentrova::platform::SimulatedRegistry>(ZENTROVA_DEMO_DRIVES);
    };
    env.splashWait = [](int) {};
    env.currentDirectory = dir.path();
    env.openUrl = [](const QUrl&) { return true; };
    AppController controller(env);
    if (!controller.applicationWillFinishLaunching() || controller.FindNoOfDevices() < 3) {
        std::printf("SKIPPED: the demo drives did not start\n");
        return 77;
    }
    controller.OnClickContinueImg();
    controller.MainWindow()->resize(800, 600);
    controller.MainWindow()->show();
    controller.Tab()->setCurrentWidget(controller.LogView()->parentWidget());
    QApplication::processEvents();

    ShowMs(controller, 0, nullptr);
    ShowMs(controller, 1, nullptr); // everything reached once, caches warm
    ShowMs(controller, 0, nullptr);
    const long baseKiB = ResidentKiB();

    std::printf("20 MB log: %ld entries, 200 MB log: %ld entries\n", small, large);
    double first = 0;
    Report("20 MB log, selection to painted page", ShowMs(controller, 1, &first), "ms", 100);
    ShowMs(controller, 0, nullptr);
    const double whole = ShowMs(controller, 2, &first);
    Report("200 MB log, selection to first painted page", first, "ms", 1000);
    Report("200 MB log, selection to whole log indexed and painted", whole, "ms", 1000);

    // One entry appended to the 200 MB log while its end is on screen.
    zentrova::shell::LogPageView* view = controller.LogView();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    view->viewport()->repaint();
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        QFile log(data + "2");
        if (!log.open(QIODevice::Append) || log.write(Entry(5)) < 0)
            return 1;
        log.close();
        QElapsedTimer clock;
        clock.start();
        controller.FillLogEvents();
        view->viewport()->repaint();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    Report("200 MB log, one appended entry shown (median of 21)", times[10], "ms", 5);
    Report("200 MB log, one appended entry shown (worst of 21)", times.back(), "ms", 5);
    const bool shown = controller.LogLines().Line(controller.LogLines().LineCount() - 2) ==
                       QStringLiteral("New Value :  99");
    std::printf("appended entry on the page: %s\n", shown ? "yes" : "NO");

    const long withLargeKiB = ResidentKiB();
    Report("resident memory added by the 200 MB log", double(withLargeKiB - baseKiB) / 1024.0, "MB",
           20);
    controller.MainWindow()->close();
    return 0;
}
