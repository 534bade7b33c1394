#include "watch/watch.h"
#include "watch/watch_rules.h"
#include "watch/watch_text.h"
#include "watch/wear_projection.h"

#include "platform/nvme_pages.h"

#include <algorithm>

namespace zentrova::watch {

namespace {

using history::Identity;

constexpr std::int64_t kMinuteMs = 60 * 1000;

const history::Entry* EntryOf(const history::Reading& reading, std::uint8_t id) {
    for (const history::Entry& e : reading.entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

// When the count became `count`: the first reading that held it. Counts of
// these attributes only grow, so the readings at or above `count` form one
// run up to now, and bisecting time with AtOrBefore finds its start to the
// minute in about twenty indexed look-ups for a year of history. That is done
// once per drive and rule; the Watcher then keeps the date in memory and
// moves it itself when the count changes.
std::int64_t LastChange(const Past& past, const Identity& drive, history::Kind kind,
                        std::uint8_t id, std::uint64_t count, std::int64_t nowMs) {
    const auto countOf = [&](const Past::Sample& s) {
        return RawCount(drive, kind, s.entry).value_or(0);
    };
    const auto first = past.First(drive, id);
    if (!first)
        return nowMs;
    if (countOf(*first) >= count)
        return first->takenMs;
    std::int64_t lo = first->takenMs, hi = nowMs;
    while (hi - lo > kMinuteMs) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        const auto s = past.AtOrBefore(drive, id, mid);
        if (s && countOf(*s) >= count)
            hi = s->takenMs;
        else
            lo = mid;
    }
    return hi;
}

bool Worse(Trigger trigger, std::uint64_t now, std::uint64_t told) {
    // The spare falls; every other count grows.
    return trigger == Trigger::SpareLow ? now < told : now > told;
}

} // namespace

std::vector<std::string> Verdict::Reasons() const {
    std::vector<std::string> reasons;
    for (const bool watch : {true, false})
        for (const Finding& f : findings)
            if (f.active && PutsOnWatch(*f.rule) == watch)
                reasons.push_back(f.sentence);
    return reasons;
}

Verdict Watcher::Judge(const history::Reading& reading, Past& past, std::int64_t nowMs,
                       std::vector<Change>* changes) {
    const Identity& drive = reading.identity;
    // The first judgement of a drive in this run picks up the periods still
    // open in the history, so a stable count is not told again after a restart.
    if (!last_.contains(drive))
        for (const Past::Open& open : past.OpenWatches(drive))
            if (const Rule* rule = FindRule(open.reason)) {
                State& s = state_[{drive, rule->reason}];
                s.open = true;
                s.toldCount = open.toldCount;
            }

    Verdict verdict;
    for (const Rule& rule : Rules()) {
        if (rule.kind != reading.kind)
            continue;
        State& s = state_[{drive, rule.reason}];
        const history::Entry* entry = EntryOf(reading, rule.entryId);
        const auto count = entry != nullptr ? RawCount(drive, reading.kind, *entry) : std::nullopt;
        Finding f;
        f.rule = &rule;
        const bool growth = rule.trigger == Trigger::Grows || rule.trigger == Trigger::Advice;
        if (count) {
            f.count = *count;
            // 7 days ago, or the first reading we have when the history is
            // younger; a count of zero has nothing to compare.
            if ((growth && f.count > 0) || rule.trigger == Trigger::SpareLow) {
                auto before = past.AtOrBefore(drive, rule.entryId, nowMs - kLookBackMs);
                if (!before)
                    before = past.First(drive, rule.entryId);
                f.before = before ? RawCount(drive, reading.kind, before->entry).value_or(f.count)
                                  : f.count;
                f.beforeMs = before ? before->takenMs : reading.takenMs;
            }
            switch (rule.trigger) {
            case Trigger::NonZero:
                f.active = f.count > 0;
                break;
            case Trigger::Grows:
            case Trigger::Advice:
                f.active = f.count > f.before;
                break;
            case Trigger::SpareLow:
                f.threshold = static_cast<std::uint64_t>(
                    std::max<std::int64_t>(0, entry->threshold.value_or(0)));
                f.active = f.count <= 2 * f.threshold && f.count < f.before;
                break;
            case Trigger::WornOut:
                f.active = f.count >= 90;
                break;
            }
            if (growth && f.count > 0) {
                if (s.seeded && s.count == f.count && s.sinceMs != 0)
                    f.unchangedSinceMs = s.sinceMs;
                else if (s.seeded && s.count != f.count)
                    f.unchangedSinceMs = reading.takenMs;
                else
                    f.unchangedSinceMs = LastChange(past, drive, reading.kind, rule.entryId,
                                                    f.count, reading.takenMs);
            }
            s.count = f.count;
            s.sinceMs = f.unchangedSinceMs;
            s.seeded = true;
        }
        f.sentence = Sentence(f);

        const auto tell = [&](Change::What what) {
            if (changes != nullptr)
                changes->push_back({what, &rule, f.sentence});
        };
        const Change::What told =
            rule.trigger == Trigger::Advice ? Change::AdviceGrew : Change::Grew;
        if (f.active && !s.open) {
            s.open = true;
            s.toldCount = f.count;
            past.WatchStarted(drive, rule.reason, nowMs, f.count);
            tell(rule.trigger == Trigger::Advice ? Change::AdviceGrew : Change::Entered);
        } else if (f.active && Worse(rule.trigger, f.count, s.toldCount)) {
            s.toldCount = f.count;
            past.WatchGrew(drive, rule.reason, f.count);
            tell(told);
        } else if (!f.active && s.open) {
            s.open = false;
            past.WatchEnded(drive, rule.reason, nowMs);
            tell(Change::Ended);
        }

        if (f.active || ((growth || rule.trigger == Trigger::NonZero) && f.count > 0))
            verdict.findings.push_back(std::move(f));
    }
    verdict.onWatch =
        std::any_of(verdict.findings.begin(), verdict.findings.end(),
                    [](const Finding& f) { return f.active && PutsOnWatch(*f.rule); });
    if (reading.kind == history::Kind::Nvme)
        verdict.projection = ProjectionOf(reading, past, nowMs);
    last_[drive] = verdict;
    return verdict;
}

Projection Watcher::ProjectionOf(const history::Reading& reading, Past& past, std::int64_t nowMs) {
    constexpr auto kUsed = static_cast<std::uint8_t>(platform::nvme::kPercentageUsed.offset);
    const history::Entry* entry = EntryOf(reading, kUsed);
    const std::uint64_t used =
        entry != nullptr ? RawCount(reading.identity, reading.kind, *entry).value_or(0) : 0;
    Wear& wear = wear_[reading.identity];
    if (wear.computedMs != 0 && wear.used == used && nowMs - wear.computedMs < kDayMs)
        return wear.projection;
    std::vector<std::pair<std::int64_t, double>> points;
    for (const Past::Sample& s : past.Since(reading.identity, kUsed, nowMs - kWearWindowMs))
        points.emplace_back(s.takenMs,
                            double(RawCount(reading.identity, reading.kind, s.entry).value_or(0)));
    if (entry != nullptr && (points.empty() || points.back().first < reading.takenMs))
        points.emplace_back(reading.takenMs, double(used));
    wear = {nowMs, used, ProjectWear(points, nowMs)};
    return wear.projection;
}

const Verdict* Watcher::Last(const Identity& drive) const {
    const auto it = last_.find(drive);
    return it != last_.end() ? &it->second : nullptr;
}

std::string Watcher::RawText(const Identity& drive, history::Kind kind,
                             const history::Entry& entry) const {
    std::string text = DecodedRaw(drive, kind, entry);
    const Rule* rule = RuleFor(kind, entry.id);
    if (rule == nullptr || (rule->trigger != Trigger::Grows && rule->trigger != Trigger::Advice))
        return text;
    const auto it = state_.find({drive, rule->reason});
    const auto count = RawCount(drive, kind, entry);
    // A count that grew in the last 7 days is in the banner; one that has
    // not says since when it has stood still.
    if (it != state_.end() && count && *count > 0 && it->second.seeded &&
        it->second.count == *count && !it->second.open && it->second.sinceMs != 0)
        text += " (unchanged since " + ShortDate(it->second.sinceMs) + ")";
    return text;
}

void Watcher::Clear() {
    state_.clear();
    last_.clear();
    wear_.clear();
}

} // namespace zentrova::watch
