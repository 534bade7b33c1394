// Runs inside the emulated machine as its only program: detection with the
// real Linux registry, a read of both SMART pages of every listed ATA disk,
// a short self-test of the first ATA disk read back from its self-test log,
// what the registry lists of each NVMe controller and its two pages judged,
// then a read through the handle of a disk that has been deleted from under it.
//
//   smart_probe              as root: all of it, reading the disks directly
//   smart_probe user         as uid and gid 1000, through the drive helper,
//                            up to the deletion, which needs root
//   smart_probe grant HELPER gives the helper its file capabilities
//   smart_probe landlock     puts itself behind the helper's file barrier and
//                            tries to read inside and outside what it allows
//   smart_probe as UID GID GROUP PROGRAM [ARGS]
//                            runs PROGRAM as UID:GID with the one supplementary
//                            GROUP, as a unit's User=, Group= and
//                            SupplementaryGroups= do (busybox has no such tool)
//
// Every result is one "ZT " line on standard output (the serial console),
// compared line by line on the host; "ZT nvme-bytes" and "ZT nvme-counters"
// lines, whose health log counts the kernel's own reads, only between runs
// of one machine.
// Diagnostics go to stderr.
#include "device/device.h"
#include "device/knowndrives.h"
#include "device/smart_pages.h"
#include "nvme/nvme_health.h"
#include "platform/linux/disk_access.h"
#include "platform/linux/helper/file_barrier.h"
#include "selftest/selftest_pages.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

bool IsNvme(const xDEV_INFO* r) {
    return std::strncmp(r->szDevFilePath, "/dev/nvme", 9) == 0;
}

// The count, then every record of the list as the monitor shows it: a list
// out of step with its count shows as a line too many or too few. An NVMe
// drive also says the critical temperature its settings start with; its
// pages have lines of their own (PrintNvme).
void PrintList(const char* tag) {
    std::printf("ZT %s nDevCnt=%d\n", tag, dev.nDevCnt);
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        std::printf("ZT %s %d path=%s model=%s fw=%s size=%d smart=%d temp=%d", tag, r->nDevIndex,
                    r->szDevFilePath, r->szModelNum, r->szFirmwareRev, r->nSizeGB, r->bSmartEnabled,
                    r->nTemperature);
        if (IsNvme(r))
            std::printf(" critical=%d", r->nDefaultCriticalTemp);
        std::printf("\n");
    }
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
    for (int i = 0; i < kSmartEntryCount; ++i) {
        const auto& e = entries[i];
        if (e.attributeId == 0)
            continue;
        unsigned long long raw = 0;
        for (int b = 5; b >= 0; --b)
            raw = (raw << 8) | e.rawvalue[b];
        std::printf(
            "ZT attr %d id=%u value=%u worst=%u raw=%llu thresh_id=%u thresh=%u option=%d\n",
            r->nDevIndex, e.attributeId, e.current, e.worst, raw, limits[i].attributeId,
            limits[i].ThresholdValue, lookupdrive(r->szModelNum, r->szFirmwareRev, e.attributeId));
    }
}

// Starts a short self-test and reads the log back: the command the monitor
// sends first that makes a drive do something. QEMU's disk runs the test at
// once and logs it, so the log has one entry more and the newest is it. Each
// run adds one, so the line counts entries added, not entries.
void SelfTestOnce(const xDEV_INFO* r) {
    namespace selftest = zentrova::selftest;
    Page log{};
    const int before = ReadSelfTestLogOfTheDrive(r, log.data());
    const std::size_t entries = before == 1 ? selftest::DecodeAtaSelfTestLog(log.data()).size() : 0;
    const int started = ExecuteSelfTestOnTheDrive(r, zentrova::platform::SelfTestCommand::Short);
    log.fill(0);
    const int after = ReadSelfTestLogOfTheDrive(r, log.data());
    const auto now = selftest::DecodeAtaSelfTestLog(log.data());
    std::printf("ZT selftest %d log=%d started=%d log-again=%d added=%d", r->nDevIndex, before,
                started, after, static_cast<int>(now.size()) - static_cast<int>(entries));
    if (!now.empty())
        std::printf(" newest=%s %s hours=%llu", selftest::TypeName(now[0].type),
                    selftest::AtaStatusText(now[0].status).c_str(),
                    static_cast<unsigned long long>(now[0].powerOnHours));
    std::printf("\n");
}

std::uint64_t Fnv1a(const Page& page) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t b : page)
        hash = (hash ^ b) * 0x100000001b3ull;
    return hash;
}

// The rest of a health log, for the host to compare with the service's
// metrics of the same boot (not with a file: the kernel's own reads count).
void PrintCounters(const std::string& name, const zentrova::nvme::HealthLog& log) {
    namespace nvme = zentrova::nvme;
    std::string fields;
    const auto add = [&](const char* key, nvme::Counter value) {
        fields += std::string(" ") + key + '=' + nvme::DecimalText(value);
    };
    add("spare", log.availableSpare);
    add("spare-threshold", log.availableSpareThreshold);
    add("used", log.percentageUsed);
    add("units-read", log.dataUnitsRead);
    add("units-written", log.dataUnitsWritten);
    add("read-commands", log.hostReadCommands);
    add("write-commands", log.hostWriteCommands);
    add("busy-minutes", log.controllerBusyMinutes);
    add("power-cycles", log.powerCycles);
    add("power-on-hours", log.powerOnHours);
    add("unsafe-shutdowns", log.unsafeShutdowns);
    add("media-errors", log.mediaErrors);
    add("error-log-entries", log.errorLogEntries);
    add("warning-minutes", log.warningTemperatureMinutes);
    add("critical-minutes", log.criticalTemperatureMinutes);
    std::printf("ZT nvme-counters %s%s\n", name.c_str(), fields.c_str());
}

// What the registry lists of each NVMe controller, and its two pages: the
// verdict on its health log, its critical-warning byte and composite
// temperature, its temperature thresholds, and the pages' bytes.
void PrintNvme() {
    namespace platform = zentrova::platform;
    namespace nvme = zentrova::nvme;
    const std::unique_ptr<platform::DeviceRegistry> registry =
        platform::CreateSystemDeviceRegistry();
    for (platform::BlockStorageService& s : registry->BlockStorageServices()) {
        if (s.kind != platform::DriveKind::Nvme)
            continue;
        const std::string name = s.bsdName.value_or("?");
        std::printf("ZT nvme path=/dev/%s model=%s fw=%s size=%lld sensor=%s\n", name.c_str(),
                    s.deviceModel.value_or("?").c_str(), s.deviceRevision.value_or("?").c_str(),
                    static_cast<long long>(s.sizeBytes.value_or(-1)),
                    s.sensorCelsius ? std::to_string(*s.sensorCelsius).c_str() : "none");
        Page health{}, identify{};
        const int healthStatus = s.smartInterface->SMARTReadData(health.data());
        const int identifyStatus = s.smartInterface->SMARTReadDataThresholds(identify.data());
        std::printf("ZT nvme-health %s status=%d", name.c_str(), healthStatus);
        if (healthStatus == 0) {
            const nvme::HealthLog log = nvme::DecodeHealthLog(health.data());
            std::printf(" failed=%d critical-warning=%02Xh (%s) composite=%d",
                        nvme::HealthFailed(log), log.criticalWarning,
                        nvme::CriticalWarningText(log.criticalWarning).c_str(),
                        nvme::Celsius(log.compositeKelvin).value_or(-999));
        }
        std::printf("\nZT nvme-identify %s status=%d", name.c_str(), identifyStatus);
        if (identifyStatus == 0) {
            const nvme::ControllerLimits limits = nvme::DecodeIdentifyController(identify.data());
            std::printf(" wctemp=%d cctemp=%d", nvme::Celsius(limits.warningKelvin).value_or(-999),
                        nvme::Celsius(limits.criticalKelvin).value_or(-999));
        }
        std::printf("\n");
        if (healthStatus == 0)
            PrintCounters(name, nvme::DecodeHealthLog(health.data()));
        if (healthStatus == 0 && identifyStatus == 0)
            std::printf("ZT nvme-bytes %s health=%016llx identify=%016llx\n", name.c_str(),
                        static_cast<unsigned long long>(Fnv1a(health)),
                        static_cast<unsigned long long>(Fnv1a(identify)));
    }
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
    caps.data[0].permitted =
        (1u << CAP_SYS_RAWIO) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_SYS_ADMIN);
    if (setxattr(helper, "security.capability", &caps, sizeof caps, 0) == 0)
        return 0;
    std::fprintf(stderr, "smart_probe: setxattr %s: %s\n", helper, std::strerror(errno));
    return 1;
}

// The barrier the helper sets before its first request, on the files it
// would read, then opens outside them (memory and port devices, a virtio
// disk and an NVMe namespace it never reads) and inside.
int Confined() {
    using zentrova::platform::helper::FileBarrier;
    std::string detail;
    const FileBarrier barrier =
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            ? zentrova::platform::helper::RestrictFileAccess(
                  zentrova::platform::DirectDiskAccess().FilesToRead(), &detail)
            : FileBarrier::Failed;
    std::printf("ZT landlock barrier=%s\n", barrier == FileBarrier::Enforced      ? "enforced"
                                            : barrier == FileBarrier::Unsupported ? "unsupported"
                                                                                  : "failed");
    std::fprintf(stderr, "smart_probe: %s\n", detail.c_str());
    for (const char* path :
         {"/init", "/dev/mem", "/dev/port", "/dev/vda", "/dev/nvme0n1", "/sys/block/sda/size",
          "/sys/class/nvme/nvme0/model", "/dev/sda", "/dev/nvme1"}) {
        const int fd = ::open(path, O_RDONLY | O_NONBLOCK);
        std::printf("ZT landlock open %s: %s\n", path, fd >= 0 ? "ok" : std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
    }
    return 0;
}

// Drops root for good before the exec: groups first, while still allowed.
int RunAs(char** argv) {
    const uid_t uid = static_cast<uid_t>(std::strtoul(argv[2], nullptr, 10));
    const gid_t gid = static_cast<gid_t>(std::strtoul(argv[3], nullptr, 10));
    const gid_t group = static_cast<gid_t>(std::strtoul(argv[4], nullptr, 10));
    if (setgroups(1, &group) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
        std::fprintf(stderr, "smart_probe: cannot become %s:%s: %s\n", argv[2], argv[3],
                     std::strerror(errno));
        return 1;
    }
    ::execv(argv[5], argv + 5);
    std::fprintf(stderr, "smart_probe: cannot run %s: %s\n", argv[5], std::strerror(errno));
    return 127;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "grant" && argc == 3)
        return Grant(argv[2]);
    if (mode == "landlock")
        return Confined();
    if (mode == "as" && argc >= 6)
        return RunAs(argv);
    if (mode == "user" && (setgroups(0, nullptr) != 0 || setresgid(1000, 1000, 1000) != 0 ||
                           setresuid(1000, 1000, 1000) != 0)) {
        std::fprintf(stderr, "smart_probe: cannot become uid 1000: %s\n", std::strerror(errno));
        return 1;
    }
    SMARTDeviceDetection();
    PrintList("drive");
    for (const std::string& line : dev.leftOutDisks)
        std::printf("ZT left-out %s\n", line.c_str());
    xDEV_INFO* lastAta = nullptr;
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (!IsNvme(r))
            ReadPages(lastAta = r);
    if (dev.gpHeadDevInfo != nullptr && !IsNvme(dev.gpHeadDevInfo))
        SelfTestOnce(dev.gpHeadDevInfo);
    PrintNvme();
    if (mode != "user" && lastAta != nullptr) {
        ReadRemovedDisk(lastAta);
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
