// The History tab beside the Event Log, and the road of each read into the
// history store.
#include "AppController.h"

#include "history/history.h"
#include "history/history_reading.h"
#include "history_page.h"
#include "platform/ui/alert_panel.h"
#include "ui_MainWindow.h"

#include <QTimer>

#include <cstdio>

using zentrova::device::dev;

void AppController::SetUpHistoryPage() {
    historyPage_ = new zentrova::shell::HistoryPage;
    historyPage_->SetSaveDialog(env_.saveDialog);
    QTabWidget* tabs = mainUi_->TheTab;
    tabs->insertTab(tabs->indexOf(mainUi_->logPage) + 1, historyPage_, QStringLiteral("History"));
}

void AppController::OpenHistoryStore() {
    const zentrova::history::Trouble trouble = zentrova::history::OpenHistory(strDrvPath);
    TellHistoryTrouble(zentrova::history::TroubleMessage(trouble));
}

void AppController::RecordReadInHistory(int drive, const std::uint8_t* dataPage,
                                        const std::uint8_t* thresholdsPage) {
    if (dataPage == nullptr)
        return;
    const zentrova::history::Trouble trouble =
        zentrova::history::RecordRead(drive, dataPage, thresholdsPage);
    const QString message = zentrova::history::TroubleMessage(trouble);
    if (!message.isEmpty()) {
        TellHistoryTrouble(message);
    } else if (!trouble.error.empty()) {
        // A full disk, say: this reading is lost, the next one is tried.
        if (!historyWriteFailureTold_)
            std::fprintf(stderr, "zentrova: a reading could not be added to the history: %s\n",
                         trouble.error.c_str());
        historyWriteFailureTold_ = true;
    } else {
        historyWriteFailureTold_ = false;
    }
    for (const zentrova::device::xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            historyPage_->DriveRead(zentrova::history::IdentityOf(*r));
}

void AppController::TellHistoryTrouble(const QString& message) {
    if (message.isEmpty())
        return;
    // From the event loop: the read that found it goes on with its poll.
    QTimer::singleShot(0, this, [message] {
        zentrova::platform::AnnounceBeforePanel(
            {zentrova::platform::NoticeKind::HistoryTrouble, -1, {}, message});
        zentrova::platform::NSRunAlertPanel(QStringLiteral("Drive history"), message, QString());
    });
}
