// The system's drive event source on whatever machine runs the tests: made,
// or a reason why not; and never blocking the event loop that drains it. What
// it reports for real disks coming and going is checked in the emulated
// machine (tests/integration/qemu_hotplug.sh).
#include "platform/drive_events.h"

#include <fcntl.h>
#include <gtest/gtest.h>

using zentrova::platform::CreateSystemDriveEventSource;

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
    EXPECT_TRUE(source->ReadPending().empty());
}
