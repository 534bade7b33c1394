#include "nvme_health.h"

#include "platform/nvme_pages.h"

#include <cstdio>

namespace zentrova::nvme {

namespace pages = platform::nvme;

namespace {

Counter Read(const std::uint8_t* page, pages::Field field) {
    return LittleEndian(page + field.offset, field.width);
}

template <typename T> T ReadAs(const std::uint8_t* page, pages::Field field) {
    return static_cast<T>(Read(page, field));
}

std::string Percent(int value) {
    return std::to_string(value) + " %";
}

std::string Degrees(std::uint16_t kelvin) {
    const std::optional<int> c = Celsius(kelvin);
    return c ? std::to_string(*c) + " \u00b0C" : std::string();
}

std::string Bytes(double bytes) {
    static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    std::size_t unit = 0;
    while (bytes >= 1000.0 && unit + 1 < std::size(kUnits)) {
        bytes /= 1000.0;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

} // namespace

HealthLog DecodeHealthLog(const std::uint8_t* page) {
    HealthLog log;
    log.criticalWarning = ReadAs<std::uint8_t>(page, pages::kCriticalWarning);
    log.compositeKelvin = ReadAs<std::uint16_t>(page, pages::kCompositeTemperature);
    log.availableSpare = ReadAs<std::uint8_t>(page, pages::kAvailableSpare);
    log.availableSpareThreshold = ReadAs<std::uint8_t>(page, pages::kAvailableSpareThreshold);
    log.percentageUsed = ReadAs<std::uint8_t>(page, pages::kPercentageUsed);
    log.dataUnitsRead = Read(page, pages::kDataUnitsRead);
    log.dataUnitsWritten = Read(page, pages::kDataUnitsWritten);
    log.hostReadCommands = Read(page, pages::kHostReadCommands);
    log.hostWriteCommands = Read(page, pages::kHostWriteCommands);
    log.controllerBusyMinutes = Read(page, pages::kControllerBusyTime);
    log.powerCycles = Read(page, pages::kPowerCycles);
    log.powerOnHours = Read(page, pages::kPowerOnHours);
    log.unsafeShutdowns = Read(page, pages::kUnsafeShutdowns);
    log.mediaErrors = Read(page, pages::kMediaErrors);
    log.errorLogEntries = Read(page, pages::kErrorLogEntries);
    log.warningTemperatureMinutes = ReadAs<std::uint32_t>(page, pages::kWarningTemperatureTime);
    log.criticalTemperatureMinutes = ReadAs<std::uint32_t>(page, pages::kCriticalTemperatureTime);
    for (int i = 0; i < pages::kTemperatureSensorCount; ++i)
        log.sensorKelvin[i] = ReadAs<std::uint16_t>(
            page, {pages::kTemperatureSensor1.offset + 2 * static_cast<std::size_t>(i), 2});
    return log;
}

ControllerLimits DecodeIdentifyController(const std::uint8_t* page) {
    return {ReadAs<std::uint16_t>(page, pages::kWarningTemperatureThreshold),
            ReadAs<std::uint16_t>(page, pages::kCriticalTemperatureThreshold)};
}

std::optional<int> Celsius(std::uint16_t kelvin) {
    if (kelvin == 0)
        return std::nullopt;
    return static_cast<int>(kelvin) - 273;
}

bool SpareBelowThreshold(const HealthLog& log) {
    return log.availableSpare < log.availableSpareThreshold;
}

bool LifeUsedUp(const HealthLog& log) {
    return log.percentageUsed >= 100;
}

bool HealthFailed(const HealthLog& log) {
    return log.criticalWarning != 0 || SpareBelowThreshold(log) || LifeUsedUp(log);
}

std::string CriticalWarningText(std::uint8_t bits) {
    static const char* const kNames[8] = {"spare below threshold",
                                          "temperature",
                                          "reliability degraded",
                                          "read-only",
                                          "volatile memory backup failed",
                                          "persistent memory region read-only",
                                          "bit 6",
                                          "bit 7"};
    std::string text;
    for (int bit = 0; bit < 8; ++bit) {
        if ((bits & (1u << bit)) == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += kNames[bit];
    }
    return text.empty() ? "none" : text;
}

Counter LittleEndian(const std::uint8_t* bytes, std::size_t width) {
    Counter value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

std::string DecimalText(Counter value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

double DataUnitBytes(Counter units) {
    return static_cast<double>(units) * pages::kDataUnitBytes;
}

std::vector<HealthRow> HealthRows(const HealthLog& log, const ControllerLimits& limits) {
    const auto id = [](pages::Field f) { return static_cast<std::uint8_t>(f.offset); };
    const auto count = [&](pages::Field f, const char* name, Counter value, bool logged) {
        return HealthRow{id(f), name, {}, DecimalText(value), false, logged, DecimalText(value)};
    };
    const auto minutes = [&](pages::Field f, const char* name, std::uint32_t value) {
        return HealthRow{
            id(f), name, {}, std::to_string(value) + " min", false, true, std::to_string(value)};
    };
    const std::optional<int> degrees = Celsius(log.compositeKelvin);
    return {
        {id(pages::kCriticalWarning),
         "Critical warning",
         {},
         CriticalWarningText(log.criticalWarning),
         log.criticalWarning != 0,
         true,
         std::to_string(log.criticalWarning)},
        {id(pages::kCompositeTemperature), "Composite temperature", Degrees(limits.warningKelvin),
         degrees ? Degrees(log.compositeKelvin) : "N/A", false, true,
         std::to_string(degrees.value_or(0))},
        {id(pages::kAvailableSpare), "Available spare", Percent(log.availableSpareThreshold),
         Percent(log.availableSpare), SpareBelowThreshold(log), true,
         std::to_string(log.availableSpare)},
        {id(pages::kPercentageUsed), "Percentage used", Percent(100), Percent(log.percentageUsed),
         LifeUsedUp(log), true, std::to_string(log.percentageUsed)},
        count(pages::kMediaErrors, "Media and data integrity errors", log.mediaErrors, true),
        count(pages::kUnsafeShutdowns, "Unsafe shutdowns", log.unsafeShutdowns, true),
        count(pages::kPowerCycles, "Power cycles", log.powerCycles, false),
        {id(pages::kPowerOnHours),
         "Power-on hours",
         {},
         DecimalText(log.powerOnHours) + " h",
         false,
         false,
         DecimalText(log.powerOnHours)},
        {id(pages::kDataUnitsWritten),
         "Data written",
         {},
         Bytes(DataUnitBytes(log.dataUnitsWritten)),
         false,
         false,
         DecimalText(log.dataUnitsWritten)},
        count(pages::kErrorLogEntries, "Error log entries", log.errorLogEntries, true),
        minutes(pages::kWarningTemperatureTime, "Warning temperature time",
                log.warningTemperatureMinutes),
        minutes(pages::kCriticalTemperatureTime, "Critical temperature time",
                log.criticalTemperatureMinutes),
    };
}

} // namespace zentrova::nvme
