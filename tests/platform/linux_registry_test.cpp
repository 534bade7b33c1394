#include "platform/linux/linux_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using zentrova::platform::LinuxRegistry;

namespace {

class TempTree {
  public:
    TempTree() {
        std::string pattern = (fs::temp_directory_path() / "zentrova-sysfs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            root_ = pattern;
    }
    ~TempTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& root() const { return root_; }
    void Write(const fs::path& relative, const std::string& text) const {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    void Dir(const fs::path& relative) const { fs::create_directories(root_ / relative); }

  private:
    fs::path root_;
};

} // namespace

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
    tree.Write("dev/sdaa", "");

    std::ostringstream debug;
    LinuxRegistry registry((tree.root() / "block").string(), (tree.root() / "dev").string(),
                           &debug);
    EXPECT_TRUE(registry.BlockStorageServices().empty());

    const std::string dev = (tree.root() / "dev").string();
    EXPECT_EQ(debug.str(),
              "zentrova: sr0 skipped: SCSI peripheral type 5 is not a disk\n"
              "zentrova: sda skipped: ATA IDENTIFY DEVICE failed: SG_IO: Inappropriate ioctl "
              "for device\n"
              "zentrova: sdb skipped: open " +
                  dev +
                  "/sdb: No such file or directory\n"
                  "zentrova: loop0 skipped: not a hardware disk (no device link in sysfs)\n"
                  "zentrova: sdaa skipped: ATA IDENTIFY DEVICE failed: SG_IO: "
                  "Inappropriate ioctl for device\n");

    std::ostringstream missing;
    LinuxRegistry none((tree.root() / "nothing").string(), dev, &missing);
    EXPECT_TRUE(none.BlockStorageServices().empty());
    EXPECT_NE(missing.str().find("cannot list"), std::string::npos);
}
