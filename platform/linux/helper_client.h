// The monitor's side of the drive helper zentrova-ata: started once, kept for
// as long as any drive handle uses it, ended by closing its input.
#pragma once

#include "platform/linux/ata_helper_protocol.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace zentrova::platform {

class HelperDiskAccess final : public DiskAccess {
  public:
    // Starts the helper at `path`; null with `error` set when it cannot run.
    static std::shared_ptr<HelperDiskAccess> Start(const std::string& path, std::string* error);
    HelperDiskAccess(const HelperDiskAccess&) = delete;
    HelperDiskAccess& operator=(const HelperDiskAccess&) = delete;
    ~HelperDiskAccess() override;

    std::vector<DiskFacts> ListDisks(std::string* error) override;
    DiskAnswer Run(const std::string& name, DiskCommand command, ata::CdbForm form) override;

    pid_t Pid() const { return pid_; }

  private:
    HelperDiskAccess(int socket, pid_t pid) : socket_(socket), pid_(pid) {}
    // One request, one answer of `expectedKind`; false (and the helper
    // given up) when the exchange broke.
    bool Exchange(const helper::Bytes& request, std::uint8_t* kind, helper::Bytes* payload,
                  std::string* error);
    void Stop();

    int socket_;
    pid_t pid_;
};

// Where the installed helper is: ZENTROVA_ATA_HELPER when set (tests), else
// ../libexec/zentrova-ata beside the running program's folder, else
// zentrova-ata in that folder (the build tree). When none exists, the
// installed location, for the message that says it is missing.
std::string FindAtaHelper();

} // namespace zentrova::platform
