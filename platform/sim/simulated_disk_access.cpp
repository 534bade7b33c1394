#include "simulated_disk_access.h"

#include "simulated_registry.h"

#include <algorithm>

namespace zentrova::platform {

namespace {

// An ATA string: two characters per word, the first in the high byte.
void PutAtaString(std::uint8_t* page, int firstWord, int wordCount, const std::string& text) {
    for (int i = 0; i < 2 * wordCount; ++i) {
        const auto c =
            static_cast<std::size_t>(i) < text.size() ? text[static_cast<std::size_t>(i)] : ' ';
        page[2 * firstWord + (i ^ 1)] = static_cast<std::uint8_t>(c);
    }
}

DiskAnswer Status(int status) {
    DiskAnswer answer;
    answer.outcome = status == 0 ? ata::Outcome::Ok : ata::Outcome::DeviceError;
    if (status != 0)
        answer.detail = "simulated status " + std::to_string(status);
    return answer;
}

} // namespace

SimulatedDiskAccess::SimulatedDiskAccess(const std::string& path)
    : drives_(SimulatedRegistry(path).BlockStorageServices()) {}

std::vector<DiskFacts> SimulatedDiskAccess::ListDisks(std::string*) {
    std::vector<DiskFacts> disks;
    for (const BlockStorageService& drive : drives_) {
        if (!drive.bsdName || !IsPlainDiskName(*drive.bsdName))
            continue;
        disks.push_back(DiskFacts{*drive.bsdName, drive.sizeBytes, true, 0, "scsi"});
    }
    return disks;
}

DiskAnswer SimulatedDiskAccess::Run(const std::string& name, DiskCommand command, ata::CdbForm) {
    const auto drive = std::find_if(drives_.begin(), drives_.end(),
                                    [&](const auto& d) { return d.bsdName && *d.bsdName == name; });
    if (drive == drives_.end()) {
        DiskAnswer answer = Status(-1);
        answer.detail = "no disk " + name;
        answer.refused = true;
        return answer;
    }
    if (!drive->smartInterface)
        return Status(-1);
    DiskAnswer answer;
    switch (command) {
    case DiskCommand::IdentifyDevice:
        answer = Status(0);
        PutAtaString(answer.page.data(), 23, 4, drive->deviceRevision.value_or(""));
        PutAtaString(answer.page.data(), 27, 20, drive->deviceModel.value_or(""));
        return answer;
    case DiskCommand::SmartEnableOperations:
        return Status(drive->smartInterface->SMARTEnableDisableOperations(true));
    case DiskCommand::SmartReadData:
        answer = Status(drive->smartInterface->SMARTReadData(answer.page.data()));
        break;
    case DiskCommand::SmartReadThresholds:
        answer = Status(drive->smartInterface->SMARTReadDataThresholds(answer.page.data()));
        break;
    case DiskCommand::NvmeIdentifyController:
    case DiskCommand::NvmeReadHealthLog:
        return Status(-1);
    }
    if (!answer.ok())
        answer.page.fill(0);
    return answer;
}

} // namespace zentrova::platform
