// The helper's second barrier, for files. With CAP_DAC_READ_SEARCH the
// kernel would let it read any file on the machine; Landlock confines its
// reads to the folders it has business in, so that even a helper subverted by
// a crafted request could not read /etc/shadow or a user's files.
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
// exist is left out. `detail` says what was done, or why not.
FileBarrier RestrictFileAccess(const std::vector<std::string>& readable, std::string* detail);

} // namespace zentrova::platform::helper
