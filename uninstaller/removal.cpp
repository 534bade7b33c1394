#include "removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace zentrova::uninstaller {

namespace {

RemovalResult Failure(int error, std::string where) {
    return {false, error, std::move(where)};
}

// Empties the folder open as `dirFd` (taken over and closed here). Every
// step works relative to an open folder, so a link swapped in meanwhile is
// removed, not entered.
RemovalResult EmptyFolder(int dirFd, const std::string& path) {
    DIR* dir = fdopendir(dirFd);
    if (dir == nullptr) {
        const int error = errno;
        close(dirFd);
        return Failure(error, path);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
        errno = 0;
    }
    if (errno != 0) {
        const int error = errno;
        closedir(dir);
        return Failure(error, path);
    }
    RemovalResult result{true, 0, {}};
    for (const std::string& name : names) {
        const std::string child = path + "/" + name;
        struct stat info {};
        if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT && result.removed)
                result = Failure(errno, child);
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            const int childFd =
                openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (childFd < 0) {
                if (result.removed)
                    result = Failure(errno, child);
                continue;
            }
            const RemovalResult inner = EmptyFolder(childFd, child);
            if (!inner.removed && result.removed)
                result = inner;
        }
        if (unlinkat(dirfd(dir), name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 &&
            result.removed)
            result = Failure(errno, child);
    }
    closedir(dir);
    return result;
}

} // namespace

RemovalResult RemoveItemAtPath(const std::string& path) {
    struct stat info {};
    if (path.empty() || lstat(path.c_str(), &info) != 0)
        return Failure(path.empty() ? ENOENT : errno, path);
    if (S_ISDIR(info.st_mode)) {
        const int dirFd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dirFd < 0)
            return Failure(errno, path);
        const RemovalResult inner = EmptyFolder(dirFd, path);
        if (!inner.removed)
            return inner;
        if (rmdir(path.c_str()) != 0)
            return Failure(errno, path);
        return {true, 0, {}};
    }
    if (unlink(path.c_str()) != 0)
        return Failure(errno, path);
    return {true, 0, {}};
}

RemovalResult RemoveEmptyFolder(const std::string& path) {
    if (rmdir(path.c_str()) != 0)
        return Failure(errno, path);
    return {true, 0, {}};
}

} // namespace zentrova::uninstaller
