// Layout of the two pages an NVMe drive is read by (the NVM Express base
// standard): the SMART / Health Information log page (log identifier
// 02h) and Identify Controller (CNS 01h), of which the monitor keeps the first
// 512 bytes. All fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zentrova::platform::nvme {

inline constexpr std::size_t kHealthLogSize = 512;
inline constexpr std::size_t kIdentifySize = 4096;
inline constexpr std::size_t kIdentifyKeptSize = 512;

struct Field {
    std::size_t offset;
    std::size_t width; // bytes
};

// SMART / Health Information log.
inline constexpr Field kCriticalWarning{0, 1};
inline constexpr Field kCompositeTemperature{1, 2}; // kelvin; 0 when not reported
inline constexpr Field kAvailableSpare{3, 1};       // percent
inline constexpr Field kAvailableSpareThreshold{4, 1};
inline constexpr Field kPercentageUsed{5, 1}; // may pass 100, up to 255
inline constexpr Field kDataUnitsRead{32, 16}; // units of 1000 x 512 bytes
inline constexpr Field kDataUnitsWritten{48, 16};
inline constexpr Field kHostReadCommands{64, 16};
inline constexpr Field kHostWriteCommands{80, 16};
inline constexpr Field kControllerBusyTime{96, 16}; // minutes
inline constexpr Field kPowerCycles{112, 16};
inline constexpr Field kPowerOnHours{128, 16};
inline constexpr Field kUnsafeShutdowns{144, 16};
inline constexpr Field kMediaErrors{160, 16};
inline constexpr Field kErrorLogEntries{176, 16};
inline constexpr Field kWarningTemperatureTime{192, 4}; // minutes
inline constexpr Field kCriticalTemperatureTime{196, 4};
inline constexpr Field kTemperatureSensor1{200, 2}; // sensors 1 to 8 follow, kelvin
inline constexpr int kTemperatureSensorCount = 8;
inline constexpr std::uint32_t kDataUnitBytes = 512'000;

// Critical warning bits.
inline constexpr std::uint8_t kWarnSpare = 0x01;
inline constexpr std::uint8_t kWarnTemperature = 0x02;
inline constexpr std::uint8_t kWarnReliability = 0x04;
inline constexpr std::uint8_t kWarnReadOnly = 0x08;
inline constexpr std::uint8_t kWarnVolatileBackup = 0x10;
inline constexpr std::uint8_t kWarnPersistentMemory = 0x20;

// Identify Controller.
inline constexpr Field kSerialNumber{4, 20}; // ASCII, padded with spaces
inline constexpr Field kModelNumber{24, 40};
inline constexpr Field kFirmwareRevision{64, 8};
inline constexpr Field kWarningTemperatureThreshold{266, 2}; // WCTEMP, kelvin; 0: none
inline constexpr Field kCriticalTemperatureThreshold{268, 2}; // CCTEMP, kelvin; 0: none

static_assert(kCriticalTemperatureThreshold.offset + 2 <= kIdentifyKeptSize);

} // namespace zentrova::platform::nvme
