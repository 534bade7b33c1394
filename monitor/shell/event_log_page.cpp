// The drives' event log files as start-up creates them, and the log page.
#include "AppController.h"

#include "smart/event_log.h"
#include "ui_MainWindow.h"

#include "platform/ui/alert_panel.h"

#include <QTextCursor>

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
            zentrova::platform::NSRunAlertPanel(
                QStringLiteral("Zentrova"),
                QStringLiteral("Unable to create S.M.A.R.T. log file.\nQuiting the application."),
                QStringLiteral("OK"));
            SMARTWindow->close();
            break;
        }
    }
}

void AppController::FillLogEvents() {
    if (dev.gpSelDevInfo == nullptr)
        return;
    std::int64_t* slot = LogReadSlot(dev.gpSelDevInfo->nDevIndex);
    if (slot == nullptr)
        return;
    std::int64_t position = *slot;
    const smartlog::LogReadResult read = smartlog::ReadLogSince(
        smartlog::LogFilePath(strDrvPath, dev.gpSelDevInfo->nDevIndex), &position);
    if (!read.ok)
        return;

    QPlainTextEdit* view = mainUi_->LogEventView;
    if (*slot == 0 || read.restarted)
        view->clear();
    // The page shows lines, not line ends: CR LF and the header's bare LFs
    // both become line breaks.
    QString text = read.text;
    text.remove(QLatin1Char('\r'));
    // New text always goes at the end, wherever the user clicked or selected.
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    *slot = position;
}
