// The monitor's desktop notifications: one for each event that raises a
// panel, sent just before it opens. A repeat of the same fact for the same
// drive replaces the earlier notification instead of adding one; a click on
// one names its drive.
#pragma once

#include "platform/notification_bus.h"
#include "platform/ui/alert_panel.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <tuple>

namespace zentrova::desktop {

QString NoticeSummary(const platform::DesktopNotice& notice);
platform::NotificationUrgency NoticeUrgency(platform::NoticeKind kind);

class DesktopNotices {
  public:
    // `debug`: where the one line about a missing server goes; null: nowhere.
    DesktopNotices(std::unique_ptr<platform::NotificationBus> bus, std::ostream* debug);

    void Announce(const platform::DesktopNotice& notice);
    // Told the drive of a clicked notification (-1 for the program's own).
    void SetClickHandler(std::function<void(int drive)> clicked);

  private:
    std::unique_ptr<platform::NotificationBus> bus_;
    std::ostream* debug_;
    bool unavailableTold_ = false;
    // The server's id of the last notification of each fact, keyed by kind,
    // drive and (for Watch) rule; and the drive each live id belongs to. Both
    // stay as small as the kinds times the drives times the rules.
    using Fact = std::tuple<int, int, QString>;
    std::map<Fact, std::uint32_t> lastId_;
    std::map<std::uint32_t, int> driveOfId_;
    std::function<void(int)> clicked_;
};

} // namespace zentrova::desktop
