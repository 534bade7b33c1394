// The Watch judgement of each good read, after the history has it: what the
// metrics, the drive table, the banner, the tray and the desktop are told.
// The evaluation of the reading knows nothing of it.
#include "AppController.h"

#include "desktop/notices.h"
#include "history/history.h"
#include "history/history_reading.h"
#include "metrics/metrics.h"
#include "shell/history_page.h"
#include "ui_MainWindow.h"
#include "watch/watch.h"
#include "watch_view.h"

#include <QLabel>

using zentrova::device::dev;

QLabel* AppController::WatchBanner() const {
    return mainUi_->TheWatchBanner;
}

void AppController::JudgeReadForWatch(int drive, const std::uint8_t* dataPage,
                                      const std::uint8_t* thresholdsPage) {
    // A failed read judges nothing: the last verdict and every period stand.
    if (dataPage == nullptr || thresholdsPage == nullptr)
        return;
    const zentrova::device::xDEV_INFO* record = dev.gpHeadDevInfo;
    while (record != nullptr && record->nDevIndex != drive)
        record = record->pNext;
    if (record == nullptr)
        return;
    const std::int64_t now = zentrova::history::NowMs();
    std::vector<zentrova::watch::Change> changes;
    std::vector<zentrova::metrics::WatchSample> samples;
    const zentrova::watch::Verdict* verdict =
        zentrova::watch::JudgeRead(drive, dataPage, thresholdsPage, now, &changes, &samples);
    if (verdict == nullptr)
        return;
    zentrova::metrics::MetricsWatchJudged(drive, std::move(samples));
    AnnounceWatchChanges(drive, changes);
    if (!changes.empty())
        historyPage_->WatchChanged(zentrova::history::IdentityOf(*record));
    if (dev.gpSelDevInfo == record)
        ShowWatchOfSelectedDrive();
}

void AppController::AnnounceWatchChanges(int drive,
                                         const std::vector<zentrova::watch::Change>& changes) {
    if (notices_ == nullptr)
        return;
    QString name;
    for (const zentrova::device::xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            name = QString::fromLatin1(r->szDevFilePath);
    for (const zentrova::watch::Change& change : changes) {
        // An end is seen in the window; only what calls for action is told.
        if (change.what == zentrova::watch::Change::Ended || change.rule == nullptr)
            continue;
        // No panel goes with Watch: told straight to the desktop.
        zentrova::platform::DesktopNotice notice;
        notice.kind = change.what == zentrova::watch::Change::AdviceGrew
                          ? zentrova::platform::NoticeKind::DriveAdvice
                          : zentrova::platform::NoticeKind::DriveOnWatch;
        notice.drive = drive;
        notice.driveName = name;
        notice.body = QString::fromStdString(change.sentence);
        notice.rule = QString::fromLatin1(change.rule->reason);
        notices_->Announce(notice);
    }
}

const zentrova::watch::Verdict* AppController::WatchVerdictOf(int drive) const {
    for (const zentrova::device::xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            return zentrova::watch::watch.watcher.Last(zentrova::history::IdentityOf(*r));
    return nullptr;
}

void AppController::ShowWatchOfSelectedDrive() {
    QLabel* banner = mainUi_->TheWatchBanner;
    const zentrova::watch::Verdict* verdict =
        dev.gpSelDevInfo != nullptr ? WatchVerdictOf(dev.gpSelDevInfo->nDevIndex) : nullptr;
    const QString text = zentrova::shell::WatchBannerText(verdict);
    banner->setText(text);
    // Amber only when something is wrong; a projection alone stands in grey.
    const bool warns = verdict != nullptr && !verdict->Reasons().empty();
    banner->setStyleSheet(warns ? QStringLiteral("QLabel { background: #fff3cd; color: #5c4400; "
                                                 "border: 1px solid #ffc107; }")
                                : QString());
    banner->setVisible(!text.isEmpty());
}
