// Per-drive settings mirrors and poll marks, one slot per drive index.
#pragma once

#include "device/device.h"

#include <cstdint>

namespace zentrova::settings {

struct SettingsGlobals {
    std::int32_t gnCriticaltemp[device::kMaxDrives] = {};
    std::uint8_t gbCriticalTempEnable[device::kMaxDrives] = {};
    std::uint8_t gbCheckLog[device::kMaxDrives] = {};
    // Set by a drive's timer so that the selection it causes reads the drive.
    std::uint8_t bPoll[device::kMaxDrives] = {};
};

inline SettingsGlobals settings;

inline void ResetSettingsGlobalsForTest() {
    settings = SettingsGlobals{};
}

} // namespace zentrova::settings
