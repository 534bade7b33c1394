// The Watch judgement: its rules over a faked past, the sentences, the changes
// told over time and across a restart, the wear projection, the store's
// look-ups and watch table, and JudgeRead on the demo drives.
#include "device/smart_pages.h"
#include "history/history.h"
#include "history/history_fixture.h"
#include "history/history_reading.h"
#include "platform/sim/simulated_registry.h"
#include "platform/ui/alert_panel.h"
#include "watch/watch.h"
#include "watch/watch_history.h"
#include "watch/watch_text.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <array>
#include <cstdlib>
#include <ctime>

using namespace zentrova;
using namespace zentrova::watch;
using history::Kind;
using zentrova::testing::kT0; // 2026-12-05 21:43 UTC

namespace {

constexpr std::int64_t kDay = 24LL * 3600 * 1000;

// Dates in the texts are local: the tests read them in UTC.
const bool kUtc = [] {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return true;
}();

// The history of one drive, as the store would answer.
struct FakePast : Past {
    std::map<std::uint8_t, std::vector<Sample>> samples; // oldest first
    std::vector<history::WatchRecord> periods;
    mutable int lookUps = 0;

    void Add(const history::Reading& r) {
        for (const history::Entry& e : r.entries)
            samples[e.id].push_back({r.takenMs, e});
    }
    std::optional<Sample> AtOrBefore(const history::Identity&, std::uint8_t id,
                                     std::int64_t ms) const override {
        ++lookUps;
        const auto it = samples.find(id);
        if (it != samples.end())
            for (auto s = it->second.rbegin(); s != it->second.rend(); ++s)
                if (s->takenMs <= ms)
                    return *s;
        return std::nullopt;
    }
    std::optional<Sample> First(const history::Identity&, std::uint8_t id) const override {
        ++lookUps;
        const auto it = samples.find(id);
        if (it == samples.end() || it->second.empty())
            return std::nullopt;
        return it->second.front();
    }
    std::vector<Sample> Since(const history::Identity&, std::uint8_t id,
                              std::int64_t fromMs) const override {
        std::vector<Sample> out;
        if (const auto it = samples.find(id); it != samples.end())
            for (const Sample& s : it->second)
                if (s.takenMs >= fromMs)
                    out.push_back(s);
        return out;
    }
    std::vector<Open> OpenWatches(const history::Identity&) const override {
        std::vector<Open> open;
        for (const auto& w : periods)
            if (!w.endedMs)
                open.push_back({w.reason, w.startedMs, w.toldCount});
        return open;
    }
    history::WatchRecord* OpenOf(const std::string& reason) {
        for (auto& w : periods)
            if (w.reason == reason && !w.endedMs)
                return &w;
        return nullptr;
    }
    void WatchStarted(const history::Identity&, const std::string& reason, std::int64_t ms,
                      std::uint64_t count) override {
        periods.push_back({reason, ms, std::nullopt, count});
    }
    void WatchGrew(const history::Identity&, const std::string& reason,
                   std::uint64_t count) override {
        if (auto* w = OpenOf(reason))
            w->toldCount = count;
    }
    void WatchEnded(const history::Identity&, const std::string& reason, std::int64_t ms) override {
        if (auto* w = OpenOf(reason))
            w->endedMs = ms;
    }
};

// The entry a rule reads, holding `count` (ATA: six bytes; NVMe: the field's width).
history::Entry EntryFor(const Rule& rule, std::uint64_t count, std::vector<std::uint8_t> raw = {}) {
    history::Entry e;
    e.id = rule.entryId;
    const std::size_t width = rule.kind == Kind::Ata ? 6 : rule.entryId == 160 ? 16 : 1;
    if (raw.empty())
        for (std::size_t b = 0; b < width; ++b)
            raw.push_back(b < 8 ? static_cast<std::uint8_t>(count >> (8 * b)) : 0);
    e.raw = std::move(raw);
    if (rule.entryId == 3 && rule.kind == Kind::Nvme)
        e.threshold = 10;
    return e;
}

history::Reading ReadingOf(const Rule& rule, std::int64_t t, std::uint64_t count,
                           const std::string& model = "DEMO DISK",
                           std::vector<std::uint8_t> raw = {}) {
    history::Reading r;
    r.takenMs = t;
    r.identity = {model, "FW1", "S1"};
    r.kind = rule.kind;
    r.entries.push_back(EntryFor(rule, count, std::move(raw)));
    return r;
}

const Finding* FindingOf(const Verdict& v, const std::string& reason) {
    for (const Finding& f : v.findings)
        if (f.rule->reason == reason)
            return &f;
    return nullptr;
}

struct RuleRow {
    const char* what;
    const char* reason;
    std::vector<std::pair<double, std::uint64_t>> past; // (days before now, count)
    std::uint64_t now;
    bool active, onWatch;
    std::uint64_t count; // the count the finding reads
    std::vector<std::uint8_t> raw = {};
    const char* model = "DEMO DISK";
};

TEST(WatchRules, EachRuleJudgesItsCount) {
    const RuleRow rows[] = {
        {"pending: none", "pending_sectors", {}, 0, false, false, 0},
        {"pending: the first", "pending_sectors", {}, 1, true, true, 1},
        {"pending: several, long standing", "pending_sectors", {{30, 5}}, 5, true, true, 5},
        {"pending: packed, low 32 bits",
         "pending_sectors",
         {},
         0,
         true,
         true,
         2,
         {2, 0, 0, 0, 0xAB, 0xCD}},
        {"offline: the first", "offline_uncorrectable", {}, 1, true, true, 1},
        {"offline: Fujitsu's low word is zero",
         "offline_uncorrectable",
         {},
         0,
         false,
         false,
         0,
         {0, 0, 5, 0, 0, 0},
         "FUJITSU MHS2020AT"},
        {"offline: the same bytes elsewhere",
         "offline_uncorrectable",
         {},
         0,
         true,
         true,
         0x50000,
         {0, 0, 5, 0, 0, 0}},
        {"reported: none", "reported_uncorrectable", {{8, 0}}, 0, false, false, 0},
        {"reported: one", "reported_uncorrectable", {{8, 0}}, 1, true, true, 1},
        {"reallocated: fewer than a week ago", "reallocated_sectors", {{8, 9}}, 8, false, false, 8},
        {"reallocated: stable for a week",
         "reallocated_sectors",
         {{8, 8}, {1, 8}},
         8,
         false,
         false,
         8},
        {"reallocated: grew this week", "reallocated_sectors", {{8, 5}, {2, 6}}, 8, true, true, 8},
        {"reallocated: the reading 7 days ago, not the oldest",
         "reallocated_sectors",
         {{30, 2}, {7.5, 8}, {3, 8}},
         8,
         false,
         false,
         8},
        {"reallocated: packed, upper bytes left out",
         "reallocated_sectors",
         {{8, 1}},
         0,
         true,
         true,
         2,
         {2, 0, 0, 0, 0xFF, 0xFF}},
        {"reallocated: 3 days of history, grown",
         "reallocated_sectors",
         {{3, 5}},
         6,
         true,
         true,
         6},
        {"reallocated: no history", "reallocated_sectors", {}, 6, false, false, 6},
        {"events: grew", "reallocation_events", {{8, 1}}, 2, true, true, 2},
        {"events: stable", "reallocation_events", {{8, 2}}, 2, false, false, 2},
        {"end-to-end: grew", "end_to_end_errors", {{8, 0}}, 1, true, true, 1},
        {"spin-up: grew", "spin_up_retries", {{10, 3}}, 4, true, true, 4},
        {"spin-up: stable", "spin_up_retries", {{10, 4}}, 4, false, false, 4},
        {"crc: grew, told but not Watch", "crc_errors", {{8, 4}}, 5, true, false, 5},
        {"crc: stable", "crc_errors", {{8, 5}}, 5, false, false, 5},
        {"media: grew", "media_errors", {{8, 0}}, 1, true, true, 1},
        {"media: stable", "media_errors", {{8, 3}}, 3, false, false, 3},
        {"spare: at twice the threshold, falling", "spare_low", {{8, 25}}, 20, true, true, 20},
        {"spare: just above twice, falling", "spare_low", {{8, 25}}, 21, false, false, 0},
        {"spare: low but not falling", "spare_low", {{8, 15}}, 15, false, false, 0},
        {"spare: low, no history", "spare_low", {}, 15, false, false, 0},
        {"worn: 89", "worn_out", {}, 89, false, false, 0},
        {"worn: 90", "worn_out", {}, 90, true, true, 90},
        {"worn: 120", "worn_out", {}, 120, true, true, 120},
    };
    for (const RuleRow& row : rows) {
        SCOPED_TRACE(row.what);
        const Rule& rule = *FindRule(row.reason);
        FakePast past;
        for (const auto& [daysAgo, count] : row.past)
            past.Add(ReadingOf(rule, kT0 - std::int64_t(daysAgo * kDay), count, row.model));
        const history::Reading now = ReadingOf(rule, kT0, row.now, row.model, row.raw);
        past.Add(now);
        Watcher watcher;
        const Verdict v = watcher.Judge(now, past, kT0, nullptr);
        const Finding* f = FindingOf(v, row.reason);
        EXPECT_EQ(f != nullptr && f->active, row.active);
        EXPECT_EQ(v.onWatch, row.onWatch);
        if (f != nullptr)
            EXPECT_EQ(f->count, row.count);
        else
            EXPECT_EQ(row.count, 0u);
    }
}

TEST(WatchRules, EveryRuleHasItsKeyAndReason) {
    const char* keys[] = {"pending_sectors",
                          "offline_uncorrectable",
                          "reported_uncorrectable",
                          "reallocated_sectors",
                          "reallocation_events",
                          "end_to_end_errors",
                          "spin_up_retries",
                          "crc_errors",
                          "media_errors",
                          "spare_low",
                          "worn_out"};
    EXPECT_EQ(Rules().size(), std::size(keys));
    for (const char* key : keys) {
        const Rule* rule = FindRule(key);
        ASSERT_NE(rule, nullptr) << key;
        EXPECT_GT(std::string(rule->why).size(), 20u) << key;
        EXPECT_EQ(PutsOnWatch(*rule), std::string(key) != "crc_errors") << key;
    }
}

struct SentenceRow {
    const char* reason;
    bool active;
    std::uint64_t count, before;
    const char* sentence;
};

TEST(WatchText, EachFindingIsOneSentenceCountedRight) {
    const SentenceRow rows[] = {
        {"reallocated_sectors", true, 8, 5,
         "3 more sectors were reallocated this week (8 in all). The drive is replacing parts of "
         "its surface: back up now and plan to replace it."},
        {"reallocated_sectors", true, 8, 7,
         "1 more sector was reallocated this week (8 in all). The drive is replacing parts of its "
         "surface: back up now and plan to replace it."},
        {"pending_sectors", true, 1, 0,
         "1 sector could not be read and waits to be replaced. Data in it may be lost: back up "
         "now and run an extended self-test."},
        {"pending_sectors", true, 4, 0,
         "4 sectors could not be read and wait to be replaced. Data in them may be lost: back up "
         "now and run an extended self-test."},
        {"offline_uncorrectable", true, 1, 0,
         "The drive's own scan found 1 sector it cannot read. Back up now and run an extended "
         "self-test; if the count grows, replace the drive."},
        {"reported_uncorrectable", true, 2, 0,
         "The drive failed 2 reads because it could not correct the data. Back up now and keep "
         "an eye on this drive."},
        {"reallocation_events", true, 3, 2,
         "The drive moved data away from failing spots 1 more time this week (3 in all). Back up "
         "now and plan to replace it."},
        {"end_to_end_errors", true, 2, 0,
         "2 more errors corrupted data inside the drive this week (2 in all). Its electronics "
         "are failing: back up now and replace it."},
        {"spin_up_retries", true, 1, 0,
         "The disk needed 1 more retry to spin up this week (1 in all). Its motor or its power "
         "may be failing: back up now."},
        {"media_errors", true, 4, 1,
         "The drive found 3 more errors in stored data that it could not recover this week (4 in "
         "all). Back up now and plan to replace it."},
        {"spare_low", true, 18, 25,
         "The drive's spare area for worn-out cells is down to 18 % (at 10 % it fails) and "
         "falling. Back up now and plan to replace it."},
        {"worn_out", true, 93, 0,
         "The drive has used 93 % of its rated life. Plan to replace it and keep your backups "
         "current."},
        {"crc_errors", true, 5, 4,
         "1 more transfer error between the drive and the computer this week (5 in all). This "
         "is rarely the drive itself: check the cable or the port."},
        {"reallocated_sectors", false, 8, 8,
         "8 reallocated sectors, unchanged since 2 Dec: nothing new, no need to act."},
    };
    for (const SentenceRow& row : rows) {
        Finding f;
        f.rule = FindRule(row.reason);
        f.active = row.active;
        f.count = row.count;
        f.before = row.before;
        f.threshold = 10;
        f.unchangedSinceMs = kT0 - 3 * kDay;
        EXPECT_EQ(Sentence(f), row.sentence);
    }
}

// One drive's reallocations and cable errors over days: told once per growth,
// never again while stable, the period ended when a week passed without one.
TEST(WatchChanges, AGrowthIsToldOnceAndAStableCountNever) {
    struct Step {
        int day;
        std::uint64_t reallocated, crc;
        std::vector<Change::What> told;
    };
    const Step steps[] = {
        {0, 8, 0, {}},
        {1, 8, 0, {}},
        {2, 10, 2, {Change::Entered, Change::AdviceGrew}},
        {3, 10, 2, {}},
        {4, 11, 3, {Change::Grew, Change::AdviceGrew}},
        {5, 11, 3, {}},
        {12, 11, 3, {Change::Ended, Change::Ended}},
        {13, 11, 3, {}},
    };
    const Rule& reallocated = *FindRule("reallocated_sectors");
    const Rule& crc = *FindRule("crc_errors");
    FakePast past;
    Watcher watcher;
    history::Reading r;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.day);
        r = ReadingOf(reallocated, kT0 + step.day * kDay, step.reallocated);
        r.entries.push_back(EntryFor(crc, step.crc));
        past.Add(r);
        std::vector<Change> changes;
        const Verdict v = watcher.Judge(r, past, r.takenMs, &changes);
        std::vector<Change::What> told;
        for (const Change& c : changes)
            told.push_back(c.what);
        EXPECT_EQ(told, step.told);
        EXPECT_EQ(v.onWatch, step.day >= 2 && step.day < 12);
    }
    ASSERT_EQ(past.periods.size(), 2u);
    EXPECT_EQ(past.periods[0],
              (history::WatchRecord{"reallocated_sectors", kT0 + 2 * kDay, kT0 + 12 * kDay, 11}));
    // Stable for a week: the Raw column says since when; the cable counter
    // was 3 since day 4 too, the temperature is decoded.
    EXPECT_EQ(watcher.RawText(r.identity, Kind::Ata, r.entries[0]), "11 (unchanged since 9 Dec)");
    history::Entry temperature{194, 64, 55, 0, {36, 0, 19, 0, 45, 0}};
    EXPECT_EQ(watcher.RawText(r.identity, Kind::Ata, temperature), "36");
    history::Entry other{1, 117, 99, 6, {168, 16, 142, 8, 0, 0}};
    EXPECT_EQ(watcher.RawText(r.identity, Kind::Ata, other), "00 00 08 8E 10 A8");
}

// The history's open periods seed a new run: nothing is told again for a
// count already told, a growth beyond it is; the date of the last change is
// found once, in a few look-ups.
TEST(WatchChanges, ARestartDoesNotTellAnOpenPeriodAgain) {
    const Rule& rule = *FindRule("reallocated_sectors");
    FakePast past;
    for (int h = 0; h < 24 * 365; ++h)
        past.Add(ReadingOf(rule, kT0 - 365 * kDay + h * 3600'000LL, h < 24 * 362 ? 8 : 10));
    std::vector<Change> changes;
    const history::Reading now = ReadingOf(rule, kT0, 10);
    Watcher{}.Judge(now, past, kT0, &changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].what, Change::Entered);

    Watcher restarted;
    changes.clear();
    past.lookUps = 0;
    const Verdict v = restarted.Judge(now, past, kT0, &changes);
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(v.onWatch);
    EXPECT_EQ(v.findings[0].unchangedSinceMs, kT0 - 3 * kDay);
    EXPECT_LE(past.lookUps, 25);
    past.lookUps = 0;
    restarted.Judge(ReadingOf(rule, kT0 + 3600'000, 10), past, kT0 + 3600'000, &changes);
    EXPECT_LE(past.lookUps, 2);
    restarted.Judge(ReadingOf(rule, kT0 + 7200'000, 12), past, kT0 + 7200'000, &changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].what, Change::Grew);
    EXPECT_EQ(past.periods.size(), 1u);
    EXPECT_EQ(past.periods[0].toldCount, 12u);
}

TEST(WearProjection, ALineThroughTheLast90Days) {
    struct Row {
        const char* what;
        std::vector<std::pair<std::int64_t, double>> points;
        bool estimated;
        const char* text; // whole, or the start of it
    };
    const auto line = [](int days, double start, double perDay, double noise = 0, int fromDay = 0) {
        std::vector<std::pair<std::int64_t, double>> points;
        for (int d = fromDay; d <= days; ++d)
            points.emplace_back(kT0 - (days - d) * kDay,
                                start + perDay * d + (d % 2 ? noise : -noise));
        return points;
    };
    auto oldRise = line(89, 50, 0);
    oldRise.insert(oldRise.begin(), {kT0 - 200 * kDay, 0});
    const Row rows[] = {
        {"flat", line(60, 10, 0), false, "not enough history yet"},
        {"rising: 80 points left at 1/6 a day", line(60, 10, 1.0 / 6), true,
         "about 16 months of life left at this rate (around Mar 2028)"},
        {"noisy", line(60, 10, 1.0 / 6, 0.8), true, "about 1"},
        {"too short", line(10, 10, 0.5), false, "not enough history yet"},
        {"a rise older than 90 days", oldRise, false, "not enough history yet"},
        {"already at 100", line(60, 70, 0.5), false, "it has used its rated life (100 % used)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Projection p = ProjectWear(row.points, kT0);
        EXPECT_EQ(p.estimated, row.estimated);
        EXPECT_EQ(p.text.rfind(row.text, 0), 0u) << p.text;
        if (row.estimated) {
            EXPECT_NEAR(p.monthsLeft, 480 / 30.436875, 0.3);
        }
    }
}

// An NVMe drive's verdict carries its projection from the history, also
// when nothing is wrong.
TEST(WearProjection, AnNvmeVerdictCarriesIt) {
    const Rule& used = *FindRule("worn_out");
    FakePast past;
    for (int d = 0; d <= 60; ++d)
        past.Add(ReadingOf(used, kT0 - (60 - d) * kDay, 10 + d / 6));
    Watcher watcher;
    const Verdict v = watcher.Judge(ReadingOf(used, kT0, 20), past, kT0, nullptr);
    EXPECT_FALSE(v.onWatch);
    ASSERT_TRUE(v.projection);
    EXPECT_TRUE(v.projection->estimated) << v.projection->text;
    EXPECT_EQ(v.projection->text.rfind("about 1", 0), 0u) << v.projection->text;
}

struct WatchStore : ::testing::Test {
    QTemporaryDir dir;
    std::string path = dir.filePath("history.sqlite3").toStdString();
    history::Store store{[] { return kT0; }};
    const history::Identity drive{"DEMO DISK", "FW1", "S1"};
};

// The look-ups on a real file, through a reading stored as a repeat; the
// watch table across a reopen, and a version 2 file gaining it.
TEST_F(WatchStore, LookUpsAndPeriodsOnARealStore) {
    ASSERT_EQ(store.Open(path).error, "");
    const Rule& rule = *FindRule("reallocated_sectors");
    for (const auto& [hour, count] : {std::pair{0, 1}, {1, 2}, {2, 2}, {3, 3}})
        ASSERT_EQ(store.Add(ReadingOf(rule, kT0 + hour * 3600'000LL, count)).error, "");
    StorePast past(store);
    const auto repeat = past.AtOrBefore(drive, 5, kT0 + 2 * 3600'000LL + 5);
    ASSERT_TRUE(repeat);
    EXPECT_EQ(repeat->takenMs, kT0 + 2 * 3600'000LL);
    EXPECT_EQ(repeat->entry.raw[0], 2);
    EXPECT_FALSE(past.AtOrBefore(drive, 5, kT0 - 1));
    EXPECT_FALSE(past.AtOrBefore(drive, 6, kT0 + 9 * 3600'000LL));
    ASSERT_TRUE(past.First(drive, 5));
    EXPECT_EQ(past.First(drive, 5)->entry.raw[0], 1);

    past.WatchStarted(drive, "reallocated_sectors", kT0 + 1, 2);
    past.WatchGrew(drive, "reallocated_sectors", 3);
    past.WatchStarted(drive, "crc_errors", kT0 + 2, 4);
    past.WatchEnded(drive, "crc_errors", kT0 + 3);
    store.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(store.Open(path).error, "");
    const std::vector<history::WatchRecord> all = {
        {"reallocated_sectors", kT0 + 1, std::nullopt, 3}, {"crc_errors", kT0 + 2, kT0 + 3, 4}};
    EXPECT_EQ(store.WatchPeriods(drive), all);
    ASSERT_EQ(past.OpenWatches(drive).size(), 1u);
    EXPECT_EQ(past.OpenWatches(drive)[0].toldCount, 3u);

    store.Close();
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "DROP TABLE watch; PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(store.Open(path).error, "");
    EXPECT_TRUE(store.WatchPeriods(drive).empty());
    EXPECT_EQ(store.ReadingCount(), 4);
    EXPECT_EQ(store.AddWatchStart(drive, "spare_low", kT0, 20).error, "");
    EXPECT_EQ(store.WatchPeriods(drive, true).size(), 1u);
}

// JudgeRead on the first demo drive: without a store the first reading of
// this run is the past; with one, the history is.
TEST(JudgeRead, ComparesWithTheRunOrTheHistory) {
    device::ResetDeviceGlobalsForTest();
    history::ResetHistoryForTest();
    ResetWatchForTest();
    platform::SimulatedRegistry registry(ZENTROVA_DEMO_DRIVES);
    device::SMARTDeviceDetection(registry);
    std::vector<platform::BlockStorageService> drives = registry.BlockStorageServices();
    std::array<std::uint8_t, device::kSmartPageSize> data{}, thresholds{};
    ASSERT_EQ(drives[0].smartInterface->SMARTReadData(data.data()), 0);
    ASSERT_EQ(drives[0].smartInterface->SMARTReadDataThresholds(thresholds.data()), 0);
    auto* entries =
        const_cast<device::ATASMARTAttributeStruct*>(device::AttributeEntries(data.data()));
    device::ATASMARTAttributeStruct* reallocated = nullptr;
    for (int i = 0; i < device::kSmartEntryCount; ++i)
        if (entries[i].attributeId == 5)
            reallocated = &entries[i];
    ASSERT_NE(reallocated, nullptr);

    std::vector<Change> changes;
    reallocated->rawvalue[0] = 4;
    EXPECT_FALSE(JudgeRead(0, data.data(), thresholds.data(), kT0, &changes)->onWatch);
    reallocated->rawvalue[0] = 6;
    const Verdict* v = JudgeRead(0, data.data(), thresholds.data(), kT0 + kDay, &changes);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->onWatch);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].rule->reason, std::string("reallocated_sectors"));
    EXPECT_EQ(JudgeRead(7, data.data(), thresholds.data(), kT0, &changes), nullptr);

    // With a store, its readings are the past, not the run's first.
    QTemporaryDir dir;
    ASSERT_EQ(history::OpenHistory(dir.path()).error, "");
    platform::SetClockHandler([] { return QDateTime::fromMSecsSinceEpoch(kT0 + 2 * kDay); });
    ASSERT_EQ(history::RecordRead(0, data.data(), thresholds.data()).error, "");
    EXPECT_FALSE(JudgeRead(0, data.data(), thresholds.data(), kT0 + 2 * kDay, nullptr)->onWatch);
    platform::SetClockHandler({});
    history::ResetHistoryForTest();
    device::ResetDeviceGlobalsForTest();
    ResetWatchForTest();
}

} // namespace
