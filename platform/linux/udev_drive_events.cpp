// The system's drive event source. Until the libudev monitor is in place no
// event ever arrives, and the monitor keeps the drives it found at start-up.
#include "platform/drive_events.h"

namespace zentrova::platform {

std::unique_ptr<DriveEventSource> CreateSystemDriveEventSource(std::string* why) {
    if (why != nullptr)
        *why = "this build has no drive event source";
    return nullptr;
}

} // namespace zentrova::platform
