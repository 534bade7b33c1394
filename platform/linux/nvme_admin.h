// The NVMe admin commands the drive access sends to a controller (Identify
// Controller, the health and self-test logs, Device Self-test), each fixed
// whole here, and the verdict on one NVME_IOCTL_ADMIN_CMD exchange.
//
// Kept apart from the ioctl so that every field the kernel sees and every
// answer it may give can be checked in a unit test.
#pragma once

#include "platform/linux/disk_access.h"

#include <cstdint>
#include <string>
#include <string_view>

#include <linux/nvme_ioctl.h>

namespace zentrova::platform::nvme {

// A controller's name as /sys/class/nvme spells it: "nvme" and digits, no
// more. A namespace (nvme0n1), a path (nvme0c0n1) or a partition (nvme0n1p1)
// never passes.
bool IsControllerName(std::string_view name);

bool IsNvmeCommand(DiskCommand command);

// The whole command for one of the NVMe codes, its data buffer pointing at
// `data` (kIdentifySize bytes for Identify, 512 for a log, none for a
// self-test). Nothing of it comes from a caller but the choice of code.
nvme_admin_cmd BuildAdminCommand(DiskCommand command, std::uint8_t* data);

// What came back: the ioctl's result (below 0 the kernel refused or failed
// it, above 0 the controller's status field) and the data buffer, of which
// the answer keeps the first 512 bytes when the command succeeded.
DiskAnswer JudgeAdminReply(int ioctlResult, int ioctlErrno, const std::uint8_t* data);

// The serial number of an Identify Controller page (bytes 4-23, ASCII padded
// with spaces), without the padding on either side.
std::string ControllerSerial(const std::uint8_t* identify);

// strerror of a failed admin command, with the privilege it needs where one
// is missing.
std::string NvmeErrnoText(int error);

// Sends the command on an open controller and judges the reply.
DiskAnswer SendAdminCommand(int fd, DiskCommand command);

} // namespace zentrova::platform::nvme
