#include "ata_helper_protocol.h"

#include <algorithm>

namespace zentrova::platform::helper {

namespace {

constexpr std::size_t kMaxDetail = 1024;
constexpr std::size_t kMaxListed = 1024;
constexpr std::uint8_t kFlagDevice = 0x01;
constexpr std::uint8_t kFlagType = 0x02;
constexpr std::uint8_t kFlagSize = 0x04;
constexpr std::uint8_t kFlagNvme = 0x08;
constexpr std::uint8_t kFlagSensor = 0x10;
constexpr std::uint8_t kFlagDenied = 0x01;
constexpr std::uint8_t kFlagRefused = 0x02;

class Writer {
  public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v) { Little(v, 2); }
    void U32(std::uint32_t v) { Little(v, 4); }
    void I32(std::int32_t v) { Little(static_cast<std::uint32_t>(v), 4); }
    void I64(std::int64_t v) { Little(static_cast<std::uint64_t>(v), 8); }
    void Text8(const std::string& s) {
        const std::size_t n = std::min<std::size_t>(s.size(), 255);
        U8(static_cast<std::uint8_t>(n));
        bytes.insert(bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    void Text16(const std::string& s) {
        const std::size_t n = std::min(s.size(), kMaxDetail);
        U16(static_cast<std::uint16_t>(n));
        bytes.insert(bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    Bytes bytes;

  private:
    void Little(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

// Every getter fails once the payload is exhausted; nothing is read past it.
class Reader {
  public:
    explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
    bool U8(std::uint8_t* v) { return Little(v, 1); }
    bool U16(std::uint16_t* v) { return Little(v, 2); }
    bool I32(std::int32_t* v) {
        std::uint32_t u = 0;
        if (!Little(&u, 4))
            return false;
        *v = static_cast<std::int32_t>(u);
        return true;
    }
    bool I64(std::int64_t* v) {
        std::uint64_t u = 0;
        if (!Little(&u, 8))
            return false;
        *v = static_cast<std::int64_t>(u);
        return true;
    }
    bool Text(std::size_t n, std::string* s) {
        if (bytes_.size() - pos_ < n)
            return false;
        s->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return true;
    }
    bool Text8(std::string* s) {
        std::uint8_t n = 0;
        return U8(&n) && Text(n, s);
    }
    bool Text16(std::string* s) {
        std::uint16_t n = 0;
        return U16(&n) && n <= kMaxDetail && Text(n, s);
    }
    bool Raw(std::uint8_t* out, std::size_t n) {
        if (bytes_.size() - pos_ < n)
            return false;
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out);
        pos_ += n;
        return true;
    }
    bool AtEnd() const { return pos_ == bytes_.size(); }

  private:
    template <typename T> bool Little(T* v, std::size_t n) {
        if (bytes_.size() - pos_ < n)
            return false;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < n; ++i)
            value |= static_cast<std::uint64_t>(bytes_[pos_ + i]) << (8 * i);
        pos_ += n;
        *v = static_cast<T>(value);
        return true;
    }
    const Bytes& bytes_;
    std::size_t pos_ = 0;
};

bool ValidCommand(std::uint8_t code) {
    return code >= static_cast<std::uint8_t>(DiskCommand::IdentifyDevice) &&
           code <= static_cast<std::uint8_t>(kLastDiskCommand);
}

std::uint8_t FormByte(ata::CdbForm form) {
    return form == ata::CdbForm::Twelve ? 12 : 16;
}

// The answer to one well-framed request.
Bytes Answer(const Header& header, const Bytes& payload, DiskAccess& disks) {
    Reader in(payload);
    if (header.kind == kListRequest) {
        if (!payload.empty())
            return EncodeError(ErrorCode::Malformed);
        std::string error;
        const std::vector<DiskFacts> list = disks.ListDisks(&error);
        return EncodeListAnswer(list, error);
    }
    if (header.kind != kCommandRequest)
        return EncodeError(ErrorCode::UnknownKind);
    std::uint8_t code = 0;
    std::uint8_t form = 0;
    std::string name;
    if (!in.U8(&code) || !in.U8(&form) || !in.Text8(&name) || !in.AtEnd() || !ValidCommand(code) ||
        (form != 16 && form != 12))
        return EncodeError(ErrorCode::Malformed);
    const auto command = static_cast<DiskCommand>(code);
    // The name is checked against /sys/block by the disk access itself, the
    // same check whichever road asked.
    const DiskAnswer answer =
        disks.Run(name, command, form == 12 ? ata::CdbForm::Twelve : ata::CdbForm::Sixteen);
    return EncodeCommandAnswer(answer, command);
}

} // namespace

std::optional<Header> ParseHeader(const std::uint8_t* bytes) {
    if (bytes[0] != kMagic0 || bytes[1] != kMagic1)
        return std::nullopt;
    Header header;
    header.version = bytes[2];
    header.kind = bytes[3];
    for (int i = 0; i < 4; ++i)
        header.length |= static_cast<std::uint32_t>(bytes[4 + i]) << (8 * i);
    return header;
}

Bytes Frame(std::uint8_t kind, const Bytes& payload) {
    Writer out;
    out.U8(kMagic0);
    out.U8(kMagic1);
    out.U8(kProtocolVersion);
    out.U8(kind);
    out.U32(static_cast<std::uint32_t>(payload.size()));
    out.bytes.insert(out.bytes.end(), payload.begin(), payload.end());
    return out.bytes;
}

Bytes EncodeListRequest() {
    return Frame(kListRequest, {});
}

Bytes EncodeCommandRequest(const std::string& name, DiskCommand command, ata::CdbForm form) {
    Writer out;
    out.U8(static_cast<std::uint8_t>(command));
    out.U8(FormByte(form));
    out.Text8(name);
    return Frame(kCommandRequest, out.bytes);
}

Bytes EncodeListAnswer(const std::vector<DiskFacts>& disks, const std::string& error) {
    Writer out;
    out.Text16(error);
    const std::size_t count = std::min(disks.size(), kMaxListed);
    out.U16(static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const DiskFacts& d = disks[i];
        out.Text8(d.name);
        out.U8(static_cast<std::uint8_t>(
            (d.hasDevice ? kFlagDevice : 0) | (d.scsiType ? kFlagType : 0) |
            (d.sizeBytes ? kFlagSize : 0) | (d.kind == DriveKind::Nvme ? kFlagNvme : 0) |
            (d.sensorCelsius ? kFlagSensor : 0)));
        out.I32(d.scsiType.value_or(0));
        out.I64(d.sizeBytes.value_or(0));
        out.Text8(d.parentSubsystem);
        out.I32(d.sensorCelsius.value_or(0));
        out.Text8(d.model);
        out.Text8(d.firmware);
    }
    return Frame(kListAnswer, out.bytes);
}

Bytes EncodeCommandAnswer(const DiskAnswer& answer, DiskCommand command) {
    Writer out;
    out.U8(static_cast<std::uint8_t>(answer.outcome));
    out.U8(static_cast<std::uint8_t>((answer.denied ? kFlagDenied : 0) |
                                     (answer.refused ? kFlagRefused : 0)));
    out.Text16(answer.detail);
    if (answer.ok() && ReadsSector(command))
        out.bytes.insert(out.bytes.end(), answer.page.begin(), answer.page.end());
    return Frame(kCommandAnswer, out.bytes);
}

Bytes EncodeError(ErrorCode code) {
    return Frame(kErrorAnswer, {static_cast<std::uint8_t>(code)});
}

bool DecodeListAnswer(std::uint8_t kind, const Bytes& payload, std::vector<DiskFacts>* disks,
                      std::string* error) {
    if (kind != kListAnswer)
        return false;
    Reader in(payload);
    std::uint16_t count = 0;
    if (!in.Text16(error) || !in.U16(&count))
        return false;
    disks->clear();
    for (std::uint16_t i = 0; i < count; ++i) {
        DiskFacts d;
        std::uint8_t flags = 0;
        std::int32_t type = 0;
        std::int64_t size = 0;
        std::int32_t sensor = 0;
        if (!in.Text8(&d.name) || !in.U8(&flags) || !in.I32(&type) || !in.I64(&size) ||
            !in.Text8(&d.parentSubsystem) || !in.I32(&sensor) || !in.Text8(&d.model) ||
            !in.Text8(&d.firmware) || !IsPlainDiskName(d.name))
            return false;
        d.hasDevice = (flags & kFlagDevice) != 0;
        d.kind = (flags & kFlagNvme) != 0 ? DriveKind::Nvme : DriveKind::Ata;
        if ((flags & kFlagSensor) != 0)
            d.sensorCelsius = sensor;
        if ((flags & kFlagType) != 0)
            d.scsiType = type;
        if ((flags & kFlagSize) != 0)
            d.sizeBytes = size;
        disks->push_back(std::move(d));
    }
    return in.AtEnd();
}

bool DecodeCommandAnswer(std::uint8_t kind, const Bytes& payload, DiskCommand command,
                         DiskAnswer* answer) {
    if (kind != kCommandAnswer)
        return false;
    Reader in(payload);
    std::uint8_t outcome = 0;
    std::uint8_t flags = 0;
    if (!in.U8(&outcome) || !in.U8(&flags) || !in.Text16(&answer->detail) ||
        outcome > static_cast<std::uint8_t>(ata::Outcome::ShortTransfer) ||
        (flags & ~(kFlagDenied | kFlagRefused)) != 0)
        return false;
    answer->outcome = static_cast<ata::Outcome>(outcome);
    answer->denied = (flags & kFlagDenied) != 0;
    answer->refused = (flags & kFlagRefused) != 0;
    answer->page.fill(0);
    if (answer->ok() && ReadsSector(command) && !in.Raw(answer->page.data(), answer->page.size()))
        return false;
    return in.AtEnd();
}

void Serve(const ReadExact& read, const WriteAll& write, DiskAccess& disks) {
    const auto send = [&](const Bytes& frame) { return write(frame.data(), frame.size()); };
    std::uint8_t raw[kHeaderSize];
    Bytes payload;
    payload.reserve(kMaxRequestPayload);
    for (;;) {
        // Nothing at all is the monitor going away: end without a word. A
        // header cut short is a request cut short.
        if (!read(raw, 1))
            return;
        if (!read(raw + 1, kHeaderSize - 1)) {
            send(EncodeError(ErrorCode::Truncated));
            return;
        }
        const std::optional<Header> header = ParseHeader(raw);
        if (!header || header->version != kProtocolVersion) {
            send(EncodeError(ErrorCode::BadHeader));
            return;
        }
        if (header->length > kMaxRequestPayload) {
            send(EncodeError(ErrorCode::TooLong));
            return;
        }
        payload.resize(header->length);
        if (header->length > 0 && !read(payload.data(), payload.size())) {
            send(EncodeError(ErrorCode::Truncated));
            return;
        }
        if (!send(Answer(*header, payload, disks)))
            return;
    }
}

} // namespace zentrova::platform::helper
