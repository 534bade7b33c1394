// Writes the metrics file of a demo run into the folder given: sda (with a
// model that needs escaping) and sdb read once, sdc worn out over seven reads.
#include "demo_metrics.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    using namespace zentrova;
    if (argc != 2) {
        std::fprintf(stderr, "usage: metrics_sample <folder>\n");
        return 2;
    }
    platform::SetBeepHandler([] {});
    platform::SetAlertHandler([](const platform::AlertRequest&) { return 1; });
    testing::DetectDemoDrives();
    if (device::xDEV_INFO* sda = testing::Drive(0))
        std::memcpy(sda->szModelNum, testing::kOddModel, sizeof testing::kOddModel);
    testing::MetricsHost host;
    for (const auto& [drive, reads] : {std::pair{0, 1}, {1, 1}, {2, 7}})
        testing::PollDrive(host, drive, reads);
    QString error;
    if (!metrics::WriteMetricsFile(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "metrics_sample: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
