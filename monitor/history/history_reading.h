// A drive's fresh pages as one reading of the history: its identity, its
// temperature by the evaluation's rule, and every attribute (ATA) or health
// field (NVMe) with its raw bytes.
#pragma once

#include "device/device.h"
#include "history/history_store.h"

#include <QString>

#include <cstdint>

namespace zentrova::history {

// Model, firmware and serial (when the drive reported one; the record's
// driveSerial, szSerialNum staying empty) without the padding: never the
// drive's place in the list.
Identity IdentityOf(const device::xDEV_INFO& drive);

Reading ReadingOf(const device::xDEV_INFO& drive, const std::uint8_t* dataPage,
                  const std::uint8_t* thresholdsPage, std::int64_t takenMs);

// The name the drive page gives an entry of this kind on this drive.
QString EntryName(Kind kind, const Identity& drive, std::uint8_t id);

// The raw bytes as a decimal number (up to 128 bits).
std::string RawDecimal(const std::vector<std::uint8_t>& raw);
// The raw bytes as a number for a plot; large counters lose their last digits.
double RawNumber(const std::vector<std::uint8_t>& raw);

} // namespace zentrova::history
