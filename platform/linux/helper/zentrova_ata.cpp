// zentrova-ata: the only part of Zentrova with privileges. It lists the whole
// disks of /sys/block and runs IDENTIFY DEVICE and three SMART commands on a
// disk named as /sys/block names it, and Identify Controller and the health
// log on an NVMe controller named as /sys/class/nvme names it, for the
// monitor at the other end of its standard input and output
// (ata_helper_protocol.h). It sends no command
// outside that table, takes no path from its caller and ends when the
// monitor goes away.
//
// Its one argument, --debug, prints what its barriers are on standard error.
#include "platform/linux/ata_helper_protocol.h"
#include "platform/linux/disk_access.h"
#include "platform/linux/helper/file_barrier.h"
#include "platform/linux/helper/privileges.h"
#ifdef ZENTROVA_ATA_TEST_HOOKS
#include "platform/sim/simulated_disk_access.h"
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

int Refuse(const std::string& why) {
    std::fprintf(stderr, "zentrova-ata: %s\n", why.c_str());
    return 1;
}

// The disks, and the files the helper may read: the sysfs folders and the
// nodes of the drives there now (DirectDiskAccess::FilesToRead). Only the
// test build knows the stand-ins for tests (simulated drives, a scratch
// tree); the installed helper has neither the code nor the names, whatever
// its environment says.
std::unique_ptr<DiskAccess> Disks(std::vector<std::string>* readable) {
    readable->clear();
    std::unique_ptr<DirectDiskAccess> direct;
#ifdef ZENTROVA_ATA_TEST_HOOKS
    if (const char* drives = ::secure_getenv("ZENTROVA_SIMULATED_DRIVES");
        drives != nullptr && drives[0] != '\0')
        return std::make_unique<SimulatedDiskAccess>(drives); // read whole, here
    if (const char* root = ::secure_getenv("ZENTROVA_ATA_TEST_ROOT");
        root != nullptr && root[0] != '\0')
        direct = std::make_unique<DirectDiskAccess>(std::string(root) + "/block",
                                                    std::string(root) + "/dev");
#endif
    if (direct == nullptr)
        direct = std::make_unique<DirectDiskAccess>();
    *readable = direct->FilesToRead();
    return direct;
}

} // namespace

int main(int argc, char** argv) {
    const bool debug = argc == 2 && std::strcmp(argv[1], "--debug") == 0;
    if (argc > 1 && !debug)
        return Refuse("usage: zentrova-ata [--debug]");
    // A monitor gone mid-answer ends the helper through a failed write.
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    if (!helper::DropPrivileges(&error))
        return Refuse(error);
    std::vector<std::string> readable;
    const std::unique_ptr<DiskAccess> disks = Disks(&readable);
    std::string barrier;
    switch (helper::RestrictFileAccess(readable, &barrier)) {
    case helper::FileBarrier::Failed:
        return Refuse(barrier);
    case helper::FileBarrier::Unsupported:
    case helper::FileBarrier::Enforced:
        if (debug)
            std::fprintf(stderr, "zentrova-ata: %s\n", barrier.c_str());
        break;
    }
    if (!helper::RestrictSystemCalls(&error))
        return Refuse(error);
    helper::Serve(ReadExact, WriteAll, *disks);
    return 0;
}
