// The system's drive event source: libudev's monitor of whole block disks.
#include "platform/linux/udev_drive_events.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

namespace zentrova::platform {
namespace {

// Where the udev daemon listens; without it nobody re-broadcasts the kernel's
// messages, so the source takes them from the kernel itself.
constexpr const char* kUdevControl = "/run/udev/control";

// A disk with many partitions, or many disks at once (a USB hub, a hot-swap
// cage powered on), sends a burst that the default socket buffer may not hold.
// An ordinary user cannot go past the system's own limit (rmem_max): what is
// lost then is told as a re-list (ReadPending).
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

struct UdevFree {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T> using Owned = std::unique_ptr<T, UdevFree>;

class UdevDriveEventSource final : public DriveEventSource {
  public:
    UdevDriveEventSource(Owned<udev> context, Owned<udev_monitor> monitor, int fd)
        : context_(std::move(context)), monitor_(std::move(monitor)), fd_(fd) {}

    int Descriptor() const override { return fd_; }

    std::vector<DriveEvent> ReadPending() override {
        return DrainDriveEvents([this] {
            MonitorMessage message;
            errno = 0;
            const Owned<udev_device> device(udev_monitor_receive_device(monitor_.get()));
            message.error = errno;
            if (device != nullptr) {
                const char* action = udev_device_get_action(device.get());
                const char* name = udev_device_get_sysname(device.get());
                message.received = true;
                message.action = action != nullptr ? action : "";
                message.name = name != nullptr ? name : "";
            }
            return message;
        });
    }

  private:
    Owned<udev> context_;
    Owned<udev_monitor> monitor_;
    int fd_;
};

std::unique_ptr<DriveEventSource> Fail(std::string* why, const std::string& what, int error) {
    if (why != nullptr)
        *why = what + ": " + std::strerror(error > 0 ? error : EINVAL);
    return nullptr;
}

} // namespace

std::vector<DriveEvent> DrainDriveEvents(const std::function<MonitorMessage()>& receive) {
    std::vector<DriveEvent> events;
    bool lost = false;
    for (;;) {
        const MonitorMessage m = receive();
        if (!m.received) {
            // The kernel reports an overflow once and goes on queueing: what
            // follows is still worth reading. EAGAIN is the end of what is
            // pending; any other failure leaves the picture uncertain, so the
            // caller re-lists.
            if (m.error == ENOBUFS || m.error == EINTR) {
                lost = lost || m.error == ENOBUFS;
                continue;
            }
            lost = lost || (m.error != EAGAIN && m.error != EWOULDBLOCK && m.error != 0);
            break;
        }
        if (m.name.empty())
            continue;
        if (m.action == "add")
            events.push_back({DriveEventAction::Add, m.name});
        else if (m.action == "remove")
            events.push_back({DriveEventAction::Remove, m.name});
        else if (m.action == "change")
            events.push_back({DriveEventAction::Change, m.name});
    }
    if (lost)
        events.push_back({DriveEventAction::Change, ""});
    return events;
}

std::unique_ptr<DriveEventSource> CreateSystemDriveEventSource(std::string* why) {
    errno = 0;
    Owned<udev> context(udev_new());
    if (context == nullptr)
        return Fail(why, "cannot make a udev context", errno);
    // Once the daemon runs, its own messages come after it has made the device
    // node and its links, so a disk is never listed before it can be opened.
    const char* source = ::access(kUdevControl, F_OK) == 0 ? "udev" : "kernel";
    errno = 0;
    Owned<udev_monitor> monitor(udev_monitor_new_from_netlink(context.get(), source));
    if (monitor == nullptr)
        return Fail(why, std::string("cannot listen to the ") + source + "'s device events", errno);
    if (const int r =
            udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "block", "disk");
        r < 0)
        return Fail(why, "cannot filter the device events on whole disks", -r);
    // Failing here leaves the buffer as large as the system allows.
    (void)udev_monitor_set_receive_buffer_size(monitor.get(), kReceiveBufferBytes);
    if (const int r = udev_monitor_enable_receiving(monitor.get()); r < 0)
        return Fail(why, "cannot receive the device events", -r);
    const int fd = udev_monitor_get_fd(monitor.get());
    if (fd < 0)
        return Fail(why, "the device event monitor has no descriptor", -fd);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return Fail(why, "cannot make the device events' descriptor non-blocking", errno);
    return std::make_unique<UdevDriveEventSource>(std::move(context), std::move(monitor), fd);
}

} // namespace zentrova::platform
