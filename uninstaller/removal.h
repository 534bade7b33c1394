// Removal of one installed item: a file, or a folder with everything in it.
// Symbolic links are removed as links, never followed, so nothing outside
// the item can go with it.
#pragma once

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

} // namespace zentrova::uninstaller
