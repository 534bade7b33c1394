#include "file_barrier.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Rights newer than the kernel headers Debian 12 builds with; a kernel that
// knows them reports an ABI of at least the version given.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13) // ABI 2
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14) // ABI 3
#endif

namespace zentrova::platform::helper {

namespace {

constexpr std::uint64_t kAbi1Rights =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
    LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM;

FileBarrier Failed(std::string* detail, const std::string& step) {
    *detail = "Landlock: " + step + ": " + std::strerror(errno);
    return FileBarrier::Failed;
}

// Device control (SG_IO) is left to the system-call filter: a kernel whose
// Landlock governs ioctl too (ABI 5) would otherwise refuse the pass-through.
std::uint64_t HandledRights(long abi) {
    std::uint64_t rights = kAbi1Rights;
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    return rights;
}

} // namespace

FileBarrier RestrictFileAccess(const std::vector<std::string>& readable, std::string* detail) {
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 0) {
        if (errno != ENOSYS && errno != EOPNOTSUPP)
            return Failed(detail, "version");
        *detail = std::string("the kernel has no Landlock (") + std::strerror(errno) +
                  "): file reads are bounded by the command table and the system-call filter only";
        return FileBarrier::Unsupported;
    }
    landlock_ruleset_attr attr{};
    attr.handled_access_fs = HandledRights(abi);
    const int ruleset =
        static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
    if (ruleset < 0)
        return Failed(detail, "create_ruleset");

    std::string folders;
    std::string files;
    for (const std::string& path : readable) {
        // A rule holds the inode the path names now. A link's own inode
        // would allow nothing, and its target is not what was named.
        const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            const FileBarrier result = Failed(detail, "open " + path);
            ::close(ruleset);
            return result;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || S_ISLNK(st.st_mode)) {
            ::close(fd);
            continue;
        }
        landlock_path_beneath_attr rule{};
        rule.parent_fd = fd;
        // A folder's rights reach everything below it; a file takes only its own.
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE;
        if (S_ISDIR(st.st_mode))
            rule.allowed_access |= LANDLOCK_ACCESS_FS_READ_DIR;
        const long added =
            ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
        ::close(fd);
        if (added != 0) {
            const FileBarrier result = Failed(detail, "add_rule " + path);
            ::close(ruleset);
            return result;
        }
        std::string& list = S_ISDIR(st.st_mode) ? folders : files;
        list += (list.empty() ? "" : ", ") + path;
    }
    const long restricted = ::syscall(SYS_landlock_restrict_self, ruleset, 0);
    const int error = errno;
    ::close(ruleset);
    if (restricted != 0) {
        errno = error;
        return Failed(detail, "restrict_self");
    }
    *detail = "Landlock ABI " + std::to_string(abi) + ": files may be read only under " +
              (folders.empty() ? std::string("nothing") : folders) + ", and of other files only " +
              (files.empty() ? std::string("none") : files);
    return FileBarrier::Enforced;
}

} // namespace zentrova::platform::helper
