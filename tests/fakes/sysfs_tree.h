// A scratch folder, removed with the test: shaped like /sys/block,
// /sys/class/nvme and /dev for the Linux registry and the drive helper, or
// holding a test's files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

    // The NVMe shapes of sysfs, as a kernel makes them beside block/: a
    // controller in class/nvme with its hwmon temperature when given; a
    // namespace of one controller, or a path of a multipath one (nvme0c0n1),
    // whose device is the controller; a multipath namespace head, whose
    // device is its subsystem in class/nvme-subsystem, which lists the
    // controllers it reaches.
    void NvmeController(const std::string& name, const std::string& model,
                        const std::string& firmware, const std::string& milliCelsius = "") {
        const fs::path dir = fs::path("class/nvme") / name;
        Write(dir / "model", model + "   \n");
        Write(dir / "firmware_rev", firmware + "\n");
        Write(dir / "dev", "244:" + name.substr(4) + "\n");
        Link(dir / "subsystem", "/sys/class/nvme");
        if (!milliCelsius.empty())
            Write(dir / "hwmon2/temp1_input", milliCelsius + "\n");
    }
    // `nsid` 0 writes no nsid file.
    void NvmeNamespace(const std::string& name, const std::string& controller, long sectors,
                       unsigned nsid = 0) {
        Write(fs::path("block") / name / "size", std::to_string(sectors));
        if (nsid != 0)
            Write(fs::path("block") / name / "nsid", std::to_string(nsid) + "\n");
        Link(fs::path("block") / name / "device", fs::path("../../class/nvme") / controller);
    }
    void NvmeMultipathHead(const std::string& name, const std::string& subsystem,
                           const std::vector<std::string>& controllers, long sectors) {
        const fs::path dir = fs::path("class/nvme-subsystem") / subsystem;
        Link(dir / "subsystem", "/sys/class/nvme-subsystem");
        for (const std::string& controller : controllers)
            Link(dir / controller, fs::path("../../nvme") / controller);
        Write(fs::path("block") / name / "size", std::to_string(sectors));
        Link(fs::path("block") / name / "device",
             fs::path("../../class/nvme-subsystem") / subsystem);
    }

  private:
    fs::path root_;
    std::error_code ec_;
};

} // namespace zentrova::testing
