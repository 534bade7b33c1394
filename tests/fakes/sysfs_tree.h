// A scratch folder, removed with the test: shaped like /sys/block and /dev for
// the Linux registry and the drive helper, or holding a test's files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zentrova::testing {

namespace fs = std::filesystem;

class TempTree {
  public:
    TempTree() {
        std::string pattern = fs::temp_directory_path() / "zentrova-sysfs-XXXXXX";
        root_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "/nonexistent";
    }
    ~TempTree() { fs::remove_all(root_, ec_); }
    const fs::path& root() const { return root_; }
    // Each makes the folders on the way.
    void Dir(const fs::path& relative) { fs::create_directories(root_ / relative, ec_); }
    // Answers the file's path.
    std::string Write(const fs::path& relative, const std::string& text) {
        Dir(relative.parent_path());
        std::ofstream(root_ / relative) << text;
        return root_ / relative;
    }
    void Link(const fs::path& relative, const fs::path& target) {
        Dir(relative.parent_path());
        fs::create_directory_symlink(target, root_ / relative, ec_);
    }

  private:
    fs::path root_;
    std::error_code ec_;
};

} // namespace zentrova::testing
