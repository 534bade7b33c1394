// The log page with large logs: time from a drive's selection to its painted
// page, the cost of one appended entry, the memory a 200 MB log adds. Prints
// the figures next to their targets; asserts nothing.
#include "shell_fixture.h"

#include <unistd.h>

#include <fstream>

static const QByteArray kEntry = smart::AttributeChangeEntry(kEvening, "HD-EXAMPLE 80G", "FW01", 1,
                                                             "Raw Read Error Rate", 100, 99);

static double ResidentMB() {
    long pages = 0, resident = -1;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

static void Report(const char* what, double value, const char* unit, double target) {
    std::printf("%-52s %10.2f %s  (target < %g %s)%s\n", what, value, unit, target, unit,
                value < target ? "" : "  OVER TARGET");
}

TEST_F(Shell, LogPageBench) {
    const QByteArray block = kEntry.repeated((1 << 20) / kEntry.size()); // about 1 MB
    ASSERT_TRUE(QDir(dir.path()).mkdir("Zentrodat"));
    for (auto [drive, megabytes] : {std::pair{1, 20}, {2, 200}})
        if (!Append(LogPath(drive), smart::LogHeader(kEvening) + block.repeated(megabytes)))
            std::printf("SKIPPED: cannot write 220 MB of logs in %s\n", qPrintable(dir.path())),
                std::exit(77);
    AddDrives(3);
    ASSERT_TRUE(Start());
    controller->OnClickContinueImg();
    controller->MainWindow()->resize(800, 600);
    controller->Tab()->setCurrentWidget(controller->LogView()->parentWidget());
    QElapsedTimer clock;
    const auto ms = [&] { return double(clock.nsecsElapsed()) / 1e6; };
    double first = 0; // selection to the first paint
    const auto show = [&](int row) {
        clock.start();
        Drives()->selectRow(row);
        controller->LogView()->viewport()->repaint();
        first = ms();
        while (controller->LogLines().Scanning())
            QApplication::processEvents();
        controller->LogView()->viewport()->repaint();
        return ms();
    };
    for (int row : {0, 1, 0}) // everything reached once, caches warm
        show(row);
    const double baseMB = ResidentMB();
    Report("20 MB log, selection to painted page", show(1), "ms", 100);
    show(0);
    const double whole = show(2);
    Report("200 MB log, selection to first painted page", first, "ms", 1000);
    Report("200 MB log, selection to whole log indexed and painted", whole, "ms", 1000);

    // One entry appended to the 200 MB log while its end is on screen.
    QScrollBar* bar = controller->LogView()->verticalScrollBar();
    bar->setValue(bar->maximum());
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        ASSERT_TRUE(Append(LogPath(2), kEntry));
        clock.start();
        controller->FillLogEvents();
        controller->LogView()->viewport()->repaint();
        times.push_back(ms());
    }
    std::sort(times.begin(), times.end());
    Report("200 MB log, one appended entry shown (median of 21)", times[10], "ms", 5);
    Report("200 MB log, one appended entry shown (worst of 21)", times.back(), "ms", 5);
    Report("resident memory added by the 200 MB log", ResidentMB() - baseMB, "MB", 20);
}
