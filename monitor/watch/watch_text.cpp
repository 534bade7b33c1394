#include "watch/watch_text.h"

#include "device/device.h"
#include "device/knowndrives.h"
#include "history/history_reading.h"
#include "watch/watch_rules.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace zentrova::watch {

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm Local(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm t{};
    localtime_r(&seconds, &t);
    return t;
}

std::string N(std::uint64_t n) {
    return std::to_string(n);
}

// "1 sector", "3 sectors".
std::string Count(std::uint64_t n, std::string_view one, std::string_view many) {
    return N(n) + " " + std::string(n == 1 ? one : many);
}

// The sentences, one per rule: d is the growth this week, n the count now.
std::string Active(const Finding& f) {
    const std::string_view reason = f.rule->reason;
    const std::uint64_t n = f.count;
    const std::uint64_t d = f.count > f.before ? f.count - f.before : 0;
    const std::string all = " this week (" + N(n) + " in all).";
    if (reason == "pending_sectors")
        return Count(n, "sector", "sectors") +
               (n == 1 ? " could not be read and waits" : " could not be read and wait") +
               " to be replaced. Data in " + (n == 1 ? "it" : "them") +
               " may be lost: back up now and run an extended self-test.";
    if (reason == "offline_uncorrectable")
        return "The drive's own scan found " + Count(n, "sector", "sectors") +
               " it cannot read. Back up now and run an extended self-test; if the count grows, "
               "replace the drive.";
    if (reason == "reported_uncorrectable")
        return "The drive failed " + Count(n, "read", "reads") +
               " because it could not correct the data. Back up now and keep an eye on this drive.";
    if (reason == "reallocated_sectors")
        return N(d) + (d == 1 ? " more sector was" : " more sectors were") + " reallocated" + all +
               " The drive is replacing parts of its surface: back up now and plan to replace it.";
    if (reason == "reallocation_events")
        return "The drive moved data away from failing spots " + N(d) +
               (d == 1 ? " more time" : " more times") + all +
               " Back up now and plan to replace it.";
    if (reason == "end_to_end_errors")
        return N(d) + (d == 1 ? " more error" : " more errors") +
               " corrupted data inside the drive" + all +
               " Its electronics are failing: back up now and replace it.";
    if (reason == "spin_up_retries")
        return "The disk needed " + N(d) + (d == 1 ? " more retry" : " more retries") +
               " to spin up" + all + " Its motor or its power may be failing: back up now.";
    if (reason == "media_errors")
        return "The drive found " + N(d) + (d == 1 ? " more error" : " more errors") +
               " in stored data that it could not recover" + all +
               " Back up now and plan to replace it.";
    if (reason == "spare_low")
        return "The drive's spare area for worn-out cells is down to " + N(n) + " % (at " +
               N(f.threshold) + " % it fails) and falling. Back up now and plan to replace it.";
    if (reason == "worn_out")
        return "The drive has used " + N(n) +
               " % of its rated life. Plan to replace it and keep your backups current.";
    if (reason == "crc_errors")
        return N(d) + (d == 1 ? " more transfer error" : " more transfer errors") +
               " between the drive and the computer" + all +
               " This is rarely the drive itself: check the cable or the port.";
    return {};
}

// A counter with a past but nothing new: said calmly, nothing to do.
std::string Calm(const Finding& f) {
    struct Noun {
        std::string_view reason, one, many;
    };
    static constexpr Noun kNouns[] = {
        {"reallocated_sectors", "reallocated sector", "reallocated sectors"},
        {"reallocation_events", "reallocation event", "reallocation events"},
        {"end_to_end_errors", "end-to-end error", "end-to-end errors"},
        {"spin_up_retries", "spin-up retry", "spin-up retries"},
        {"media_errors", "media error", "media errors"},
        {"crc_errors", "transfer error", "transfer errors"},
    };
    for (const Noun& noun : kNouns)
        if (noun.reason == f.rule->reason)
            return Count(f.count, noun.one, noun.many) +
                   (f.unchangedSinceMs != 0 ? ", unchanged since " + ShortDate(f.unchangedSinceMs)
                                            : ", none new this week") +
                   ": nothing new, no need to act.";
    return {};
}

} // namespace

std::string ShortDate(std::int64_t ms) {
    const std::tm t = Local(ms);
    return std::to_string(t.tm_mday) + " " + kMonths[t.tm_mon];
}

std::string MonthYear(std::int64_t ms) {
    const std::tm t = Local(ms);
    return std::string(kMonths[t.tm_mon]) + " " + std::to_string(t.tm_year + 1900);
}

std::string Sentence(const Finding& finding) {
    if (finding.rule == nullptr)
        return {};
    return finding.active ? Active(finding) : Calm(finding);
}

std::string LifeLeftText(double monthsLeft, std::int64_t endMs) {
    const long months = std::lround(monthsLeft);
    const std::string around = " of life left at this rate (around " + MonthYear(endMs) + ")";
    if (months < 1)
        return "less than a month" + around;
    return "about " + std::to_string(months) + (months == 1 ? " month" : " months") + around;
}

std::string NotEnoughHistoryText() {
    return "not enough history yet to estimate the drive's remaining life: it takes 14 days of "
           "readings and a change of at least 1 percentage point";
}

std::string LifeUsedText(std::uint64_t percentUsed) {
    return "it has used its rated life (" + N(percentUsed) +
           " % used): plan to replace it and keep your backups current";
}

std::string HexBytes(const std::vector<std::uint8_t>& raw) {
    std::string text;
    char byte[4];
    for (std::size_t b = raw.size(); b-- > 0;) {
        std::snprintf(byte, sizeof byte, "%02X", raw[b]);
        text += byte;
        if (b != 0)
            text += ' ';
    }
    return text;
}

std::string DecodedRaw(const history::Identity& drive, history::Kind kind,
                       const history::Entry& entry) {
    if (kind == history::Kind::Nvme) {
        // The composite temperature's raw field is in kelvin; its value is the degrees.
        if (entry.id == 1)
            return entry.value ? std::to_string(*entry.value) : HexBytes(entry.raw);
        return history::RawDecimal(entry.raw);
    }
    if (RuleFor(kind, entry.id) != nullptr)
        return N(RawCount(drive, kind, entry).value_or(0));
    if (entry.raw.empty())
        return {};
    const std::int32_t option =
        device::lookupdrive(drive.model.c_str(), drive.firmware.c_str(), entry.id);
    if (entry.id == 194 && option == 1) { // tenths of a degree
        const std::uint64_t tenths = CountOf(entry.raw, Bits::Low16);
        return N(tenths / 10) + "." + N(tenths % 10);
    }
    if (entry.id == 194 && option == 2) // a meaning nobody knows
        return HexBytes(entry.raw);
    if (device::IsTemperatureAttribute(entry.id, option))
        return N(entry.raw[0]);
    // Power-on time (in the unit its name says) and power cycles.
    if (entry.id == 9 || entry.id == 12)
        return N(CountOf(entry.raw, Bits::Low32));
    return HexBytes(entry.raw);
}

} // namespace zentrova::watch
