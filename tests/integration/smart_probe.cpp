// Runs inside the emulated machine as its only program: detection with the
// real Linux registry, a read of both SMART pages of every listed disk, then a
// read through the handle of a disk that has been deleted from under it.
//
//   smart_probe              as root: all of it, reading the disks directly
//   smart_probe user         as uid and gid 1000, through the drive helper,
//                            up to the deletion, which needs root
//   smart_probe grant HELPER gives the helper its file capabilities
//   smart_probe landlock     puts itself behind the helper's file barrier and
//                            tries to read inside and outside /sys and /dev
//
// Every result is one "ZT " line on standard output (the serial console),
// compared line by line on the host. Diagnostics go to stderr.
#include "device/device.h"
#include "device/knowndrives.h"
#include "device/smart_pages.h"
#include "platform/linux/helper/file_barrier.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace zentrova::device;
using Page = std::array<std::uint8_t, kSmartPageSize>;

namespace {

// The count, then every record of the list: a list out of step with its
// count shows as a line too many or too few.
void PrintList(const char* tag) {
    std::printf("ZT %s nDevCnt=%d\n", tag, dev.nDevCnt);
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        std::printf("ZT %s %d path=%s model=%s fw=%s size=%d smart=%d temp=%d\n", tag, r->nDevIndex,
                    r->szDevFilePath, r->szModelNum, r->szFirmwareRev, r->nSizeGB, r->bSmartEnabled,
                    r->nTemperature);
}

// Both pages of one drive, through the selected-drive interface the poll uses.
// The thresholds page starts filled with 0x5a, which a failed read must leave.
void ReadPages(xDEV_INFO* r, const char* tag = "read") {
    dev.gpSelDevInfo = r;
    Page data{}, thresholds{};
    thresholds.fill(0x5a);
    const int ok = GetSMARTAttributeAndThreshold(data.data(), thresholds.data());
    std::printf(
        "ZT %s %d status=%d thresholds-untouched=%d\n", tag, r->nDevIndex, ok,
        std::all_of(thresholds.begin(), thresholds.end(), [](auto b) { return b == 0x5a; }));
    if (ok != 1)
        return;
    const auto* entries = AttributeEntries(data.data());
    const auto* limits = ThresholdEntries(thresholds.data());
    for (int i = 0; i < kSmartEntryCount; ++i)
        if (const auto& e = entries[i]; e.attributeId != 0)
            std::printf("ZT attr %d id=%u value=%u worst=%u thresh_id=%u thresh=%u option=%d\n",
                        r->nDevIndex, e.attributeId, e.current, e.worst, limits[i].attributeId,
                        limits[i].ThresholdValue,
                        lookupdrive(r->szModelNum, r->szFirmwareRev, e.attributeId));
}

// Deletes the disk of `r` from the kernel while the record keeps its open
// handle; every command through that handle must then fail.
void ReadRemovedDisk(xDEV_INFO* r) {
    const std::string name = std::string(r->szDevFilePath).substr(std::strlen("/dev/"));
    std::ofstream remove("/sys/block/" + name + "/device/delete");
    remove << "1" << std::flush;
    std::printf("ZT removed %d name=%s deleted=%d gone=%d\n", r->nDevIndex, name.c_str(),
                remove.good(), access(("/sys/block/" + name).c_str(), F_OK) != 0);
    ReadPages(r, "removed-read");
    std::printf("ZT removed-enable status=%d\n", EnableSMARTForTheDrive(r->ppSmartInterface.get()));
    std::printf("ZT removed-temp value=%u\n", GetHDDTemperature(r));
}

// The installed helper's file capabilities, as setcap writes them.
int Grant(const char* helper) {
    vfs_cap_data caps{};
    caps.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    caps.data[0].permitted = (1u << CAP_SYS_RAWIO) | (1u << CAP_DAC_READ_SEARCH);
    if (setxattr(helper, "security.capability", &caps, sizeof caps, 0) == 0)
        return 0;
    std::fprintf(stderr, "smart_probe: setxattr %s: %s\n", helper, std::strerror(errno));
    return 1;
}

// The barrier the helper sets before its first request, then one open
// outside its folders and one inside each.
int Confined() {
    using zentrova::platform::helper::FileBarrier;
    std::string detail;
    const FileBarrier barrier =
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            ? zentrova::platform::helper::RestrictFileAccess({"/sys", "/dev"}, &detail)
            : FileBarrier::Failed;
    std::printf("ZT landlock barrier=%s\n", barrier == FileBarrier::Enforced      ? "enforced"
                                            : barrier == FileBarrier::Unsupported ? "unsupported"
                                                                                  : "failed");
    std::fprintf(stderr, "smart_probe: %s\n", detail.c_str());
    for (const char* path : {"/init", "/sys/block/sda/size", "/dev/sda"}) {
        const int fd = ::open(path, O_RDONLY | O_NONBLOCK);
        std::printf("ZT landlock open %s: %s\n", path, fd >= 0 ? "ok" : std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "grant" && argc == 3)
        return Grant(argv[2]);
    if (mode == "landlock")
        return Confined();
    if (mode == "user" && (setgroups(0, nullptr) != 0 || setresgid(1000, 1000, 1000) != 0 ||
                           setresuid(1000, 1000, 1000) != 0)) {
        std::fprintf(stderr, "smart_probe: cannot become uid 1000: %s\n", std::strerror(errno));
        return 1;
    }
    SMARTDeviceDetection();
    PrintList("drive");
    for (const std::string& line : dev.leftOutDisks)
        std::printf("ZT left-out %s\n", line.c_str());
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        ReadPages(r);
    if (mode != "user" && dev.gpCurrDevInfo != nullptr) {
        ReadRemovedDisk(dev.gpCurrDevInfo);
        // A fresh detection sees the disks that are left, and the old handles
        // close without complaint.
        ResetDeviceGlobalsForTest();
        SMARTDeviceDetection();
        PrintList("redetect");
    }
    ResetDeviceGlobalsForTest();
    std::printf("ZT done\n");
    return 0;
}
