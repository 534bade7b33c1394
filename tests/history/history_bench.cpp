// The history's figures on a generated store: a year of hourly readings of
// four drives with 30 attributes each. Prints the file's size, the cost of
// adding one reading to it, of loading a year of one drive for the page and
// of the History page showing and drawing that year (offscreen).
#include "history/history.h"
#include "history/history_fixture.h"
#include "history/history_plot.h"
#include "platform/ui/alert_panel.h"
#include "shell/history_page.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstring>

#include <cstdio>
#include <sys/stat.h>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

constexpr int kDrives = 4;
constexpr int kHours = 365 * 24;
const char* const kModels[kDrives] = {"A", "B", "C", "D"};

struct Generated {
    QTemporaryDir dir;
    std::string path = dir.filePath("history.sqlite3").toStdString();
    history::Store& store =
        *(history::history.store = std::make_unique<history::Store>([] { return kT0; }));
    std::int64_t end = kT0 + kHours * kHourMs;
    double readings = 0, megabytes = 0; // as generated
    Generated() {
        store.Open(path);
        for (int h = 0; h < kHours; ++h)
            for (int d = 0; d < kDrives; ++d)
                // Power-on hours tick every reading, so none is stored compactly.
                store.Add(MadeUpReading(kModels[d], kT0 + h * kHourMs, h + d));
        readings = double(store.ReadingCount());
        megabytes = double(Bytes()) / 1e6;
    }
    std::int64_t Bytes() const {
        std::int64_t total = 0;
        for (const char* suffix : {"", "-wal", "-shm"}) {
            struct stat st {};
            if (::stat((path + suffix).c_str(), &st) == 0)
                total += st.st_size;
        }
        return total;
    }
};

Generated& Store() {
    static Generated g;
    return g;
}

void AddOneReading(benchmark::State& state) {
    Generated& g = Store();
    state.counters["readings"] = g.readings;
    state.counters["store_MB"] = g.megabytes;
    int i = 0;
    for (auto _ : state) {
        ++i;
        g.store.Add(MadeUpReading("A", g.end + i * 1000, kHours + i));
    }
}
BENCHMARK(AddOneReading)->Unit(benchmark::kMillisecond);

void LoadAYearOfOneDrive(benchmark::State& state) {
    Generated& g = Store();
    for (auto _ : state) {
        history::PlotModel model;
        model.Show(&g.store, {"B", "FW1", ""}, 5, history::Range::Year, g.end);
        benchmark::DoNotOptimize(model.Temperatures());
        benchmark::DoNotOptimize(model.Raws());
        state.counters["points"] = double(model.Size());
    }
}
BENCHMARK(LoadAYearOfOneDrive)->Unit(benchmark::kMillisecond);

void DrawAYearOnThePage(benchmark::State& state) {
    Generated& g = Store();
    platform::SetClockHandler([&] { return QDateTime::fromMSecsSinceEpoch(g.end); });
    device::xDEV_INFO drive;
    std::strcpy(drive.szModelNum, "B");
    std::strcpy(drive.szFirmwareRev, "FW1");
    shell::HistoryPage page;
    page.resize(1000, 700);
    page.show();
    page.SetRange(history::Range::Year);
    for (auto _ : state) {
        page.ShowDrive(&drive);
        benchmark::DoNotOptimize(page.grab());
    }
    state.counters["points"] = double(page.Model().Size());
}
BENCHMARK(DrawAYearOnThePage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
