#include "history/history_reading.h"

#include "device/knowndrives.h"
#include "device/smart_pages.h"
#include "nvme/nvme_health.h"
#include "platform/nvme_pages.h"
#include "smart/attribute_catalogue.h"

#include <string_view>

namespace zentrova::history {

namespace {

namespace pages = platform::nvme;

// The health fields kept for an NVMe drive: every one of the log's counters
// and gauges, not only those the drive page shows.
constexpr pages::Field kNvmeFields[] = {
    pages::kCriticalWarning,
    pages::kCompositeTemperature,
    pages::kAvailableSpare,
    pages::kAvailableSpareThreshold,
    pages::kPercentageUsed,
    pages::kDataUnitsRead,
    pages::kDataUnitsWritten,
    pages::kHostReadCommands,
    pages::kHostWriteCommands,
    pages::kControllerBusyTime,
    pages::kPowerCycles,
    pages::kPowerOnHours,
    pages::kUnsafeShutdowns,
    pages::kMediaErrors,
    pages::kErrorLogEntries,
    pages::kWarningTemperatureTime,
    pages::kCriticalTemperatureTime,
};

// Names of the fields the drive page does not show.
struct ExtraName {
    pages::Field field;
    const char* name;
};
constexpr ExtraName kExtraNames[] = {
    {pages::kAvailableSpareThreshold, "Available spare threshold"},
    {pages::kDataUnitsRead, "Data read"},
    {pages::kHostReadCommands, "Host read commands"},
    {pages::kHostWriteCommands, "Host write commands"},
    {pages::kControllerBusyTime, "Controller busy time"},
};

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string Text(const QByteArray& bytes) {
    return Trimmed({bytes.constData(), size_t(bytes.size())});
}

void AddAtaEntries(const device::xDEV_INFO& drive, const std::uint8_t* dataPage,
                   const std::uint8_t* thresholdsPage, Reading* reading) {
    const auto* entries = device::AttributeEntries(dataPage);
    const auto* thresholds = device::ThresholdEntries(thresholdsPage);
    bool seen[256] = {};
    for (int i = 0; i < device::kSmartEntryCount; ++i) {
        const device::ATASMARTAttributeStruct& a = entries[i];
        // A repeated identifier is the first one's again, as in the metrics.
        if (a.attributeId == 0 || seen[a.attributeId])
            continue;
        seen[a.attributeId] = true;
        Entry e;
        e.id = a.attributeId;
        e.value = a.current;
        e.worst = a.worst;
        e.threshold = thresholds[i].ThresholdValue;
        e.raw.assign(a.rawvalue, a.rawvalue + sizeof a.rawvalue);
        const std::int32_t option = smart::VendorOptionFor(&drive, a.attributeId);
        if (!reading->temperature && device::IsTemperatureAttribute(a.attributeId, option) &&
            a.rawvalue[0] != 0)
            reading->temperature = a.rawvalue[0];
        reading->entries.push_back(std::move(e));
    }
}

void AddNvmeEntries(const std::uint8_t* healthPage, const std::uint8_t* identifyPage,
                    Reading* reading) {
    const nvme::HealthLog log = nvme::DecodeHealthLog(healthPage);
    const nvme::ControllerLimits limits = nvme::DecodeIdentifyController(identifyPage);
    reading->temperature = nvme::Celsius(log.compositeKelvin);
    for (const pages::Field& f : kNvmeFields) {
        Entry e;
        e.id = static_cast<std::uint8_t>(f.offset);
        e.raw.assign(healthPage + f.offset, healthPage + f.offset + f.width);
        // The value as the drive page reads it: degrees for the temperature,
        // the number itself for the rest while it fits.
        if (f.offset == pages::kCompositeTemperature.offset) {
            if (auto c = nvme::Celsius(log.compositeKelvin))
                e.value = *c;
            if (auto c = nvme::Celsius(limits.warningKelvin))
                e.threshold = *c;
        } else {
            const nvme::Counter n = nvme::LittleEndian(healthPage + f.offset, f.width);
            if (n <= nvme::Counter(INT64_MAX))
                e.value = static_cast<std::int64_t>(n);
        }
        if (f.offset == pages::kAvailableSpare.offset)
            e.threshold = log.availableSpareThreshold;
        if (f.offset == pages::kPercentageUsed.offset)
            e.threshold = 100;
        reading->entries.push_back(std::move(e));
    }
}

} // namespace

Identity IdentityOf(const device::xDEV_INFO& drive) {
    return {Text(smart::FieldBytes(drive.szModelNum)), Text(smart::FieldBytes(drive.szFirmwareRev)),
            Trimmed(drive.driveSerial)};
}

Reading ReadingOf(const device::xDEV_INFO& drive, const std::uint8_t* dataPage,
                  const std::uint8_t* thresholdsPage, std::int64_t takenMs) {
    Reading r;
    r.takenMs = takenMs;
    r.identity = IdentityOf(drive);
    if (drive.driveKind == platform::DriveKind::Nvme) {
        r.kind = Kind::Nvme;
        AddNvmeEntries(dataPage, thresholdsPage, &r);
    } else {
        AddAtaEntries(drive, dataPage, thresholdsPage, &r);
    }
    return r;
}

QString EntryName(Kind kind, const Identity& drive, std::uint8_t id) {
    if (kind == Kind::Ata)
        return smart::AttributeName(
            id, device::lookupdrive(drive.model.c_str(), drive.firmware.c_str(), id));
    for (const ExtraName& extra : kExtraNames)
        if (extra.field.offset == id)
            return QString::fromLatin1(extra.name);
    for (const nvme::HealthRow& row : nvme::HealthRows({}, {}))
        if (row.id == id)
            return QString::fromLatin1(row.name);
    return QStringLiteral("Field %1").arg(id);
}

std::string RawDecimal(const std::vector<std::uint8_t>& raw) {
    return nvme::DecimalText(nvme::LittleEndian(raw.data(), raw.size()));
}

double RawNumber(const std::vector<std::uint8_t>& raw) {
    double n = 0;
    for (std::size_t b = raw.size(); b-- > 0;)
        n = n * 256 + raw[b];
    return n;
}

} // namespace zentrova::history
