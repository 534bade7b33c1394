// Starts the monitor as usual, but without the splash pause and the
// advertisement, and saves pictures of the main window (sda on Watch after
// three polls):
//   zentrova_screenshot <status.png> [<log.png> [<settings.png> [<nvme.png> [<history.png>]]]]
// The drive page, then the log page and the settings page, the drive page
// with the first NVMe drive chosen, and last the History page of sdc, which
// wears out, after a day of hourly polls.
#include "AppController.h"
#include "platform/ui/alert_panel.h"
#include "platform/ui/alert_panel_widgets.h"
#include "shell/history_page.h"

#include <QApplication>
#include <QEventLoop>
#include <QMainWindow>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

void SettleFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget* window, const char* path) {
    if (window->grab().save(QString::fromLocal8Bit(path), "PNG"))
        return true;
    std::fprintf(stderr, "zentrova_screenshot: could not write %s\n", path);
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    zentrova::platform::UseWidgetPanels();
    if (argc < 2 || argc > 6) {
        std::fprintf(stderr, "usage: zentrova_screenshot <status.png> [<log.png> [<settings.png> "
                             "[<nvme.png> [<history.png>]]]]\n");
        return 2;
    }
    StartupEnvironment environment;
    environment.splashWait = [](int) {};
    AppController controller(environment);
    if (!controller.applicationWillFinishLaunching())
        return 1;
    controller.OnClickContinueImg();
    // sda reallocates one more sector every third poll: three polls, a few
    // minutes apart, put it on Watch against the week of history seeded
    // beside the pictures (scripts/screenshot.sh).
    const QDateTime launched = QDateTime::currentDateTime();
    int minutes = 0;
    zentrova::platform::SetClockHandler([&] { return launched.addSecs(60 * minutes); });
    for (minutes = 1; minutes <= 3; ++minutes)
        controller.PollSelDriveForSMARTAndFillAttributeTable();
    SettleFor(500);
    if (!Save(controller.MainWindow(), argv[1]))
        return 1;
    // Tab 2 is the log page, tab 1 the settings page.
    const int pages[] = {2, 1};
    for (int i = 2; i < argc && i < 4; ++i) {
        controller.Tab()->setCurrentIndex(pages[i - 2]);
        SettleFor(200);
        if (!Save(controller.MainWindow(), argv[i]))
            return 1;
    }
    if (argc < 5)
        return 0;
    int row = 0;
    for (const zentrova::device::xDEV_INFO* r = zentrova::device::dev.gpHeadDevInfo; r != nullptr;
         r = r->pNext)
        if (r->driveKind == zentrova::platform::DriveKind::Nvme) {
            row = r->nDevIndex;
            break;
        }
    controller.Tab()->setCurrentIndex(0);
    controller.SelectDriveRow(row);
    SettleFor(200);
    if (!Save(controller.MainWindow(), argv[4]))
        return 1;
    if (argc < 6)
        return 0;
    // A day of hourly polls of sdc, on a clock that moves an hour each time.
    const QDateTime start = launched.addSecs(3600);
    int hour = 0;
    zentrova::platform::SetClockHandler([&] { return start.addSecs(3600 * hour); });
    // The temperature alert and the warning it wears into answer themselves.
    zentrova::platform::SetAlertHandler([](const zentrova::platform::AlertRequest&) {
        return zentrova::platform::NSAlertDefaultReturn;
    });
    controller.SelectDriveRow(2);
    for (hour = 1; hour < 24; ++hour)
        controller.PollSelDriveForSMARTAndFillAttributeTable();
    hour = 23;
    zentrova::shell::HistoryPage* page = controller.HistoryView();
    page->SetRange(zentrova::history::Range::Day);
    page->SelectEntry(5);
    controller.Tab()->setCurrentWidget(page);
    SettleFor(300);
    return Save(controller.MainWindow(), argv[5]) ? 0 : 1;
}
