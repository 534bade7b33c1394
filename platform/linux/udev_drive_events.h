// The drain of the system's drive event source, apart from libudev, so that a
// test can script what each receive gives.
#pragma once

#include "platform/drive_events.h"

#include <functional>
#include <string>
#include <vector>

namespace zentrova::platform {

// What one receive from the monitor gave: a device's action and kernel name,
// or, when it gave none, the errno that said why (EAGAIN: nothing pending).
struct MonitorMessage {
    bool received = false;
    std::string action, name;
    int error = 0;
};

// Receives until nothing is pending: the disks' add, remove and change
// events in order, anything else dropped, and one Change with an empty name
// at the end when events were lost on the way.
std::vector<DriveEvent> DrainDriveEvents(const std::function<MonitorMessage()>& receive);

} // namespace zentrova::platform
