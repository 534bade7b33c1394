#include "privileges.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <scsi/sg.h>
#include <seccomp.h>
#include <sys/capability.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <linux/nvme_ioctl.h> // after sys/ioctl.h, whose macros it uses

namespace zentrova::platform::helper {

namespace {

// CAP_SYS_ADMIN only because the kernel sends Get Log Page (an NVMe drive's
// health) for no one else. With it the kernel takes any admin command on a
// controller, as CAP_SYS_RAWIO makes it take any SG_IO command: the fixed
// command table (nvme_admin.cpp) is the barrier, and the system-call filter
// lets no other NVMe request through.
constexpr cap_value_t kKept[] = {CAP_SYS_RAWIO, CAP_DAC_READ_SEARCH, CAP_SYS_ADMIN};

// The open flags that must all be clear for an open to pass, beside a read-only
// access mode. O_TMPFILE includes O_DIRECTORY, which listing a folder needs,
// so only its own bit is checked.
constexpr scmp_datum_t kCheckedOpenFlags =
    O_ACCMODE | O_CREAT | O_TRUNC | (O_TMPFILE & ~O_DIRECTORY);

bool Fail(std::string* error, const char* step) {
    *error = std::string(step) + ": " + std::strerror(errno);
    return false;
}

bool IsKept(cap_value_t value) {
    for (const cap_value_t kept : kKept)
        if (kept == value)
            return true;
    return false;
}

} // namespace

bool DropPrivileges(std::string* error) {
    // Nothing the monitor left open reaches the disks' side.
    if (::close_range(3, ~0U, 0) != 0)
        return Fail(error, "close_range");

    cap_t current = cap_get_proc();
    if (current == nullptr)
        return Fail(error, "cap_get_proc");
    // Only root (or a helper given CAP_SETPCAP) may shrink the bounding set;
    // with file capabilities alone the other sets are what matters.
    cap_flag_value_t setpcap = CAP_CLEAR;
    cap_get_flag(current, CAP_SETPCAP, CAP_EFFECTIVE, &setpcap);
    if (setpcap == CAP_SET) {
        for (cap_value_t value = 0; value <= CAP_LAST_CAP; ++value) {
            if (!IsKept(value) && cap_drop_bound(value) != 0 && errno != EINVAL) {
                cap_free(current);
                return Fail(error, "cap_drop_bound");
            }
        }
    }

    cap_t wanted = cap_init(); // every set empty
    if (wanted == nullptr) {
        cap_free(current);
        return Fail(error, "cap_init");
    }
    for (const cap_value_t value : kKept) {
        cap_flag_value_t permitted = CAP_CLEAR;
        if (cap_get_flag(current, value, CAP_PERMITTED, &permitted) == 0 && permitted == CAP_SET) {
            cap_set_flag(wanted, CAP_PERMITTED, 1, &value, CAP_SET);
            cap_set_flag(wanted, CAP_EFFECTIVE, 1, &value, CAP_SET);
        }
    }
    const int set = cap_set_proc(wanted);
    cap_free(wanted);
    cap_free(current);
    if (set != 0)
        return Fail(error, "cap_set_proc");
    if (cap_reset_ambient() != 0 && errno != EINVAL)
        return Fail(error, "cap_reset_ambient");
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return Fail(error, "PR_SET_NO_NEW_PRIVS");
    return true;
}

bool RestrictSystemCalls(std::string* error) {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) {
        *error = "seccomp_init failed";
        return false;
    }
    int rc = 0;
    const auto allow = [&](int call) {
        if (rc == 0)
            rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    };
    const auto allowIf = [&](int call, scmp_arg_cmp cmp) {
        if (rc == 0)
            rc = seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, cmp);
    };
    for (const int call :
         {SCMP_SYS(read),       SCMP_SYS(close),        SCMP_SYS(fstat),      SCMP_SYS(newfstatat),
          SCMP_SYS(stat),       SCMP_SYS(lstat),        SCMP_SYS(statx),      SCMP_SYS(lseek),
          SCMP_SYS(getdents64), SCMP_SYS(readlink),     SCMP_SYS(readlinkat), SCMP_SYS(brk),
          SCMP_SYS(mmap),       SCMP_SYS(munmap),       SCMP_SYS(mremap),     SCMP_SYS(madvise),
          SCMP_SYS(futex),      SCMP_SYS(rt_sigreturn), SCMP_SYS(exit),       SCMP_SYS(exit_group)})
        allow(call);
    // Standard output for answers, standard error for trouble: no other write.
    allowIf(SCMP_SYS(write), SCMP_A0(SCMP_CMP_EQ, STDOUT_FILENO));
    allowIf(SCMP_SYS(write), SCMP_A0(SCMP_CMP_EQ, STDERR_FILENO));
    // Opens only read, and never create, truncate or make a file: nothing on
    // the machine changes through an open. This does not protect the disks:
    // with CAP_SYS_RAWIO the kernel takes any SG_IO command, writes included,
    // on a descriptor opened read-only. What reaches a disk is decided by the
    // helper's fixed command table alone (ata_passthrough.cpp).
    allowIf(SCMP_SYS(openat), SCMP_A2(SCMP_CMP_MASKED_EQ, kCheckedOpenFlags, O_RDONLY));
    allowIf(SCMP_SYS(open), SCMP_A1(SCMP_CMP_MASKED_EQ, kCheckedOpenFlags, O_RDONLY));
    allowIf(SCMP_SYS(ioctl), SCMP_A1(SCMP_CMP_EQ, SG_IO));
    // The 32-bit admin command alone: not the I/O command, which reads and
    // writes a namespace's blocks, nor the 64-bit admin one.
    allowIf(SCMP_SYS(ioctl), SCMP_A1(SCMP_CMP_EQ, NVME_IOCTL_ADMIN_CMD));
    // Directory listing asks for a descriptor's flags.
    for (const int command : {F_GETFL, F_GETFD, F_SETFD})
        allowIf(SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(command)));
    if (rc == 0)
        rc = seccomp_load(filter);
    seccomp_release(filter);
    if (rc != 0) {
        *error = std::string("seccomp: ") + std::strerror(-rc);
        return false;
    }
    return true;
}

} // namespace zentrova::platform::helper
