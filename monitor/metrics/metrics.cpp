#include "metrics.h"

#include "nvme/nvme_health.h"
#include "platform/nvme_pages.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_file.h"
#include "smart/attribute_catalogue.h"

#include <QFile>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace zentrova::metrics {

MetricsGlobals metrics;

void ResetMetricsGlobalsForTest() {
    metrics = MetricsGlobals{};
}

void MetricsDrivesDetected() {
    const bool reported = metrics.gbWriteFailureReported;
    metrics = MetricsGlobals{};
    metrics.gbWriteFailureReported = reported;
}

void MetricsRecordRead(int drive, const std::uint8_t* dataPage,
                       const std::uint8_t* thresholdsPage) {
    if (drive < 0 || drive >= kMaxDrives)
        return;
    if (dataPage == nullptr || thresholdsPage == nullptr) {
        ++metrics.gnFailedReads[drive];
        return;
    }
    std::memcpy(metrics.gLastDataPage[drive], dataPage, kSmartPageSize);
    std::memcpy(metrics.gLastThreshPage[drive], thresholdsPage, kSmartPageSize);
    metrics.gbHasReading[drive] = true;
    metrics.gnLastPollSecs[drive] = platform::CurrentDateTime().toSecsSinceEpoch();
}

namespace {

// A label value as the exposition format wants it: UTF-8 (bytes that are not
// become U+FFFD), with backslash, double quote and line feed escaped.
QByteArray LabelValue(const QByteArray& raw) {
    const QByteArray utf8 = QString::fromUtf8(raw).toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray Label(const char* name, const QByteArray& raw) {
    return QByteArray(name) + "=\"" + LabelValue(raw) + '"';
}

struct AttributeSample {
    QByteArray labels;
    std::uint8_t value = 0;
    std::uint8_t worst = 0;
    std::uint8_t threshold = 0;
    std::uint64_t raw = 0;
    bool failed = false;
};

struct DriveSample {
    int slot = 0;
    QByteArray labels;
    bool statusOk = false;
    bool listed = true; // false once the drive has left the computer
    std::optional<int> temperature;
    std::vector<AttributeSample> attributes;
    // An NVMe drive's last good health log, in place of attributes.
    std::optional<nvme::HealthLog> health;
};

// What the file says of one drive: the verdict and temperature of its last
// good reading, or of detection while it has none, as the drive table shows
// them.
DriveSample SampleOf(const device::xDEV_INFO& drive) {
    DriveSample s;
    s.slot = drive.nDevIndex;
    s.labels = Label("device", smart::FieldBytes(drive.szDevFilePath)) + ',' +
               Label("model", smart::FieldBytes(drive.szModelNum)) + ',' +
               Label("firmware", smart::FieldBytes(drive.szFirmwareRev)) + ',' +
               Label("serial", QByteArray::fromStdString(drive.driveSerial));
    s.statusOk = drive.bSmartEnabled != 0;
    s.listed = !drive.removed;
    const bool selfTestFailed =
        metrics.gSelfTest[s.slot].ended && metrics.gSelfTest[s.slot].result == kSelfTestFailed;
    if (drive.nTemperature != 0)
        s.temperature = drive.nTemperature;
    if (!metrics.gbHasReading[s.slot])
        return s;

    if (drive.driveKind == platform::DriveKind::Nvme) {
        s.health = nvme::DecodeHealthLog(metrics.gLastDataPage[s.slot]);
        s.statusOk = !nvme::HealthFailed(*s.health) && !selfTestFailed;
        s.temperature = nvme::Celsius(s.health->compositeKelvin);
        return s;
    }
    s.statusOk = !selfTestFailed;
    s.temperature.reset();
    const auto* entries = device::AttributeEntries(metrics.gLastDataPage[s.slot]);
    const auto* thresholds = device::ThresholdEntries(metrics.gLastThreshPage[s.slot]);
    bool seen[256] = {};
    for (int i = 0; i < device::kSmartEntryCount; ++i) {
        const device::ATASMARTAttributeStruct& e = entries[i];
        // A repeated identifier would repeat a series, which makes the
        // scraper drop the whole file: the first entry speaks for it.
        if (e.attributeId == 0 || seen[e.attributeId])
            continue;
        seen[e.attributeId] = true;
        const std::int32_t option = smart::VendorOptionFor(&drive, e.attributeId);
        AttributeSample a;
        a.labels = s.labels + ',' + Label("id", smart::AttributeIdText(e.attributeId).toUtf8()) +
                   ',' + Label("name", smart::AttributeName(e.attributeId, option).toUtf8());
        a.value = e.current;
        a.worst = e.worst;
        a.threshold = thresholds[i].ThresholdValue;
        for (int b = 5; b >= 0; --b)
            a.raw = (a.raw << 8) | e.rawvalue[b];
        a.failed = e.current <= a.threshold;
        if (a.failed)
            s.statusOk = false;
        // The first temperature attribute, 0 meaning none as at detection.
        if (!s.temperature && device::IsTemperatureAttribute(e.attributeId, option) &&
            e.rawvalue[0] != 0)
            s.temperature = e.rawvalue[0];
        s.attributes.push_back(std::move(a));
    }
    return s;
}

void Family(QByteArray& out, const char* name, const char* type, const char* help) {
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

void Sample(QByteArray& out, const char* name, const QByteArray& labels, const QByteArray& value) {
    out += QByteArray(name) + '{' + labels + "} " + value + '\n';
}

template <typename Number>
void Sample(QByteArray& out, const char* name, const QByteArray& labels, Number value) {
    Sample(out, name, labels, QByteArray::number(value));
}

// A counter in base units, its digits exact; past 128 bits only a float
// can hold it, as Prometheus does anyway.
QByteArray Scaled(nvme::Counter count, std::uint32_t unit) {
    if (count > ~nvme::Counter(0) / unit)
        return QByteArray::number(static_cast<double>(count) * unit, 'f', 0);
    return QByteArray::fromStdString(nvme::DecimalText(count * unit));
}

// The health log's percentages as the ratios Prometheus names its fractions by.
QByteArray Ratio(std::uint8_t percent) {
    return QByteArray::number(percent / 100.0);
}

// An NVMe drive's health log: the critical warning bit by bit, then one
// family per field.
void RenderNvmeFamilies(QByteArray& out, const std::vector<DriveSample>& drives) {
    namespace pages = platform::nvme;
    static const struct {
        const char* label;
        std::uint8_t mask;
    } kWarningBits[] = {
        {"spare", pages::kWarnSpare},
        {"temperature", pages::kWarnTemperature},
        {"reliability", pages::kWarnReliability},
        {"read_only", pages::kWarnReadOnly},
        {"volatile_memory_backup", pages::kWarnVolatileBackup},
        {"persistent_memory_region", pages::kWarnPersistentMemory},
    };
    Family(out, "zentrova_nvme_critical_warning", "gauge",
           "1 when the NVMe drive sets this bit of its critical warning.");
    for (const DriveSample& s : drives) {
        if (!s.health)
            continue;
        for (const auto& bit : kWarningBits)
            Sample(out, "zentrova_nvme_critical_warning", s.labels + ',' + Label("bit", bit.label),
                   (s.health->criticalWarning & bit.mask) != 0 ? 1 : 0);
    }

    using Log = nvme::HealthLog;
    struct NvmeFamily {
        const char* name;
        const char* type;
        const char* help;
        QByteArray (*value)(const Log&);
    };
    static const NvmeFamily kFamilies[] = {
        {"zentrova_nvme_available_spare_ratio", "gauge",
         "Spare capacity the NVMe drive has left, as a ratio of its full spare.",
         [](const Log& h) { return Ratio(h.availableSpare); }},
        {"zentrova_nvme_available_spare_threshold_ratio", "gauge",
         "Available spare below which the NVMe drive warns, as a ratio.",
         [](const Log& h) { return Ratio(h.availableSpareThreshold); }},
        {"zentrova_nvme_life_used_ratio", "gauge",
         "The NVMe drive's Percentage Used over 100: the share of its rated life used; may pass 1.",
         [](const Log& h) { return Ratio(h.percentageUsed); }},
        {"zentrova_nvme_data_read_bytes_total", "counter",
         "Bytes the host read from the NVMe drive.",
         [](const Log& h) { return Scaled(h.dataUnitsRead, pages::kDataUnitBytes); }},
        {"zentrova_nvme_data_written_bytes_total", "counter",
         "Bytes the host wrote to the NVMe drive.",
         [](const Log& h) { return Scaled(h.dataUnitsWritten, pages::kDataUnitBytes); }},
        {"zentrova_nvme_host_read_commands_total", "counter",
         "Read commands the NVMe drive completed.",
         [](const Log& h) { return Scaled(h.hostReadCommands, 1); }},
        {"zentrova_nvme_host_write_commands_total", "counter",
         "Write commands the NVMe drive completed.",
         [](const Log& h) { return Scaled(h.hostWriteCommands, 1); }},
        {"zentrova_nvme_controller_busy_seconds_total", "counter",
         "Time the NVMe controller was busy with commands.",
         [](const Log& h) { return Scaled(h.controllerBusyMinutes, 60); }},
        {"zentrova_nvme_power_cycles_total", "counter", "Power cycles of the NVMe drive.",
         [](const Log& h) { return Scaled(h.powerCycles, 1); }},
        {"zentrova_nvme_power_on_seconds_total", "counter",
         "Time the NVMe drive was powered on, counted in whole hours.",
         [](const Log& h) { return Scaled(h.powerOnHours, 3600); }},
        {"zentrova_nvme_unsafe_shutdowns_total", "counter",
         "Times the NVMe drive lost power without being told first.",
         [](const Log& h) { return Scaled(h.unsafeShutdowns, 1); }},
        {"zentrova_nvme_media_errors_total", "counter",
         "Unrecovered data integrity errors of the NVMe drive.",
         [](const Log& h) { return Scaled(h.mediaErrors, 1); }},
        {"zentrova_nvme_error_log_entries_total", "counter",
         "Entries of the NVMe drive's error information log over its life.",
         [](const Log& h) { return Scaled(h.errorLogEntries, 1); }},
        {"zentrova_nvme_warning_temperature_seconds_total", "counter",
         "Time the NVMe drive spent at or above its warning temperature, counted in minutes.",
         [](const Log& h) { return Scaled(h.warningTemperatureMinutes, 60); }},
        {"zentrova_nvme_critical_temperature_seconds_total", "counter",
         "Time the NVMe drive spent at or above its critical temperature, counted in minutes.",
         [](const Log& h) { return Scaled(h.criticalTemperatureMinutes, 60); }},
    };
    for (const NvmeFamily& f : kFamilies) {
        Family(out, f.name, f.type, f.help);
        for (const DriveSample& s : drives)
            if (s.health)
                Sample(out, f.name, s.labels, f.value(*s.health));
    }
}

} // namespace

void MetricsSelfTestEnded(int drive, const QByteArray& type, SelfTestResult result,
                          std::uint64_t hours) {
    if (drive < 0 || drive >= kMaxDrives)
        return;
    metrics.gSelfTest[drive] = {true, type, result, hours};
}

void MetricsWatchJudged(int drive, std::vector<WatchSample> samples) {
    if (drive < 0 || drive >= kMaxDrives)
        return;
    metrics.gWatch[drive] = std::move(samples);
}

namespace {

// The early warnings, only once some drive was judged, so that a file
// without them keeps the families it always had. Of a reason given twice the
// first speaks, as a repeated series makes the scraper drop the whole file.
void RenderWatchFamilies(QByteArray& out, const std::vector<DriveSample>& drives) {
    if (std::none_of(drives.begin(), drives.end(),
                     [](const DriveSample& s) { return !metrics.gWatch[s.slot].empty(); }))
        return;
    const auto each = [&](auto&& sample) {
        for (const DriveSample& s : drives) {
            QSet<QByteArray> seen;
            for (const WatchSample& w : metrics.gWatch[s.slot]) {
                if (seen.contains(w.reason))
                    continue;
                seen.insert(w.reason);
                sample(s.labels + ',' + Label("reason", w.reason), w);
            }
        }
    };
    Family(out, "zentrova_drive_watch", "gauge",
           "1 while this early-warning rule puts the drive on Watch, else 0; advice rules are "
           "not here.");
    each([&](const QByteArray& labels, const WatchSample& w) {
        if (!w.advice)
            Sample(out, "zentrova_drive_watch", labels, w.watched ? 1 : 0);
    });
    Family(out, "zentrova_watch_raw_value", "gauge",
           "The raw count an early-warning rule reads, decoded as the drive keeps it.");
    each([&](const QByteArray& labels, const WatchSample& w) {
        Sample(out, "zentrova_watch_raw_value", labels, static_cast<qulonglong>(w.count));
    });
}

} // namespace

QByteArray RenderMetrics() {
    std::vector<DriveSample> drives;
    QSet<QByteArray> labelSets;
    for (const device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        if (r->nDevIndex < 0 || r->nDevIndex >= kMaxDrives)
            continue;
        DriveSample s = SampleOf(*r);
        // Two records alike in path, model and firmware would be one series.
        if (labelSets.contains(s.labels))
            continue;
        labelSets.insert(s.labels);
        drives.push_back(std::move(s));
    }

    QByteArray out;
    Family(out, "zentrova_drive_listed", "gauge",
           "1 for every drive the monitor lists, 0 for one removed while it runs.");
    for (const DriveSample& s : drives)
        Sample(out, "zentrova_drive_listed", s.labels, s.listed ? 1 : 0);
    Family(out, "zentrova_drive_smart_status_ok", "gauge",
           "1 when the drive's S.M.A.R.T. status is OK, 0 when it is Failed.");
    for (const DriveSample& s : drives)
        Sample(out, "zentrova_drive_smart_status_ok", s.labels, s.statusOk ? 1 : 0);
    Family(out, "zentrova_drive_temperature_celsius", "gauge",
           "Drive temperature in degrees Celsius, for drives that report one.");
    for (const DriveSample& s : drives)
        if (s.temperature)
            Sample(out, "zentrova_drive_temperature_celsius", s.labels, *s.temperature);
    Family(out, "zentrova_drive_last_poll_timestamp_seconds", "gauge",
           "Time of the drive's last successful S.M.A.R.T. read, in seconds since the epoch.");
    for (const DriveSample& s : drives)
        if (metrics.gbHasReading[s.slot])
            Sample(out, "zentrova_drive_last_poll_timestamp_seconds", s.labels,
                   metrics.gnLastPollSecs[s.slot]);
    Family(out, "zentrova_drive_failed_reads_total", "counter",
           "S.M.A.R.T. reads of the drive that failed since the monitor started.");
    for (const DriveSample& s : drives)
        Sample(out, "zentrova_drive_failed_reads_total", s.labels, metrics.gnFailedReads[s.slot]);

    if (std::any_of(drives.begin(), drives.end(),
                    [](const DriveSample& s) { return metrics.gSelfTest[s.slot].ended; })) {
        Family(out, "zentrova_selftest_last_result", "gauge",
               "How the drive's last self-test this run ended: 0 passed, 1 failed, 2 aborted, 3 "
               "unknown; with its type and the power-on hours it ended at.");
        for (const DriveSample& s : drives)
            if (const auto& t = metrics.gSelfTest[s.slot]; t.ended)
                Sample(out, "zentrova_selftest_last_result",
                       s.labels + ',' + Label("type", t.type) + ',' +
                           Label("hours", QByteArray::number(static_cast<qulonglong>(t.hours))),
                       t.result);
    }

    struct AttributeFamily {
        const char* name;
        const char* help;
        std::uint64_t (*value)(const AttributeSample&);
    };
    static const AttributeFamily kAttributeFamilies[] = {
        {"zentrova_attribute_value", "Current normalised value of the attribute.",
         [](const AttributeSample& a) -> std::uint64_t { return a.value; }},
        {"zentrova_attribute_worst", "Worst normalised value the drive has recorded.",
         [](const AttributeSample& a) -> std::uint64_t { return a.worst; }},
        {"zentrova_attribute_threshold", "Threshold at or below which the attribute fails.",
         [](const AttributeSample& a) -> std::uint64_t { return a.threshold; }},
        {"zentrova_attribute_raw_value", "Raw value of the attribute, its six bytes as a number.",
         [](const AttributeSample& a) -> std::uint64_t { return a.raw; }},
        {"zentrova_attribute_failed", "1 when the current value is at or below the threshold.",
         [](const AttributeSample& a) -> std::uint64_t { return a.failed; }},
    };
    for (const AttributeFamily& f : kAttributeFamilies) {
        Family(out, f.name, "gauge", f.help);
        for (const DriveSample& s : drives)
            for (const AttributeSample& a : s.attributes)
                Sample(out, f.name, a.labels, f.value(a));
    }
    // A file without NVMe drives keeps the families it always had.
    if (std::any_of(drives.begin(), drives.end(), [](const DriveSample& s) { return s.health; }))
        RenderNvmeFamilies(out, drives);
    RenderWatchFamilies(out, drives);
    return out;
}

bool WriteMetricsFile(const QString& directory, QString* error) {
    // Only the rename changes the file under its name, whole, for any reader.
    const QString failure = settings::WriteFileAtomically(
        directory + QLatin1Char('/') + QLatin1String(kMetricsFileName), RenderMetrics(),
        QLatin1String(kMetricsTempName));
    if (failure.isEmpty())
        return true;
    if (error != nullptr)
        *error = failure;
    return false;
}

QString MetricsDirectory() {
    return settings::UserDefaults()->value(QStringLiteral("MetricsDirectory")).toString();
}

void UpdateMetricsFile() {
    const QString directory = MetricsDirectory();
    if (directory.isEmpty())
        return;
    QString error;
    if (WriteMetricsFile(directory, &error)) {
        metrics.gbWriteFailureReported = false;
        return;
    }
    if (metrics.gbWriteFailureReported)
        return;
    metrics.gbWriteFailureReported = true;
    std::fprintf(stderr, "zentrova: metrics file not written (tried again after each poll): %s\n",
                 error.toLocal8Bit().constData());
}

} // namespace zentrova::metrics
