// What our own work costs per reading, next to the milliseconds a drive takes
// to answer: one evaluation of a full page with the drive's log open (no
// widgets to repaint), and one whole poll of a drive whose reads are instant.
#include "device/device.h"
#include "fakes/fake_registry.h"
#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "smart/evaluation.h"
#include "smart/event_log.h"
#include "smart/poll_cycle.h"
#include "smart/quiet_host.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <unistd.h>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

// Thirty used entries, all well above their thresholds, one of them the
// drive's temperature below its limit.
std::vector<EntrySpec> FullPage(std::uint8_t shift) {
    const std::uint8_t ids[30] = {1,   2,   3,   4,   5,   7,   8,   9,   10,  11,
                                  12,  13,  191, 192, 193, 194, 195, 196, 197, 198,
                                  199, 200, 201, 220, 222, 223, 225, 226, 240, 250};
    std::vector<EntrySpec> out;
    for (std::uint8_t id : ids)
        out.push_back({id, static_cast<std::uint8_t>(200 - shift), 150,
                       static_cast<std::uint8_t>(id == 194 ? 35 : 0), 20});
    return out;
}

struct Bench {
    QTemporaryDir dir;
    FakeRegistry registry;
    FakeDriveState drive;
    QuietHost host;
    QString log;

    Bench() {
        device::ResetDeviceGlobalsForTest();
        smart::ResetSmartGlobalsForTest();
        settings::ResetSettingsGlobalsForTest();
        platform::SetBeepHandler([] {});
        platform::SetAlertHandler([](const platform::AlertRequest&) { return 1; });
        FakeService s;
        s.bsdName = "sda";
        s.sizeBytes = std::int64_t{80} << 30;
        s.model = "SAMSUNG SV1204H";
        s.firmware = "RK100-1";
        s.drive = &drive;
        registry.services.push_back(s);
        drive.data = DataPage(FullPage(0));
        drive.thresholds = ThresholdsPage(FullPage(0));
        device::SMARTDeviceDetection(registry);
        device::dev.gpSelDevInfo = device::dev.gpHeadDevInfo;
        settings::settings.gnCriticaltemp[0] = 50;
        settings::settings.gbCriticalTempEnable[0] = 1;
        host.drvPath = dir.path();
        host.col2 = {QStringLiteral("35")};
        host.col3 = {QStringLiteral("OK")};
        log = smart::LogFilePath(dir.path(), 0);
        smart::CreateLogFile(log, QDateTime::currentDateTime());
    }
    std::uint8_t Evaluate(const Page& data, const Page& thresholds) {
        return smart::FillAttributeListTable(host, device::AttributeEntries(data.data()),
                                             device::ThresholdEntries(thresholds.data()), 0);
    }
    // Every `every` calls, outside the timing, the log is emptied again.
    void KeepLogSmall(benchmark::State& state, int every) {
        if (++calls % every != 0)
            return;
        state.PauseTiming();
        if (::truncate(QFile::encodeName(log).constData(), 0) != 0)
            state.SkipWithError("cannot truncate the log");
        state.ResumeTiming();
    }
    int calls = 0;

    ~Bench() {
        smart::ResetSmartGlobalsForTest();
        device::ResetDeviceGlobalsForTest();
        platform::SetBeepHandler({});
        platform::SetAlertHandler({});
    }
};

void Evaluation(benchmark::State& state) {
    Bench b;
    const Page data = DataPage(FullPage(0));
    const Page thresholds = ThresholdsPage(FullPage(0));
    const Page previous = data;
    smart::smart.gpPrevSmartAttr[0] = device::AttributeEntries(previous.data());
    for (auto _ : state)
        benchmark::DoNotOptimize(b.Evaluate(data, thresholds));
    if (smart::smart.gnTotAttr != 30)
        state.SkipWithError("the page did not fill 30 rows");
}
BENCHMARK(Evaluation);

// One value differs from the previous reading: the log is opened and gets one
// entry.
void EvaluationLoggingOneChange(benchmark::State& state) {
    Bench b;
    const Page data = DataPage(FullPage(0));
    const Page thresholds = ThresholdsPage(FullPage(0));
    Page previous = data;
    previous[2 + 3] = 201; // entry 0's current value
    smart::smart.gpPrevSmartAttr[0] = device::AttributeEntries(previous.data());
    for (auto _ : state) {
        benchmark::DoNotOptimize(b.Evaluate(data, thresholds));
        b.KeepLogSmall(state, 4096);
    }
}
BENCHMARK(EvaluationLoggingOneChange);

// Every value differs from the previous reading: thirty log entries per call.
void EvaluationLoggingEveryAttribute(benchmark::State& state) {
    Bench b;
    const Page pages[2] = {DataPage(FullPage(0)), DataPage(FullPage(1))};
    const Page thresholds = ThresholdsPage(FullPage(0));
    for (auto _ : state) {
        const int n = b.calls;
        smart::smart.gpPrevSmartAttr[0] = device::AttributeEntries(pages[(n + 1) % 2].data());
        benchmark::DoNotOptimize(b.Evaluate(pages[n % 2], thresholds));
        b.KeepLogSmall(state, 256);
    }
}
BENCHMARK(EvaluationLoggingEveryAttribute);

void WholePoll(benchmark::State& state) {
    Bench b;
    for (auto _ : state)
        smart::PollSelDriveForSMARTAndFillAttributeTable(b.host);
    if (b.host.col3[0] != QLatin1String("OK") || b.drive.readThresholdsCalls == 0)
        state.SkipWithError("the poll did not read the drive");
}
BENCHMARK(WholePoll);

} // namespace

BENCHMARK_MAIN();
