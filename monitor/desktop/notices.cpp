#include "desktop/notices.h"

namespace zentrova::desktop {

using platform::NoticeKind;

QString NoticeSummary(const platform::DesktopNotice& notice) {
    switch (notice.kind) {
    case NoticeKind::DriveFailing:
        return QStringLiteral("Drive %1 is about to fail").arg(notice.driveName);
    case NoticeKind::DriveOverCriticalTemp:
        return QStringLiteral("Drive %1 is over its critical temperature").arg(notice.driveName);
    case NoticeKind::DataFolderUnusable:
        return QStringLiteral("Zentrova cannot use its data folder");
    case NoticeKind::SettingsUnreadable:
        return QStringLiteral("Zentrova could not read its settings");
    case NoticeKind::SettingsUnsaved:
        return QStringLiteral("Zentrova could not save its settings");
    case NoticeKind::HistoryTrouble:
        return QStringLiteral("Zentrova's drive history needs attention");
    case NoticeKind::DriveOnWatch:
        return QStringLiteral("Drive %1 is on Watch").arg(notice.driveName);
    case NoticeKind::DriveAdvice:
        return QStringLiteral("Drive %1 had garbled transfers").arg(notice.driveName);
    }
    return QStringLiteral("Zentrova");
}

platform::NotificationUrgency NoticeUrgency(NoticeKind kind) {
    return kind == NoticeKind::DriveFailing ? platform::NotificationUrgency::Critical
                                            : platform::NotificationUrgency::Normal;
}

DesktopNotices::DesktopNotices(std::unique_ptr<platform::NotificationBus> bus, std::ostream* debug)
    : bus_(std::move(bus)), debug_(debug) {
    if (bus_ != nullptr)
        bus_->SetClickHandler([this](std::uint32_t id) {
            const auto found = driveOfId_.find(id);
            if (found != driveOfId_.end() && clicked_)
                clicked_(found->second);
        });
}

void DesktopNotices::SetClickHandler(std::function<void(int)> clicked) {
    clicked_ = std::move(clicked);
}

void DesktopNotices::Announce(const platform::DesktopNotice& notice) {
    if (bus_ == nullptr)
        return;
    const QString why = bus_->Unavailable();
    if (!why.isEmpty()) {
        if (!unavailableTold_ && debug_ != nullptr)
            *debug_ << "zentrova: no desktop notifications are sent: " << why.toStdString() << '\n';
        unavailableTold_ = true;
        return;
    }
    unavailableTold_ = false;
    const Fact fact{static_cast<int>(notice.kind), notice.drive, notice.rule};
    const auto last = lastId_.find(fact);
    platform::NotificationRequest request;
    request.summary = NoticeSummary(notice);
    request.body = notice.body;
    request.urgency = NoticeUrgency(notice.kind);
    request.replacesId = last != lastId_.end() ? last->second : 0;
    bus_->Notify(request, [this, fact, drive = notice.drive](std::uint32_t id) {
        if (id == 0)
            return;
        const auto previous = lastId_.find(fact);
        if (previous != lastId_.end() && previous->second != id)
            driveOfId_.erase(previous->second);
        lastId_[fact] = id;
        driveOfId_[id] = drive;
    });
}

} // namespace zentrova::desktop
