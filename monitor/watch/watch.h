// The early-warning judgement, "Watch": a second verdict beside the drive's
// own OK/Failed. The maker's threshold trips late or never; the raw counts of
// a few attributes (unreadable sectors, reallocations) tell of a drive
// starting to fail weeks before. Watch never changes the drive's own verdict,
// its texts, panels, beeps or event log: a drive can be OK and on Watch.
//
// Plain C++ over the history's readings: no widgets. Fed by the history,
// through the small `Past` seam, so a judgement costs a few indexed look-ups,
// never a scan of a drive's readings.
#pragma once

#include "history/history_store.h"
#include "metrics/metrics.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zentrova::watch {

// What raises a rule.
enum class Trigger {
    NonZero,  // serious as long as the count is above zero
    Grows,    // serious while the count is higher than 7 days ago
    Advice,   // growth is told once per growth; the drive is not put on Watch
    SpareLow, // NVMe: available spare at or below twice its threshold, and falling
    WornOut,  // NVMe: percentage used at 90 or more
};

// One rule of the table. Each has its reason in plain words beside it in
// watch_rules.cpp.
struct Rule {
    const char* reason; // "reallocated_sectors": the metrics' `reason` label, the history's key
    history::Kind kind;
    std::uint8_t entryId; // ATA attribute id, or the NVMe health log's byte offset
    Trigger trigger;
    const char* why; // the reason in plain words: what the count tells of the drive
};

// How far back a growth is measured.
inline constexpr std::int64_t kLookBackMs = 7LL * 24 * 3600 * 1000;

std::span<const Rule> Rules();
const Rule* FindRule(const std::string& reason);
bool PutsOnWatch(const Rule& rule); // every trigger but Advice

// The count in an entry's raw bytes as this drive keeps it: the low 32 bits
// unless the packing table (watch_rules.cpp) names the drive's model and the
// attribute; for NVMe the field as a number (saturated at 2^64-1). None when
// the entry has no raw bytes.
std::optional<std::uint64_t> RawCount(const history::Identity& drive, history::Kind kind,
                                      const history::Entry& entry);

// What the history held of a drive before this reading: a few indexed
// look-ups. The history store implements it (watch_history.cpp); tests fake it.
class Past {
  public:
    struct Sample {
        std::int64_t takenMs = 0;
        history::Entry entry;
    };
    virtual ~Past() = default;
    // The newest reading taken at or before `ms` that holds entry `id`.
    virtual std::optional<Sample> AtOrBefore(const history::Identity& drive, std::uint8_t id,
                                             std::int64_t ms) const = 0;
    // The drive's first reading that holds entry `id`.
    virtual std::optional<Sample> First(const history::Identity& drive, std::uint8_t id) const = 0;
    // Readings of entry `id` taken at `fromMs` or later, oldest first (the
    // wear projection's 90 days).
    virtual std::vector<Sample> Since(const history::Identity& drive, std::uint8_t id,
                                      std::int64_t fromMs) const = 0;
    // The Watch periods of the drive still open (started, not ended), with
    // the count last told: a restart neither notifies again nor forgets.
    struct Open {
        std::string reason;
        std::int64_t startedMs = 0;
        std::uint64_t toldCount = 0;
    };
    virtual std::vector<Open> OpenWatches(const history::Identity& drive) const = 0;
    // Records a period's start, a growth told, its end.
    virtual void WatchStarted(const history::Identity& drive, const std::string& reason,
                              std::int64_t ms, std::uint64_t count) = 0;
    virtual void WatchGrew(const history::Identity& drive, const std::string& reason,
                           std::uint64_t count) = 0;
    virtual void WatchEnded(const history::Identity& drive, const std::string& reason,
                            std::int64_t ms) = 0;
};

// One rule that has something to say of a drive's reading.
struct Finding {
    const Rule* rule = nullptr;
    bool active = false;       // raises Watch (or, for Advice, is told)
    std::uint64_t count = 0;   // now
    std::uint64_t before = 0;  // 7 days ago, or the first reading we have (Grows, Advice, SpareLow)
    std::int64_t beforeMs = 0; // when `before` was read
    std::int64_t unchangedSinceMs = 0; // Grows/Advice: the count has been this since (0: unknown)
    std::uint64_t threshold = 0;       // SpareLow: the drive's spare threshold
    std::string sentence;              // one sentence a non-expert understands, with what to do
};

// "about N months of life left at this rate (around MMM YYYY)", or why
// there is no estimate yet; from NVMe percentage used.
struct Projection {
    bool estimated = false;
    double monthsLeft = 0;
    std::int64_t endMs = 0;
    std::string text;
};
// Least squares over the points (time, percent used) of the last 90 days;
// needs 14 days of readings spanning a change of 1 percentage point.
Projection ProjectWear(std::span<const std::pair<std::int64_t, double>> points, std::int64_t nowMs);

struct Verdict {
    bool onWatch = false;
    std::vector<Finding> findings;            // every rule with something to say, active or not
    std::optional<Projection> projection;     // NVMe drives only
    std::vector<std::string> Reasons() const; // sentences of the active findings, Watch first
};

// What a notification tells: a drive entered Watch on a rule, a counter grew
// again, an advice counter grew, a period ended (not notified).
struct Change {
    enum What { Entered, Grew, AdviceGrew, Ended } what = Entered;
    const Rule* rule = nullptr;
    std::string sentence;
};

// The judgement over time: per drive and rule, the last count, since when it
// has been that, and whether a period is open. As small as the drives times
// the rules; memory stays flat.
class Watcher {
  public:
    // Judges a drive's fresh reading (already added to the history or not)
    // against the past; `changes` gets what the desktop should be told.
    Verdict Judge(const history::Reading& reading, Past& past, std::int64_t nowMs,
                  std::vector<Change>* changes);
    // The last verdict of a drive; null before its first judgement.
    const Verdict* Last(const history::Identity& drive) const;
    // A redisplay: the raw column's text for an entry of a judged drive:
    // "8 (unchanged since 2 Dec)" for a stable counter, the count for the
    // counters this judgement decodes, temperature, power-on hours and power
    // cycles, else the six raw bytes in hex, most significant first.
    std::string RawText(const history::Identity& drive, history::Kind kind,
                        const history::Entry& entry) const;
    void Clear();

  private:
    struct State {
        std::uint64_t count = 0;
        std::int64_t sinceMs = 0;
        bool open = false;
        std::uint64_t toldCount = 0;
        bool seeded = false;
    };
    // The wear projection of an NVMe drive, redone when percentage used
    // changes or a day has passed: its 90 days are the one look-up that reads
    // many readings.
    struct Wear {
        std::int64_t computedMs = 0;
        std::uint64_t used = 0;
        Projection projection;
    };
    Projection ProjectionOf(const history::Reading& reading, Past& past, std::int64_t nowMs);

    std::map<std::pair<history::Identity, std::string>, State> state_;
    std::map<history::Identity, Verdict> last_;
    std::map<history::Identity, Wear> wear_;
};

} // namespace zentrova::watch

namespace zentrova::watch {

// The monitor's one judgement, beside the history's one store.
struct WatchGlobals {
    Watcher watcher;
    // Without an open store: each drive's first reading of this run, which
    // the growth rules compare with.
    std::map<history::Identity, history::Reading> firstOfRun;
};
extern WatchGlobals watch;
void ResetWatchForTest();

// Judges drive slot `drive`'s fresh, good read (after history::RecordRead
// added it) against the monitor's history store; without an open store the
// growth rules compare with the first reading of this run. Null for a drive
// not listed. `samples`, when given, gets the verdict's metrics samples
// (MetricsSamples of the same reading).
const Verdict* JudgeRead(int drive, const std::uint8_t* dataPage,
                         const std::uint8_t* thresholdsPage, std::int64_t nowMs,
                         std::vector<Change>* changes,
                         std::vector<metrics::WatchSample>* samples = nullptr);

} // namespace zentrova::watch
