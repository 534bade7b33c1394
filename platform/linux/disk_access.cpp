#include "disk_access.h"

#include "nvme_admin.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

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

// The text of a small sysfs file, or the error that kept it unread (ENOENT
// for a file that is not there).
std::optional<std::string> ReadSysfsFile(const fs::path& file, int* error) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    std::string text(4096, '\0');
    ssize_t n = 0;
    do
        n = ::read(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    *error = errno;
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    text.resize(static_cast<std::size_t>(n));
    return text;
}

std::string CannotRead(const fs::path& file, int error) {
    return "cannot read " + file.string() + ": " + std::strerror(error);
}

// A number at the start of a sysfs file. A file that is there but cannot be
// read (a descriptor limit, an I/O error) is said in `unreadable`, when
// given and still empty; a file that is not there, or holds no number, is
// only no number.
std::optional<std::int64_t> ReadNumber(const fs::path& file, std::string* unreadable = nullptr) {
    int error = 0;
    const std::optional<std::string> text = ReadSysfsFile(file, &error);
    if (!text) {
        if (error != ENOENT && unreadable != nullptr && unreadable->empty())
            *unreadable = CannotRead(file, error);
        return std::nullopt;
    }
    std::istringstream in(*text);
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
    const ata::AtaCommand ataCommand = ToAtaCommand(command).value();
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

// What sysfs says of one entry. A fact the screening rests on (the device
// link, the parent's type and subsystem) that is there but could not be read
// is said in `unreadable`: the facts are then not to be trusted.
DiskFacts ReadFacts(const fs::path& sysBlockDir, const std::string& name,
                    std::string* unreadable = nullptr) {
    std::string problem;
    DiskFacts facts;
    facts.name = name;
    const fs::path sysDir = sysBlockDir / name;
    std::error_code ec;
    facts.hasDevice = fs::exists(sysDir / "device", ec);
    if (ec)
        problem = "cannot read " + (sysDir / "device").string() + ": " + ec.message();
    if (facts.hasDevice) {
        if (const auto type = ReadNumber(sysDir / "device" / "type", &problem))
            facts.scsiType = static_cast<int>(std::clamp<std::int64_t>(
                *type, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
        const fs::path link = sysDir / "device" / "subsystem";
        const fs::path subsystem = fs::read_symlink(link, ec);
        if (!ec)
            facts.parentSubsystem = subsystem.filename().string();
        else if (ec != std::errc::no_such_file_or_directory && problem.empty())
            problem = "cannot read " + link.string() + ": " + ec.message();
    }
    if (unreadable != nullptr)
        *unreadable = problem;
    if (const auto sectors = ReadNumber(sysDir / "size");
        sectors && *sectors >= 0 && *sectors <= std::numeric_limits<std::int64_t>::max() / 512)
        facts.sizeBytes = *sectors * 512;
    return facts;
}

// The node must be the disk or controller sysfs names. A device number that
// cannot be read proves nothing, so it refuses the node as a wrong one does.
std::optional<std::string> NodeProblem(int fd, const fs::path& sysDir, const std::string& node,
                                       bool characterDevice) {
    int error = 0;
    const std::optional<std::string> text = ReadSysfsFile(sysDir / "dev", &error);
    if (!text)
        return CannotRead(sysDir / "dev", error);
    std::istringstream in(*text);
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    if (!(in >> major >> colon >> minor) || colon != ':')
        return (sysDir / "dev").string() + " holds no device number";
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return "fstat " + node + ": " + std::strerror(errno);
    const bool rightType = characterDevice ? S_ISCHR(st.st_mode) : S_ISBLK(st.st_mode);
    if (!rightType || ::major(st.st_rdev) != major || ::minor(st.st_rdev) != minor)
        return node + " is not the " + (characterDevice ? "character" : "block") + " device " +
               std::to_string(major) + ":" + std::to_string(minor);
    return std::nullopt;
}

std::string TrimmedLine(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// A path of a multipath namespace (nvme0c1n1): hidden, without a node, and
// the namespace its head stands for already.
bool IsNamespacePath(std::string_view name) {
    std::size_t at = 4;
    const auto digits = [&] {
        const std::size_t from = at;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9')
            ++at;
        return at > from;
    };
    const auto letter = [&](char c) { return at < name.size() && name[at++] == c; };
    return name.starts_with("nvme") && digits() && letter('c') && digits() && letter('n') &&
           digits() && at == name.size();
}

bool IsNvmeNamespace(const DiskFacts& facts) {
    return facts.kind == DriveKind::Ata &&
           (facts.parentSubsystem == "nvme" || facts.parentSubsystem == "nvme-subsystem");
}

// The controller folder of an NVMe namespace of /sys/block. A namespace of
// its own controller, and each path of a multipath namespace (nvme0c0n1),
// has the controller as its device. Debian's kernel makes a namespace that
// several controllers may share into a multipath head named after its
// subsystem, whose device is the subsystem: of the controllers it lists, the
// first in the kernel's order.
std::optional<fs::path> ControllerOf(const fs::path& sysDir) {
    std::error_code ec;
    const fs::path device = sysDir / "device";
    const fs::path target = fs::read_symlink(device, ec);
    if (ec)
        return std::nullopt;
    if (nvme::IsControllerName(target.filename().string()))
        return device;
    std::vector<std::string> controllers;
    for (fs::directory_iterator it(device, ec), end; !ec && it != end; it.increment(ec))
        if (std::string name = it->path().filename().string(); nvme::IsControllerName(name))
            controllers.push_back(std::move(name));
    if (ec || controllers.empty())
        return std::nullopt;
    std::sort(controllers.begin(), controllers.end(), ata::NaturalLess);
    return device / controllers.front();
}

// The hwmon device the kernel gives a controller reports its composite
// temperature in millidegrees, readable without any privilege.
std::optional<int> SensorCelsius(const fs::path& controller) {
    std::vector<fs::path> sensors;
    std::error_code ec;
    for (fs::directory_iterator it(controller, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().starts_with("hwmon"))
            sensors.push_back(it->path() / "temp1_input");
    std::sort(sensors.begin(), sensors.end());
    for (const fs::path& sensor : sensors)
        if (const auto milli = ReadNumber(sensor); milli && *milli > -300'000 && *milli < 1'000'000)
            return static_cast<int>(std::lround(static_cast<double>(*milli) / 1000.0));
    return std::nullopt;
}

// A namespace's controller as the drive it is part of.
DiskFacts ControllerFacts(const DiskFacts& ns, const fs::path& controller) {
    DiskFacts facts;
    std::error_code ec;
    const fs::path target = fs::read_symlink(controller, ec);
    facts.name = (ec ? controller : target).filename().string();
    facts.kind = DriveKind::Nvme;
    facts.hasDevice = true;
    facts.parentSubsystem = "nvme";
    facts.sizeBytes = ns.sizeBytes;
    facts.model = TrimmedLine(controller / "model");
    facts.firmware = TrimmedLine(controller / "firmware_rev");
    facts.sensorCelsius = SensorCelsius(controller);
    return facts;
}

// sysfs writes a '/' of a device name as '!' (cciss!c0d0).
std::string DiskNode(const std::string& devDir, const std::string& name) {
    std::string nodeName = name;
    std::replace(nodeName.begin(), nodeName.end(), '!', '/');
    return (fs::path(devDir) / nodeName).string();
}

// The namespace identifier of an NVMe namespace; namespaces whose NSID
// cannot be read rank after every other.
std::uint64_t NamespaceRank(const fs::path& sysDir) {
    const auto nsid = ReadNumber(sysDir / "nsid");
    return nsid && *nsid > 0 ? static_cast<std::uint64_t>(*nsid)
                             : std::numeric_limits<std::uint64_t>::max();
}

} // namespace

// A node is root's (a disk's also its group's): the open needs read access
// to it, which CAP_DAC_READ_SEARCH gives, before the command itself needs
// its own capability.
std::string OpenErrnoText(int error, bool controller) {
    std::string text = std::strerror(error);
    if (IsDenied(error))
        text += controller ? " (opening it needs root or CAP_DAC_READ_SEARCH, and its health log "
                             "then CAP_SYS_ADMIN)"
                           : " (opening it needs root or CAP_DAC_READ_SEARCH, and the "
                             "pass-through then CAP_SYS_RAWIO)";
    return text;
}

bool IsPlainDiskName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '!';
    });
}

std::optional<std::string> ScreenDisk(const DiskFacts& facts) {
    if (facts.kind == DriveKind::Nvme)
        return std::nullopt;
    // Loop, RAM, zram, device-mapper and md disks have no device of their
    // own; a multipath map would even pass SG_IO on to a disk listed anyway.
    if (!facts.hasDevice)
        return "not a hardware disk (no device link in sysfs)";
    // A namespace is read through its controller, and a virtio disk not at
    // all; neither takes a SCSI pass-through any more.
    if (IsNvmeNamespace(facts))
        return "an NVMe namespace whose controller is not in sysfs";
    if (facts.parentSubsystem == "virtio")
        return "a virtio disk, not an ATA device";
    if (facts.scsiType && *facts.scsiType != kScsiTypeDisk &&
        *facts.scsiType != kScsiTypeSimplifiedDisk)
        return "SCSI peripheral type " + std::to_string(*facts.scsiType) + " is not a disk";
    return std::nullopt;
}

bool ReadsSector(DiskCommand command) {
    switch (command) {
    case DiskCommand::SmartEnableOperations:
    case DiskCommand::SmartShortSelfTest:
    case DiskCommand::SmartExtendedSelfTest:
    case DiskCommand::SmartAbortSelfTest:
    case DiskCommand::NvmeShortSelfTest:
    case DiskCommand::NvmeExtendedSelfTest:
    case DiskCommand::NvmeAbortSelfTest:
        return false;
    default:
        return true;
    }
}

std::optional<ata::AtaCommand> ToAtaCommand(DiskCommand command) {
    switch (command) {
    case DiskCommand::IdentifyDevice:
        return ata::AtaCommand::IdentifyDevice;
    case DiskCommand::SmartEnableOperations:
        return ata::AtaCommand::SmartEnableOperations;
    case DiskCommand::SmartReadData:
        return ata::AtaCommand::SmartReadData;
    case DiskCommand::SmartReadThresholds:
        return ata::AtaCommand::SmartReadThresholds;
    case DiskCommand::SmartShortSelfTest:
        return ata::AtaCommand::SmartShortSelfTest;
    case DiskCommand::SmartExtendedSelfTest:
        return ata::AtaCommand::SmartExtendedSelfTest;
    case DiskCommand::SmartAbortSelfTest:
        return ata::AtaCommand::SmartAbortSelfTest;
    case DiskCommand::SmartReadSelfTestLog:
        return ata::AtaCommand::SmartReadSelfTestLog;
    default: // the NVMe codes
        break;
    }
    return std::nullopt;
}

DirectDiskAccess::DirectDiskAccess(std::string sysBlockDir, std::string devDir)
    : sysBlockDir_(std::move(sysBlockDir)),
      nvmeClassDir_((fs::path(sysBlockDir_).parent_path() / "class" / "nvme").string()),
      devDir_(std::move(devDir)) {}

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
    // Of each controller: its place in the list, and the NSID of the
    // namespace whose size it has. The kernel names namespaces in the order
    // it finds them, which need not be their NSIDs' (one attached later, or
    // a parallel scan): the first namespace is the one with the lowest NSID,
    // whatever its name.
    std::map<std::string, std::pair<std::size_t, std::uint64_t>> sizedBy;
    for (const std::string& name : names) {
        DiskFacts facts = ReadFacts(sysBlockDir_, name);
        if (IsNvmeNamespace(facts) && IsNamespacePath(name))
            continue;
        if (IsNvmeNamespace(facts)) {
            const fs::path sysDir = fs::path(sysBlockDir_) / name;
            if (const auto controller = ControllerOf(sysDir)) {
                facts = ControllerFacts(facts, *controller);
                const std::uint64_t nsid = NamespaceRank(sysDir);
                if (const auto seen = sizedBy.find(facts.name); seen != sizedBy.end()) {
                    if (nsid < seen->second.second) {
                        disks[seen->second.first].sizeBytes = facts.sizeBytes;
                        seen->second.second = nsid;
                    }
                    continue;
                }
                sizedBy.emplace(facts.name, std::pair(disks.size(), nsid));
            }
        }
        disks.push_back(std::move(facts));
    }
    return disks;
}

std::vector<std::string> DirectDiskAccess::FilesToRead() {
    const fs::path sys = fs::path(sysBlockDir_).parent_path();
    std::vector<std::string> files = {sysBlockDir_, nvmeClassDir_,
                                      (sys / "class" / "nvme-subsystem").string(),
                                      (sys / "devices").string()};
    std::string error;
    for (const DiskFacts& facts : ListDisks(&error)) {
        if (facts.kind == DriveKind::Nvme)
            files.push_back((fs::path(devDir_) / facts.name).string());
        else if (!ScreenDisk(facts))
            files.push_back(DiskNode(devDir_, facts.name));
    }
    return files;
}

DiskAnswer DirectDiskAccess::Run(const std::string& name, DiskCommand command, ata::CdbForm form) {
    if (nvme::IsNvmeCommand(command))
        return RunNvme(name, command);
    if (nvme::IsControllerName(name))
        return Refuse(name + " is an NVMe controller, which takes no ATA command");
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
    // A fact that could not be read is no pass: the screening would let
    // through what it cannot see.
    std::string unreadable;
    const DiskFacts facts = ReadFacts(sysBlockDir_, name, &unreadable);
    if (!unreadable.empty()) {
        Forget(name);
        return Refuse(unreadable);
    }
    if (const auto why = ScreenDisk(facts)) {
        Forget(name);
        return Refuse(*why);
    }

    DiskAnswer refusal;
    const int fd = Node(name, DiskNode(devDir_, name), sysDir.string(), false, &refusal);
    return fd < 0 ? refusal : SendAtaCommand(fd, command, form);
}

DiskAnswer DirectDiskAccess::RunNvme(const std::string& name, DiskCommand command) {
    if (!nvme::IsControllerName(name))
        return Refuse("not an NVMe controller name: \"" + name + "\"");
    std::error_code ec;
    const fs::path sysDir = fs::path(nvmeClassDir_) / name;
    if (!fs::exists(sysDir, ec)) {
        Forget(name);
        return Refuse("no NVMe controller " + name + " in " + nvmeClassDir_);
    }
    DiskAnswer refusal;
    const int fd = Node(name, (fs::path(devDir_) / name).string(), sysDir.string(), true, &refusal);
    return fd < 0 ? refusal : nvme::SendAdminCommand(fd, command);
}

int DirectDiskAccess::Node(const std::string& name, const std::string& node,
                           const std::string& sysDir, bool characterDevice, DiskAnswer* refusal) {
    if (const auto it = open_.find(name); it != open_.end())
        return it->second;
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        *refusal =
            Refuse("open " + node + ": " + OpenErrnoText(error, characterDevice), IsDenied(error));
        return -1;
    }
    if (const auto problem = NodeProblem(fd, sysDir, node, characterDevice)) {
        ::close(fd);
        *refusal = Refuse(*problem);
        return -1;
    }
    open_.emplace(name, fd);
    return fd;
}

} // namespace zentrova::platform
