// The protocol between the monitor and its drive helper zentrova-ata, on the
// helper's standard input and output: one request, then one answer.
//
// Every frame starts with the same 8-byte header, all numbers little-endian:
//   bytes 0-1  magic "ZA"
//   byte  2    version (kProtocolVersion)
//   byte  3    kind
//   bytes 4-7  payload length, checked against the kind's limit before a
//              single payload byte is read
// Requests:  kListRequest (no payload);
//            kCommandRequest: command (DiskCommand), form (16 or 12),
//            name length, name (a /sys/block name or an NVMe controller's,
//            never a path).
// Answers:   kListAnswer: error text (u16 length + bytes), count (u16), then
//            per disk: name (u8 length + bytes), flags (bit 0 has a device,
//            bit 1 has a SCSI type, bit 2 has a size, bit 3 an NVMe
//            controller, bit 4 has a sensor temperature), SCSI type (i32),
//            size (i64), parent subsystem (u8 length + bytes), sensor
//            temperature (i32, °C), model and firmware (each u8 length +
//            bytes);
//            kCommandAnswer: outcome (ata::Outcome), flags (bit 0 denied,
//            bit 1 refused), detail
//            (u16 length + bytes), then the 512-byte sector when the outcome
//            is Ok and the command reads one;
//            kErrorAnswer: one ErrorCode byte.
// A header the helper cannot trust (wrong magic or version, too long a
// payload) or a request cut short gets an error answer and ends the
// conversation, since the stream cannot be resynchronised; an unknown kind or
// a malformed payload gets an error answer and the helper waits for the next.
#pragma once

#include "platform/linux/disk_access.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zentrova::platform::helper {

// Moves exactly n bytes through `io` (a read, write, send or recv on one
// descriptor), going on after a signal; false at end of file or on an error,
// since a frame cut short cannot be used either way.
template <typename Byte, typename Io> bool MoveExactly(Byte* bytes, std::size_t n, Io io) {
    while (n > 0) {
        const auto moved = io(bytes, n);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0)
            return false;
        bytes += moved;
        n -= static_cast<std::size_t>(moved);
    }
    return true;
}

inline constexpr std::uint8_t kMagic0 = 'Z';
inline constexpr std::uint8_t kMagic1 = 'A';
// 2: the disk list carries NVMe controllers.
inline constexpr std::uint8_t kProtocolVersion = 2;
inline constexpr std::size_t kHeaderSize = 8;

inline constexpr std::uint8_t kListRequest = 0x01;
inline constexpr std::uint8_t kCommandRequest = 0x02;
inline constexpr std::uint8_t kListAnswer = 0x81;
inline constexpr std::uint8_t kCommandAnswer = 0x82;
inline constexpr std::uint8_t kErrorAnswer = 0xee;

inline constexpr std::uint32_t kMaxRequestPayload = 64;
inline constexpr std::uint32_t kMaxAnswerPayload = 64 * 1024;

enum class ErrorCode : std::uint8_t {
    BadHeader = 1, // wrong magic or version
    TooLong = 2,   // payload longer than the kind allows
    UnknownKind = 3,
    Malformed = 4, // payload of the wrong shape for its kind
    Truncated = 5, // the request ended before its last byte
};

using Bytes = std::vector<std::uint8_t>;

struct Header {
    std::uint8_t version = 0;
    std::uint8_t kind = 0;
    std::uint32_t length = 0;
};

// The header's fields, or nullopt when the magic is wrong.
std::optional<Header> ParseHeader(const std::uint8_t* bytes);
Bytes Frame(std::uint8_t kind, const Bytes& payload);

Bytes EncodeListRequest();
Bytes EncodeCommandRequest(const std::string& name, DiskCommand command, ata::CdbForm form);

Bytes EncodeListAnswer(const std::vector<DiskFacts>& disks, const std::string& error);
Bytes EncodeCommandAnswer(const DiskAnswer& answer, DiskCommand command);
Bytes EncodeError(ErrorCode code);

// Client side: a payload of the given kind, checked to the last byte.
bool DecodeListAnswer(std::uint8_t kind, const Bytes& payload, std::vector<DiskFacts>* disks,
                      std::string* error);
bool DecodeCommandAnswer(std::uint8_t kind, const Bytes& payload, DiskCommand command,
                         DiskAnswer* answer);

// Reads exactly n bytes (false at the end of the stream or on an error);
// writes all n bytes (false when it could not).
using ReadExact = std::function<bool(std::uint8_t* out, std::size_t n)>;
using WriteAll = std::function<bool(const std::uint8_t* bytes, std::size_t n)>;

// The helper's whole conversation: answers requests until the stream ends,
// a header cannot be trusted or an answer cannot be written.
void Serve(const ReadExact& read, const WriteAll& write, DiskAccess& disks);

} // namespace zentrova::platform::helper
