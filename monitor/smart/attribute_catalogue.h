// Names and printed forms of SMART attributes. Pure lookup: no device access,
// no state beyond tables built once.
#pragma once

#include "device/device.h"
#include "device/smart_pages.h"

#include <QString>

#include <cstdint>

namespace zentrova::smart {

// The name the attribute table and the log show for an identifier on a drive
// whose known-drives row gives `option` for it. Identifier 0 (an empty slot)
// is the empty string.
const QString& AttributeName(std::uint8_t attributeId, std::int32_t option);

// Whether the name or the temperature rule of this identifier depends on the
// vendor option; for every other identifier the option is never needed.
bool DependsOnVendorOption(std::uint8_t attributeId);

// The vendor option of `attributeId` on `drive` (0 for no drive), asking the
// known-drives table only when the option can matter.
std::int32_t VendorOptionFor(const device::xDEV_INFO* drive, std::uint8_t attributeId);

// "%02X": the identifier as the attribute table shows it (09, C2).
const QString& AttributeIdText(std::uint8_t attributeId);
// "%d" of an unsigned byte: 0 to 255, never negative.
const QString& ByteText(std::uint8_t value);

} // namespace zentrova::smart
