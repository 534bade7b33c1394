#include "drive_event_follower.h"

#include <QSocketNotifier>
#include <QTimer>

#include <utility>

namespace zentrova::hotplug {

DriveEventFollower::DriveEventFollower(std::unique_ptr<platform::DriveEventSource> source,
                                       int quietMilliseconds, Quiet quiet)
    : source_(std::move(source)), quiet_(std::move(quiet)) {
    if (source_ == nullptr || source_->Descriptor() < 0)
        return;
    quietTimer_ = std::make_unique<QTimer>();
    quietTimer_->setSingleShot(true);
    quietTimer_->setInterval(quietMilliseconds);
    QObject::connect(quietTimer_.get(), &QTimer::timeout, [this] {
        if (quiet_)
            quiet_(std::exchange(removed_, {}));
    });
    notifier_ = std::make_unique<QSocketNotifier>(source_->Descriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Readable(); });
}

DriveEventFollower::~DriveEventFollower() = default;

void DriveEventFollower::Readable() {
    // Drained at every wake-up: a descriptor left readable would wake the
    // loop again and again.
    const std::vector<platform::DriveEvent> events = source_->ReadPending();
    for (const platform::DriveEvent& event : events)
        if (event.action == platform::DriveEventAction::Remove)
            removed_.push_back(event.name);
    if (!events.empty())
        quietTimer_->start();
}

} // namespace zentrova::hotplug
