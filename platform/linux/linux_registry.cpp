#include "linux_registry.h"

#include "ata_passthrough.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zentrova::platform {

namespace {

namespace fs = std::filesystem;

// Long enough for a drive that is busy for a moment, short enough that a hung
// one cannot freeze the monitor for long.
constexpr unsigned kCommandTimeoutMs = 5000;

// SCSI peripheral device types that are disks. Anything else (an optical
// drive above all: A1h is its BLANK command) never gets a pass-through.
constexpr int kScsiTypeDisk = 0x00;
constexpr int kScsiTypeSimplifiedDisk = 0x0e;

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Sends one command and copies the sector out only when the verdict is a
// success, so a caller never mistakes leftovers for an answer.
ata::Verdict SendAtaCommand(int fd, ata::AtaCommand command, ata::CdbForm form,
                            std::uint8_t* sector) {
    ata::Cdb cdb = ata::BuildCdb(command, form);
    std::array<std::uint8_t, ata::kSectorSize> data{};
    std::array<std::uint8_t, 64> sense{};
    const bool dataIn = ata::ReadsSector(command);

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

    ata::Verdict verdict = ata::Judge(reply, command);
    if (verdict.ok() && dataIn && sector != nullptr)
        std::memcpy(sector, data.data(), data.size());
    return verdict;
}

// The SMART channel of one disk. It holds the node open for as long as the
// drive's record lives; once the disk has gone, the kernel fails every
// command on the old descriptor, and so does the handle.
class SgAtaSmart final : public AtaSmartInterface {
  public:
    SgAtaSmart(int fd, ata::CdbForm form) : fd_(fd), form_(form) {}
    SgAtaSmart(const SgAtaSmart&) = delete;
    SgAtaSmart& operator=(const SgAtaSmart&) = delete;
    ~SgAtaSmart() override { ::close(fd_); }

    int SMARTEnableDisableOperations(bool enable) override {
        return Send(enable ? ata::AtaCommand::SmartEnableOperations
                           : ata::AtaCommand::SmartDisableOperations,
                    nullptr);
    }
    int SMARTReadData(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(ata::AtaCommand::SmartReadData, page);
    }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(ata::AtaCommand::SmartReadThresholds, page);
    }

  private:
    int Send(ata::AtaCommand command, std::uint8_t* page) {
        return static_cast<int>(SendAtaCommand(fd_, command, form_, page).outcome);
    }

    int fd_;
    ata::CdbForm form_;
};

std::optional<std::int64_t> ReadNumber(const fs::path& file) {
    std::ifstream in(file);
    long long value = 0;
    if (!(in >> value))
        return std::nullopt;
    return value;
}

const char* FormName(ata::CdbForm form) {
    return form == ata::CdbForm::Sixteen ? "ATA PASS-THROUGH (16)" : "ATA PASS-THROUGH (12)";
}

struct Probe {
    std::optional<BlockStorageService> service;
    std::string note; // why it was skipped, or what was listed
};

Probe ProbeDisk(const fs::path& sysBlockDir, const fs::path& devDir, const std::string& name) {
    std::error_code ec;
    const fs::path sysDir = sysBlockDir / name;
    // Loop, RAM, zram, device-mapper and md disks have no device of their
    // own; a multipath map would even pass SG_IO on to a disk listed anyway.
    if (!fs::exists(sysDir / "device", ec))
        return {std::nullopt, "not a hardware disk (no device link in sysfs)"};
    if (const auto type = ReadNumber(sysDir / "device" / "type");
        type && *type != kScsiTypeDisk && *type != kScsiTypeSimplifiedDisk)
        return {std::nullopt, "SCSI peripheral type " + std::to_string(*type) + " is not a disk"};

    std::optional<std::int64_t> sizeBytes;
    if (const auto sectors = ReadNumber(sysDir / "size");
        sectors && *sectors >= 0 && *sectors <= std::numeric_limits<std::int64_t>::max() / 512)
        sizeBytes = *sectors * 512;

    // sysfs writes a '/' of a device name as '!' (cciss!c0d0).
    std::string nodeName = name;
    std::replace(nodeName.begin(), nodeName.end(), '!', '/');
    const std::string node = (devDir / nodeName).string();
    UniqueFd fd(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        return {std::nullopt, "open " + node + ": " + ata::ErrnoText(error)};
    }

    std::array<std::uint8_t, ata::kSectorSize> identify{};
    ata::CdbForm form = ata::CdbForm::Sixteen;
    ata::Verdict verdict =
        SendAtaCommand(fd.get(), ata::AtaCommand::IdentifyDevice, form, identify.data());
    std::string failures = verdict.detail;
    if (ata::WorthTwelveByteRetry(verdict)) {
        form = ata::CdbForm::Twelve;
        verdict = SendAtaCommand(fd.get(), ata::AtaCommand::IdentifyDevice, form, identify.data());
        failures = "16-byte: " + failures + "; 12-byte: " + verdict.detail;
    }
    if (!verdict.ok())
        return {std::nullopt, "ATA IDENTIFY DEVICE failed: " + failures};
    if (const auto problem = ata::IdentifyPageProblem(identify.data()))
        return {std::nullopt, *problem};

    Probe probe;
    probe.service.emplace();
    BlockStorageService& service = *probe.service;
    service.bsdName = name;
    service.sizeBytes = sizeBytes;
    service.deviceModel = ata::IdentifyModel(identify.data());
    service.deviceRevision = ata::IdentifyRevision(identify.data());
    service.smartInterface = std::make_unique<SgAtaSmart>(fd.release(), form);
    probe.note = "\"" + *service.deviceModel + "\" firmware \"" + *service.deviceRevision + "\", " +
                 (sizeBytes ? std::to_string(*sizeBytes) : std::string("unknown")) + " bytes, " +
                 FormName(form);
    return probe;
}

std::ostream* DebugStreamFromEnvironment() {
    const char* value = std::getenv("ZENTROVA_DEBUG_DETECTION");
    if (value == nullptr || value[0] == '\0' || std::strcmp(value, "0") == 0)
        return nullptr;
    return &std::cerr;
}

} // namespace

LinuxRegistry::LinuxRegistry()
    : LinuxRegistry("/sys/block", "/dev", DebugStreamFromEnvironment()) {}

LinuxRegistry::LinuxRegistry(std::string sysBlockDir, std::string devDir, std::ostream* debugLog)
    : sysBlockDir_(std::move(sysBlockDir)), devDir_(std::move(devDir)), debugLog_(debugLog) {}

std::vector<BlockStorageService> LinuxRegistry::BlockStorageServices() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysBlockDir_, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec && debugLog_ != nullptr)
        *debugLog_ << "zentrova: cannot list " << sysBlockDir_ << ": " << ec.message() << '\n';
    std::sort(names.begin(), names.end(), ata::NaturalLess);

    std::vector<BlockStorageService> services;
    for (const std::string& name : names) {
        Probe probe = ProbeDisk(sysBlockDir_, devDir_, name);
        if (debugLog_ != nullptr)
            *debugLog_ << "zentrova: " << name << (probe.service ? " listed: " : " skipped: ")
                       << probe.note << '\n';
        if (probe.service)
            services.push_back(std::move(*probe.service));
    }
    return services;
}

} // namespace zentrova::platform
