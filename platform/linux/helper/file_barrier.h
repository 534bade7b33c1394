// The helper's second barrier, for files. With CAP_DAC_READ_SEARCH the
// kernel would let it read any file on the machine; Landlock confines its
// reads to the sysfs folders and the drive nodes it has business in, so that
// a helper subverted by a crafted request cannot open a user's files, /etc or
// /dev/mem. It does not keep such a helper from the blocks of the drives it
// may open (raw reads, or SG_IO READ with CAP_SYS_RAWIO), where /etc/shadow
// lies too: only the command table keeps an intact helper from them.
#pragma once

#include <string>
#include <vector>

namespace zentrova::platform::helper {

enum class FileBarrier {
    Enforced,    // from now on nothing outside `readable` can be opened
    Unsupported, // the kernel has no Landlock (not built in, or off at boot)
    Failed,      // Landlock is there but could not be set up
};

// Allows this process, from now on, to read only files and folders under
// `readable` (a folder, or a single file) and to create, write, remove or
// execute nothing. Needs PR_SET_NO_NEW_PRIVS first. A path that does not
// exist, or is a symbolic link, is left out. `detail` says what was done, or
// why not.
FileBarrier RestrictFileAccess(const std::vector<std::string>& readable, std::string* detail);

} // namespace zentrova::platform::helper
