// The monitor's side of the drive helper zentrova-ata: started when the disks
// are listed, kept for as long as any drive handle uses it, ended by closing
// its input. A helper that does not answer in time, dies or answers garbage
// is killed; the request fails and the next one starts a new helper.
#pragma once

#include "platform/linux/ata_helper_protocol.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zentrova::platform {

// How long the monitor waits for one answer of the helper. The slowest
// legitimate request is a command to a drive that must first spin up from
// standby, which the helper allows 30 s, the kernel's own limit for a disk
// command (disk_access.cpp); ten seconds more cover the kernel's report of a
// command that ran out of that time. Past it the window has waited long
// enough: the read counts as failed.
inline constexpr std::chrono::milliseconds kHelperDeadline{40'000};

struct HelperLaunch {
    std::string path;
    std::vector<std::string> arguments; // after the program's name
    // "NAME=value" entries. The monitor passes none: a privileged program
    // should see nothing of its caller's environment.
    std::vector<std::string> environment;
    std::chrono::milliseconds deadline = kHelperDeadline;
};

class HelperDiskAccess final : public DiskAccess {
  public:
    // Starts the helper; null with `error` set when it cannot run.
    static std::shared_ptr<HelperDiskAccess> Start(HelperLaunch launch, std::string* error);
    HelperDiskAccess(const HelperDiskAccess&) = delete;
    HelperDiskAccess& operator=(const HelperDiskAccess&) = delete;
    ~HelperDiskAccess() override;

    std::vector<DiskFacts> ListDisks(std::string* error) override;
    DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) override;

    // The running helper's process, or -1 between a failure and the next request.
    pid_t Pid() const { return pid_; }

  private:
    explicit HelperDiskAccess(HelperLaunch launch) : launch_(std::move(launch)) {}
    bool Launch(std::string* error);
    // One request, one answer within the deadline; false (and a broken
    // helper killed) when the exchange failed.
    bool Exchange(const helper::Bytes& request, std::uint8_t* kind, helper::Bytes* payload,
                  std::string* error);
    void Kill();
    void Stop();

    HelperLaunch launch_;
    int socket_ = -1;
    pid_t pid_ = -1;
};

// Where the installed helper is: ZENTROVA_ATA_HELPER when set (tests), else
// the one that goes with the running program (FindAtaHelperFor).
std::string FindAtaHelper();
// For the program at `programPath`: ../libexec/zentrova-ata beside its folder
// (the installed layout), else zentrova-ata in its folder (the build tree).
// When neither exists, the installed location, for the message that says it
// is missing.
std::string FindAtaHelperFor(const std::string& programPath);

} // namespace zentrova::platform
