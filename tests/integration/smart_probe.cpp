// Runs inside the emulated machine as its only program: detection with the
// real Linux registry, a read of both SMART pages of every listed disk, then a
// read through the handle of a disk that has been deleted from under it.
//
//   smart_probe              as root: all of it, reading the disks directly
//   smart_probe user         as an ordinary user (uid and gid 1000): the same
//                            up to the deletion, which needs root; the disks
//                            are read through the drive helper
//   smart_probe grant HELPER gives the helper its file capabilities, or, where
//                            the initramfs keeps no extended attributes, makes
//                            it set-user-ID root (for this test only)
//
// Every result is one line starting with "ZT " on standard output (the serial
// console), compared line by line on the host. Diagnostics go to stderr.
#include "device/device.h"
#include "device/knowndrives.h"
#include "device/smart_pages.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;
using Page = std::array<std::uint8_t, zentrova::device::kSmartPageSize>;

// The whole disks the kernel knows, so that the host can see that the disks
// left out of the list were there to be found.
void PrintBlockDevices() {
    std::vector<std::string> names;
    if (DIR* dir = opendir("/sys/block")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::string line = "ZT block";
    for (const std::string& name : names)
        line += " " + name;
    std::printf("%s\n", line.c_str());
}

// What the window would say under the drive table.
void PrintLeftOut() {
    for (const std::string& line : dev.leftOutDisks)
        std::printf("ZT left-out %s\n", line.c_str());
}

void PrintList(const char* tag) {
    int count = 0;
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        ++count;
    std::printf("ZT %s count=%d nDevCnt=%d\n", tag, count, dev.nDevCnt);
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        std::printf("ZT %s %d path=%s model=%s fw=%s size=%d smart=%d temp=%d\n", tag, r->nDevIndex,
                    r->szDevFilePath, r->szModelNum, r->szFirmwareRev, r->nSizeGB, r->bSmartEnabled,
                    r->nTemperature);
    }
}

// Both pages of one drive, through the selected-drive interface the poll uses.
void ReadPages(xDEV_INFO* record) {
    dev.gpSelDevInfo = record;
    Page data{};
    Page thresholds{};
    const int ok = zentrova::device::GetSMARTAttributeAndThreshold(data.data(), thresholds.data());
    std::printf("ZT read %d status=%d\n", record->nDevIndex, ok);
    if (ok != 1)
        return;
    const auto* entries = zentrova::device::AttributeEntries(data.data());
    const auto* limits = zentrova::device::ThresholdEntries(thresholds.data());
    for (int i = 0; i < zentrova::device::kSmartEntryCount; ++i) {
        const auto& e = entries[i];
        if (e.attributeId == 0)
            continue;
        std::printf("ZT attr %d id=%u value=%u worst=%u thresh_id=%u thresh=%u option=%d\n",
                    record->nDevIndex, e.attributeId, e.current, e.worst, limits[i].attributeId,
                    limits[i].ThresholdValue,
                    zentrova::device::lookupdrive(record->szModelNum, record->szFirmwareRev,
                                                  e.attributeId));
    }
    // The emulated disks have no attribute 194; its meaning still depends on
    // the model.
    std::printf("ZT option %d id=194 option=%d\n", record->nDevIndex,
                zentrova::device::lookupdrive(record->szModelNum, record->szFirmwareRev, 194));
}

bool WriteFile(const std::string& path, const char* text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "smart_probe: open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const auto length = static_cast<ssize_t>(std::strlen(text));
    const ssize_t written = write(fd, text, static_cast<std::size_t>(length));
    if (written != length)
        std::fprintf(stderr, "smart_probe: write %s: %s\n", path.c_str(), std::strerror(errno));
    return close(fd) == 0 && written == length;
}

// Deletes the disk of `record` from the kernel while the record keeps its open
// handle; every command through that handle must then fail.
void ReadRemovedDisk(xDEV_INFO* record) {
    const std::string name = std::string(record->szDevFilePath).substr(std::strlen("/dev/"));
    const bool deleted = WriteFile("/sys/block/" + name + "/device/delete", "1");
    struct stat st {};
    const bool gone = stat(("/sys/block/" + name).c_str(), &st) != 0;
    std::printf("ZT removed %d name=%s deleted=%d gone=%d\n", record->nDevIndex, name.c_str(),
                deleted, gone);

    dev.gpSelDevInfo = record;
    Page data{};
    Page thresholds{};
    // Marks that tell whether a failed read touched the thresholds page.
    thresholds.fill(0x5a);
    const int ok = zentrova::device::GetSMARTAttributeAndThreshold(data.data(), thresholds.data());
    const bool thresholdsUntouched =
        std::all_of(thresholds.begin(), thresholds.end(), [](std::uint8_t b) { return b == 0x5a; });
    std::printf("ZT removed-read status=%d thresholds-untouched=%d\n", ok, thresholdsUntouched);
    std::printf("ZT removed-enable status=%d\n",
                zentrova::device::EnableSMARTForTheDrive(record->ppSmartInterface.get()));
    std::printf("ZT removed-temp value=%u\n", zentrova::device::GetHDDTemperature(record));
}

// The installed helper's file capabilities, as setcap writes them.
int Grant(const char* helper) {
    vfs_cap_data caps{};
    caps.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    caps.data[0].permitted = (1u << CAP_SYS_RAWIO) | (1u << CAP_DAC_READ_SEARCH);
    if (setxattr(helper, "security.capability", &caps, sizeof caps, 0) == 0) {
        std::fprintf(stderr, "smart_probe: %s has its file capabilities\n", helper);
        return 0;
    }
    std::fprintf(stderr, "smart_probe: setxattr %s: %s; making it set-user-ID root instead\n",
                 helper, std::strerror(errno));
    if (chown(helper, 0, 0) != 0 || chmod(helper, 04755) != 0) {
        std::fprintf(stderr, "smart_probe: chmod %s: %s\n", helper, std::strerror(errno));
        return 1;
    }
    return 0;
}

bool BecomeOrdinaryUser() {
    const gid_t none[] = {1000};
    if (setgroups(1, none) != 0 || setresgid(1000, 1000, 1000) != 0 ||
        setresuid(1000, 1000, 1000) != 0) {
        std::fprintf(stderr, "smart_probe: cannot become uid 1000: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "grant" && argc == 3)
        return Grant(argv[2]);
    const bool ordinaryUser = mode == "user";
    if (ordinaryUser && !BecomeOrdinaryUser())
        return 1;
    PrintBlockDevices();

    zentrova::device::SMARTDeviceDetection();
    PrintList("drive");
    PrintLeftOut();
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        ReadPages(r);

    if (!ordinaryUser && dev.gpCurrDevInfo != nullptr) {
        ReadRemovedDisk(dev.gpCurrDevInfo);

        // A fresh detection sees the disks that are left, and the old handles
        // close without complaint.
        zentrova::device::ResetDeviceGlobalsForTest();
        zentrova::device::SMARTDeviceDetection();
        PrintList("redetect");
    }
    zentrova::device::ResetDeviceGlobalsForTest();

    std::printf("ZT done\n");
    return 0;
}
