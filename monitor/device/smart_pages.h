// Layout of the SMART data and thresholds pages (ATA/ACS SMART READ DATA and
// the vendor-common thresholds page): 30 entries of 12 bytes from byte 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zentrova::device {

inline constexpr std::size_t kSmartPageSize = 512;
inline constexpr std::size_t kSmartEntryOffset = 2;
inline constexpr int kSmartEntryCount = 30;

struct ATASMARTAttributeStruct {
    std::uint8_t attributeId; // 0 marks an empty entry
    std::uint8_t flags[2];
    std::uint8_t current; // normalised value
    std::uint8_t worst;
    std::uint8_t rawvalue[6]; // least significant byte first
    std::uint8_t reserved;
};

struct ATASMARTThresholdsStruct {
    std::uint8_t attributeId;
    std::uint8_t ThresholdValue;
    std::uint8_t reserved[10];
};

static_assert(sizeof(ATASMARTAttributeStruct) == 12);
static_assert(sizeof(ATASMARTThresholdsStruct) == 12);
static_assert(kSmartEntryOffset + kSmartEntryCount * 12 <= kSmartPageSize);

// The entries of a page, read in place. Both structs are arrays of bytes, so
// any byte offset is suitably aligned.
inline const ATASMARTAttributeStruct* AttributeEntries(const std::uint8_t* page) {
    return reinterpret_cast<const ATASMARTAttributeStruct*>(page + kSmartEntryOffset);
}
inline const ATASMARTThresholdsStruct* ThresholdEntries(const std::uint8_t* page) {
    return reinterpret_cast<const ATASMARTThresholdsStruct*>(page + kSmartEntryOffset);
}

} // namespace zentrova::device
