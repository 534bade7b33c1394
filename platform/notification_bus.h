// The desktop's notification server, as the monitor uses it: send one
// notification (replacing an earlier one), and hear which was clicked. The
// session's freedesktop server on Linux; a fake in tests.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace zentrova::platform {

enum class NotificationUrgency : std::uint8_t { Low = 0, Normal = 1, Critical = 2 };

struct NotificationRequest {
    QString summary;
    QString body;
    NotificationUrgency urgency = NotificationUrgency::Normal;
    // The server's id of the notification this one replaces; 0: a new one.
    std::uint32_t replacesId = 0;
};

class NotificationBus {
  public:
    virtual ~NotificationBus() = default;
    // Empty when a server takes notifications; otherwise why none is sent.
    virtual QString Unavailable() = 0;
    // Sends without waiting; `sent` later gets the server's id, or 0 when the
    // server refused or did not answer.
    virtual void Notify(const NotificationRequest& request,
                        std::function<void(std::uint32_t id)> sent) = 0;
    // Told when the user clicks a notification of ours (its default action).
    virtual void SetClickHandler(std::function<void(std::uint32_t id)> clicked) = 0;
};

// The freedesktop Notifications server on the session bus.
std::unique_ptr<NotificationBus> CreateSessionNotificationBus();

} // namespace zentrova::platform
