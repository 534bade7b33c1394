// The system's drive event source: its drain over scripted receives, and the
// real one on whatever machine runs the tests, made or a reason why not, and
// never blocking the event loop that drains it. What it reports for real
// disks coming and going is checked in the emulated machine
// (tests/integration/qemu_hotplug.sh).
#include "platform/linux/udev_drive_events.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>

using namespace zentrova::platform;

namespace {

MonitorMessage Device(const char* action, const char* name) {
    return {true, action, name, 0};
}
MonitorMessage Nothing(int error) {
    return {false, "", "", error};
}

// "+sdb" add, "-sdb" remove, "~sdb" change; "~" alone: events were lost.
std::string Written(const std::vector<DriveEvent>& events) {
    std::string text;
    for (const DriveEvent& e : events)
        text += std::string(e.action == DriveEventAction::Add      ? " +"
                            : e.action == DriveEventAction::Remove ? " -"
                                                                   : " ~") +
                e.name;
    return text;
}

} // namespace

TEST(DriveEvents, DrainKeepsTheDisksEventsAndTellsLostOnes) {
    const struct {
        const char* what;
        std::vector<MonitorMessage> receives; // the last one must end the drain
        const char* expected;
    } rows[] = {
        {"idle", {Nothing(EAGAIN)}, ""},
        {"each action in order",
         {Device("add", "sdb"), Device("change", "sdb"), Device("remove", "nvme0n1"),
          Nothing(EAGAIN)},
         " +sdb ~sdb -nvme0n1"},
        {"other actions and nameless devices dropped",
         {Device("bind", "sdb"), Device("move", "sdc"), Device("add", ""), Nothing(EAGAIN)},
         ""},
        {"an overflow: what follows is read, then one re-list",
         {Device("add", "sdb"), Nothing(ENOBUFS), Device("add", "sdc"), Nothing(ENOBUFS),
          Nothing(EAGAIN)},
         " +sdb +sdc ~"},
        {"an interrupted receive goes on",
         {Nothing(EINTR), Device("add", "sdb"), Nothing(EAGAIN)},
         " +sdb"},
        {"a broken socket: re-list", {Device("add", "sdb"), Nothing(EBADF)}, " +sdb ~"},
    };
    for (const auto& row : rows) {
        std::size_t next = 0;
        const auto events = DrainDriveEvents(
            [&] { return next < row.receives.size() ? row.receives[next++] : Nothing(EAGAIN); });
        EXPECT_EQ(Written(events), row.expected) << row.what;
        EXPECT_EQ(next, row.receives.size()) << row.what;
    }
}

TEST(DriveEvents, SystemSourceIsMadeOrSaysWhyAndNeverBlocks) {
    std::string why;
    const auto source = CreateSystemDriveEventSource(&why);
    if (source == nullptr) {
        EXPECT_FALSE(why.empty());
        GTEST_SKIP() << "no drive event source on this machine: " << why;
    }
    const int fd = source->Descriptor();
    ASSERT_GE(fd, 0);
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    // Nothing plugged in while the test runs: a drain comes back empty at once
    // (a blocking one would hang here until the test's time-out).
    EXPECT_TRUE(source->ReadPending().empty());
}
