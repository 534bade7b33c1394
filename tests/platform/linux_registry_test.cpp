#include "platform/linux/linux_registry.h"

#include "fakes/sysfs_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;
using zentrova::platform::LinuxRegistry;

using zentrova::testing::TempTree;

// Without a real ATA disk the tree can still show that every kind of block
// device is sorted, screened and explained, and that nothing unproven is listed.
TEST(LinuxRegistry, ScreensDisksAndExplainsEachOne) {
    TempTree tree;
    ASSERT_FALSE(tree.root().empty());
    tree.Dir("block/loop0");                  // virtual: no device link
    tree.Write("block/sr0/device/type", "5"); // optical drive: never gets a pass-through
    tree.Write("block/sda/device/type", "0");
    tree.Write("block/sda/size", "976773168");
    tree.Write("dev/sda", "");    // a node that does not speak SG_IO
    tree.Dir("block/sdb/device"); // no node in /dev
    tree.Write("block/sdaa/device/type", "0");
    tree.Write("block/sdaa/dev", "8:0");
    tree.Write("dev/sdaa", ""); // not the block device sysfs names
    tree.Link("block/vda/device/subsystem", "/sys/bus/virtio");
    tree.Link("block/nvme0n1/device/subsystem", "/sys/class/nvme");

    std::ostringstream debug;
    LinuxRegistry registry(tree.Block(), tree.Dev(), &debug);
    EXPECT_TRUE(registry.BlockStorageServices().empty());

    const std::string dev = tree.Dev();
    EXPECT_EQ(debug.str(),
              "zentrova: sr0 skipped: SCSI peripheral type 5 is not a disk\n"
              "zentrova: sda skipped: ATA IDENTIFY DEVICE failed: SG_IO: Inappropriate ioctl "
              "for device\n"
              "zentrova: sdb skipped: open " +
                  dev +
                  "/sdb: No such file or directory\n"
                  "zentrova: vda skipped: a virtio disk, not an ATA device\n"
                  "zentrova: loop0 skipped: not a hardware disk (no device link in sysfs)\n"
                  "zentrova: nvme0n1 skipped: an NVMe drive, not an ATA device\n"
                  "zentrova: sdaa skipped: " +
                  dev + "/sdaa is not the block device 8:0\n");

    // The window's lines: one per hardware disk, none for the loop device.
    const std::vector<std::pair<std::string, std::string>> plain = {
        {"sr0: ", "not a hard disk"},     {"sda: ", "did not answer the ATA IDENTIFY"},
        {"sdb: ", "could not be opened"}, {"vda: ", "virtio disks"},
        {"nvme0n1: ", "NVMe drives"},     {"sdaa: ", "could not be opened"}};
    const std::vector<std::string> lines = registry.LeftOutDisks();
    ASSERT_EQ(lines.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(plain[i].first, 0), 0u) << lines[i];
        EXPECT_NE(lines[i].find(plain[i].second), std::string::npos) << lines[i];
    }

    std::ostringstream missing;
    LinuxRegistry none((tree.root() / "nothing").string(), dev, &missing);
    EXPECT_TRUE(none.BlockStorageServices().empty());
    EXPECT_NE(missing.str().find("cannot list"), std::string::npos);
}
