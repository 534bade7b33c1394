#include "AppController.h"

#include "shell/log_page_view.h"
#include "shell/selftest_tab.h"
#include "shell/table_model.h"
#include "ui_AdWindow.h"
#include "ui_FlashWnd.h"
#include "ui_MainWindow.h"

#include "desktop/notices.h"
#include "desktop/tray.h"
#include "history/history.h"
#include "metrics/metrics.h"
#include "platform/ui/alert_panel.h"
#include "settings/timers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QTimer>
#include <QtGlobal>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;
using zentrova::shell::ControllerTableModel;
using zentrova::shell::TableId;

AppController::AppController(StartupEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)), mainUi_(std::make_unique<Ui::SMARTWindow>()),
      flashUi_(std::make_unique<Ui::FlashWnd>()), adUi_(std::make_unique<Ui::AdWindow>()) {
    SMARTWindow = new QMainWindow;
    mainUi_->setupUi(SMARTWindow);
    FlashWnd = new QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint);
    flashUi_->setupUi(FlashWnd);
    AdWindow = new QWidget;
    adUi_->setupUi(AdWindow);

    driveModel_ =
        new ControllerTableModel(this, TableId::Drives, zentrova::shell::DriveTableColumns(), this);
    attrModel_ = new ControllerTableModel(this, TableId::Attributes,
                                          zentrova::shell::AttrTableColumns(), this);
    for (QTableView* table : {mainUi_->TheTable, mainUi_->TheAttrTable}) {
        table->setModel(table == mainUi_->TheTable ? driveModel_ : attrModel_);
        table->verticalHeader()->hide();
        table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
        table->horizontalHeader()->setStretchLastSection(true);
    }
    mainUi_->TheTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    const int attrWidths[] = {40, 200, 90, 70, 50, 50, 60};
    for (int column = 0; column < 7; ++column)
        mainUi_->TheAttrTable->setColumnWidth(column, attrWidths[column]);

    // The monitor decides itself when it ends: with its main window.
    QApplication::setQuitOnLastWindowClosed(false);
    SMARTWindow->installEventFilter(this);
    AdWindow->installEventFilter(this);
    FlashWnd->installEventFilter(this);
    zentrova::platform::SetPanelClosedByWindowManagerHandler([this] { quitRequested_ = true; });
    ConnectActions();
    SetUpLogPage();
    SetUpHistoryPage();
    SetUpSelfTestPage();
    awakeFromNib();
}

AppController::~AppController() {
    zentrova::platform::SetPanelClosedByWindowManagerHandler({});
    zentrova::platform::SetNoticeHandler({});
    delete tray_;
    tray_ = nullptr;
    // The timers end with the controller they poll through.
    for (int k = 0; k < zentrova::device::kMaxDrives; ++k)
        zentrova::settings::StopTimerForDrive(k);
    if (zentrova::settings::timers.host == this)
        zentrova::settings::timers.host = nullptr;
    delete helpWindow_;
    delete AdWindow;
    delete FlashWnd;
    delete SMARTWindow;
}

void AppController::awakeFromNib() {
    qInfo("Zentrova application");
}

void AppController::ConnectActions() {
    connect(mainUi_->actionAbout, &QAction::triggered, this, &AppController::OnAboutMenu);
    connect(mainUi_->actionHelp, &QAction::triggered, this, &AppController::OnAppHelp);
    connect(mainUi_->TheClose, &QPushButton::clicked, this, &AppController::OnAppClose);
    connect(mainUi_->TheHelp, &QPushButton::clicked, this, &AppController::OnAppHelp);
    connect(adUi_->Promo1Image, &QPushButton::clicked, this, &AppController::OnClickPromo1Img);
    connect(adUi_->Promo2Image, &QPushButton::clicked, this, &AppController::OnClickPromo2Img);
    connect(adUi_->Promo3Image, &QPushButton::clicked, this, &AppController::OnClickPromo3Img);
    connect(adUi_->Promo4Image, &QPushButton::clicked, this, &AppController::OnClickPromo4Img);
    connect(adUi_->OnContinueImage, &QPushButton::clicked, this,
            &AppController::OnClickContinueImg);
    for (QTableView* table : {mainUi_->TheTable, mainUi_->TheAttrTable}) {
        connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, table] { tableViewSelectionDidChange(table); });
    }
    ConnectSettingsPage();
}

int AppController::FindNoOfDevices() const {
    int count = 0;
    for (const xDEV_INFO* record = dev.gpHeadDevInfo; record != nullptr; record = record->pNext)
        ++count;
    return count;
}

xDEV_INFO* AppController::GetCurrentDevice(int index) const {
    xDEV_INFO* record = dev.gpHeadDevInfo;
    if (record == nullptr)
        return nullptr;
    while (record->nDevIndex != index && record->pNext != nullptr)
        record = record->pNext;
    return record;
}

QTabWidget* AppController::Tab() const {
    return mainUi_->TheTab;
}
QTableView* AppController::DriveTable() const {
    return mainUi_->TheTable;
}
QTableView* AppController::AttrTable() const {
    return mainUi_->TheAttrTable;
}
zentrova::shell::LogPageView* AppController::LogView() const {
    return mainUi_->LogEventView;
}
QLabel* AppController::AboutVersion() const {
    return mainUi_->AbtVer;
}
QLabel* AppController::AboutImage() const {
    return mainUi_->AbtImgView;
}

QLabel* AppController::DriveNotes() const {
    return mainUi_->TheDriveNotes;
}

bool AppController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close) {
        // The splash and welcome windows close themselves only after marking
        // it; a close before that comes from outside and asks the monitor to end.
        if (watched == SMARTWindow && HidesInsteadOfClosing()) {
            event->ignore();
            SMARTWindow->hide();
            return true;
        }
        if (watched == SMARTWindow)
            MainWindowDidClose();
        else if (watched == FlashWnd && splashUp_)
            quitRequested_ = true; // start-up ends once the splash is down
        else if (watched == AdWindow && !adClosed_)
            SMARTWindow->close();
    }
    return QObject::eventFilter(watched, event);
}

void AppController::OnAppClose() {
    // Hiding the window stops nothing: there is nothing to confirm.
    if (HidesInsteadOfClosing()) {
        SMARTWindow->close();
        return;
    }
    if (ConfirmClose())
        SMARTWindow->close();
}

bool AppController::ConfirmClose() {
    QString question = QStringLiteral("Are you sure that you want to close this application and "
                                      "stop monitoring for S.M.A.R.T. Data?");
    // The drive goes on with its test whatever the monitor does.
    if (selfTestTab_->Tests().AnyRunning())
        question += QStringLiteral("\n\nA self-test is running: the drive goes on with it after "
                                   "Zentrova closes.");
    const int answer = zentrova::platform::NSRunAlertPanel(
        QStringLiteral("Zentrova"), question, QStringLiteral("Yes"), QStringLiteral("No"));
    return answer == zentrova::platform::NSAlertDefaultReturn;
}

// The main window is the last window that matters: the splash is gone by
// then, and the advertisement and help windows only lead to or explain it.
void AppController::MainWindowDidClose() {
    if (ended_)
        return;
    adClosed_ = true;
    // Closed while a panel's own event loop runs: the caller of the panel
    // still uses the drive list and the pages, so they stay until the
    // process ends; every event loop is told to finish.
    if (zentrova::platform::PanelIsUp()) {
        ended_ = true;
        QCoreApplication::exit(0);
        return;
    }
    if (Timer != nullptr) {
        Timer->stop();
        Timer->deleteLater();
        Timer = nullptr;
    }
    AdWindow->close();
    if (helpWindow_ != nullptr)
        helpWindow_->close();
    if (applicationShouldTerminateAfterLastWindowClosed()) {
        ended_ = true;
        QCoreApplication::exit(0);
    }
}

bool AppController::EndIfQuitRequested() {
    if (quitRequested_ && !ended_) {
        quitting_ = true;
        SMARTWindow->close();
    }
    return ended_;
}

bool AppController::applicationShouldTerminateAfterLastWindowClosed() {
    FreeAllocatedMemory();
    return true;
}

void AppController::FreeAllocatedMemory() {
    // Page buffers first: they are found through the records' indexes.
    zentrova::smart::FreeSmartPages();
    zentrova::device::FreeDeviceList();
    driveColumns_ = DriveColumns{};
    attrColumns_ = zentrova::smart::AttributeColumns{};
    logLines_.Clear();
    zentrova::history::CloseHistory();
}

void AppController::RestoreMainWindowIfMinimised() {
    if (SMARTWindow->isMinimized())
        SMARTWindow->showNormal();
}

void AppController::PollReadFinished(int drive, const std::uint8_t* dataPage,
                                     const std::uint8_t* thresholdsPage) {
    zentrova::metrics::MetricsRecordRead(drive, dataPage, thresholdsPage);
    RecordReadInHistory(drive, dataPage, thresholdsPage);
    // Judged against the history that now holds the read, and before the
    // metrics file is rewritten, so the file's Watch is this read's.
    JudgeReadForWatch(drive, dataPage, thresholdsPage);
    zentrova::metrics::UpdateMetricsFile();
    NoteReadForTray(drive, dataPage, thresholdsPage);
    selfTestTab_->DataRead(drive, dataPage);
}
