#include "disk_access.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zentrova::platform {

namespace {

namespace fs = std::filesystem;

// A drive in standby spins up before it answers: a few seconds for a laptop
// drive, up to about 30 s for a large desktop one, which is why the kernel
// gives every disk command 30 s by default. A shorter limit would abort the
// command and reset a healthy drive that was only waking up. The monitor's
// deadline for a helper's answer (helper_client.h) is longer than this.
constexpr unsigned kCommandTimeoutMs = 30000;

// SCSI peripheral device types that are disks. Anything else (an optical
// drive above all: A1h is its BLANK command) never gets a pass-through.
constexpr int kScsiTypeDisk = 0x00;
constexpr int kScsiTypeSimplifiedDisk = 0x0e;

constexpr std::size_t kMaxNameLength = 32;

std::optional<std::int64_t> ReadNumber(const fs::path& file) {
    std::ifstream in(file);
    long long value = 0;
    if (!(in >> value))
        return std::nullopt;
    return value;
}

bool IsDenied(int error) {
    return error == EACCES || error == EPERM;
}

DiskAnswer Refuse(std::string detail, bool denied = false) {
    DiskAnswer answer;
    answer.outcome = ata::Outcome::SystemError;
    answer.detail = std::move(detail);
    answer.denied = denied;
    answer.refused = true;
    return answer;
}

// Sends one command; the sector is kept only when the verdict is a success,
// so that no caller mistakes leftovers for an answer.
DiskAnswer SendAtaCommand(int fd, DiskCommand command, ata::CdbForm form) {
    const ata::AtaCommand ataCommand = ToAtaCommand(command);
    ata::Cdb cdb = ata::BuildCdb(ataCommand, form);
    std::array<std::uint8_t, ata::kSectorSize> data{};
    std::array<std::uint8_t, 64> sense{};
    const bool dataIn = ReadsSector(command);

    sg_io_hdr_t hdr;
    std::memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.dxfer_direction = dataIn ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    hdr.cmd_len = cdb.length;
    hdr.cmdp = cdb.bytes.data();
    hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
    hdr.sbp = sense.data();
    if (dataIn) {
        hdr.dxfer_len = static_cast<unsigned>(data.size());
        hdr.dxferp = data.data();
    }
    hdr.timeout = kCommandTimeoutMs;

    ata::SgReply reply;
    reply.ioctlResult = ::ioctl(fd, SG_IO, &hdr);
    reply.ioctlErrno = reply.ioctlResult < 0 ? errno : 0;
    reply.status = hdr.status;
    reply.maskedStatus = hdr.masked_status;
    reply.hostStatus = hdr.host_status;
    reply.driverStatus = hdr.driver_status;
    reply.resid = hdr.resid;
    reply.sense = sense.data();
    reply.senseLength = std::min<std::size_t>(hdr.sb_len_wr, sense.size());

    ata::Verdict verdict = ata::Judge(reply, ataCommand);
    DiskAnswer answer;
    answer.outcome = verdict.outcome;
    answer.detail = std::move(verdict.detail);
    answer.denied = reply.ioctlResult < 0 && IsDenied(reply.ioctlErrno);
    if (answer.ok() && dataIn)
        answer.page = data;
    return answer;
}

DiskFacts ReadFacts(const fs::path& sysBlockDir, const std::string& name) {
    DiskFacts facts;
    facts.name = name;
    const fs::path sysDir = sysBlockDir / name;
    std::error_code ec;
    facts.hasDevice = fs::exists(sysDir / "device", ec);
    if (facts.hasDevice) {
        if (const auto type = ReadNumber(sysDir / "device" / "type"))
            facts.scsiType = static_cast<int>(std::clamp<std::int64_t>(
                *type, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
        const fs::path subsystem = fs::read_symlink(sysDir / "device" / "subsystem", ec);
        if (!ec)
            facts.parentSubsystem = subsystem.filename().string();
    }
    if (const auto sectors = ReadNumber(sysDir / "size");
        sectors && *sectors >= 0 && *sectors <= std::numeric_limits<std::int64_t>::max() / 512)
        facts.sizeBytes = *sectors * 512;
    return facts;
}

// The node must be the disk sysfs names, when sysfs says which one it is.
std::optional<std::string> NodeProblem(int fd, const fs::path& sysDir, const std::string& node) {
    std::ifstream in(sysDir / "dev");
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    if (!(in >> major >> colon >> minor) || colon != ':')
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return "fstat " + node + ": " + std::strerror(errno);
    if (!S_ISBLK(st.st_mode) || ::major(st.st_rdev) != major || ::minor(st.st_rdev) != minor)
        return node + " is not the block device " + std::to_string(major) + ":" +
               std::to_string(minor);
    return std::nullopt;
}

} // namespace

bool IsPlainDiskName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '!';
    });
}

std::optional<std::string> ScreenDisk(const DiskFacts& facts) {
    // Loop, RAM, zram, device-mapper and md disks have no device of their
    // own; a multipath map would even pass SG_IO on to a disk listed anyway.
    if (!facts.hasDevice)
        return "not a hardware disk (no device link in sysfs)";
    // Neither speaks ATA, and neither takes a SCSI pass-through any more.
    if (facts.parentSubsystem == "nvme")
        return "an NVMe drive, not an ATA device";
    if (facts.parentSubsystem == "virtio")
        return "a virtio disk, not an ATA device";
    if (facts.scsiType && *facts.scsiType != kScsiTypeDisk &&
        *facts.scsiType != kScsiTypeSimplifiedDisk)
        return "SCSI peripheral type " + std::to_string(*facts.scsiType) + " is not a disk";
    return std::nullopt;
}

bool ReadsSector(DiskCommand command) {
    return command != DiskCommand::SmartEnableOperations;
}

ata::AtaCommand ToAtaCommand(DiskCommand command) {
    switch (command) {
    case DiskCommand::IdentifyDevice:
        return ata::AtaCommand::IdentifyDevice;
    case DiskCommand::SmartEnableOperations:
        return ata::AtaCommand::SmartEnableOperations;
    case DiskCommand::SmartReadData:
        return ata::AtaCommand::SmartReadData;
    case DiskCommand::SmartReadThresholds:
    case DiskCommand::NvmeIdentifyController: // never reaches a pass-through
    case DiskCommand::NvmeReadHealthLog:
        break;
    }
    return ata::AtaCommand::SmartReadThresholds;
}

DirectDiskAccess::DirectDiskAccess(std::string sysBlockDir, std::string devDir)
    : sysBlockDir_(std::move(sysBlockDir)), devDir_(std::move(devDir)) {}

DirectDiskAccess::~DirectDiskAccess() {
    for (const auto& [name, fd] : open_)
        ::close(fd);
}

void DirectDiskAccess::Forget(const std::string& name) {
    const auto it = open_.find(name);
    if (it == open_.end())
        return;
    ::close(it->second);
    open_.erase(it);
}

std::vector<DiskFacts> DirectDiskAccess::ListDisks(std::string* error) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysBlockDir_, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (IsPlainDiskName(name))
            names.push_back(std::move(name));
    }
    if (ec) {
        if (error != nullptr)
            *error = "cannot list " + sysBlockDir_ + ": " + ec.message();
        return {};
    }
    std::sort(names.begin(), names.end(), ata::NaturalLess);
    std::vector<DiskFacts> disks;
    for (const std::string& name : names)
        disks.push_back(ReadFacts(sysBlockDir_, name));
    return disks;
}

DiskAnswer DirectDiskAccess::Run(const std::string& name, DiskCommand command, ata::CdbForm form) {
    // Partitions live below their disk, not in the folder itself, so "sda1"
    // is missing here just like a disk that has gone.
    std::error_code ec;
    if (!IsPlainDiskName(name))
        return Refuse("not a disk name: \"" + name + "\"");
    const fs::path sysDir = fs::path(sysBlockDir_) / name;
    if (!fs::exists(sysDir, ec)) {
        Forget(name);
        return Refuse("no disk " + name + " in " + sysBlockDir_);
    }
    if (const auto why = ScreenDisk(ReadFacts(sysBlockDir_, name))) {
        Forget(name);
        return Refuse(*why);
    }

    auto it = open_.find(name);
    if (it == open_.end()) {
        // sysfs writes a '/' of a device name as '!' (cciss!c0d0).
        std::string nodeName = name;
        std::replace(nodeName.begin(), nodeName.end(), '!', '/');
        const std::string node = (fs::path(devDir_) / nodeName).string();
        const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            const int error = errno;
            return Refuse("open " + node + ": " + ata::ErrnoText(error), IsDenied(error));
        }
        if (const auto problem = NodeProblem(fd, sysDir, node)) {
            ::close(fd);
            return Refuse(*problem);
        }
        it = open_.emplace(name, fd).first;
    }
    return SendAtaCommand(it->second, command, form);
}

} // namespace zentrova::platform
