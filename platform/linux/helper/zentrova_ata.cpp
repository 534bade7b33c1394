// zentrova-ata: the only part of Zentrova with privileges. It lists the whole
// disks of /sys/block and runs IDENTIFY DEVICE and three SMART commands on a
// disk named as /sys/block names it, for the monitor at the other end of its
// standard input and output (ata_helper_protocol.h). It never writes to a
// disk, takes no path from its caller and ends when the monitor goes away.
#include "platform/linux/ata_helper_protocol.h"
#include "platform/linux/disk_access.h"
#include "platform/linux/helper/privileges.h"
#include "platform/sim/simulated_disk_access.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

using namespace zentrova::platform;

bool ReadExact(std::uint8_t* out, std::size_t n) {
    return helper::MoveExactly(
        out, n, [](std::uint8_t* at, std::size_t k) { return ::read(STDIN_FILENO, at, k); });
}

bool WriteAll(const std::uint8_t* bytes, std::size_t n) {
    return helper::MoveExactly(bytes, n, [](const std::uint8_t* at, std::size_t k) {
        return ::write(STDOUT_FILENO, at, k);
    });
}

// Test stand-ins for the disks. secure_getenv hides them whenever the helper
// runs with privileges it was given (file capabilities, set-user-ID), so an
// installed helper always reads the real /sys/block.
std::unique_ptr<DiskAccess> Disks() {
    if (const char* drives = ::secure_getenv("ZENTROVA_SIMULATED_DRIVES");
        drives != nullptr && drives[0] != '\0')
        return std::make_unique<SimulatedDiskAccess>(drives);
    if (const char* root = ::secure_getenv("ZENTROVA_ATA_TEST_ROOT");
        root != nullptr && root[0] != '\0')
        return std::make_unique<DirectDiskAccess>(std::string(root) + "/block",
                                                  std::string(root) + "/dev");
    return std::make_unique<DirectDiskAccess>();
}

} // namespace

int main() {
    // A monitor gone mid-answer ends the helper through a failed write.
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    if (!helper::DropPrivileges(&error)) {
        std::fprintf(stderr, "zentrova-ata: %s\n", error.c_str());
        return 1;
    }
    const std::unique_ptr<DiskAccess> disks = Disks();
    if (!helper::RestrictSystemCalls(&error)) {
        std::fprintf(stderr, "zentrova-ata: %s\n", error.c_str());
        return 1;
    }
    helper::Serve(ReadExact, WriteAll, *disks);
    return 0;
}
