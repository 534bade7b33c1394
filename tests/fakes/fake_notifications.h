// A notification server that records what it is sent and answers at once;
// its ids count up from 1, and a replacement keeps the id it replaces.
#pragma once

#include "platform/notification_bus.h"

#include <vector>

namespace zentrova::testing {

struct FakeNotificationServer {
    QString unavailable; // non-empty: there is no server
    std::vector<platform::NotificationRequest> sent;
    std::uint32_t nextId = 1;
    std::function<void(std::uint32_t)> click;
    std::function<void()> onSend; // at each notification, before its id comes back
};

class FakeNotificationBus final : public platform::NotificationBus {
  public:
    explicit FakeNotificationBus(FakeNotificationServer& server) : s_(server) {}
    QString Unavailable() override { return s_.unavailable; }
    void Notify(const platform::NotificationRequest& request,
                std::function<void(std::uint32_t)> sent) override {
        s_.sent.push_back(request);
        if (s_.onSend)
            s_.onSend();
        sent(request.replacesId != 0 ? request.replacesId : s_.nextId++);
    }
    void SetClickHandler(std::function<void(std::uint32_t)> clicked) override {
        s_.click = std::move(clicked);
    }

  private:
    FakeNotificationServer& s_;
};

} // namespace zentrova::testing
