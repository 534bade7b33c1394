// What an NVMe drive's two pages say, in the monitor's terms: the decoded
// health log and temperature thresholds, the verdict, and the rows a user
// reads. Plain C++ over byte arrays: no Qt, no device access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zentrova::nvme {

// The health log's counters are 128 bits wide.
__extension__ typedef unsigned __int128 Counter;

struct HealthLog {
    std::uint8_t criticalWarning = 0;
    std::uint16_t compositeKelvin = 0;
    std::uint8_t availableSpare = 0;
    std::uint8_t availableSpareThreshold = 0;
    std::uint8_t percentageUsed = 0;
    Counter dataUnitsRead = 0;
    Counter dataUnitsWritten = 0;
    Counter hostReadCommands = 0;
    Counter hostWriteCommands = 0;
    Counter controllerBusyMinutes = 0;
    Counter powerCycles = 0;
    Counter powerOnHours = 0;
    Counter unsafeShutdowns = 0;
    Counter mediaErrors = 0;
    Counter errorLogEntries = 0;
    std::uint32_t warningTemperatureMinutes = 0;
    std::uint32_t criticalTemperatureMinutes = 0;
    std::uint16_t sensorKelvin[8] = {};
};

// The temperature thresholds of Identify Controller, kelvin; 0: not reported.
struct ControllerLimits {
    std::uint16_t warningKelvin = 0;
    std::uint16_t criticalKelvin = 0;
};

// `page` holds the 512 bytes of the health log / the first 512 of Identify
// Controller.
HealthLog DecodeHealthLog(const std::uint8_t* page);
ControllerLimits DecodeIdentifyController(const std::uint8_t* page);

// Degrees Celsius of a kelvin field; none for 0, which means "not reported".
std::optional<int> Celsius(std::uint16_t kelvin);

// The drive fails when a critical-warning bit is set, its available spare is
// below its threshold, or it has used 100 % or more of its rated life.
bool SpareBelowThreshold(const HealthLog& log);
bool LifeUsedUp(const HealthLog& log);
bool HealthFailed(const HealthLog& log);

// "none", or the names of the set critical-warning bits joined by ", ".
std::string CriticalWarningText(std::uint8_t bits);
// A little-endian number of `width` bytes (at most 16 count).
Counter LittleEndian(const std::uint8_t* bytes, std::size_t width);
// The plain decimal digits of a counter.
std::string DecimalText(Counter value);
// Bytes of `units` data units, saturating at the largest double.
double DataUnitBytes(Counter units);

// One row of the attribute table for an NVMe drive. `id` is the field's
// byte offset in the health log, shown in hex like an ATA identifier.
struct HealthRow {
    std::uint8_t id = 0;
    const char* name = "";
    std::string threshold; // empty when the field has none
    std::string value;     // with its unit
    bool failed = false;
    // Changes of this field go to the drive's event log, as `logValue`
    // (plain digits). Counters that grow with ordinary use are not logged.
    bool logged = false;
    std::string logValue;
};
std::vector<HealthRow> HealthRows(const HealthLog& log, const ControllerLimits& limits);

} // namespace zentrova::nvme
