// Runs inside the emulated machine while the host plugs disks in and pulls
// them out through QEMU's monitor (qemu_hotplug.sh). As uid 1000, through the
// drive helper in /libexec (given its capabilities by `smart_probe grant`),
// it lists the drives as the monitor does at start-up, then waits on the
// kernel's drive events: a burst is handled once, 2 s after its last event,
// by listing the drives again and telling which came and which went, by
// identity. Every listed drive is read about once a second, but for a drive
// that left and came back (same identity): it is read back-to-back, with no
// pause, until it leaves again, so that a removal very likely lands inside a
// read ("ZT back-to-back NAME start", then "... ended ..." with what the
// reads gave once it has left).
//
//   hotplug_probe LIMIT_SECONDS
//
// It ends when a new list is empty ("ZT done", status 0) or at the limit
// (status 1). Its "ZT " lines, on the serial console, are what the host
// checks; a read prints a line when it fails, when it is the first of a
// drive, and when it is the first good one after a failure.
#include "device/device.h"
#include "platform/drive_events.h"
#include "platform/linux/helper_client.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <map>
#include <poll.h>
#include <set>
#include <unistd.h>

using namespace zentrova::device;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kQuietAfterEvents = 2000ms;
constexpr auto kReadEvery = 1000ms;

long long Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::string Name(const xDEV_INFO* r) {
    const std::string path = r->szDevFilePath;
    return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
}

// Two drives are the same drive when these agree, whatever their names.
std::string Identity(const xDEV_INFO* r) {
    return std::string("model=") + r->szModelNum + " fw=" + r->szFirmwareRev +
           " serial=" + r->driveSerial;
}

// Our running drive helper, or 0: a live child of ours named zentrova-ata
// (one that died and was not yet reaped does not count).
pid_t HelperPid() {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    pid_t found = 0;
    while (const dirent* e = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        const auto open = line.find(" ("), close = line.rfind(") ");
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        char state = 0;
        int ppid = 0;
        if (line.substr(open + 2, close - open - 2) == "zentrova-ata" &&
            std::sscanf(line.c_str() + close + 2, "%c %d", &state, &ppid) == 2 && state != 'Z' &&
            ppid == ::getpid())
            found = static_cast<pid_t>(std::atoi(e->d_name));
    }
    ::closedir(proc);
    return found;
}

class Prober {
  public:
    // The first list, as at start-up, and a first read of each drive.
    void Start() {
        SMARTDeviceDetection();
        for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            std::printf("ZT drive %s %s\n", Name(r).c_str(), Identity(r).c_str());
        for (const std::string& line : dev.leftOutDisks)
            std::printf("ZT left-out %s\n", line.c_str());
        ReadAll({});
    }

    // The disks listed again after a burst of events: what arrived is read at
    // once, what left is never read again.
    void Relist(int events, Clock::time_point lastEvent) {
        std::map<std::string, std::string> before; // identity -> name
        for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            before.emplace(Identity(r), Name(r));
        const std::set<std::string> leftOutBefore(dev.leftOutDisks.begin(), dev.leftOutDisks.end());
        ResetDeviceGlobalsForTest();
        SMARTDeviceDetection();
        std::printf("ZT relist events=%d quiet-ms=%lld listed=%d\n", events,
                    Ms(Clock::now() - lastEvent), dev.nDevCnt);
        std::set<std::string> arrived;
        for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            if (before.erase(Identity(r)) == 0) {
                std::printf("ZT arrived %s %s\n", Name(r).c_str(), Identity(r).c_str());
                arrived.insert(Identity(r));
            }
        for (const auto& [identity, name] : before) {
            std::printf("ZT left %s %s\n", name.c_str(), identity.c_str());
            lastOk_.erase(identity);
            if (identity == backToBack_.identity)
                EndBackToBack(name);
            gone_.insert(identity);
        }
        for (const std::string& line : dev.leftOutDisks)
            if (leftOutBefore.count(line) == 0)
                std::printf("ZT left-out %s\n", line.c_str());
        ReadAll(arrived, lastEvent);
        for (const std::string& identity : arrived)
            if (gone_.count(identity) != 0 && !ReadingBackToBack())
                StartBackToBack(identity);
    }

    bool ReadingBackToBack() const { return !backToBack_.identity.empty(); }

    // One read of the drive that came back, right after the last one.
    void ReadBackToBack() {
        xDEV_INFO* r = dev.gpHeadDevInfo;
        while (r != nullptr && Identity(r) != backToBack_.identity)
            r = r->pNext;
        if (r == nullptr)
            return;
        // A read that began with the disk in sysfs and failed, or ended
        // without it, met the kernel's removal under way.
        const std::string sys = "/sys/block/" + Name(r);
        const bool listedBefore = ::access(sys.c_str(), F_OK) == 0;
        dev.gpSelDevInfo = r;
        std::array<std::uint8_t, zentrova::platform::kSmartPageSize> data{}, thresholds{};
        const Clock::time_point began = Clock::now();
        const bool ok = GetSMARTAttributeAndThreshold(data.data(), thresholds.data()) == 1;
        backToBack_.longest = std::max(backToBack_.longest, Clock::now() - began);
        backToBack_.insideRead =
            backToBack_.insideRead || (listedBefore && (!ok || ::access(sys.c_str(), F_OK) != 0));
        ++backToBack_.reads;
        backToBack_.good += ok ? 1 : 0;
        ++(ok ? good_ : failed_);
        if (ok == backToBack_.lastOk)
            return;
        backToBack_.lastOk = ok;
        if (!ok) {
            ++backToBack_.failedRuns;
            if (failedHelper_ == 0)
                failedHelper_ = backToBack_.helper;
        }
        std::printf("ZT read %s %s%s\n", Name(r).c_str(), ok ? "ok" : "failed",
                    ok ? "" : HelperState(backToBack_.helper).c_str());
    }

    // One read of every listed drive; `first` are read for the first time.
    void ReadAll(const std::set<std::string>& first, Clock::time_point since = {}) {
        for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
            const std::string identity = Identity(r);
            if (identity == backToBack_.identity)
                continue;
            const pid_t helper = HelperPid();
            dev.gpSelDevInfo = r;
            std::array<std::uint8_t, zentrova::platform::kSmartPageSize> data{}, thresholds{};
            const bool ok = GetSMARTAttributeAndThreshold(data.data(), thresholds.data()) == 1;
            ++(ok ? good_ : failed_);
            const auto last = lastOk_.find(identity);
            const bool isFirst = last == lastOk_.end();
            std::string line;
            if (isFirst && first.count(identity) != 0)
                line = " first after-event-ms=" + std::to_string(Ms(Clock::now() - since));
            else if (isFirst)
                line = " first";
            // Whether the helper that served the failed read is the one that
            // serves this one: it must outlive a drive pulled from under it.
            if (!ok) {
                failedHelper_ = helper;
                line += HelperState(helper);
            } else if (failedHelper_ != 0) {
                line += HelperState(failedHelper_);
                failedHelper_ = 0;
            } else if (!isFirst && last->second) {
                continue;
            }
            lastOk_[identity] = ok;
            std::printf("ZT read %s %s%s\n", Name(r).c_str(), ok ? "ok" : "failed", line.c_str());
        }
    }

    int Reads(bool ok) const { return ok ? good_ : failed_; }

  private:
    void StartBackToBack(const std::string& identity) {
        backToBack_ = {identity, HelperPid(), Clock::now()};
        for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            if (Identity(r) == identity)
                std::printf("ZT back-to-back %s start\n", Name(r).c_str());
    }

    void EndBackToBack(const std::string& name) {
        std::printf(
            "ZT back-to-back %s ended reads=%d ok=%d ms=%lld failed-runs=%d longest-ms=%lld "
            "deadline-ms=%lld "
            "removal-inside-read=%s\n",
            name.c_str(), backToBack_.reads, backToBack_.good, Ms(Clock::now() - backToBack_.began),
            backToBack_.failedRuns, Ms(backToBack_.longest),
            static_cast<long long>(zentrova::platform::kHelperDeadline.count()),
            backToBack_.insideRead ? "yes" : "no");
        backToBack_ = {};
    }

    static std::string HelperState(pid_t before) {
        const pid_t now = HelperPid();
        return std::string(" helper=") + (now == 0 ? "none" : now == before ? "same" : "restarted");
    }

    std::map<std::string, bool> lastOk_; // by identity: whether its last read was good
    pid_t failedHelper_ = 0;             // the helper at the last failed read, until a good one
    std::set<std::string> gone_;         // identities that have left at least once
    struct BackToBack {
        std::string identity; // empty: none
        pid_t helper = 0;     // the helper when it began, which must serve it to the end
        Clock::time_point began{};
        bool lastOk = true;
        int reads = 0, good = 0, failedRuns = 0;
        bool insideRead =
            false; // a read began with the disk in sysfs and failed or ended without it
        Clock::duration longest{};
    } backToBack_;
    int good_ = 0, failed_ = 0;
};

int Follow(Clock::time_point limit) {
    std::string why;
    const auto source = zentrova::platform::CreateSystemDriveEventSource(&why);
    if (source == nullptr) {
        std::printf("ZT no-events %s\n", why.c_str());
        return 1;
    }
    Prober prober;
    prober.Start();
    std::printf("ZT ready\n");
    int burst = 0;
    Clock::time_point lastEvent{}, nextRead = Clock::now() + kReadEvery;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= limit) {
            std::printf("ZT time-limit\n");
            return 1;
        }
        Clock::time_point wake = std::min(nextRead, limit);
        if (burst > 0)
            wake = std::min(wake, lastEvent + kQuietAfterEvents);
        pollfd p{source->Descriptor(), POLLIN, 0};
        const int ready = ::poll(
            &p, 1,
            prober.ReadingBackToBack() ? 0 : static_cast<int>(std::max(0LL, Ms(wake - now)) + 1));
        if (ready < 0 && errno != EINTR) {
            std::printf("ZT poll-failed %s\n", std::strerror(errno));
            return 1;
        }
        if (ready > 0)
            for (const auto& e : source->ReadPending()) {
                using A = zentrova::platform::DriveEventAction;
                std::printf("ZT event %s %s\n",
                            e.action == A::Add      ? "add"
                            : e.action == A::Remove ? "remove"
                                                    : "change",
                            e.name.c_str());
                lastEvent = Clock::now();
                ++burst;
            }
        if (burst > 0 && Clock::now() >= lastEvent + kQuietAfterEvents) {
            prober.Relist(burst, lastEvent);
            burst = 0;
            if (dev.nDevCnt == 0)
                break;
        }
        if (Clock::now() >= nextRead) {
            prober.ReadAll({});
            nextRead = Clock::now() + kReadEvery;
        }
        if (prober.ReadingBackToBack())
            prober.ReadBackToBack();
    }
    std::printf("ZT reads ok=%d failed=%d\n", prober.Reads(true), prober.Reads(false));
    ResetDeviceGlobalsForTest();
    std::printf("ZT done\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int seconds = argc == 2 ? std::atoi(argv[1]) : 0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: hotplug_probe LIMIT_SECONDS\n");
        return 2;
    }
    if (setgroups(0, nullptr) != 0 || setresgid(1000, 1000, 1000) != 0 ||
        setresuid(1000, 1000, 1000) != 0) {
        std::fprintf(stderr, "hotplug_probe: cannot become uid 1000: %s\n", std::strerror(errno));
        return 1;
    }
    return Follow(Clock::now() + std::chrono::seconds(seconds));
}
