#include "removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
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

namespace {

// The child's answer on the pipe: removed, error, the length of `where`, then `where`.
constexpr std::size_t kHeaderSize = 3 * sizeof(std::uint32_t);

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

[[noreturn]] void ActAsUserAndReport(int fd, const platform::UserIdentity& user,
                                     const std::string& path,
                                     const std::function<RemovalResult()>& step) {
    std::vector<gid_t> groups(user.groups.begin(), user.groups.end());
    RemovalResult result;
    if (setgroups(groups.size(), groups.data()) != 0 ||
        setresgid(user.gid, user.gid, user.gid) != 0 ||
        setresuid(user.uid, user.uid, user.uid) != 0)
        result = Failure(errno, path);
    else
        result = step();
    const std::uint32_t header[3] = {result.removed ? 1U : 0U,
                                     static_cast<std::uint32_t>(result.error),
                                     static_cast<std::uint32_t>(result.where.size())};
    std::string message(reinterpret_cast<const char*>(header), kHeaderSize);
    message += result.where;
    _exit(WriteAll(fd, message) ? 0 : 1);
}

} // namespace

RemovalResult RunAsUser(const platform::UserIdentity& user, const std::string& path,
                        const std::function<RemovalResult()>& step) {
    // Without root there are no rights to drop: as that user, act; as another, be refused below.
    if (geteuid() != 0 && geteuid() == user.uid)
        return step();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return Failure(errno, path);
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        return Failure(error, path);
    }
    if (pid == 0) {
        close(fds[0]);
        ActAsUserAndReport(fds[1], user, path, step);
    }
    close(fds[1]);
    std::string message;
    char buffer[4096];
    int readError = 0;
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = errno;
        if (n <= 0)
            break;
        message.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return Failure(errno, path);
    }
    if (readError != 0)
        return Failure(readError, path);
    std::uint32_t header[3] = {};
    // A child that ended without a whole answer removed what it removed; the
    // item is listed as staying, since nothing says otherwise.
    if (message.size() < kHeaderSize || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return Failure(EIO, path);
    std::memcpy(header, message.data(), kHeaderSize);
    if (message.size() != kHeaderSize + header[2])
        return Failure(EIO, path);
    return {header[0] != 0, static_cast<int>(header[1]), message.substr(kHeaderSize)};
}

} // namespace zentrova::uninstaller
