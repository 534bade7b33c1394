// Runs inside the emulated machine while the host plugs disks in and pulls
// them out through QEMU's monitor (qemu_hotplug.sh). As uid 1000, through the
// drive helper in /libexec (given its capabilities by `smart_probe grant`),
// it lists the drives as the monitor does at start-up, then waits on the
// kernel's drive events: a burst is handled once, 2 s after its last event,
// by the monitor's own update of the drive list (device::UpdateDriveList,
// given the whole disks the burst removed, on the one registry listed at
// start-up), and what it changed is printed: each drive that arrived,
// returned to its old record or departed, with its slot, path and identity.
// Every listed drive is read about once a second, never one marked removed,
// but for a drive that came back: it is read back-to-back, with no pause,
// until it leaves again, so that a removal very likely lands inside a read
// ("ZT back-to-back NAME start", then "... ended ..." with what the reads
// gave once it has left).
//
//   hotplug_probe LIMIT_SECONDS
//
// It ends when no listed drive is left ("ZT done", status 0) or at the limit
// (status 1). Its "ZT " lines, on the serial console, are what the host
// checks; a read prints a line when it fails, when it is the first of a
// drive, and when it is the first good one after a failure.
#include "device/device.h"
#include "platform/device_registry.h"
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
#include <memory>
#include <poll.h>
#include <set>
#include <unistd.h>
#include <utility>
#include <vector>

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

// Our running drive helpers: live children of ours named zentrova-ata (one
// that died and was not yet reaped does not count). Each listing starts one,
// and the drives it probed keep it for as long as they are listed.
std::set<pid_t> HelperPids() {
    std::set<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return found;
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
            found.insert(static_cast<pid_t>(std::atoi(e->d_name)));
    }
    ::closedir(proc);
    return found;
}

// The one helper a listing started: there after it and not before.
pid_t StartedHelper(const std::set<pid_t>& before) {
    pid_t started = 0;
    for (const pid_t pid : HelperPids())
        if (before.count(pid) == 0)
            started = pid;
    return started;
}

// Whether the helper that served a drive is still the one running: it must
// not die with a drive pulled from under it.
std::string HelperState(pid_t serving) {
    return std::string(" helper=") +
           (serving != 0 && HelperPids().count(serving) != 0 ? "same" : "gone");
}

std::size_t Listed() {
    std::size_t listed = 0;
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        listed += r->removed ? 0 : 1;
    return listed;
}

class Prober {
  public:
    explicit Prober(zentrova::platform::DeviceRegistry& registry) : registry_(registry) {}

    // The first list, as at start-up, and a first read of each drive.
    void Start() {
        const std::set<pid_t> before = HelperPids();
        SMARTDeviceDetection(registry_);
        const pid_t helper = StartedHelper(before);
        for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
            helpers_[r->nDevIndex] = helper;
            Print("drive", r);
        }
        for (const std::string& line : dev.leftOutDisks)
            std::printf("ZT left-out %s\n", line.c_str());
        ReadAll({});
    }

    // The drive list brought up to date after a burst of events: what arrived
    // or returned is read at once, what departed is never read again.
    void Update(int events, Clock::time_point lastEvent, const std::vector<std::string>& removed) {
        const std::set<std::string> leftOutBefore(dev.leftOutDisks.begin(), dev.leftOutDisks.end());
        const std::set<pid_t> before = HelperPids();
        const DriveListChanges changes = UpdateDriveList(registry_, removed);
        const pid_t helper = StartedHelper(before);
        std::printf("ZT relist events=%d quiet-ms=%lld listed=%zu\n", events,
                    Ms(Clock::now() - lastEvent), Listed());
        std::set<const xDEV_INFO*> first;
        for (const xDEV_INFO* r : changes.arrived)
            Print("arrived", r);
        for (const xDEV_INFO* r : changes.returned)
            Print("returned", r);
        for (const auto* list : {&changes.arrived, &changes.returned})
            for (const xDEV_INFO* r : *list) {
                helpers_[r->nDevIndex] = helper;
                first.insert(r);
            }
        for (const xDEV_INFO* r : changes.departed) {
            Print("departed", r);
            const std::string identity = Identity(r);
            lastOk_.erase(identity);
            if (identity == backToBack_.identity)
                EndBackToBack(Name(r));
        }
        for (const std::string& line : dev.leftOutDisks)
            if (leftOutBefore.count(line) == 0)
                std::printf("ZT left-out %s\n", line.c_str());
        ReadAll(first, lastEvent);
        for (const xDEV_INFO* r : changes.returned)
            if (!ReadingBackToBack())
                StartBackToBack(r);
    }

    bool ReadingBackToBack() const { return !backToBack_.identity.empty(); }

    // One read of the drive that came back, right after the last one.
    void ReadBackToBack() {
        xDEV_INFO* r = dev.gpHeadDevInfo;
        while (r != nullptr && (r->removed || Identity(r) != backToBack_.identity))
            r = r->pNext;
        if (r == nullptr)
            return;
        // A read that began with the disk in sysfs and failed, or ended
        // without it, met the kernel's removal under way.
        const std::string sys = "/sys/block/" + Name(r);
        const bool listedBefore = ::access(sys.c_str(), F_OK) == 0;
        const Clock::time_point began = Clock::now();
        const bool ok = Read(r);
        backToBack_.longest = std::max(backToBack_.longest, Clock::now() - began);
        backToBack_.insideRead =
            backToBack_.insideRead || (listedBefore && (!ok || ::access(sys.c_str(), F_OK) != 0));
        ++backToBack_.reads;
        backToBack_.good += ok ? 1 : 0;
        if (ok == backToBack_.lastOk)
            return;
        backToBack_.lastOk = ok;
        if (!ok) {
            ++backToBack_.failedRuns;
            failedSince_ = true;
        }
        std::printf("ZT read %s %s%s\n", Name(r).c_str(), ok ? "ok" : "failed",
                    ok ? "" : HelperState(helpers_[r->nDevIndex]).c_str());
    }

    // One read of every listed drive; `first` are read for the first time
    // after an event.
    void ReadAll(const std::set<const xDEV_INFO*>& first, Clock::time_point since = {}) {
        for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
            const std::string identity = Identity(r);
            if (r->removed || identity == backToBack_.identity)
                continue;
            const bool ok = Read(r);
            const auto last = lastOk_.find(identity);
            const bool isFirst = last == lastOk_.end();
            std::string line;
            if (isFirst && first.count(r) != 0)
                line = " first after-event-ms=" + std::to_string(Ms(Clock::now() - since));
            else if (isFirst)
                line = " first";
            // A failed read tells whether its drive's helper outlived it; the
            // next good one of any drive, that reads still go on.
            if (!ok) {
                failedSince_ = true;
                line += HelperState(helpers_[r->nDevIndex]);
            } else if (failedSince_) {
                line += " after-failure" + HelperState(helpers_[r->nDevIndex]);
                failedSince_ = false;
            } else if (!isFirst && last->second) {
                continue;
            }
            lastOk_[identity] = ok;
            std::printf("ZT read %s %s%s\n", Name(r).c_str(), ok ? "ok" : "failed", line.c_str());
        }
    }

    int Reads(bool ok) const { return ok ? good_ : failed_; }

  private:
    bool Read(xDEV_INFO* r) {
        dev.gpSelDevInfo = r;
        std::array<std::uint8_t, zentrova::platform::kSmartPageSize> data{}, thresholds{};
        const bool ok = GetSMARTAttributeAndThreshold(data.data(), thresholds.data()) == 1;
        ++(ok ? good_ : failed_);
        return ok;
    }

    static void Print(const char* what, const xDEV_INFO* r) {
        std::printf("ZT %s slot=%d %s %s\n", what, r->nDevIndex, r->szDevFilePath,
                    Identity(r).c_str());
    }

    void StartBackToBack(const xDEV_INFO* r) {
        backToBack_ = {Identity(r), Clock::now()};
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

    zentrova::platform::DeviceRegistry& registry_;
    std::map<int, pid_t> helpers_; // by slot: the helper started by the listing that probed it
    std::map<std::string, bool> lastOk_; // by identity: whether its last read was good
    bool failedSince_ = false;           // a read failed since the last good one
    struct BackToBack {
        std::string identity; // empty: none
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
    // One registry for the whole run, as the monitor keeps the one it listed
    // the drives with at start-up.
    const std::unique_ptr<zentrova::platform::DeviceRegistry> registry =
        zentrova::platform::CreateSystemDeviceRegistry();
    if (registry == nullptr) {
        std::printf("ZT no-registry\n");
        return 1;
    }
    Prober prober(*registry);
    prober.Start();
    std::printf("ZT ready\n");
    int burst = 0;
    std::vector<std::string> removed; // the whole disks the burst removed
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
                if (e.action == A::Remove)
                    removed.push_back(e.name);
                lastEvent = Clock::now();
                ++burst;
            }
        if (burst > 0 && Clock::now() >= lastEvent + kQuietAfterEvents) {
            prober.Update(burst, lastEvent, std::exchange(removed, {}));
            burst = 0;
            if (Listed() == 0)
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
