// The kernel's word that a disk came or went, for a monitor that runs for
// months while USB disks are plugged in and hot-swap bays are used.
//
// The source hands out a descriptor the caller's event loop waits on (no
// thread, no timer of its own) and, once it is readable, drains what is
// pending without blocking. Only whole disks of the block subsystem are
// reported; partitions are not. The Linux source listens through libudev
// (platform/linux/udev_drive_events.cpp); tests use
// tests/fakes/fake_drive_events.h, which implements the same interface over a
// pipe so that the caller's real descriptor road is exercised.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zentrova::platform {

enum class DriveEventAction : unsigned char { Add, Remove, Change };

struct DriveEvent {
    DriveEventAction action = DriveEventAction::Change;
    // The kernel name of the whole disk ("sdb", "nvme0n1"), as under /sys/block.
    // Empty (with Change) when events were lost, as in a burst larger than the
    // source could hold: something changed, so the caller lists the disks again.
    std::string name;
};

class DriveEventSource {
  public:
    virtual ~DriveEventSource() = default;
    // Readable when events are pending; -1 when this source can never have
    // any (then the monitor behaves as if no event ever arrived).
    virtual int Descriptor() const = 0;
    // Every event pending now, in the kernel's order; never blocks. A
    // message that is not a whole disk's add, remove or change is dropped.
    virtual std::vector<DriveEvent> ReadPending() = 0;
};

// The system's source: libudev's monitor of block devices (the udev daemon's
// events where the daemon runs, the kernel's own where none does, as in a
// minimal machine). Null with *why set when no monitor can be made; a
// monitor then keeps the drives it found at start-up.
std::unique_ptr<DriveEventSource> CreateSystemDriveEventSource(std::string* why);

} // namespace zentrova::platform
