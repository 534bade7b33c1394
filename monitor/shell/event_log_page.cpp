// The drives' event log files as start-up creates them, and the log page.
#include "AppController.h"

#include "shell/log_page_view.h"
#include "smart/event_log.h"
#include "ui_MainWindow.h"

#include "platform/ui/alert_panel.h"

#include <QTimer>

#include <cstdio>

using zentrova::device::dev;
using zentrova::device::kMaxDrives;
namespace smartlog = zentrova::smart;

std::int64_t* AppController::LogReadSlot(int index) {
    return index >= 0 && index < kMaxDrives ? &dwLogPrevRead[index] : nullptr;
}

std::int64_t AppController::LogPrevRead(int index) const {
    return index >= 0 && index < kMaxDrives ? dwLogPrevRead[index] : 0;
}

void AppController::CreateLogFilesForTheDrives() {
    const int count = FindNoOfDevices();
    for (int i = 0; i < count && !ended_; ++i) {
        const QString path = smartlog::LogFilePath(strDrvPath, i);
        const smartlog::LogCreation created =
            smartlog::CreateLogFile(path, zentrova::platform::CurrentDateTime());
        switch (created.result) {
        case smartlog::LogCreateResult::Existed:
        case smartlog::LogCreateResult::Created:
            if (std::int64_t* slot = LogReadSlot(i))
                *slot = 0;
            break;
        case smartlog::LogCreateResult::HeaderFailed:
            break;
        case smartlog::LogCreateResult::CreateFailed:
            // Closing the main window ends the monitor, which also ends this
            // loop: one alert is enough. The alert cannot say which path or
            // why; standard error does.
            std::fprintf(stderr, "%s\n", smartlog::LogCreateFailureLine(path, created).constData());
            const QString text =
                QStringLiteral("Unable to create S.M.A.R.T. log file.\nQuiting the application.");
            zentrova::platform::AnnounceBeforePanel(
                {zentrova::platform::NoticeKind::DataFolderUnusable, -1, {}, text});
            zentrova::platform::NSRunAlertPanel(QStringLiteral("Zentrova"), text,
                                                QStringLiteral("OK"));
            SMARTWindow->close();
            break;
        }
    }
}

void AppController::SetUpLogPage() {
    mainUi_->LogEventView->SetSource(&logLines_);
    logScanTimer_ = new QTimer(this);
    logScanTimer_->setSingleShot(true);
    logScanTimer_->setInterval(0);
    connect(logScanTimer_, &QTimer::timeout, this, &AppController::ContinueLogScan);
}

void AppController::FillLogEvents() {
    if (dev.gpSelDevInfo == nullptr)
        return;
    std::int64_t* slot = LogReadSlot(dev.gpSelDevInfo->nDevIndex);
    if (slot == nullptr)
        return;
    // A reset read position means another drive or a fresh look: the page
    // starts again from the log's first line, or stays empty without a log.
    const bool fresh = *slot == 0;
    const smartlog::LogRefreshResult read =
        logLines_.Refresh(smartlog::LogFilePath(strDrvPath, dev.gpSelDevInfo->nDevIndex), slot,
                          env_.logScanSliceBytes);
    if (!read.ok && fresh)
        logLines_.Clear();
    if (read.ok || read.restarted || fresh)
        mainUi_->LogEventView->LinesChanged(read.restarted || fresh);
    if (read.ok && logLines_.Scanning())
        logScanTimer_->start();
}

void AppController::ContinueLogScan() {
    if (dev.gpSelDevInfo == nullptr)
        return;
    std::int64_t* slot = LogReadSlot(dev.gpSelDevInfo->nDevIndex);
    if (slot == nullptr ||
        logLines_.Path() != smartlog::LogFilePath(strDrvPath, dev.gpSelDevInfo->nDevIndex))
        return;
    const smartlog::LogRefreshResult read = logLines_.Continue(slot, env_.logScanSliceBytes);
    if (read.ok || read.restarted)
        mainUi_->LogEventView->LinesChanged(read.restarted);
    if (read.ok && logLines_.Scanning())
        logScanTimer_->start();
}

void AppController::SetLogViewSelectable(bool selectable) {
    mainUi_->LogEventView->SetSelectable(selectable);
}

QString AppController::LogPageText() {
    return logLines_.Text(0, logLines_.LineCount());
}
