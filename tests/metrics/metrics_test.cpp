// The metrics file: its content for the demo drives and for failed reads,
// label escaping, atomic replacement, an unwritable folder. With
// ZENTROVA_METRICS_SAMPLE naming a folder, the demo run's file is also
// written there for the Prometheus tools.
#include "fakes/fake_registry.h"
#include "fakes/log_files.h"
#include "metrics/metrics.h"
#include "platform/nvme_pages.h"
#include "platform/sim/simulated_registry.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"

#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zentrova;
using namespace zentrova::testing;

// '+' the line is in the file, '-' it is not. A, B, C, D stand for the demo
// drives' labels (D the NVMe drive), sda's model holding every character the format escapes;
// @T for the time of the reads.
const char* const kLabels[] = {
    R"({device="/dev/sda",model="QUOTE\" BACK\\SLASH\nLINE",firmware="ZD1.04",serial="ZDH0000000250")",
    R"({device="/dev/sdb",model="SAMSUNG SV1204H",firmware="RK100-1",serial="0461J1FW500123")",
    R"({device="/dev/sdc",model="ZENTROVA DEMO HD 80G",firmware="ZD0.97",serial="ZDH0000000080")",
    R"({device="/dev/nvme0",model="ZENTROVA DEMO NVME 512G",firmware="ZN2.01",serial="ZDN0000000512")"};

void ExpectLines(const char* cases) {
    const QByteArray text = '\n' + metrics::RenderMetrics();
    for (QByteArray line : QByteArray(cases).split('\n')) {
        const bool present = line.startsWith('+');
        line = line.mid(1).replace("@T", QByteArray::number(kEvening.toSecsSinceEpoch()));
        for (char drive : {'A', 'B', 'C', 'D'})
            line.replace(QByteArray("{") + drive, kLabels[drive - 'A']);
        EXPECT_EQ(text.contains('\n' + line + '\n'), present) << line.constData();
    }
}

// The demo drives detected, sda given an odd model; if asked, sda and sdb read
// once, sdc, which wears out, seven times and nvme0 three times, each read handed to the metrics
// as the monitor does.
void DemoRun(bool read) {
    device::ResetDeviceGlobalsForTest();
    platform::SimulatedRegistry registry(ZENTROVA_DEMO_DRIVES);
    device::SMARTDeviceDetection(registry);
    metrics::MetricsDrivesDetected();
    std::strcpy(device::dev.gpHeadDevInfo->szModelNum, "QUOTE\" BACK\\SLASH\nLINE");
    auto drives = platform::SimulatedRegistry(ZENTROVA_DEMO_DRIVES).BlockStorageServices();
    Page data, thresholds;
    for (int drive : read ? std::vector{0, 1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3} : std::vector<int>()) {
        drives[drive].smartInterface->SMARTReadData(data.data());
        drives[drive].smartInterface->SMARTReadDataThresholds(thresholds.data());
        metrics::MetricsRecordRead(drive, data.data(), thresholds.data());
    }
}

TEST(MetricsFile, DemoDrivesAfterDetectionReadsAndFailedReadsAndTheFileReplacedWhole) {
    QDateTime now = kEvening;
    platform::SetClockHandler([&now] { return now; });
    DemoRun(false);
    ExpectLines(R"(
+zentrova_drive_listed{B} 1
+zentrova_drive_smart_status_ok{C} 1
+zentrova_drive_temperature_celsius{B} 41
+zentrova_drive_failed_reads_total{A} 0
-zentrova_drive_last_poll_timestamp_seconds{A} 0
+zentrova_drive_temperature_celsius{D} 38
-# TYPE zentrova_nvme_critical_warning gauge
-zentrova_attribute_value{A,id="05",name="Reallocated Sector Count"} 100)");
    DemoRun(true);
    ExpectLines(R"(
+zentrova_drive_smart_status_ok{C} 0
+zentrova_drive_temperature_celsius{C} 55
+zentrova_drive_last_poll_timestamp_seconds{A} @T
+zentrova_attribute_raw_value{A,id="01",name="Raw Read Error Rate"} 143528104
+zentrova_attribute_value{B,id="09",name="Power On Half Minutes"} 100
+zentrova_attribute_worst{B,id="C2",name="Temperature Celsius x10"} 50
+zentrova_attribute_failed{C,id="05",name="Reallocated Sector Count"} 1
+zentrova_attribute_threshold{C,id="05",name="Reallocated Sector Count"} 36
+zentrova_drive_smart_status_ok{D} 1
+zentrova_drive_temperature_celsius{D} 40
+zentrova_nvme_critical_warning{D,bit="spare"} 0
+zentrova_nvme_available_spare_ratio{D} 1
+zentrova_nvme_available_spare_threshold_ratio{D} 0.1
+zentrova_nvme_life_used_ratio{D} 0.03
+zentrova_nvme_data_written_bytes_total{D} 9969845248000
+zentrova_nvme_power_on_seconds_total{D} 10144800
-# TYPE zentrova_drive_watch gauge
-# TYPE zentrova_watch_raw_value gauge)");
    EXPECT_FALSE(
        metrics::RenderMetrics().contains("zentrova_attribute_value{device=\"/dev/nvme0\""));
    // A self-test that failed fails its drive; one that passed only says so.
    metrics::MetricsSelfTestEnded(1, "short", metrics::kSelfTestFailed, 1234);
    metrics::MetricsSelfTestEnded(3, "extended", metrics::kSelfTestPassed, 2818);
    ExpectLines(R"(
+# TYPE zentrova_selftest_last_result gauge
+zentrova_selftest_last_result{B,type="short",hours="1234"} 1
+zentrova_drive_smart_status_ok{B} 0
+zentrova_selftest_last_result{D,type="extended",hours="2818"} 0
+zentrova_drive_smart_status_ok{D} 1)");
    // Watch, per drive and rule: advice only counted, of a reason given twice
    // the first, a later judgement in place of the earlier.
    metrics::MetricsWatchJudged(1, {{"pending_sectors", 2, true, false}});
    metrics::MetricsWatchJudged(0, {{"reallocated_sectors", 9, true, false},
                                    {"crc_errors", 3, false, true},
                                    {"pending_sectors", 0, false, false},
                                    {"reallocated_sectors", 1, false, false}});
    metrics::MetricsWatchJudged(3, {{"media_errors", 0, false, false}});
    metrics::MetricsWatchJudged(1, {});
    ExpectLines(R"(
+# TYPE zentrova_drive_watch gauge
+zentrova_drive_watch{A,reason="reallocated_sectors"} 1
-zentrova_drive_watch{A,reason="reallocated_sectors"} 0
+zentrova_drive_watch{A,reason="pending_sectors"} 0
-zentrova_drive_watch{A,reason="crc_errors"} 0
+# TYPE zentrova_watch_raw_value gauge
+zentrova_watch_raw_value{A,reason="reallocated_sectors"} 9
-zentrova_watch_raw_value{A,reason="reallocated_sectors"} 1
+zentrova_watch_raw_value{A,reason="crc_errors"} 3
+zentrova_drive_watch{D,reason="media_errors"} 0
+zentrova_watch_raw_value{D,reason="media_errors"} 0
-zentrova_watch_raw_value{B,reason="pending_sectors"} 2)");
    const char* sample = std::getenv("ZENTROVA_METRICS_SAMPLE");
    EXPECT_TRUE(sample == nullptr || metrics::WriteMetricsFile(sample, nullptr));
    // The first temperature attribute counts, and of a repeated identifier (a
    // repeated series) the first entry; a failed read keeps the last good reading.
    const std::vector<EntrySpec> e{{194, 100, 100, 40}, {231, 100, 100, 60}, {5, 90, 90}, {5, 10}};
    metrics::MetricsRecordRead(0, DataPage(e).data(), ThresholdsPage(e).data());
    now = now.addSecs(3600);
    metrics::MetricsRecordRead(0, nullptr, nullptr);
    ExpectLines(R"(
+zentrova_drive_last_poll_timestamp_seconds{A} @T
+zentrova_drive_temperature_celsius{A} 40
+zentrova_attribute_value{A,id="05",name="Reallocated Sector Count"} 90
-zentrova_attribute_value{A,id="05",name="Reallocated Sector Count"} 10)");
    // A failing NVMe reading: one warning bit, counters past 64 and 128 bits
    // once in bytes.
    namespace pages = platform::nvme;
    Page health{};
    health[pages::kCriticalWarning.offset] = pages::kWarnReliability;
    health[pages::kWarningTemperatureTime.offset] = 7;
    health[pages::kMediaErrors.offset + 15] = 0x80;
    health[pages::kDataUnitsRead.offset + 15] = 0x80;
    metrics::MetricsRecordRead(3, health.data(), health.data());
    ExpectLines(R"(
+zentrova_drive_smart_status_ok{D} 0
+zentrova_nvme_critical_warning{D,bit="reliability"} 1
+zentrova_nvme_critical_warning{D,bit="spare"} 0
+zentrova_nvme_warning_temperature_seconds_total{D} 420
+zentrova_nvme_media_errors_total{D} 170141183460469231731687303715884105728
+zentrova_nvme_data_read_bytes_total{D} 87112285931760246646623899502532662132736000)");

    // The file: told once while its folder cannot be written, and tried again;
    // replaced by a rename, so that a reader's open file is never rewritten in place.
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
    EXPECT_TRUE(metrics::MetricsDirectory().isEmpty()) << "off unless asked for";
    const QString folder = dir.path() + "/later", path = folder + "/zentrova.prom";
    settings::UserDefaults()->setValue("MetricsDirectory", folder);
    ::testing::internal::CaptureStderr();
    metrics::UpdateMetricsFile();
    metrics::UpdateMetricsFile();
    ASSERT_TRUE(QDir().mkpath(folder));
    metrics::UpdateMetricsFile();
    const QString err = QString::fromStdString(::testing::internal::GetCapturedStderr());
    EXPECT_TRUE(err.count('\n') == 1 && err.contains("temporary file in " + folder + ":"))
        << err.toStdString();
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    const QByteArray first = metrics::RenderMetrics();
    metrics::metrics.gnFailedReads[0] = 1234567u;
    metrics::UpdateMetricsFile();
    EXPECT_EQ(reader.readAll(), first);
    EXPECT_EQ(ReadAll(path), metrics::RenderMetrics());
    EXPECT_TRUE(QFileInfo(path).permissions() & QFile::ReadOther) << "the exporter's own user";
    // In a folder others may write to, a link planted at a temporary name is
    // never written through, and no temporary file is left behind.
    const QString victim = dir.path() + "/victim";
    ASSERT_TRUE(Append(victim, "mine") && QFile::link(victim, path + ".tmp"));
    metrics::metrics.gnFailedReads[0] = 7654321u;
    metrics::UpdateMetricsFile();
    EXPECT_EQ(ReadAll(victim), "mine");
    EXPECT_TRUE(ReadAll(path) == metrics::RenderMetrics() && !QFileInfo(path).isSymLink());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"zentrova.prom", "zentrova.prom.tmp"}));
}
