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
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zentrova-sysfs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            root_ = pattern;
    }
    ~TempTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    const std::filesystem::path& root() const { return root_; }
    std::string Block() const { return (root_ / "block").string(); }
    std::string Dev() const { return (root_ / "dev").string(); }
    void Write(const std::filesystem::path& relative, const std::string& text) const {
        std::filesystem::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    void Dir(const std::filesystem::path& relative) const {
        std::filesystem::create_directories(root_ / relative);
    }
    void Link(const std::filesystem::path& relative, const std::filesystem::path& target) const {
        std::filesystem::create_directories((root_ / relative).parent_path());
        std::filesystem::create_directory_symlink(target, root_ / relative);
    }

  private:
    std::filesystem::path root_;
};

} // namespace zentrova::testing
