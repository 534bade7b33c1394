// What our own work costs per reading, next to the milliseconds a drive takes
// to answer: one evaluation of a full page (no widgets to repaint), and one
// whole poll of a drive whose reads are instant.
#include "smart/smart_fixture.h"

#include <benchmark/benchmark.h>

using namespace zentrova;
using namespace zentrova::testing;

// Thirty entries well above their thresholds; the temperature under its limit.
struct Bench : SmartWorld {
    std::vector<EntrySpec> page;
    Bench() {
        for (int id : {1,   2,   3,   4,   5,   7,   8,   9,   10,  11,  12,  13,  191, 192, 193,
                       194, 195, 196, 197, 198, 199, 200, 201, 220, 222, 223, 225, 226, 240, 250})
            page.push_back({std::uint8_t(id), 200, 150, std::uint8_t(id == 194 ? 35 : 0), 20});
        SetReading(0, page);
        Detect({"SAMSUNG SV1204H"});
        Select(0);
        settings::settings.gnCriticaltemp[0] = 50;
        settings::settings.gbCriticalTempEnable[0] = 1;
    }
};

static void Evaluation(benchmark::State& state) {
    Bench b;
    const Page data = DataPage(b.page), thresholds = ThresholdsPage(b.page);
    smart::smart.gpPrevSmartAttr[0] = device::AttributeEntries(data.data());
    for (auto _ : state)
        benchmark::DoNotOptimize(
            smart::FillAttributeListTable(b.host, device::AttributeEntries(data.data()),
                                          device::ThresholdEntries(thresholds.data()), 0));
    if (smart::smart.gnTotAttr != 30)
        state.SkipWithError("the page did not fill 30 rows");
}
BENCHMARK(Evaluation);

static void WholePoll(benchmark::State& state) {
    Bench b;
    for (auto _ : state)
        b.PollOnce();
    if (b.host.col3[0] != QLatin1String("OK") || b.drives[0].readThresholdsCalls == 0)
        state.SkipWithError("the poll did not read the drive");
}
BENCHMARK(WholePoll);

BENCHMARK_MAIN();
