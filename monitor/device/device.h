// The drive list: detection, the device record and the three SMART commands.
//
// Plain functions over one set of process-wide state, kept together in
// `dev` so that tests can start each case from a clean slate.
#pragma once

#include "platform/device_registry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zentrova::device {

// Every per-drive array of the monitor has this many slots; a drive past them
// is never listed.
inline constexpr int kMaxDrives = 4;

struct xDEV_INFO {
    std::int32_t nDevIndex = 0;
    char szModelNum[41] = {};
    char szSerialNum[21] = {}; // never filled: detection has no serial number
    char szFirmwareRev[9] = {};
    std::int32_t nSizeGB = 0;
    char szDevFilePath[128] = {};
    std::int32_t nTemperature = 0;
    std::uint8_t bSmartEnabled = 0;
    // How its pages are laid out (platform/device_registry.h).
    platform::DriveKind driveKind = platform::DriveKind::Ata;
    // The serial number the drive reported, printable ASCII, empty when none.
    // Apart from szSerialNum, which stays empty as the record is described:
    // only the history and the metrics tell drives apart by it.
    std::string driveSerial;
    // The critical temperature its settings start with: 50, or an NVMe
    // drive's own warning threshold when it reports one.
    std::int32_t nDefaultCriticalTemp = 50;
    // The drive left the computer while the monitor ran: its handle is
    // released and nothing reads it again, but the record stays until the
    // list is freed, so every pointer to it stays good and its slot (log,
    // settings entry, page buffers) is never given to another drive.
    bool removed = false;
    std::unique_ptr<platform::AtaSmartInterface> ppSmartInterface;
    xDEV_INFO* pNext = nullptr;
    xDEV_INFO* pPrev = nullptr;
};

struct DeviceGlobals {
    xDEV_INFO* gpHeadDevInfo = nullptr;
    xDEV_INFO* gpCurrDevInfo = nullptr;
    xDEV_INFO* gpSelDevInfo = nullptr;
    std::int32_t nDevCnt = 0;
    char gbRunningOS = 0;
    // Why each disk a user would miss is not in the list, one line per disk,
    // in plain words; filled by detection, shown by the window.
    std::vector<std::string> leftOutDisks;
};

extern DeviceGlobals dev;

// Frees the whole list and returns every global to its start value.
void FreeDeviceList();
void ResetDeviceGlobalsForTest();

// Builds the list from the registry; the no-argument form asks the system's.
void SMARTDeviceDetection();
void SMARTDeviceDetection(platform::DeviceRegistry& registry);

// Which drive a record or a listed service is: the device name is no part
// of it (the disk that is "sdb" today may be another one tomorrow).
struct DriveIdentity {
    std::string model, firmware, serial;
    bool operator==(const DriveIdentity&) const = default;
};
DriveIdentity DriveIdentityOf(const xDEV_INFO& record);
// The identity a probe of `service` would give its record, without a command
// to the drive; none when the probe would leave the service out.
std::optional<DriveIdentity> ListedIdentity(const platform::BlockStorageService& service);

// One listed service probed as detection probes every drive: the same checks
// (a SMART interface, a kernel name, a model or firmware), SMART switched on,
// the temperature read, the handle taken over. Null when the service is left
// out. The record is in no list and has no slot yet.
std::unique_ptr<xDEV_INFO> ProbeDrive(platform::BlockStorageService& service);
// The line for a drive that finds every slot taken; none for a service that
// would not be a drive anyway.
std::optional<std::string> NoSlotLine(const platform::BlockStorageService& service);
// Links `record` at the end of the list as drive `index` and counts it.
void AppendDrive(std::unique_ptr<xDEV_INFO> record, std::int32_t index);

// What a new listing made of the drive list (drive_list.cpp).
struct DriveListChanges {
    std::vector<xDEV_INFO*> arrived;  // new records, each in a slot of its own
    std::vector<xDEV_INFO*> returned; // removed records whose drive is back
    std::vector<xDEV_INFO*> departed; // records just marked removed
    bool Any() const { return !arrived.empty() || !returned.empty() || !departed.empty(); }
};

// Lists the registry again after the kernel told of drives that came or
// went, and brings the list up to date by identity. A drive listed before
// keeps its record and nothing is sent to it. A record is marked removed only
// when its identity is no longer listed and either `removedNames` (the whole
// disks the kernel removed, "sdb", "nvme0n1") names its disk or its device
// name is now listed for another drive: a drive that only failed to answer
// stays. A drive whose identity a removed record has gets that record back
// with its current path and handle; any other drive is probed and appended
// in the next free slot; past the last slot it gets NoSlotLine.
// `dev.leftOutDisks` becomes this listing's lines.
DriveListChanges UpdateDriveList(platform::DeviceRegistry& registry,
                                 const std::vector<std::string>& removedNames);

// Whether the kernel's whole-disk name `name` is the disk of `record`: its
// name, or for an NVMe controller one of its namespaces ("nvme0n1" of
// "/dev/nvme0").
bool NamesDrive(const std::string& name, const xDEV_INFO& record);

// 0 when the service has a kernel name (path written, size stored when
// known), else 5.
int GetDevFilePath(const platform::BlockStorageService& entry, char* pathOut,
                   std::size_t pathCapacity, std::int64_t* sizeOut);
// 0 when the model or the firmware string was found, else 5. modelOut holds
// 41 bytes, firmwareOut 9.
int GetDevModelNumAndFirmwareRev(const platform::BlockStorageService& entry, char* modelOut,
                                 char* firmwareOut);

void FindCurrentRunningOS();
void FindCurrentRunningOS(platform::SystemVersionSource& source);

// 1 on success, else 0.
int EnableSMARTForTheDrive(platform::AtaSmartInterface* handle);
// Reads both pages of `dev.gpSelDevInfo`; 1 when both were read. The
// thresholds page is left alone when the data page fails.
int GetSMARTAttributeAndThreshold(std::uint8_t* dataPage, std::uint8_t* thresholdsPage);
// The lowest raw byte of the first temperature attribute of a fresh data
// page; 0 when there is none or the read failed.
std::uint32_t GetHDDTemperature(const xDEV_INFO* record);
// An NVMe drive's temperature (its health log's, else `sensorCelsius`) and,
// when its Identify Controller names one, its warning threshold as the
// critical temperature its settings start with.
void ReadNvmeDetectionFacts(xDEV_INFO* record, std::optional<int> sensorCelsius);

// A drive's self-tests (selftest_commands.cpp): start or abort one, read its
// self-test log (kSmartPageSize bytes). 1 on success, else 0; a record
// without a handle is a failure, never a crash.
int ExecuteSelfTestOnTheDrive(const xDEV_INFO* record, platform::SelfTestCommand command);
int ReadSelfTestLogOfTheDrive(const xDEV_INFO* record, std::uint8_t* page);

// Whether an attribute with this id and vendor option holds the drive's
// temperature in its lowest raw byte.
bool IsTemperatureAttribute(std::uint8_t attributeId, std::int32_t option);

} // namespace zentrova::device
