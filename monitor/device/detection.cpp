#include "device.h"

#include "knowndrives.h"
#include "nvme/nvme_health.h"
#include "smart_pages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace zentrova::device {

DeviceGlobals dev;

namespace {

// Copies a property string as ASCII into a NUL-terminated buffer, cut to fit.
// Anything outside printable ASCII becomes '?', so the record never carries
// bytes that later code would have to guess the encoding of.
void CopyAscii(const std::string& text, char* out, std::size_t capacity) {
    if (capacity == 0)
        return;
    const std::size_t n = std::min(text.size(), capacity - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out[i] = (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    out[n] = '\0';
}

} // namespace

void FreeDeviceList() {
    xDEV_INFO* record = dev.gpHeadDevInfo;
    while (record != nullptr) {
        xDEV_INFO* next = record->pNext;
        delete record;
        record = next;
    }
    dev.gpHeadDevInfo = nullptr;
    dev.gpCurrDevInfo = nullptr;
    dev.gpSelDevInfo = nullptr;
}

void ResetDeviceGlobalsForTest() {
    FreeDeviceList();
    dev = DeviceGlobals{};
}

int GetDevFilePath(const platform::BlockStorageService& entry, char* pathOut,
                   std::size_t pathCapacity, std::int64_t* sizeOut) {
    if (pathOut == nullptr || pathCapacity == 0)
        return 5;
    pathOut[0] = '\0';
    if (!entry.bsdName || pathCapacity <= 5)
        return 5;
    std::memcpy(pathOut, "/dev/", 6);
    CopyAscii(*entry.bsdName, pathOut + 5, pathCapacity - 5);
    if (entry.sizeBytes && sizeOut != nullptr)
        *sizeOut = *entry.sizeBytes;
    return 0;
}

int GetDevModelNumAndFirmwareRev(const platform::BlockStorageService& entry, char* modelOut,
                                 char* firmwareOut) {
    int result = 5;
    if (entry.deviceModel) {
        CopyAscii(*entry.deviceModel, modelOut, 41);
        result = 0;
    }
    if (entry.deviceRevision) {
        CopyAscii(*entry.deviceRevision, firmwareOut, 9);
        result = 0;
    }
    return result;
}

void SMARTDeviceDetection() {
    std::unique_ptr<platform::DeviceRegistry> registry = platform::CreateSystemDeviceRegistry();
    if (registry)
        SMARTDeviceDetection(*registry);
}

std::optional<std::string> NoSlotLine(const platform::BlockStorageService& service) {
    if (!service.smartInterface || !service.bsdName)
        return std::nullopt;
    return *service.bsdName + ": Zentrova watches only the first four drives.";
}

std::optional<DriveIdentity> ListedIdentity(const platform::BlockStorageService& service) {
    if (!service.smartInterface)
        return std::nullopt;
    char path[128];
    if (GetDevFilePath(service, path, sizeof path, nullptr) == 5)
        return std::nullopt;
    char model[41] = {};
    char firmware[9] = {};
    if (GetDevModelNumAndFirmwareRev(service, model, firmware) == 5)
        return std::nullopt;
    DriveIdentity identity{model, firmware, {}};
    if (service.deviceSerial) {
        char serial[41] = {};
        CopyAscii(*service.deviceSerial, serial, sizeof serial);
        identity.serial = serial;
    }
    return identity;
}

DriveIdentity DriveIdentityOf(const xDEV_INFO& record) {
    return {record.szModelNum, record.szFirmwareRev, record.driveSerial};
}

std::unique_ptr<xDEV_INFO> ProbeDrive(platform::BlockStorageService& service) {
    if (!service.smartInterface)
        return nullptr;

    char path[128];
    std::int64_t sizeBytes = 0;
    if (GetDevFilePath(service, path, sizeof path, &sizeBytes) == 5)
        return nullptr;
    char model[41] = {};
    char firmware[9] = {};
    if (GetDevModelNumAndFirmwareRev(service, model, firmware) == 5)
        return nullptr;

    const std::uint8_t smartEnabled =
        static_cast<std::uint8_t>(EnableSMARTForTheDrive(service.smartInterface.get()));
    const std::int64_t sizeGB = sizeBytes / 1024 / 1024 / 1024;

    std::unique_ptr<xDEV_INFO> record(new (std::nothrow) xDEV_INFO{});
    if (record == nullptr)
        return nullptr;
    std::memcpy(record->szDevFilePath, path, sizeof path);
    std::memcpy(record->szModelNum, model, sizeof model);
    std::memcpy(record->szFirmwareRev, firmware, sizeof firmware);
    record->nSizeGB = static_cast<std::int32_t>(static_cast<std::uint32_t>(sizeGB));
    record->bSmartEnabled = smartEnabled;
    record->driveKind = service.kind;
    if (service.deviceSerial) {
        char serial[41] = {};
        CopyAscii(*service.deviceSerial, serial, sizeof serial);
        record->driveSerial = serial;
    }
    record->ppSmartInterface = std::move(service.smartInterface);
    if (record->driveKind == platform::DriveKind::Nvme)
        ReadNvmeDetectionFacts(record.get(), service.sensorCelsius);
    else
        record->nTemperature = static_cast<std::int32_t>(GetHDDTemperature(record.get()));
    return record;
}

void AppendDrive(std::unique_ptr<xDEV_INFO> owned, std::int32_t index) {
    xDEV_INFO* record = owned.release();
    record->nDevIndex = index;
    ++dev.nDevCnt;
    record->pNext = nullptr;
    record->pPrev = dev.gpCurrDevInfo;
    if (dev.gpCurrDevInfo != nullptr)
        dev.gpCurrDevInfo->pNext = record;
    else
        dev.gpHeadDevInfo = record;
    dev.gpCurrDevInfo = record;
}

void SMARTDeviceDetection(platform::DeviceRegistry& registry) {
    std::vector<platform::BlockStorageService> services = registry.BlockStorageServices();
    dev.leftOutDisks = registry.LeftOutDisks();
    std::int32_t index = 0;
    for (platform::BlockStorageService& service : services) {
        // Every per-drive array has four slots: a fifth drive would have
        // nowhere to keep its pages, flags, timer or log position.
        if (index >= kMaxDrives) {
            if (std::optional<std::string> line = NoSlotLine(service))
                dev.leftOutDisks.push_back(std::move(*line));
            continue;
        }
        if (std::unique_ptr<xDEV_INFO> record = ProbeDrive(service))
            AppendDrive(std::move(record), index++);
    }
}

void FindCurrentRunningOS() {
    FindCurrentRunningOS(platform::SystemVersion());
}

void FindCurrentRunningOS(platform::SystemVersionSource& source) {
    std::uint32_t version = 0;
    if (source.SystemVersion(&version) != 0)
        return;
    if (version >= 0x1030)
        dev.gbRunningOS = 'R';
    else if (version >= 0x1020)
        dev.gbRunningOS = 'Q';
    else if (version >= 0x1010)
        dev.gbRunningOS = 'P';
    else
        dev.gbRunningOS = 'S';
}

int EnableSMARTForTheDrive(platform::AtaSmartInterface* handle) {
    if (handle == nullptr)
        return 0;
    return handle->SMARTEnableDisableOperations(true) == 0 ? 1 : 0;
}

int GetSMARTAttributeAndThreshold(std::uint8_t* dataPage, std::uint8_t* thresholdsPage) {
    if (dev.gpSelDevInfo == nullptr || dev.gpSelDevInfo->ppSmartInterface == nullptr ||
        dataPage == nullptr || thresholdsPage == nullptr)
        return 0;
    platform::AtaSmartInterface& smart = *dev.gpSelDevInfo->ppSmartInterface;
    if (smart.SMARTReadData(dataPage) != 0)
        return 0;
    if (smart.SMARTReadDataThresholds(thresholdsPage) != 0)
        return 0;
    return 1;
}

bool IsTemperatureAttribute(std::uint8_t attributeId, std::int32_t option) {
    return attributeId == 194 || (attributeId == 9 && option == 2) ||
           (attributeId == 220 && option == 1) || attributeId == 231;
}

void ReadNvmeDetectionFacts(xDEV_INFO* record, std::optional<int> sensorCelsius) {
    if (record == nullptr || record->ppSmartInterface == nullptr)
        return;
    std::array<std::uint8_t, kSmartPageSize> page{};
    std::optional<int> degrees;
    if (record->ppSmartInterface->SMARTReadData(page.data()) == 0)
        degrees = nvme::Celsius(nvme::DecodeHealthLog(page.data()).compositeKelvin);
    // Without its health log (no helper) the sensor still tells the
    // temperature; a sensor below zero is as good as none for the column.
    if (!degrees)
        degrees = sensorCelsius;
    record->nTemperature = degrees && *degrees > 0 ? *degrees : 0;
    page.fill(0);
    if (record->ppSmartInterface->SMARTReadDataThresholds(page.data()) == 0) {
        const std::optional<int> warning =
            nvme::Celsius(nvme::DecodeIdentifyController(page.data()).warningKelvin);
        if (warning && *warning > 0)
            record->nDefaultCriticalTemp = *warning;
    }
}

std::uint32_t GetHDDTemperature(const xDEV_INFO* record) {
    if (record == nullptr || record->ppSmartInterface == nullptr)
        return 0;
    // A failed read may leave part of a page behind; judge whatever is there,
    // starting from zeros so that an untouched page yields no temperature.
    std::array<std::uint8_t, kSmartPageSize> page{};
    (void)record->ppSmartInterface->SMARTReadData(page.data());
    const ATASMARTAttributeStruct* entries = AttributeEntries(page.data());
    for (int i = 0; i < kSmartEntryCount; ++i) {
        const std::uint8_t id = entries[i].attributeId;
        const std::int32_t option = lookupdrive(record->szModelNum, record->szFirmwareRev, id);
        if (IsTemperatureAttribute(id, option))
            return entries[i].rawvalue[0];
    }
    return 0;
}

} // namespace zentrova::device
