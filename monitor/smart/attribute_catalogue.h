// Names and printed forms of SMART attributes. Pure lookup: no device access,
// no state beyond tables built once.
#pragma once

#include "device/device.h"
#include "device/smart_pages.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
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

// A fixed-size text field of the device record, read no further than its end
// even when the drive filled it to the last byte.
template <std::size_t N> QByteArray FieldBytes(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return QByteArray(field, static_cast<qsizetype>(n));
}

// "%02X": the identifier as the attribute table shows it (09, C2).
const QString& AttributeIdText(std::uint8_t attributeId);
// "%d" of an unsigned byte: 0 to 255, never negative.
const QString& ByteText(std::uint8_t value);

} // namespace zentrova::smart
