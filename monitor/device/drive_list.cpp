// The drive list after start-up: drives that arrive, leave and come back
// while the monitor runs. Records are never freed here; a slot once given
// stays its drive's for the rest of the run.
#include "device.h"

#include <algorithm>
#include <cstring>

namespace zentrova::device {

namespace {

struct Listed {
    platform::BlockStorageService* service;
    std::optional<DriveIdentity> identity;
    std::string path; // "/dev/<name>" as a record writes it; empty without a name
    bool used = false;
};

// Model and firmware agree and neither serial contradicts the other: a
// drive whose serial could not be read this time is not another drive.
bool Compatible(const DriveIdentity& a, const DriveIdentity& b) {
    return a.model == b.model && a.firmware == b.firmware &&
           (a.serial == b.serial || a.serial.empty() || b.serial.empty());
}

bool AllDigits(const std::string& text, std::size_t from) {
    return from < text.size() &&
           std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A listed service of `record`'s identity that nothing has claimed, one
// under the record's own name first.
Listed* Claim(std::vector<Listed>& listed, const xDEV_INFO& record, bool sameNameOnly) {
    const DriveIdentity identity = DriveIdentityOf(record);
    Listed* found = nullptr;
    for (Listed& l : listed) {
        if (l.used || !l.identity)
            continue;
        const bool sameName = l.path == record.szDevFilePath;
        if (sameNameOnly ? sameName && Compatible(*l.identity, identity)
                         : *l.identity == identity && (found == nullptr || sameName))
            found = &l;
    }
    if (found != nullptr)
        found->used = true;
    return found;
}

// The record's device name is listed for a drive that is not this one.
bool NameTakenByAnother(const std::vector<Listed>& listed, const xDEV_INFO& record) {
    return std::any_of(listed.begin(), listed.end(), [&](const Listed& l) {
        return l.identity && l.path == record.szDevFilePath &&
               !Compatible(*l.identity, DriveIdentityOf(record));
    });
}

void MarkRemoved(xDEV_INFO* record) {
    record->removed = true;
    record->ppSmartInterface.reset();
}

// A removed record takes its drive back: what a new probe found, in its
// old slot and place in the list.
void Refill(xDEV_INFO* record, xDEV_INFO& probed) {
    std::memcpy(record->szDevFilePath, probed.szDevFilePath, sizeof record->szDevFilePath);
    record->nSizeGB = probed.nSizeGB;
    record->nTemperature = probed.nTemperature;
    record->bSmartEnabled = probed.bSmartEnabled;
    record->driveKind = probed.driveKind;
    record->nDefaultCriticalTemp = probed.nDefaultCriticalTemp;
    record->ppSmartInterface = std::move(probed.ppSmartInterface);
    record->removed = false;
}

} // namespace

bool NamesDrive(const std::string& name, const xDEV_INFO& record) {
    const std::string path = record.szDevFilePath;
    if (path.rfind("/dev/", 0) != 0 || name.empty())
        return false;
    const std::string disk = path.substr(5);
    if (name == disk)
        return true;
    // A controller "nvme0" is listed for its namespaces "nvme0n1", ...
    return disk.rfind("nvme", 0) == 0 && AllDigits(disk, 4) && name.rfind(disk + "n", 0) == 0 &&
           AllDigits(name, disk.size() + 1);
}

DriveListChanges UpdateDriveList(platform::DeviceRegistry& registry,
                                 const std::vector<std::string>& removedNames) {
    std::vector<platform::BlockStorageService> services = registry.BlockStorageServices();
    std::vector<std::string> leftOut = registry.LeftOutDisks();
    std::vector<Listed> listed;
    for (platform::BlockStorageService& service : services) {
        Listed l{&service, ListedIdentity(service), {}};
        char path[128];
        if (GetDevFilePath(service, path, sizeof path, nullptr) == 0)
            l.path = path;
        listed.push_back(std::move(l));
    }
    const auto kernelRemoved = [&](const xDEV_INFO& r) {
        return std::any_of(removedNames.begin(), removedNames.end(),
                           [&](const std::string& name) { return NamesDrive(name, r); });
    };

    // A drive the kernel did not remove keeps its record and handle; one it
    // removed and that is listed again has a new node, so it is taken back
    // below with a fresh handle.
    std::vector<xDEV_INFO*> gone;
    int records = 0;
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        ++records;
        if (r->removed)
            continue;
        const bool removedByKernel = kernelRemoved(*r);
        if (!removedByKernel && (Claim(listed, *r, false) || Claim(listed, *r, true)))
            continue;
        if (removedByKernel || NameTakenByAnother(listed, *r))
            gone.push_back(r);
    }
    for (xDEV_INFO* r : gone)
        MarkRemoved(r);

    DriveListChanges changes;
    for (Listed& l : listed) {
        if (l.used || !l.identity)
            continue;
        xDEV_INFO* back = nullptr;
        for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr && back == nullptr; r = r->pNext)
            if (r->removed && DriveIdentityOf(*r) == *l.identity)
                back = r;
        if (back == nullptr && records >= kMaxDrives) {
            if (std::optional<std::string> line = NoSlotLine(*l.service))
                leftOut.push_back(std::move(*line));
            continue;
        }
        std::unique_ptr<xDEV_INFO> probed = ProbeDrive(*l.service);
        if (probed == nullptr)
            continue;
        if (back != nullptr) {
            Refill(back, *probed);
            changes.returned.push_back(back);
        } else {
            changes.arrived.push_back(probed.get());
            AppendDrive(std::move(probed), records++);
        }
    }
    for (xDEV_INFO* r : gone)
        if (r->removed)
            changes.departed.push_back(r);
    dev.leftOutDisks = std::move(leftOut);
    return changes;
}

} // namespace zentrova::device
