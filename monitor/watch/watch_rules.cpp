#include "watch/watch_rules.h"

#include "device/knowndrives.h"
#include "nvme/nvme_health.h"
#include "platform/nvme_pages.h"

namespace zentrova::watch {

namespace {

using history::Kind;
namespace pages = platform::nvme;

// Every rule, in the order the banner tells them: the serious ones first,
// the advice last. Large fleet studies found a drive far more likely to fail
// within weeks of its first unreadable sector or reallocation, and most
// failed drives never crossed the maker's threshold; these counters are the
// ones that tell it.
constexpr Rule kRules[] = {
    // 197 (C5): sectors the drive failed to read and keeps for a retry.
    {"pending_sectors", Kind::Ata, 197, Trigger::NonZero,
     "sectors whose data the drive could not read are waiting to be rewritten or replaced; "
     "their data may already be lost"},
    // 198 (C6): the same, found by the drive's own background scan.
    {"offline_uncorrectable", Kind::Ata, 198, Trigger::NonZero,
     "the drive's own surface scan found sectors it cannot read"},
    // 187 (BB): read errors the error correction could not repair, told to
    // the computer as failed reads.
    {"reported_uncorrectable", Kind::Ata, 187, Trigger::NonZero,
     "reads failed because the drive could not correct the data"},
    // 5: spare sectors already in use. Old ones are common and harmless; new
    // ones mean the surface is wearing now.
    {"reallocated_sectors", Kind::Ata, 5, Trigger::Grows,
     "the drive is replacing failing sectors by spare ones, more of them this week"},
    // 196 (C4): how often the drive moved data to spare sectors.
    {"reallocation_events", Kind::Ata, 196, Trigger::Grows,
     "the drive moved data away from failing spots again this week"},
    // 184 (B8): data that changed between the interface and the medium,
    // inside the drive's own electronics or memory.
    {"end_to_end_errors", Kind::Ata, 184, Trigger::Grows,
     "data was corrupted inside the drive on its way to or from the disk"},
    // 10 (0A): the disk did not reach its speed at the first attempt; a
    // tiring motor or bearing, or a weak power supply.
    {"spin_up_retries", Kind::Ata, 10, Trigger::Grows,
     "the disk needed more than one attempt to spin up"},
    // 160: the NVMe health log's media and data integrity errors, data the
    // controller could not recover.
    {"media_errors", Kind::Nvme, static_cast<std::uint8_t>(pages::kMediaErrors.offset),
     Trigger::Grows, "the drive found stored data it could not recover"},
    // 3 (with its threshold at 4): the spare flash for worn-out blocks runs
    // out; at the threshold the drive itself declares failure.
    {"spare_low", Kind::Nvme, static_cast<std::uint8_t>(pages::kAvailableSpare.offset),
     Trigger::SpareLow, "the spare flash that replaces worn-out blocks is running out"},
    // 5: the maker's estimate of the life used; past 100 the flash is beyond
    // what it was rated for.
    {"worn_out", Kind::Nvme, static_cast<std::uint8_t>(pages::kPercentageUsed.offset),
     Trigger::WornOut, "the flash has used nearly all of the writes it was rated for"},
    // 199 (C7): transfers garbled between the drive and the computer: almost
    // always the cable or the port, not the drive. Told, not Watch.
    {"crc_errors", Kind::Ata, 199, Trigger::Advice,
     "transfers between the drive and the computer were garbled: check the cable or the port"},
};

// Which drives keep something else in an attribute's raw bytes, and which
// counter counts. Found through the known-drives table: a row applies when
// the drive's model gets `option` for the attribute there (device/knowndrives.*).
// Every other drive and attribute: the low 32 bits, which hold the count on
// the drives we know; the upper 16 bits are left out so a vendor's stray
// bytes there never read as billions of bad sectors.
struct Packing {
    std::uint8_t id;
    std::int32_t option;
    Bits bits;
};
constexpr Packing kPacking[] = {
    // The Fujitsu MHS2020AT and MHR2040AT (198 option 1, "Off-Line Scan
    // Uncorrected Sector Count"): the count of the last off-line scan in the
    // low word; the words above are not known to count sectors.
    {198, 1, Bits::Low16},
};

} // namespace

std::span<const Rule> Rules() {
    return kRules;
}

const Rule* FindRule(const std::string& reason) {
    for (const Rule& r : kRules)
        if (reason == r.reason)
            return &r;
    return nullptr;
}

const Rule* RuleFor(Kind kind, std::uint8_t id) {
    for (const Rule& r : kRules)
        if (r.kind == kind && r.entryId == id)
            return &r;
    return nullptr;
}

bool PutsOnWatch(const Rule& rule) {
    return rule.trigger != Trigger::Advice;
}

Bits PackingFor(const std::string& model, const std::string& firmware, std::uint8_t id) {
    const std::int32_t option = device::lookupdrive(model.c_str(), firmware.c_str(), id);
    for (const Packing& p : kPacking)
        if (p.id == id && p.option == option)
            return p.bits;
    return Bits::Low32;
}

std::uint64_t CountOf(const std::vector<std::uint8_t>& raw, Bits bits) {
    const std::size_t width = bits == Bits::Low16 ? 2 : bits == Bits::Low32 ? 4 : 6;
    std::uint64_t n = 0;
    for (std::size_t b = std::min(width, raw.size()); b-- > 0;)
        n = n << 8 | raw[b];
    return n;
}

std::optional<std::uint64_t> RawCount(const history::Identity& drive, Kind kind,
                                      const history::Entry& entry) {
    if (entry.raw.empty())
        return std::nullopt;
    if (kind == Kind::Ata)
        return CountOf(entry.raw, PackingFor(drive.model, drive.firmware, entry.id));
    const nvme::Counter n =
        nvme::LittleEndian(entry.raw.data(), std::min<std::size_t>(16, entry.raw.size()));
    return n > nvme::Counter(UINT64_MAX) ? UINT64_MAX : static_cast<std::uint64_t>(n);
}

} // namespace zentrova::watch
