// Where a drive keeps what it says of its self-tests (ATA/ACS SMART READ DATA
// and SMART self-test log 06h; NVM Express Identify Controller and Device
// Self-test log 06h), for the decoder that reads it and the simulated drives
// that write it. Numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zentrova::platform::selftest {

// SMART data page.
inline constexpr std::size_t kExecutionStatusByte = 363; // status nibble, tens remaining
inline constexpr std::size_t kOfflineCapabilityByte = 367;
inline constexpr std::uint8_t kOfflineImmediateBit = 0x01;
inline constexpr std::uint8_t kSelfTestSupportedBit = 0x10;
inline constexpr std::size_t kShortMinutesByte = 372;
// Saturates at FFh for a long test, which then gives its minutes in the word.
inline constexpr std::size_t kExtendedMinutesByte = 373;
inline constexpr std::size_t kExtendedMinutesWord = 375;

// SMART self-test log: 21 descriptors in a circular buffer; the index byte
// names the newest (1 to 21, 0 none). A descriptor: subcommand, status byte,
// power-on hours (2 bytes), checkpoint, failing LBA (28 bits in 4 bytes).
inline constexpr std::size_t kAtaDescriptorCount = 21;
inline constexpr std::size_t kAtaDescriptorSize = 24;
inline constexpr std::size_t kAtaFirstDescriptor = 2;
inline constexpr std::size_t kAtaHoursOffset = 2;
inline constexpr std::size_t kAtaLbaOffset = 5;
inline constexpr std::size_t kAtaIndexByte = 508;
inline constexpr std::uint32_t kAtaNoLba = 0x0fffffff;

// Identify Controller: OACS and EDSTT (minutes).
inline constexpr std::size_t kOacsByte = 256;
inline constexpr std::uint8_t kOacsSelfTest = 0x10;
inline constexpr std::size_t kExtendedTimeWord = 316;

// Device Self-test log: the running operation and its completion, then 20
// results newest first. A result: code and result nibbles, segment, valid
// diagnostic bits, power-on hours (8 bytes at 4), failing LBA (8 bytes at 16).
inline constexpr std::size_t kNvmeLogSize = 564;
inline constexpr std::size_t kNvmeFirstEntry = 4;
inline constexpr std::size_t kNvmeEntrySize = 28;
inline constexpr std::size_t kNvmeEntryCount = 20;
inline constexpr std::size_t kNvmeHoursOffset = 4;
inline constexpr std::size_t kNvmeLbaOffset = 16;
inline constexpr std::uint8_t kNvmeUnusedEntry = 0x0f;
inline constexpr std::uint8_t kNvmeFailingLbaValid = 0x02;

} // namespace zentrova::platform::selftest
