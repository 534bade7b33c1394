// Start-up: everything between the loading of the windows and the event loop.
#include "AppController.h"

#include "metrics/metrics.h"
#include "settings/store.h"
#include "table_model.h"
#include "ui_MainWindow.h"

#include <QDir>
#include <QPixmap>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;

bool AppController::applicationWillFinishLaunching() {
    // Every panel from here on is also told to the desktop.
    SetUpDesktopNotices();
    // The splash, for as long as start-up used to take.
    DisplayFlashWindow();
    if (EndIfQuitRequested())
        return false;

    // The system code (row striping) and the drive list, which switches
    // SMART on and reads each drive's temperature.
    if (env_.systemVersion != nullptr)
        zentrova::device::FindCurrentRunningOS(*env_.systemVersion);
    else
        zentrova::device::FindCurrentRunningOS();
    std::unique_ptr<zentrova::platform::DeviceRegistry> registry =
        env_.makeRegistry ? env_.makeRegistry() : zentrova::platform::CreateSystemDeviceRegistry();
    SetUpDriveEvents(!env_.makeRegistry &&
                     qEnvironmentVariableIsEmpty("ZENTROVA_SIMULATED_DRIVES"));
    if (registry != nullptr)
        zentrova::device::SMARTDeviceDetection(*registry);
    // The metrics file, when one is asked for, lists the new drives at once.
    zentrova::metrics::MetricsDrivesDetected();
    zentrova::metrics::UpdateMetricsFile();

    // The data folder "Zentrodat" in the current directory. Whether it
    // could be made shows when the log files are created.
    strCurrPath.clear();
    strDrvPath.clear();
    bDrvFailed = false;
    strCurrPath = env_.currentDirectory.isEmpty() ? QDir::currentPath() : env_.currentDirectory;
    const QDir current(strCurrPath);
    if (!current.exists(QStringLiteral("Zentrodat")))
        current.mkdir(QStringLiteral("Zentrodat"));
    // Started from "/", the folder is "/Zentrodat", where the uninstaller looks.
    strDrvPath = QDir::cleanPath(strCurrPath + QStringLiteral("/Zentrodat"));

    // A log the monitor cannot create ends it here, before anything else
    // uses the drive list that ending released.
    CreateLogFilesForTheDrives();
    if (ended_)
        return false;
    OpenHistoryStore();

    FillDriveColumns();
    ShowLeftOutDisks();
    SetUpTray();
    SMARTWindow->setWindowTitle(QStringLiteral("Zentrova"));

    // The previous run's settings and the polling timers, before the first
    // reload, so that the first selection finds them.
    zentrova::settings::store.mutDict = {};
    zentrova::settings::ReadAndSavePreviousSettings(*this);

    // The first load of the drive table selects the first drive.
    FirstReloadOfDriveTable();

    const QPixmap Img(QStringLiteral(":/zentrova.png"));
    if (!Img.isNull())
        mainUi_->AbtImgView->setPixmap(
            Img.scaled(160, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    LoadAboutPage();

    // Shows the selected drive's log; without a selection the page stays.
    FillLogEvents();

    if (EndIfQuitRequested())
        return false;
    ListenToDriveEvents(std::move(registry));
    ShowAdvertisement();
    return !ended_;
}

void AppController::FillDriveColumns() {
    if (dev.gpHeadDevInfo == nullptr)
        return;
    driveColumns_ = DriveColumns{};
    for (const xDEV_INFO* record = dev.gpHeadDevInfo; record != nullptr; record = record->pNext)
        FillDriveRow(*record);
}

void AppController::FillDriveRow(const xDEV_INFO& record, bool keepVerdict) {
    driveColumns_.exists = true;
    const QString cells[] = {
        QString::fromLatin1(record.szDevFilePath), QString::number(record.nSizeGB),
        record.nTemperature == 0 ? QStringLiteral("N/A") : QString::number(record.nTemperature),
        record.bSmartEnabled != 0 ? QStringLiteral("OK") : QStringLiteral("Failed")};
    QStringList* columns[] = {&driveColumns_.Col_0_Array, &driveColumns_.Col_1_Array,
                              &driveColumns_.Col_2_Array, &driveColumns_.Col_3_Array};
    const int row = record.nDevIndex;
    // A drive back in its row keeps the S.M.A.R.T. verdict it left with.
    if (keepVerdict && (row < 0 || row >= columns[3]->size()))
        return;
    for (int c = 0; c < (keepVerdict ? 3 : 4); ++c) {
        if (row < columns[c]->size())
            (*columns[c])[row] = cells[c];
        else
            columns[c]->append(cells[c]);
    }
    if (!keepVerdict && row >= 0 && row < zentrova::device::kMaxDrives)
        zentrova::smart::smart.gbFlag[row] = row == 0 ? 1 : 0;
}

// A user who sees fewer drives than the computer has is told why, one line
// per disk; nothing is shown when every drive is listed.
void AppController::ShowLeftOutDisks() {
    QStringList lines;
    if (dev.gpHeadDevInfo == nullptr)
        lines.append(QStringLiteral("No drive was found that Zentrova can read."));
    for (const std::string& line : dev.leftOutDisks)
        lines.append(QString::fromStdString(line));
    mainUi_->TheDriveNotes->setText(lines.join(QLatin1Char('\n')));
    mainUi_->TheDriveNotes->setVisible(!lines.isEmpty());
}

void AppController::FirstReloadOfDriveTable() {
    bFirstTime = true;
    driveModel_->Reload();
    // The drive table starts with its first row chosen, so the window opens
    // on the first drive; choosing it runs the selection handler.
    if (driveModel_->rowCount() > 0)
        mainUi_->TheTable->selectRow(0);
    bFirstTime = false;
}
