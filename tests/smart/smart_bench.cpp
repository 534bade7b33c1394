// What our own work costs per reading, next to the milliseconds a drive takes
// to answer: one whole poll (read, evaluation of a full page, log, cells) of a
// drive whose reads are instant, with no widgets to repaint.
#include "smart/smart_fixture.h"

#include <benchmark/benchmark.h>

using namespace zentrova;
using namespace zentrova::testing;

static void WholePoll(benchmark::State& state) {
    SmartWorld w;
    // Thirty entries well above their thresholds; the temperature under its limit.
    std::vector<EntrySpec> page;
    for (int id = 180; id < 210; ++id)
        page.push_back({std::uint8_t(id), 200, 150, std::uint8_t(id == 194 ? 35 : 0), 20});
    w.SetReading(0, page);
    w.Detect({"SAMSUNG SV1204H"});
    w.Select(0);
    settings::settings.gnCriticaltemp[0] = 50;
    settings::settings.gbCriticalTempEnable[0] = 1;
    for (auto _ : state)
        w.PollOnce();
    if (smart::smart.gnTotAttr != 30 || w.host.col3[0] != QLatin1String("OK"))
        state.SkipWithError("the poll did not fill 30 rows from the drive");
}
BENCHMARK(WholePoll);

BENCHMARK_MAIN();
