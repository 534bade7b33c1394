#include "simulated_disk_access.h"

#include "simulated_registry.h"

#include "platform/linux/nvme_admin.h"

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

DiskAnswer Refused(std::string detail) {
    DiskAnswer answer = Status(-1);
    answer.detail = std::move(detail);
    answer.refused = true;
    return answer;
}

} // namespace

SimulatedDiskAccess::SimulatedDiskAccess(const std::string& path)
    : drives_(SimulatedRegistry(path).BlockStorageServices()) {}

SimulatedDiskAccess::SimulatedDiskAccess(std::vector<BlockStorageService> drives)
    : drives_(std::move(drives)) {}

std::vector<DiskFacts> SimulatedDiskAccess::ListDisks(std::string*) {
    std::vector<DiskFacts> disks;
    for (const BlockStorageService& drive : drives_) {
        if (!drive.bsdName || !IsPlainDiskName(*drive.bsdName))
            continue;
        DiskFacts facts{.name = *drive.bsdName,
                        .sizeBytes = drive.sizeBytes,
                        .hasDevice = true,
                        .scsiType = 0,
                        .parentSubsystem = "scsi"};
        if (drive.kind == DriveKind::Nvme) {
            facts.scsiType.reset();
            facts.parentSubsystem = "nvme";
            facts.kind = DriveKind::Nvme;
            facts.model = drive.deviceModel.value_or("");
            facts.firmware = drive.deviceRevision.value_or("");
            facts.sensorCelsius = drive.sensorCelsius;
        }
        disks.push_back(std::move(facts));
    }
    return disks;
}

DiskAnswer SimulatedDiskAccess::Run(const std::string& name, DiskCommand command, ata::CdbForm) {
    const auto drive = std::find_if(drives_.begin(), drives_.end(),
                                    [&](const auto& d) { return d.bsdName && *d.bsdName == name; });
    if (drive == drives_.end())
        return Refused("no disk " + name);
    if (!drive->smartInterface)
        return Status(-1);
    // A controller takes only the NVMe commands, a disk only the ATA ones, as
    // on the real road.
    if (nvme::IsNvmeCommand(command) != (drive->kind == DriveKind::Nvme))
        return Refused(name + " takes no such command");
    std::array<std::uint8_t, ata::kSectorSize> page{};
    int status = 0;
    switch (command) {
    case DiskCommand::IdentifyDevice:
        PutAtaString(page.data(), 10, 10, drive->deviceSerial.value_or(""));
        PutAtaString(page.data(), 23, 4, drive->deviceRevision.value_or(""));
        PutAtaString(page.data(), 27, 20, drive->deviceModel.value_or(""));
        break;
    case DiskCommand::SmartEnableOperations:
        return Status(drive->smartInterface->SMARTEnableDisableOperations(true));
    case DiskCommand::SmartReadData:
    case DiskCommand::NvmeReadHealthLog:
        status = drive->smartInterface->SMARTReadData(page.data());
        break;
    case DiskCommand::SmartReadThresholds:
    case DiskCommand::NvmeIdentifyController:
        status = drive->smartInterface->SMARTReadDataThresholds(page.data());
        break;
    case DiskCommand::SmartShortSelfTest:
    case DiskCommand::NvmeShortSelfTest:
        return Status(drive->smartInterface->SMARTExecuteSelfTest(SelfTestCommand::Short));
    case DiskCommand::SmartExtendedSelfTest:
    case DiskCommand::NvmeExtendedSelfTest:
        return Status(drive->smartInterface->SMARTExecuteSelfTest(SelfTestCommand::Extended));
    case DiskCommand::SmartAbortSelfTest:
    case DiskCommand::NvmeAbortSelfTest:
        return Status(drive->smartInterface->SMARTExecuteSelfTest(SelfTestCommand::Abort));
    case DiskCommand::SmartReadSelfTestLog:
    case DiskCommand::NvmeReadSelfTestLog:
        status = drive->smartInterface->SMARTReadSelfTestLog(page.data());
        break;
    }
    // Only a success carries the page, as on the real road.
    DiskAnswer answer = Status(status);
    if (answer.ok())
        answer.page = page;
    return answer;
}

} // namespace zentrova::platform
