// A scratch folder shaped like /sys/block and /dev, for the Linux registry and
// the drive helper.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zentrova::testing {

class TempTree {
  public:
    TempTree() {
        std::string pattern = std::filesystem::temp_directory_path() / "zentrova-sysfs-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            root_ = pattern;
    }
    ~TempTree() { std::filesystem::remove_all(root_, ec_); }
    const std::filesystem::path& root() const { return root_; }
    std::string Block() const { return root_ / "block"; }
    std::string Dev() const { return root_ / "dev"; }
    void Write(const std::filesystem::path& relative, const std::string& text) {
        std::filesystem::create_directories((root_ / relative).parent_path(), ec_);
        std::ofstream(root_ / relative) << text;
    }
    void Dir(const std::filesystem::path& relative) {
        std::filesystem::create_directories(root_ / relative, ec_);
    }
    void Link(const std::filesystem::path& relative, const std::filesystem::path& target) {
        std::filesystem::create_directories((root_ / relative).parent_path(), ec_);
        std::filesystem::create_directory_symlink(target, root_ / relative, ec_);
    }

  private:
    std::filesystem::path root_;
    std::error_code ec_;
};

} // namespace zentrova::testing
