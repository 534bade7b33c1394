// What the drive helper gives up before it reads its first request.
#pragma once

#include <string>

namespace zentrova::platform::helper {

// Keeps CAP_SYS_RAWIO (the pass-through), CAP_DAC_READ_SEARCH (opening the
// disk and controller nodes) and CAP_SYS_ADMIN (an NVMe controller's health
// log) when the process has them, drops every other capability from
// every set it may change (bounding set included when it may), clears the
// ambient set, sets PR_SET_NO_NEW_PRIVS and closes every descriptor past
// standard error. False, with `error` set, when any step fails.
bool DropPrivileges(std::string* error);

// Allows from here on only the system calls the request loop makes: reading
// standard input, writing standard output and error, reading sysfs, opening
// files read-only (never creating or truncating one), SG_IO and the NVMe
// admin command and nothing else through ioctl, memory. Any other call ends the process. False,
// with `error` set, when it cannot be set up.
bool RestrictSystemCalls(std::string* error);

} // namespace zentrova::platform::helper
