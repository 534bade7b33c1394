// The monitor on the desktop beyond its window: a notification before each
// panel, and the tray icon with its menu. Both only report what the tables
// and the panels already say.
#include "AppController.h"

#include "desktop/notices.h"
#include "desktop/tray.h"
#include "history/history_reading.h"
#include "settings/login_item.h"
#include "settings/settings_state.h"
#include "ui_MainWindow.h"
#include "watch_view.h"

#include <QIcon>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include <ostream>
#include <utility>

using zentrova::device::dev;
using zentrova::device::kMaxDrives;

namespace {

bool HasSlot(int drive) {
    return drive >= 0 && drive < kMaxDrives;
}

} // namespace

void AppController::SetUpDesktopNotices() {
    std::unique_ptr<zentrova::platform::NotificationBus> bus =
        env_.makeNotificationBus ? env_.makeNotificationBus()
                                 : zentrova::platform::CreateSessionNotificationBus();
    notices_ = std::make_unique<zentrova::desktop::DesktopNotices>(
        std::move(bus), zentrova::platform::DebugStreamFromEnvironment());
    notices_->SetClickHandler([this](int drive) { ShowDrive(drive); });
    zentrova::platform::SetNoticeHandler(
        [this](const zentrova::platform::DesktopNotice& notice) { notices_->Announce(notice); });
}

void AppController::SetUpTray() {
    const bool available = env_.systemTrayAvailable ? env_.systemTrayAvailable()
                                                    : QSystemTrayIcon::isSystemTrayAvailable();
    // Without a tray a hidden window could not be found again.
    mainUi_->SetsKeepInTray->setVisible(available);
    if (!available || tray_ != nullptr)
        return;
    zentrova::desktop::TrayActions actions;
    actions.toggleWindow = [this] { ToggleMainWindow(); };
    actions.showWindow = [this] { ShowDrive(-1); };
    actions.showDrive = [this](int row) { ShowDrive(row); };
    actions.about = [this] {
        ShowDrive(-1);
        OnAboutMenu();
    };
    actions.quit = [this] { QuitFromTray(); };
    tray_ = new zentrova::desktop::Tray(QIcon(QStringLiteral(":/zentrova.png")), std::move(actions),
                                        zentrova::platform::DebugStreamFromEnvironment(), this);
    UpdateTray();
}

void AppController::NoteReadForTray(int drive, const std::uint8_t* dataPage,
                                    const std::uint8_t* thresholdsPage) {
    if (!HasSlot(drive))
        return;
    readFailed_[drive] = dataPage == nullptr;
    for (const zentrova::device::xDEV_INFO* r = dev.gpHeadDevInfo;
         r != nullptr && dataPage != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            lastTemperature_[drive] = zentrova::history::ReadingOf(*r, dataPage, thresholdsPage, 0)
                                          .temperature.value_or(0);
    UpdateTray();
}

void AppController::UpdateTray() {
    if (tray_ == nullptr)
        return;
    std::vector<zentrova::desktop::TrayDrive> drives;
    const auto& conf = zentrova::settings::settings;
    for (const zentrova::device::xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        const int d = r->nDevIndex;
        const int row = static_cast<int>(drives.size());
        zentrova::desktop::TrayDrive drive;
        drive.name = QString::fromLatin1(r->szDevFilePath);
        if (row < driveColumns_.Col_3_Array.size())
            drive.status = driveColumns_.Col_3_Array[row];
        const int degrees =
            HasSlot(d) && lastTemperature_[d] != 0 ? lastTemperature_[d] : r->nTemperature;
        if (degrees != 0)
            drive.temperature = QString::number(degrees);
        drive.overCriticalTemp = HasSlot(d) && degrees != 0 && conf.gbCriticalTempEnable[d] == 1 &&
                                 degrees > conf.gnCriticaltemp[d];
        drive.unreadable = HasSlot(d) && readFailed_[d];
        drive.watchReason = zentrova::shell::WatchShortReason(WatchVerdictOf(d));
        // A drive that left tells nothing about the computer's state now.
        if (r->removed) {
            drive = zentrova::desktop::TrayDrive{};
            drive.name = QString::fromLatin1(r->szDevFilePath);
            drive.status = QStringLiteral("Removed");
        }
        drives.push_back(drive);
    }
    tray_->Update(drives);
}

void AppController::ShowMainWindow() {
    if (SMARTWindow->isMinimized())
        SMARTWindow->showNormal();
    else
        SMARTWindow->show();
    SMARTWindow->raise();
    SMARTWindow->activateWindow();
}

void AppController::ShowDrive(int row) {
    // A panel's caller still holds the selected drive: the window and the
    // selection wait until the panel is answered. A later wish for the
    // window alone (the tray icon, Show Zentrova) replaces the waiting one,
    // so the drive asked for stays asked for: a click is never lost to it.
    if (row >= 0)
        driveToShow_ = row;
    showWaiting_ = true;
    WhenNoPanelIsUp();
}

void AppController::WhenNoPanelIsUp() {
    zentrova::platform::WhenNoPanelIsUp([this] {
        if (std::exchange(driveListWaiting_, false))
            UpdateDriveList();
        if (std::exchange(showWaiting_, false))
            ShowWaitingDrive();
    });
}

void AppController::ShowWaitingDrive() {
    const int row = std::exchange(driveToShow_, -1);
    if (ended_)
        return;
    ShowMainWindow();
    if (row < 0 || row >= FindNoOfDevices())
        return;
    // The notification or the tray entry the user chose already told
    // the drive's state: its stored reading raises no second panel. A
    // drive never read is read now and alerts as any fresh reading.
    showingFromDesktop_ = true;
    SelectDriveRow(row);
    showingFromDesktop_ = false;
    if (std::ostream* debug = zentrova::platform::DebugStreamFromEnvironment();
        debug != nullptr && row < driveColumns_.Col_0_Array.size())
        *debug << "zentrova: showing " << driveColumns_.Col_0_Array[row].toStdString() << '\n';
}

void AppController::ToggleMainWindow() {
    if (SMARTWindow->isVisible() && !SMARTWindow->isMinimized())
        SMARTWindow->hide();
    else
        ShowDrive(-1);
}

void AppController::QuitFromTray() {
    if (!ConfirmClose())
        return;
    quitting_ = true;
    SMARTWindow->close();
}

bool AppController::HidesInsteadOfClosing() const {
    return tray_ != nullptr && !quitting_ && !ended_ && zentrova::settings::KeepRunningInTray();
}
