// The cost of judging one poll with a year of history: a generated store of
// hourly readings of four ATA drives (30 attributes each, the Watch counters
// among them, one drive reallocating), then the judgement of a fresh reading
// of one drive as a poll makes it, once seeded (the steady state) and as the
// first judgement of a run (which also finds each counter's last change).
// Prints the figures; the target is below 1 ms a poll.
#include "history/history_fixture.h"
#include "watch/watch.h"
#include "watch/watch_history.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

constexpr int kDrives = 4;
constexpr int kHours = 365 * 24;
const char* const kModels[kDrives] = {"A", "B", "C", "D"};
constexpr std::uint8_t kWatched[] = {5, 10, 184, 187, 196, 197, 198, 199};

// MadeUpReading with the Watch counters in place of its last attributes:
// drive A reallocates a sector every ten days, so four of its counters are
// looked back at every poll.
history::Reading Reading(int drive, int hour) {
    history::Reading r = MadeUpReading(kModels[drive], kT0 + hour * kHourMs, hour + drive);
    std::size_t spare = r.entries.size();
    for (const std::uint8_t id : kWatched) {
        history::Entry* e = nullptr;
        for (history::Entry& candidate : r.entries)
            if (candidate.id == id)
                e = &candidate;
        if (e == nullptr) // in place of one of the last attributes
            (e = &r.entries[--spare])->id = id;
        // Drive A: reallocating, with old cable errors and spin-up retries.
        const int count = drive != 0              ? 0
                          : id == 5 || id == 196  ? hour / 240
                          : id == 199 || id == 10 ? 3
                                                  : 0;
        e->raw = {
            static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8), 0, 0, 0, 0};
    }
    return r;
}

struct Generated {
    QTemporaryDir dir;
    history::Store store{[] { return kT0; }};
    Generated() {
        const history::Trouble opened = store.Open(dir.filePath("history.sqlite3").toStdString());
        if (!opened.error.empty())
            std::fprintf(stderr, "cannot open the store: %s\n", opened.error.c_str());
        for (int h = 0; h < kHours; ++h)
            for (int d = 0; d < kDrives; ++d)
                if (const auto t = store.Add(Reading(d, h)); !t.error.empty() && h == 0)
                    std::fprintf(stderr, "cannot add: %s\n", t.error.c_str());
    }
};

Generated& Store() {
    static Generated g;
    return g;
}

void JudgeOnePoll(benchmark::State& state) {
    Generated& g = Store();
    watch::StorePast past(g.store);
    watch::Watcher watcher;
    const history::Reading now = Reading(0, kHours);
    const std::int64_t nowMs = now.takenMs;
    watcher.Judge(now, past, nowMs, nullptr);
    for (auto _ : state) {
        std::vector<watch::Change> changes;
        benchmark::DoNotOptimize(watcher.Judge(now, past, nowMs, &changes));
    }
    state.counters["readings"] = double(g.store.ReadingCount());
}
BENCHMARK(JudgeOnePoll)->Unit(benchmark::kMicrosecond);

void FirstJudgementOfARun(benchmark::State& state) {
    Generated& g = Store();
    watch::StorePast past(g.store);
    const history::Reading now = Reading(0, kHours);
    for (auto _ : state) {
        watch::Watcher watcher;
        benchmark::DoNotOptimize(watcher.Judge(now, past, now.takenMs, nullptr));
    }
}
BENCHMARK(FirstJudgementOfARun)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
