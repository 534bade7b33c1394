#include "nvme_admin.h"

#include "platform/nvme_pages.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/ioctl.h>

namespace zentrova::platform::nvme {

namespace {

constexpr std::uint8_t kOpGetLogPage = 0x02;
constexpr std::uint8_t kOpIdentify = 0x06;
constexpr std::uint8_t kOpDeviceSelfTest = 0x14;
constexpr std::uint32_t kLogSelfTest = 0x06;
// Self-test Code (CDW10 bits 3:0).
constexpr std::uint32_t kStcShort = 0x1;
constexpr std::uint32_t kStcExtended = 0x2;
constexpr std::uint32_t kStcAbort = 0xf;
constexpr std::uint32_t kCnsController = 0x01;
constexpr std::uint32_t kLogHealth = 0x02;
// The health log is the controller's whole, not one namespace's.
constexpr std::uint32_t kAllNamespaces = 0xffffffff;
// Get Log Page counts dwords from zero, in the upper half of CDW10.
constexpr std::uint32_t kHealthLogDwordsLess1 = kHealthLogSize / 4 - 1;
// The self-test log is 564 bytes; the answer has room for the first 512: the
// running test and the 18 newest results.
constexpr std::uint32_t kSelfTestLogRead = 512;
constexpr std::uint32_t kSelfTestLogDwordsLess1 = kSelfTestLogRead / 4 - 1;

// The ATA road's limit, for the same reason: a controller waking from a
// low-power state answers late, and the kernel's own default is no shorter.
constexpr std::uint32_t kCommandTimeoutMs = 30000;

struct StatusName {
    std::uint16_t typeAndCode;
    const char* name;
};

// The status codes a controller may give these two commands.
constexpr StatusName kStatusNames[] = {
    {0x001, "Invalid Command Opcode"},       {0x002, "Invalid Field in Command"},
    {0x004, "Data Transfer Error"},          {0x006, "Internal Error"},
    {0x00b, "Invalid Namespace or Format"},  {0x109, "Invalid Log Page"},
    {0x11d, "Device Self-test in Progress"},
};

std::string StatusText(int status) {
    // Bits 7:0 status code, 10:8 status code type; above them retry and
    // "do not retry" flags that say nothing of the cause.
    const auto code = static_cast<unsigned>(status & 0xff);
    const auto type = static_cast<unsigned>((status >> 8) & 0x7);
    char text[96];
    std::snprintf(text, sizeof text, "NVMe status %04Xh (status code type %Xh, status code %02Xh",
                  static_cast<unsigned>(status & 0xffff), type, code);
    std::string out = text;
    const auto named =
        std::find_if(std::begin(kStatusNames), std::end(kStatusNames),
                     [&](const StatusName& s) { return s.typeAndCode == ((type << 8) | code); });
    if (named != std::end(kStatusNames))
        out += std::string(": ") + named->name;
    return out + ")";
}

} // namespace

bool IsControllerName(std::string_view name) {
    constexpr std::string_view kPrefix = "nvme";
    constexpr std::size_t kMaxDigits = 6;
    if (!name.starts_with(kPrefix))
        return false;
    const std::string_view digits = name.substr(kPrefix.size());
    return !digits.empty() && digits.size() <= kMaxDigits &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsNvmeCommand(DiskCommand command) {
    switch (command) {
    case DiskCommand::NvmeIdentifyController:
    case DiskCommand::NvmeReadHealthLog:
    case DiskCommand::NvmeShortSelfTest:
    case DiskCommand::NvmeExtendedSelfTest:
    case DiskCommand::NvmeAbortSelfTest:
    case DiskCommand::NvmeReadSelfTestLog:
        return true;
    default:
        return false;
    }
}

nvme_admin_cmd BuildAdminCommand(DiskCommand command, std::uint8_t* data) {
    nvme_admin_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.addr = reinterpret_cast<std::uintptr_t>(data);
    cmd.timeout_ms = kCommandTimeoutMs;
    const auto selfTest = [&](std::uint32_t code) {
        cmd.addr = 0;
        cmd.opcode = kOpDeviceSelfTest;
        cmd.nsid = kAllNamespaces;
        cmd.cdw10 = code;
    };
    switch (command) {
    case DiskCommand::NvmeIdentifyController:
        cmd.opcode = kOpIdentify;
        cmd.cdw10 = kCnsController;
        cmd.data_len = kIdentifySize;
        break;
    case DiskCommand::NvmeShortSelfTest:
        selfTest(kStcShort);
        break;
    case DiskCommand::NvmeExtendedSelfTest:
        selfTest(kStcExtended);
        break;
    case DiskCommand::NvmeAbortSelfTest:
        selfTest(kStcAbort);
        break;
    case DiskCommand::NvmeReadSelfTestLog:
        cmd.opcode = kOpGetLogPage;
        cmd.nsid = kAllNamespaces;
        cmd.cdw10 = (kSelfTestLogDwordsLess1 << 16) | kLogSelfTest;
        cmd.data_len = kSelfTestLogRead;
        break;
    default:
        cmd.opcode = kOpGetLogPage;
        cmd.nsid = kAllNamespaces;
        cmd.cdw10 = (kHealthLogDwordsLess1 << 16) | kLogHealth;
        cmd.data_len = kHealthLogSize;
        break;
    }
    return cmd;
}

std::string ControllerSerial(const std::uint8_t* identify) {
    const auto* text = reinterpret_cast<const char*>(identify + kSerialNumber.offset);
    std::string serial(text, strnlen(text, kSerialNumber.width));
    const std::size_t first = serial.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return serial.substr(first, serial.find_last_not_of(' ') - first + 1);
}

std::string NvmeErrnoText(int error) {
    std::string text = std::strerror(error);
    // Past the open (disk_access.cpp says what that needs), the kernel takes
    // an admin command, Get Log Page included, only from a process with
    // CAP_SYS_ADMIN.
    if (error == EACCES || error == EPERM)
        text += " (the admin command, Get Log Page among them, needs root or CAP_SYS_ADMIN)";
    return text;
}

DiskAnswer JudgeAdminReply(int ioctlResult, int ioctlErrno, const std::uint8_t* data) {
    DiskAnswer answer;
    if (ioctlResult < 0) {
        answer.outcome = ata::Outcome::SystemError;
        answer.detail = "NVME_IOCTL_ADMIN_CMD: " + NvmeErrnoText(ioctlErrno);
        answer.denied = ioctlErrno == EACCES || ioctlErrno == EPERM;
        return answer;
    }
    if (ioctlResult > 0) {
        answer.outcome = ata::Outcome::DeviceError;
        answer.detail = StatusText(ioctlResult);
        return answer;
    }
    answer.outcome = ata::Outcome::Ok;
    std::copy_n(data, answer.page.size(), answer.page.begin());
    return answer;
}

DiskAnswer SendAdminCommand(int fd, DiskCommand command) {
    std::array<std::uint8_t, kIdentifySize> data{};
    nvme_admin_cmd cmd = BuildAdminCommand(command, data.data());
    const int result = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    return JudgeAdminReply(result, result < 0 ? errno : 0, data.data());
}

} // namespace zentrova::platform::nvme
