// The monitor's one controller: delegate of the application and the main
// window, data source of both tables, owner of the window's state.
#pragma once

#include "device/device.h"
#include "hotplug/drive_event_follower.h"
#include "platform/device_registry.h"
#include "platform/drive_events.h"
#include "settings/settings_host.h"
#include "smart/log_lines.h"
#include "smart/poll_cycle.h"
#include "smart/smart_state.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QSocketNotifier;
class QMainWindow;
class QTabWidget;
class QTableView;
class QTextBrowser;
class QTimer;
class QUrl;
class QWidget;

namespace Ui {
class SMARTWindow;
class FlashWnd;
class AdWindow;
} // namespace Ui

namespace zentrova::desktop {
class DesktopNotices;
class Tray;
} // namespace zentrova::desktop

namespace zentrova::platform {
class NotificationBus;
} // namespace zentrova::platform

namespace zentrova::watch {
struct Change;
struct Verdict;
} // namespace zentrova::watch

namespace zentrova::shell {
class ControllerTableModel;
class HistoryPage;
class LogPageView;
class SelfTestTab;
enum class TableId { Drives, Attributes };
} // namespace zentrova::shell

// What start-up takes from the world around it. Empty members mean the real
// thing; tests put fakes in so that nothing waits, opens a browser or touches
// the computer's drives.
struct StartupEnvironment {
    std::function<std::unique_ptr<zentrova::platform::DeviceRegistry>()> makeRegistry;
    zentrova::platform::SystemVersionSource* systemVersion = nullptr;
    // Blocks while the splash window is up.
    std::function<void(int seconds)> splashWait;
    int adTimerMilliseconds = 30000;
    // Where the data folder goes; empty means the process's current directory.
    QString currentDirectory;
    std::function<bool(const QUrl&)> openUrl;
    // The program whose pages the welcome window opens; empty means this one.
    QString programPath;
    // How much of a log the log page scans before it lets the window draw.
    std::int64_t logScanSliceBytes = zentrova::smart::LogLineIndex::kScanSlice;
    // Where the History page's export goes, asked with a suggested path;
    // empty means the platform's save dialog.
    std::function<QString(QWidget* parent, const QString& suggested)> saveDialog;
    // The desktop's notification server; empty means the session bus's.
    std::function<std::unique_ptr<zentrova::platform::NotificationBus>()> makeNotificationBus;
    // Whether the desktop has a system tray; empty means asking the desktop.
    std::function<bool()> systemTrayAvailable;
    // The kernel's word that drives came or went. Empty means the system's
    // when the drives are the system's (neither makeRegistry nor simulated
    // drives), and none otherwise: the drive list then stays as start-up
    // found it.
    std::function<std::unique_ptr<zentrova::platform::DriveEventSource>()> makeDriveEvents;
    // How long after the last event of a burst the drives are listed again.
    int driveEventsQuietMilliseconds = 2000;
};

// The drive table's four columns, one entry per drive in list order.
struct DriveColumns {
    bool exists = false;
    QStringList Col_0_Array; // "Drive"
    QStringList Col_1_Array; // "DrvSize"
    QStringList Col_2_Array; // "Temp"
    QStringList Col_3_Array; // "SMART"
};

// How one cell is drawn: invalid variants leave the view's default.
struct CellLook {
    QVariant textColor;
    QVariant background;
    QVariant decoration; // the Watch marker of a drive on Watch
    QVariant toolTip;    // why it is on Watch
};

class AppController : public QObject,
                      public zentrova::smart::PollHost,
                      public zentrova::settings::SettingsHost {
    Q_OBJECT

  public:
    explicit AppController(StartupEnvironment environment = {}, QObject* parent = nullptr);
    ~AppController() override;

    // Number of drive records, counted along the list.
    int FindNoOfDevices() const;
    // The record of drive `index`; the last record when no index matches;
    // null for an empty list.
    zentrova::device::xDEV_INFO* GetCurrentDevice(int index) const;

    // Application delegate. applicationWillFinishLaunching answers false when
    // the application ended during start-up (its data folder was unusable).
    bool applicationWillFinishLaunching();
    // A termination request from the desktop is granted at once: Qt closes
    // the windows, and the main window's closing ends the monitor.
    bool applicationShouldTerminate() const { return true; }
    bool applicationShouldTerminateAfterLastWindowClosed();
    bool HasEnded() const { return ended_; }

    // Data source and delegate of both tables. Keys match a column when they
    // occur anywhere in its identifier, whatever the case.
    int numberOfRowsInTableView(zentrova::shell::TableId table) const;
    QVariant objectValueForTableColumn(const QString& identifier, int row);
    CellLook willDisplayCell(const QString& identifier, int row) const;
    // The drive table's value-set path: refreshes the selected drive's "Temp"
    // or "SMART" cell from the last poll. What an editor carried is never
    // stored, so no argument brings it.
    void setObjectValueForTableColumn(const QString& identifier, int row);
    // The same for the cell in column 2 ("Temp") or 3 ("SMART") of `row`, as
    // if an edit of it had been begun and committed.
    void EditDriveCell(int column, int row) override;
    void tableViewSelectionDidChange(QTableView* table);

    void CreateLogFilesForTheDrives();
    void FillLogEvents() override;
    // Everything the log page shows, lines ending in "\n" (the unfinished
    // last line excepted). Reads the whole log: for tests.
    QString LogPageText();
    zentrova::smart::LogLineIndex& LogLines() { return logLines_; }
    void FreeAllocatedMemory();
    void DisplayFlashWindow();
    void LoadAboutPage();

    // Redraw the tables after their data changed; the drive table keeps its
    // selection.
    void ReloadDriveTable() override;
    void ReloadAttrTable() override;
    void RestoreMainWindowIfMinimised() override;
    // Each read of a poll goes into the metrics file at once.
    void PollReadFinished(int drive, const std::uint8_t* dataPage,
                          const std::uint8_t* thresholdsPage) override;

    // A self-test's start waits for a poll's end; a failed test fails the drive.
    void PollStarted(int drive) override;
    void PollEnded(int drive) override;
    bool SelfTestFailed(int drive) override;

    // Reads the selected drive, judges the reading and shows the verdict.
    void PollSelDriveForSMARTAndFillAttributeTable() override;

    // The settings page: filled for the selected drive on every selection.
    void LoadSMARTSettingsPage();
    // The log page's text can be selected or not, as the log-event setting says.
    // Whether the user can select and copy the log page's lines.
    void SetLogViewSelectable(bool selectable) override;
    // Selects a drive row as a polling timer does.
    void SelectDriveRow(int row) override;
    // FillAttributeListTable(attributes, thresholds, operation) comes from
    // PollHost: the evaluation of one reading of the selected drive.

    // State that the evaluation and the poll share with the tables.
    zentrova::smart::AttributeColumns& AttrColumns() override { return attrColumns_; }
    const DriveColumns& Columns() const { return driveColumns_; }
    bool FirstTime() const override { return bFirstTime; }
    bool RedisplayAlerts() const override { return !showingFromDesktop_; }
    void SetDrvFailed() override { bDrvFailed = true; }
    QString DrvPath() const override { return strDrvPath; }
    std::int64_t LogPrevRead(int index) const;

    // Outlets.
    QMainWindow* MainWindow() const { return SMARTWindow; }
    QWidget* SplashWindow() const { return FlashWnd; }
    QWidget* AdvertWindow() const { return AdWindow; }
    QTabWidget* Tab() const;
    QTableView* DriveTable() const;
    QTableView* AttrTable() const;
    zentrova::shell::LogPageView* LogView() const;
    zentrova::shell::HistoryPage* HistoryView() const { return historyPage_; }
    zentrova::shell::SelfTestTab* SelfTests() const { return selfTestTab_; }
    QLabel* AboutVersion() const;
    QLabel* AboutImage() const;
    // Under the drive table: why drives are missing, hidden when all is said.
    QLabel* DriveNotes() const;
    QTimer* AdTimer() const { return Timer; }
    QTextBrowser* HelpBrowser() const { return helpBrowser_; }
    // Null without a system tray.
    zentrova::desktop::Tray* TrayIcon() const { return tray_; }
    // Above the attribute table: why the selected drive is on Watch, and an
    // NVMe drive's wear projection; hidden when there is nothing to say.
    QLabel* WatchBanner() const;

    // Shows the main window with drive row `row` selected, once no panel is
    // up (a notification's or the tray's drive entry); -1 selects nothing.
    void ShowDrive(int row);

    // Drives that come and go (shell/drive_events.cpp): the timer that waits
    // for a burst of events to end; null without an event source.
    QTimer* DriveEventsQuietTimer() const {
        return driveEventFollower_ != nullptr ? driveEventFollower_->QuietTimer() : nullptr;
    }

  public slots:
    void OnAboutMenu();
    void OnQuitMenu() {}
    void OnAppClose();
    void OnAppHelp();
    void OnClickPromo1Img();
    void OnClickPromo2Img();
    void OnClickPromo3Img();
    void OnClickPromo4Img();
    void OnClickContinueImg();
    void OnClickPollDrv();
    void OnClickCriticalTemp();
    void OnApplySettings();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void awakeFromNib();
    void ConnectActions();
    void ConnectSettingsPage();
    void FillDriveColumns();
    void ShowLeftOutDisks();
    // The drive table's cells of one record as start-up fills them; a drive
    // back in its row keeps its S.M.A.R.T. cell (`keepVerdict`).
    void FillDriveRow(const zentrova::device::xDEV_INFO& record, bool keepVerdict = false);
    // The event source of this run, before detection so that no event
    // after the listing is missed; listened to once start-up is over.
    void SetUpDriveEvents(bool systemRegistry);
    void ListenToDriveEvents(std::unique_ptr<zentrova::platform::DeviceRegistry> registry);
    void DriveEventsQuiet(std::vector<std::string> removed);
    void UpdateDriveList();
    void FirstReloadOfDriveTable();
    void ShowAdvertisement();
    void OpenPromo(const char* key);
    void MainWindowDidClose();
    // A close request from outside (the uninstaller's quit request) ends the
    // monitor; during start-up it is acted on between the steps.
    bool EndIfQuitRequested();
    std::int64_t* LogReadSlot(int index);
    void SetUpLogPage();
    void SetUpHistoryPage();
    // The history store in the data folder; its trouble is told in one panel.
    void OpenHistoryStore();
    void RecordReadInHistory(int drive, const std::uint8_t* dataPage,
                             const std::uint8_t* thresholdsPage);
    void TellHistoryTrouble(const QString& message);
    void SetUpSelfTestPage();
    void ContinueLogScan();
    // Desktop notifications and the tray icon (shell/desktop.cpp).
    void SetUpDesktopNotices();
    void SetUpTray();
    void UpdateTray();
    void ShowMainWindow();
    // What waits for the last panel to close, run in this order: the drive
    // list brought up to date, then the window shown (ShowDrive). One
    // waiting action serves both, so neither replaces the other.
    void WhenNoPanelIsUp();
    void ShowWaitingDrive();
    void ToggleMainWindow();
    void QuitFromTray();
    // The question before the monitor ends at the user's word.
    bool ConfirmClose();
    // Whether a close of the main window only hides it: the user chose to
    // keep the monitor in a tray that is there, and no quit was asked for.
    bool HidesInsteadOfClosing() const;
    // What the tray knows of each drive besides the table: its last read.
    void NoteReadForTray(int drive, const std::uint8_t* dataPage,
                         const std::uint8_t* thresholdsPage);
    // The Watch judgement of a good read, already in the history: its
    // samples to the metrics, its changes to the desktop (shell/watch_tab.cpp).
    void JudgeReadForWatch(int drive, const std::uint8_t* dataPage,
                           const std::uint8_t* thresholdsPage);
    void AnnounceWatchChanges(int drive, const std::vector<zentrova::watch::Change>& changes);
    // The banner for the selected drive's last verdict.
    void ShowWatchOfSelectedDrive();
    const zentrova::watch::Verdict* WatchVerdictOf(int drive) const;

    StartupEnvironment env_;
    std::unique_ptr<Ui::SMARTWindow> mainUi_;
    std::unique_ptr<Ui::FlashWnd> flashUi_;
    std::unique_ptr<Ui::AdWindow> adUi_;
    QMainWindow* SMARTWindow = nullptr;
    QWidget* FlashWnd = nullptr;
    QWidget* AdWindow = nullptr;
    QWidget* helpWindow_ = nullptr;
    QTextBrowser* helpBrowser_ = nullptr;
    zentrova::shell::ControllerTableModel* driveModel_ = nullptr;
    zentrova::shell::ControllerTableModel* attrModel_ = nullptr;
    QTimer* Timer = nullptr;
    // Goes on with a scan of a large log from the event loop, so that
    // neither start-up nor a click waits for the whole file.
    QTimer* logScanTimer_ = nullptr;

    QString strCurrPath;
    QString strDrvPath;
    bool bDrvFailed = false;
    bool bFirstTime = false;
    bool adClosed_ = false;
    bool splashUp_ = false;
    bool quitRequested_ = false;
    bool ended_ = false;
    DriveColumns driveColumns_;
    zentrova::smart::AttributeColumns attrColumns_;
    std::int64_t dwLogPrevRead[zentrova::device::kMaxDrives] = {};
    // The selected drive's log lines as the log page shows them.
    zentrova::smart::LogLineIndex logLines_;
    zentrova::shell::HistoryPage* historyPage_ = nullptr;
    zentrova::shell::SelfTestTab* selfTestTab_ = nullptr;
    // A write failure of the history is printed once until a write succeeds.
    bool historyWriteFailureTold_ = false;
    std::unique_ptr<zentrova::desktop::DesktopNotices> notices_;
    zentrova::desktop::Tray* tray_ = nullptr;
    // A quit from the tray or from outside ends the monitor even when a close
    // would only hide the window.
    bool quitting_ = false;
    // True while ShowDrive selects a drive the desktop has just told about;
    // the drive row it is to select once no panel is up (-1: none).
    bool showingFromDesktop_ = false;
    int driveToShow_ = -1;
    bool showWaiting_ = false;
    // Drives that come and go: the registry listed again after a burst, the
    // source until start-up is over, then its follower, the whole disks the
    // kernel removed in the bursts not yet answered and whether a listing
    // waits for a panel.
    std::unique_ptr<zentrova::platform::DeviceRegistry> registry_;
    std::unique_ptr<zentrova::platform::DriveEventSource> driveEvents_;
    std::unique_ptr<zentrova::hotplug::DriveEventFollower> driveEventFollower_;
    std::vector<std::string> removedInBurst_;
    bool driveListWaiting_ = false;
    bool readFailed_[zentrova::device::kMaxDrives] = {};
    int lastTemperature_[zentrova::device::kMaxDrives] = {}; // 0: unknown
};
