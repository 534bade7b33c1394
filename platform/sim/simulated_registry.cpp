#include "simulated_registry.h"

#include "platform/nvme_pages.h"
#include "platform/selftest_layout.h"
#include "simulated_selftest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <variant>
#include <vector>

namespace zentrova::platform {

namespace {

using json = nlohmann::json;
using Page = std::array<std::uint8_t, kSmartPageSize>;

constexpr std::size_t kEntryOffset = 2;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kEntryCount = 30;
constexpr std::size_t kRawBytes = 6;
// A description is a few kilobytes; the caps keep a wrong file (a disk image,
// a bracket bomb) from costing much memory before it is rejected.
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr int kMaxNesting = 64;
// Answered for a read into no buffer at all; real drives never see one.
constexpr int kNoPageStatus = -1;

static_assert(nvme::kHealthLogSize == kSmartPageSize && nvme::kIdentifyKeptSize == kSmartPageSize);

// The keys each object may hold. A drive's kind decides which of the
// kind-bound lists apply; a key of the other kind is named as such.
using Keys = std::span<const char* const>;
constexpr const char* kRootKeys[] = {"drives"};
constexpr const char* kDriveKeys[] = {"kind",           "bsdName",        "sizeBytes",
                                      "model",          "firmware",       "serial",
                                      "smartInterface", "readDataStatus", "readThresholdsStatus",
                                      "readings",       "selfTest"};
constexpr const char* kAtaDriveKeys[] = {"enableStatus"};
constexpr const char* kNvmeDriveKeys[] = {"warningTemperatureKelvin", "criticalTemperatureKelvin",
                                          "sensorCelsius"};
constexpr const char* kAtaReadingKeys[] = {"attributes", "dataPage", "thresholdsPage"};
constexpr const char* kNvmeReadingKeys[] = {"health", "healthPage"};
// A drive that can test itself; with "failingLba" every test fails there.
constexpr const char* kSelfTestKeys[] = {"shortMinutes", "extendedMinutes", "failingLba"};
constexpr const char* kAttributeKeys[] = {"id",  "flags",     "value",   "worst",
                                          "raw", "threshold", "rawStep", "every"};
// The largest count six raw bytes hold; a growing count stops there.
constexpr std::uint64_t kRawMax = (std::uint64_t{1} << 48) - 1;

// The named fields of an NVMe health log. The limits are the fields' own
// widths, except the spare, which the drive reports as a percentage; the
// 128-bit counters take what a JSON integer can hold.
struct HealthField {
    const char* key;
    nvme::Field field;
    std::uint64_t max;
};
constexpr std::uint64_t kCounterMax = std::numeric_limits<std::uint64_t>::max();
constexpr HealthField kHealthFields[] = {
    {"criticalWarning", nvme::kCriticalWarning, 0xff},
    {"compositeTemperatureKelvin", nvme::kCompositeTemperature, 0xffff},
    {"availableSpare", nvme::kAvailableSpare, 100},
    {"availableSpareThreshold", nvme::kAvailableSpareThreshold, 100},
    {"percentageUsed", nvme::kPercentageUsed, 0xff},
    {"dataUnitsRead", nvme::kDataUnitsRead, kCounterMax},
    {"dataUnitsWritten", nvme::kDataUnitsWritten, kCounterMax},
    {"hostReadCommands", nvme::kHostReadCommands, kCounterMax},
    {"hostWriteCommands", nvme::kHostWriteCommands, kCounterMax},
    {"controllerBusyMinutes", nvme::kControllerBusyTime, kCounterMax},
    {"powerCycles", nvme::kPowerCycles, kCounterMax},
    {"powerOnHours", nvme::kPowerOnHours, kCounterMax},
    {"unsafeShutdowns", nvme::kUnsafeShutdowns, kCounterMax},
    {"mediaErrors", nvme::kMediaErrors, kCounterMax},
    {"errorLogEntries", nvme::kErrorLogEntries, kCounterMax},
    {"warningTemperatureMinutes", nvme::kWarningTemperatureTime, 0xffffffff},
    {"criticalTemperatureMinutes", nvme::kCriticalTemperatureTime, 0xffffffff},
};
constexpr auto kHealthKeys = [] {
    std::array<const char*, std::size(kHealthFields)> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = kHealthFields[i].key;
    return keys;
}();
// What a kernel's sensor could plausibly say, in degrees Celsius.
constexpr std::int64_t kMinSensorCelsius = -273;
constexpr std::int64_t kMaxSensorCelsius = 1000;

// Little-endian, the rest of a wider field 0.
void PutNumber(Page& page, nvme::Field field, std::uint64_t value) {
    for (std::size_t i = 0; i < field.width && i < sizeof value; ++i)
        page[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// ASCII padded with spaces, cut to the field's width.
void PutText(Page& page, nvme::Field field, const std::string& text) {
    for (std::size_t i = 0; i < field.width; ++i)
        page[field.offset + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
}

// An attribute whose raw count grows by `step` after every `every` moves of
// the drive: a drive that starts reallocating while its verdict stays OK.
struct Growth {
    std::size_t entry = 0; // its place in the data page's list
    std::uint64_t step = 0;
    std::uint64_t every = 1;
};

struct Reading {
    Page data{};
    Page thresholds{};
    std::vector<Growth> growth;
};

// The entry's raw bytes as they stand after `moves` moves of the drive.
void Grow(std::uint8_t* page, const Growth& g, std::uint64_t moves) {
    std::uint8_t* raw = page + kEntryOffset + kEntrySize * g.entry + 5;
    std::uint64_t count = 0;
    for (std::size_t b = kRawBytes; b-- > 0;)
        count = (count << 8) | raw[b];
    const std::uint64_t times = moves / g.every;
    count = g.step != 0 && times > (kRawMax - count) / g.step ? kRawMax : count + g.step * times;
    for (std::size_t b = 0; b < kRawBytes; ++b)
        raw[b] = static_cast<std::uint8_t>(count >> (8 * b));
}

// What the commands of one drive answer. Shared by every handle made for the
// drive, so that they all see the same reading.
struct DriveState {
    // An NVMe controller's Identify Controller belongs to the drive, not to a
    // reading: every thresholds read answers it, even with no readings.
    std::optional<Page> identify;
    int enableStatus = 0;
    int readDataStatus = 0;
    int readThresholdsStatus = 0;
    std::vector<Reading> readings;
    std::size_t current = 0;
    std::uint64_t moves = 0; // thresholds reads so far: what growing counts follow
    std::optional<SimulatedSelfTest> selfTest;
};

struct DriveSpec {
    DriveKind kind = DriveKind::Ata;
    std::optional<int> sensorCelsius;
    bool smartInterface = true;
    std::optional<std::string> bsdName;
    std::optional<std::int64_t> sizeBytes;
    std::optional<std::string> model;
    std::optional<std::string> firmware;
    std::optional<std::string> serial;
    std::shared_ptr<DriveState> state = std::make_shared<DriveState>();
};

class SimulatedSmart final : public AtaSmartInterface {
  public:
    explicit SimulatedSmart(std::shared_ptr<DriveState> drive) : drive_(std::move(drive)) {}

    int SMARTEnableDisableOperations(bool) override { return drive_->enableStatus; }
    int SMARTReadData(std::uint8_t* page) override {
        const int status = Answer(page, &Reading::data, drive_->readDataStatus);
        if (status == 0 && page != nullptr && !drive_->readings.empty())
            for (const Growth& g : drive_->readings[drive_->current].growth)
                Grow(page, g, drive_->moves);
        if (status == 0 && drive_->selfTest)
            drive_->selfTest->Read(page);
        return status;
    }
    int SMARTExecuteSelfTest(SelfTestCommand command) override {
        return drive_->selfTest ? drive_->selfTest->Execute(command) : kNoSelfTests;
    }
    int SMARTReadSelfTestLog(std::uint8_t* page) override {
        if (!drive_->selfTest)
            return kNoSelfTests;
        if (page == nullptr)
            return kNoPageStatus;
        drive_->selfTest->LogPage(page);
        return 0;
    }
    // One thresholds read ends a poll, so the drive moves on to its next
    // reading here, whether or not the read succeeded; the last one stays.
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        const int status = drive_->identify
                               ? AnswerPage(page, &*drive_->identify, drive_->readThresholdsStatus)
                               : Answer(page, &Reading::thresholds, drive_->readThresholdsStatus);
        if (drive_->current + 1 < drive_->readings.size())
            ++drive_->current;
        ++drive_->moves;
        return status;
    }

  private:
    // A failing command leaves the caller's page as it was.
    int Answer(std::uint8_t* out, Page Reading::*which, int status) const {
        return AnswerPage(
            out, drive_->readings.empty() ? nullptr : &(drive_->readings[drive_->current].*which),
            status);
    }
    // No page to give: zeros.
    static int AnswerPage(std::uint8_t* out, const Page* page, int status) {
        if (status != 0)
            return status;
        if (out == nullptr)
            return kNoPageStatus;
        if (page == nullptr)
            std::memset(out, 0, kSmartPageSize);
        else
            std::memcpy(out, page->data(), kSmartPageSize);
        return 0;
    }

    std::shared_ptr<DriveState> drive_;
};

// Messages carry parts of the file (keys, what the JSON reader last saw);
// keep the terminal safe from whatever bytes those hold.
std::string Printable(const std::string& text, std::size_t limit = 200) {
    std::string out;
    for (const char c : text) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7f) ? c : '?';
    }
    return out;
}

void Report(const std::string& file, int line, const std::string& what) {
    if (line > 0)
        std::fprintf(stderr, "zentrova: %s:%d: %s\n", file.c_str(), line, Printable(what).c_str());
    else
        std::fprintf(stderr, "zentrova: %s: %s\n", file.c_str(), Printable(what).c_str());
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    // A FIFO or a device would block open() or read() forever; O_NONBLOCK
    // gets the open through, and fstat on what was opened (not a stat before
    // it, which a rename could outrun) turns it away. Regular files ignore
    // the flag.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool statted = ::fstat(fd, &info) == 0;
    if (!statted || !S_ISREG(info.st_mode)) {
        error =
            std::string("cannot read: ") + (statted ? "not a regular file" : std::strerror(errno));
        ::close(fd);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::string("cannot read: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
            error = "larger than " + std::to_string(kMaxFileBytes / (1024 * 1024)) +
                    " MiB: not a drive description";
            ok = false;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

std::size_t LineAt(const std::string& text, std::size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// Where a value sits in the file. The JSON reader keeps no positions, so an
// error found after parsing walks the text again along the value's path.
using Step = std::variant<std::string, std::size_t>;
using Path = std::vector<Step>;

Path Append(Path path, Step step) {
    path.push_back(std::move(step));
    return path;
}

class TextWalker {
  public:
    explicit TextWalker(const std::string& text) : t_(text) {}

    // Offset of the value at `path` in text the JSON reader accepted, or npos.
    // Of repeated keys the last counts, as it does for the reader.
    std::size_t Find(const Path& path) {
        p_ = t_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        Spaces();
        for (const Step& step : path) {
            if (const auto* index = std::get_if<std::size_t>(&step)) {
                if (!Expect('['))
                    return std::string::npos;
                for (std::size_t i = 0; i < *index; ++i)
                    if (!SkipValue() || !Expect(','))
                        return std::string::npos;
            } else if (!FindMember(std::get<std::string>(step))) {
                return std::string::npos;
            }
        }
        return p_;
    }

  private:
    bool At(char c) const { return p_ < t_.size() && t_[p_] == c; }
    void Spaces() {
        while (p_ < t_.size() && std::strchr(" \t\r\n", t_[p_]) != nullptr && t_[p_] != '\0')
            ++p_;
    }
    bool Expect(char c) {
        if (!At(c))
            return false;
        ++p_;
        Spaces();
        return true;
    }
    bool SkipString() {
        for (++p_; p_ < t_.size(); ++p_) {
            if (t_[p_] == '\\')
                ++p_;
            else if (t_[p_] == '"')
                return ++p_, true;
        }
        return false;
    }
    // Iterative, so that no nesting depth can exhaust the stack.
    bool SkipValue() {
        if (At('"')) {
            if (!SkipString())
                return false;
        } else if (At('{') || At('[')) {
            int depth = 0;
            while (p_ < t_.size()) {
                const char c = t_[p_];
                if (c == '"') {
                    if (!SkipString())
                        return false;
                    continue;
                }
                ++p_;
                if (c == '{' || c == '[')
                    ++depth;
                else if ((c == '}' || c == ']') && --depth == 0)
                    break;
            }
            if (depth != 0)
                return false;
        } else {
            while (p_ < t_.size() && std::strchr(",]} \t\r\n", t_[p_]) == nullptr)
                ++p_;
        }
        Spaces();
        return true;
    }
    bool FindMember(const std::string& key) {
        if (!Expect('{'))
            return false;
        std::size_t found = std::string::npos;
        while (At('"')) {
            const std::size_t start = p_;
            if (!SkipString())
                return false;
            const json name = json::parse(t_.substr(start, p_ - start), nullptr, false);
            Spaces();
            if (!Expect(':'))
                return false;
            if (name.is_string() && name.get_ref<const std::string&>() == key)
                found = p_;
            if (!SkipValue())
                return false;
            if (!At(','))
                break;
            Expect(',');
        }
        p_ = found;
        return found != std::string::npos;
    }

    const std::string& t_;
    std::size_t p_ = 0;
};

// The reader itself has no depth limit; a cheap count of brackets outside
// strings keeps absurd nesting away from it. Answers the offset of the first
// bracket past the limit, or npos.
std::size_t TooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxNesting)
                return i;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return std::string::npos;
}

// Turns the parsed document into drives, or names the first fault it finds.
class DescriptionReader {
  public:
    explicit DescriptionReader(const std::string& text) : text_(text) {}

    bool Read(const json& root, std::vector<DriveSpec>& drives) {
        if (!root.is_object())
            return Fail({}, "the file must hold an object with a \"drives\" list");
        if (!KnownKeys(root, {}, {kRootKeys}))
            return false;
        if (!root.contains("drives"))
            return Fail({}, "\"drives\" is missing");
        const json& list = root["drives"];
        if (!list.is_array())
            return Fail({"drives"}, "\"drives\" must be a list of drives");
        for (std::size_t i = 0; i < list.size(); ++i) {
            DriveSpec drive;
            if (!ReadDrive(list[i], Path{"drives", i}, drive))
                return false;
            drives.push_back(std::move(drive));
        }
        return true;
    }

    std::size_t line() const { return line_; }
    const std::string& message() const { return message_; }

  private:
    bool ReadDrive(const json& v, const Path& at, DriveSpec& drive) {
        if (!v.is_object())
            return Fail(at, "a drive must be an object");
        if (!Kind(v, at, drive.kind))
            return false;
        const bool nvme = drive.kind == DriveKind::Nvme;
        if (!KnownKeys(v, at, {kDriveKeys, nvme ? Keys(kNvmeDriveKeys) : Keys(kAtaDriveKeys)},
                       nvme ? Keys(kAtaDriveKeys) : Keys(kNvmeDriveKeys), nvme))
            return false;
        if (!OptionalString(v, at, "bsdName", drive.bsdName) ||
            !OptionalString(v, at, "model", drive.model) ||
            !OptionalString(v, at, "firmware", drive.firmware) ||
            !OptionalString(v, at, "serial", drive.serial))
            return false;
        if (v.contains("sizeBytes")) {
            std::int64_t size = 0;
            if (!Integer(v, at, "sizeBytes", 0, std::numeric_limits<std::int64_t>::max(), size))
                return false;
            drive.sizeBytes = size;
        }
        if (v.contains("smartInterface")) {
            if (!v["smartInterface"].is_boolean())
                return Fail(Append(at, "smartInterface"),
                            "\"smartInterface\" must be true or false");
            drive.smartInterface = v["smartInterface"].get<bool>();
        }
        DriveState& state = *drive.state;
        if (!Status(v, at, "enableStatus", state.enableStatus) ||
            !Status(v, at, "readDataStatus", state.readDataStatus) ||
            !Status(v, at, "readThresholdsStatus", state.readThresholdsStatus))
            return false;
        if (nvme && !ReadController(v, at, drive))
            return false;
        if (v.contains("selfTest") && !ReadSelfTest(v["selfTest"], Append(at, "selfTest"), drive))
            return false;
        if (!v.contains("readings"))
            return true;
        const json& readings = v["readings"];
        const Path readingsAt = Append(at, "readings");
        if (!readings.is_array())
            return Fail(readingsAt, "\"readings\" must be a list of readings");
        for (std::size_t i = 0; i < readings.size(); ++i) {
            Reading reading;
            if (!ReadReading(readings[i], Append(readingsAt, i), nvme, reading))
                return false;
            state.readings.push_back(reading);
        }
        return true;
    }

    bool Kind(const json& v, const Path& at, DriveKind& kind) {
        if (!v.contains("kind"))
            return true;
        const json& name = v["kind"];
        if (name != "ata" && name != "nvme")
            return Fail(Append(at, "kind"), "\"kind\" must be \"ata\" or \"nvme\"");
        kind = name == "nvme" ? DriveKind::Nvme : DriveKind::Ata;
        return true;
    }

    // The drive's Identify Controller, the same for all its readings, and
    // the sensor that stands in for its health log.
    bool ReadController(const json& v, const Path& at, DriveSpec& drive) {
        std::uint64_t warning = 0, critical = 0;
        if (!Unsigned(v, at, "warningTemperatureKelvin", 0xffff, warning) ||
            !Unsigned(v, at, "criticalTemperatureKelvin", 0xffff, critical))
            return false;
        if (v.contains("sensorCelsius")) {
            std::int64_t celsius = 0;
            if (!Integer(v, at, "sensorCelsius", kMinSensorCelsius, kMaxSensorCelsius, celsius))
                return false;
            drive.sensorCelsius = static_cast<int>(celsius);
        }
        Page& page = drive.state->identify.emplace();
        PutText(page, nvme::kSerialNumber, drive.serial.value_or(""));
        PutText(page, nvme::kModelNumber, drive.model.value_or(""));
        PutText(page, nvme::kFirmwareRevision, drive.firmware.value_or(""));
        PutNumber(page, nvme::kWarningTemperatureThreshold, warning);
        PutNumber(page, nvme::kCriticalTemperatureThreshold, critical);
        return true;
    }

    bool ReadSelfTest(const json& v, const Path& at, DriveSpec& drive) {
        if (!v.is_object())
            return Fail(at, "\"selfTest\" must be an object");
        std::uint64_t shortMinutes = 2, extendedMinutes = 60, lba = 0;
        if (!KnownKeys(v, at, {kSelfTestKeys}) ||
            !Unsigned(v, at, "shortMinutes", 0xff, shortMinutes) ||
            !Unsigned(v, at, "extendedMinutes", 0xffff, extendedMinutes) ||
            !Unsigned(v, at, "failingLba", 0x0fffffff, lba))
            return false;
        // An NVMe drive says so in Identify Controller: OACS bit 4, EDSTT.
        if (drive.state->identify) {
            (*drive.state->identify)[selftest::kOacsByte] |= selftest::kOacsSelfTest;
            PutNumber(*drive.state->identify, nvme::Field{selftest::kExtendedTimeWord, 2},
                      extendedMinutes);
        }
        drive.state->selfTest.emplace(
            drive.kind, static_cast<int>(shortMinutes), static_cast<int>(extendedMinutes),
            v.contains("failingLba") ? std::optional<std::uint32_t>(lba) : std::nullopt);
        return true;
    }

    bool ReadReading(const json& v, const Path& at, bool nvme, Reading& reading) {
        if (!v.is_object())
            return Fail(at, "a reading must be an object");
        if (!KnownKeys(v, at, {nvme ? Keys(kNvmeReadingKeys) : Keys(kAtaReadingKeys)},
                       nvme ? Keys(kAtaReadingKeys) : Keys(kNvmeReadingKeys), nvme))
            return false;
        if (nvme)
            return ReadHealth(v, at, reading.data);
        const bool hasData = v.contains("dataPage");
        const bool hasThresholds = v.contains("thresholdsPage");
        if (v.contains("attributes")) {
            if (hasData || hasThresholds)
                return Fail(Append(at, hasData ? "dataPage" : "thresholdsPage"),
                            "a reading has either \"attributes\" or the two pages, not both");
            return ReadAttributes(v["attributes"], Append(at, "attributes"), reading);
        }
        if (!hasData && !hasThresholds)
            return Fail(at, "a reading needs \"attributes\", or \"dataPage\" and "
                            "\"thresholdsPage\"");
        if (!hasData)
            return Fail(at, "\"dataPage\" is missing");
        if (!hasThresholds)
            return Fail(at, "\"thresholdsPage\" is missing");
        return HexPage(v, at, "dataPage", reading.data) &&
               HexPage(v, at, "thresholdsPage", reading.thresholds);
    }

    bool ReadHealth(const json& v, const Path& at, Page& page) {
        const bool hasFields = v.contains("health");
        if (hasFields && v.contains("healthPage"))
            return Fail(Append(at, "healthPage"),
                        "a reading has either \"health\" or \"healthPage\", not both");
        if (!hasFields && !v.contains("healthPage"))
            return Fail(at, "a reading of an NVMe drive needs \"health\" or \"healthPage\"");
        if (!hasFields)
            return HexPage(v, at, "healthPage", page);
        const json& fields = v["health"];
        const Path fieldsAt = Append(at, "health");
        if (!fields.is_object())
            return Fail(fieldsAt, "\"health\" must be an object of health log fields");
        if (!KnownKeys(fields, fieldsAt, {kHealthKeys}))
            return false;
        for (const HealthField& f : kHealthFields) {
            std::uint64_t value = 0;
            if (!Unsigned(fields, fieldsAt, f.key, f.max, value))
                return false;
            PutNumber(page, f.field, value);
        }
        return true;
    }

    bool ReadAttributes(const json& list, const Path& at, Reading& reading) {
        if (!list.is_array())
            return Fail(at, "\"attributes\" must be a list of attributes");
        if (list.size() > kEntryCount)
            return Fail(Append(at, kEntryCount), "more than 30 attributes: a page holds 30");
        for (std::size_t i = 0; i < list.size(); ++i) {
            const json& v = list[i];
            const Path entryAt = Append(at, i);
            if (!v.is_object())
                return Fail(entryAt, "an attribute must be an object");
            if (!KnownKeys(v, entryAt, {kAttributeKeys}))
                return false;
            std::int64_t id = 0, flags = 0, value = 0, worst = 0, threshold = 0;
            if (!Integer(v, entryAt, "id", 0, 255, id, true) ||
                !Integer(v, entryAt, "value", 0, 255, value, true) ||
                !Integer(v, entryAt, "worst", 0, 255, worst, true) ||
                !Integer(v, entryAt, "threshold", 0, 255, threshold, true) ||
                !Integer(v, entryAt, "flags", 0, 65535, flags))
                return false;
            std::array<std::uint8_t, kRawBytes> raw{};
            if (v.contains("raw") && !Raw(v["raw"], Append(entryAt, "raw"), raw))
                return false;
            if (!ReadGrowth(v, entryAt, i, reading))
                return false;

            std::uint8_t* data = reading.data.data() + kEntryOffset + kEntrySize * i;
            data[0] = static_cast<std::uint8_t>(id);
            data[1] = static_cast<std::uint8_t>(flags & 0xff);
            data[2] = static_cast<std::uint8_t>(flags >> 8);
            data[3] = static_cast<std::uint8_t>(value);
            data[4] = static_cast<std::uint8_t>(worst);
            std::copy(raw.begin(), raw.end(), data + 5);
            std::uint8_t* limit = reading.thresholds.data() + kEntryOffset + kEntrySize * i;
            limit[0] = static_cast<std::uint8_t>(id);
            limit[1] = static_cast<std::uint8_t>(threshold);
        }
        return true;
    }

    // "rawStep" and "every": the raw count grows as the drive is read.
    bool ReadGrowth(const json& v, const Path& at, std::size_t entry, Reading& reading) {
        if (!v.contains("rawStep")) {
            if (v.contains("every"))
                return Fail(Append(at, "every"), "\"every\" needs a \"rawStep\"");
            return true;
        }
        std::uint64_t step = 0, every = 1;
        if (!Unsigned(v, at, "rawStep", kRawMax, step) || !Unsigned(v, at, "every", 65535, every))
            return false;
        if (every == 0)
            return Fail(Append(at, "every"), RangeText("every", "1", "65535"));
        reading.growth.push_back({entry, step, every});
        return true;
    }

    bool Raw(const json& v, const Path& at, std::array<std::uint8_t, kRawBytes>& raw) {
        if (!v.is_array())
            return Fail(at, "\"raw\" must be a list of up to six bytes, least significant first");
        if (v.size() > kRawBytes)
            return Fail(Append(at, kRawBytes), "\"raw\" holds more than six bytes");
        for (std::size_t i = 0; i < v.size(); ++i) {
            const std::optional<std::int64_t> byte = InRange(v[i], 0, 255);
            if (!byte)
                return Fail(Append(at, i), "byte " + std::to_string(i + 1) +
                                               " of \"raw\" must be an integer from 0 to 255");
            raw[i] = static_cast<std::uint8_t>(*byte);
        }
        return true;
    }

    bool HexPage(const json& v, const Path& at, const char* key, Page& page) {
        const json& hex = v[key];
        const Path pageAt = Append(at, key);
        const std::string expected = std::string("\"") + key + "\" must be a string of " +
                                     std::to_string(2 * kSmartPageSize) +
                                     " hexadecimal digits (512 bytes)";
        if (!hex.is_string())
            return Fail(pageAt, expected);
        const std::string& digits = hex.get_ref<const std::string&>();
        if (digits.size() != 2 * kSmartPageSize)
            return Fail(pageAt,
                        expected + ", not " + std::to_string(digits.size()) + " characters");
        for (std::size_t i = 0; i < kSmartPageSize; ++i) {
            const int high = HexDigit(digits[2 * i]);
            const int low = HexDigit(digits[2 * i + 1]);
            if (high < 0 || low < 0)
                return Fail(pageAt, expected + ": character " +
                                        std::to_string(2 * i + (high < 0 ? 1 : 2)) +
                                        " is not a hexadecimal digit");
            page[i] = static_cast<std::uint8_t>(high * 16 + low);
        }
        return true;
    }

    static int HexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    static std::optional<std::int64_t> InRange(const json& v, std::int64_t lo, std::int64_t hi) {
        if (v.is_number_unsigned()) {
            const auto u = v.get<std::uint64_t>();
            if (hi >= 0 && u <= static_cast<std::uint64_t>(hi) &&
                static_cast<std::int64_t>(u) >= lo)
                return static_cast<std::int64_t>(u);
            return std::nullopt;
        }
        if (v.is_number_integer()) {
            const auto s = v.get<std::int64_t>();
            if (s >= lo && s <= hi)
                return s;
        }
        return std::nullopt;
    }

    bool Integer(const json& object, const Path& at, const char* key, std::int64_t lo,
                 std::int64_t hi, std::int64_t& out, bool required = false) {
        if (!object.contains(key)) {
            if (required)
                return Fail(at, std::string("\"") + key + "\" is missing");
            return true;
        }
        const std::optional<std::int64_t> value = InRange(object[key], lo, hi);
        if (!value)
            return Fail(Append(at, key), RangeText(key, std::to_string(lo), std::to_string(hi)));
        out = *value;
        return true;
    }

    // For fields wider than a signed 64-bit integer holds; 0 when absent.
    bool Unsigned(const json& object, const Path& at, const char* key, std::uint64_t hi,
                  std::uint64_t& out) {
        if (!object.contains(key))
            return true;
        const json& v = object[key];
        if (!v.is_number_unsigned() || v.get<std::uint64_t>() > hi)
            return Fail(Append(at, key), RangeText(key, "0", std::to_string(hi)));
        out = v.get<std::uint64_t>();
        return true;
    }

    static std::string RangeText(const char* key, const std::string& lo, const std::string& hi) {
        return std::string("\"") + key + "\" must be an integer from " + lo + " to " + hi;
    }

    bool Status(const json& object, const Path& at, const char* key, int& out) {
        std::int64_t status = 0;
        if (!Integer(object, at, key, INT_MIN, INT_MAX, status))
            return false;
        out = static_cast<int>(status);
        return true;
    }

    bool OptionalString(const json& object, const Path& at, const char* key,
                        std::optional<std::string>& out) {
        if (!object.contains(key))
            return true;
        const json& v = object[key];
        if (!v.is_string())
            return Fail(Append(at, key), std::string("\"") + key + "\" must be a string");
        out = v.get<std::string>();
        return true;
    }

    // A misspelt key would otherwise be dropped without a word and the drive
    // would quietly behave differently from what its author wrote. "comment"
    // is welcome anywhere. A key of the other kind of drive (`otherKind`)
    // most likely means a missing or wrong "kind", so the message says so.
    bool KnownKeys(const json& object, const Path& at, std::initializer_list<Keys> known,
                   Keys otherKind = {}, bool nvme = false) {
        const auto in = [](Keys keys, const std::string& key) {
            return std::any_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; });
        };
        for (const auto& item : object.items()) {
            const std::string& key = item.key();
            if (key == "comment" ||
                std::any_of(known.begin(), known.end(), [&](Keys keys) { return in(keys, key); }))
                continue;
            if (!in(otherKind, key))
                return Fail(Append(at, key), "unknown key \"" + key + "\"");
            return Fail(Append(at, key),
                        "\"" + key +
                            (nvme ? "\" is for ATA drives, and this one is \"kind\": \"nvme\""
                                  : "\" is for NVMe drives: the drive needs \"kind\": \"nvme\""));
        }
        return true;
    }

    // "drive 2, reading 1, attribute 3: " for a value inside that attribute.
    static std::string Context(const Path& at) {
        std::string out;
        for (std::size_t i = 0; i + 1 < at.size(); ++i) {
            const auto* key = std::get_if<std::string>(&at[i]);
            const auto* index = std::get_if<std::size_t>(&at[i + 1]);
            if (key == nullptr || index == nullptr)
                continue;
            const char* noun = *key == "drives"       ? "drive"
                               : *key == "readings"   ? "reading"
                               : *key == "attributes" ? "attribute"
                                                      : nullptr;
            if (noun == nullptr || (*key == "attributes" && *index >= kEntryCount))
                continue;
            out += (out.empty() ? "" : ", ") + std::string(noun) + " " + std::to_string(*index + 1);
        }
        return out.empty() ? out : out + ": ";
    }

    bool Fail(const Path& at, const std::string& what) {
        const std::size_t offset = TextWalker(text_).Find(at);
        line_ = offset == std::string::npos ? 0 : LineAt(text_, offset);
        message_ = Context(at) + what;
        return false;
    }

    const std::string& text_;
    std::size_t line_ = 0;
    std::string message_;
};

// The line of a syntax error that the reader reports `bytesRead` characters in;
// an error at the end of the input belongs to the last line that holds text.
std::size_t SyntaxErrorLine(const std::string& text, std::size_t bytesRead) {
    if (bytesRead > 0 && bytesRead <= text.size())
        return LineAt(text, bytesRead - 1);
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return last == std::string::npos ? 1 : LineAt(text, last);
}

// "parse error at line 3, column 0: syntax error ..." without the position,
// which the reader counts differently from us.
std::string SyntaxErrorText(const json::parse_error& e) {
    const std::string what = e.what();
    const std::size_t column = what.find("column ");
    const std::size_t colon = what.find(": ", column == std::string::npos ? 0 : column);
    return "not valid JSON: " + (colon == std::string::npos ? what : what.substr(colon + 2));
}

bool LoadDrives(const std::string& file, std::vector<DriveSpec>& drives) {
    std::string text;
    std::string error;
    if (!ReadWholeFile(file, text, error)) {
        Report(file, 0, error);
        return false;
    }
    if (const std::size_t deep = TooDeep(text); deep != std::string::npos) {
        Report(file, static_cast<int>(LineAt(text, deep)),
               "nested more than " + std::to_string(kMaxNesting) + " levels deep");
        return false;
    }
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        Report(file, static_cast<int>(SyntaxErrorLine(text, e.byte)), SyntaxErrorText(e));
        return false;
    }
    DescriptionReader reader(text);
    if (!reader.Read(root, drives)) {
        Report(file, static_cast<int>(reader.line()), reader.message());
        return false;
    }
    return true;
}

} // namespace

std::vector<BlockStorageService> SimulatedRegistry::BlockStorageServices() {
    std::vector<BlockStorageService> services;
    try {
        std::vector<DriveSpec> drives;
        if (!LoadDrives(path_, drives))
            return {};
        for (DriveSpec& drive : drives) {
            BlockStorageService service;
            if (drive.smartInterface)
                service.smartInterface = std::make_unique<SimulatedSmart>(drive.state);
            service.bsdName = std::move(drive.bsdName);
            service.sizeBytes = drive.sizeBytes;
            service.deviceModel = std::move(drive.model);
            service.deviceRevision = std::move(drive.firmware);
            service.deviceSerial = std::move(drive.serial);
            service.kind = drive.kind;
            service.sensorCelsius = drive.sensorCelsius;
            services.push_back(std::move(service));
        }
    } catch (const std::exception& e) {
        // Only memory exhaustion can get here; no half-built list escapes.
        Report(path_, 0, e.what());
        return {};
    }
    return services;
}

} // namespace zentrova::platform
