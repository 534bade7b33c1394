// The kernel's drive events in a Qt event loop, for every host of the poll:
// a socket notifier on the source's descriptor (no thread, and no timer while
// nothing happens), and a single-shot timer that each event starts again, so
// a burst (a disk and its partitions) is answered once, when it has been
// quiet for a while.
#pragma once

#include "platform/drive_events.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace zentrova::hotplug {

class DriveEventFollower {
  public:
    // Called once a burst is over, with the whole disks it removed ("sdb").
    using Quiet = std::function<void(std::vector<std::string> removed)>;

    // Listens at once; a null source, or one with no descriptor, is never
    // heard from (Listening() is false).
    DriveEventFollower(std::unique_ptr<platform::DriveEventSource> source, int quietMilliseconds,
                       Quiet quiet);
    ~DriveEventFollower();
    DriveEventFollower(const DriveEventFollower&) = delete;
    DriveEventFollower& operator=(const DriveEventFollower&) = delete;

    bool Listening() const { return notifier_ != nullptr; }
    QTimer* QuietTimer() const { return quietTimer_.get(); }

  private:
    void Readable();

    std::unique_ptr<platform::DriveEventSource> source_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> quietTimer_;
    std::vector<std::string> removed_;
    Quiet quiet_;
};

} // namespace zentrova::hotplug
