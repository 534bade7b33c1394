#include "privileges.h"

#include <cerrno>
#include <cstring>

#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace zentrova::platform::helper {

namespace {

constexpr cap_value_t kKept[] = {CAP_SYS_RAWIO, CAP_DAC_READ_SEARCH};

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

} // namespace zentrova::platform::helper
