// Removal of one installed item: a file, or a folder with everything in it.
// Symbolic links are removed as links, never followed, so nothing outside
// the item can go with it.
#pragma once

#include "platform/install_layout.h"

#include <functional>
#include <string>

namespace zentrova::uninstaller {

struct RemovalResult {
    bool removed = false;
    int error = 0;     // errno of the first failure; ENOENT when the item was missing
    std::string where; // the path that failed, inside or at the item
};

RemovalResult RemoveItemAtPath(const std::string& path);
// Removes the folder at `path` only when it is empty (ENOTEMPTY or EEXIST
// otherwise); a link there is not followed.
RemovalResult RemoveEmptyFolder(const std::string& path);

// Runs `step`, a removal of `path` in a folder of `user`'s, with that user's
// own rights: in a child process that drops to the user's groups, group and
// user before it does anything, so that the kernel judges every component of
// every path, links and all, as it would for the user. A child that cannot
// drop (any of the three calls failing) removes nothing and reports that
// call's error. Running as that user already, the step runs here.
RemovalResult RunAsUser(const platform::UserIdentity& user, const std::string& path,
                        const std::function<RemovalResult()>& step);

} // namespace zentrova::uninstaller
