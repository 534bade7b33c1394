#include "metrics.h"

#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_file.h"
#include "smart/attribute_catalogue.h"

#include <QFile>
#include <QSet>
#include <QSettings>

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
    std::optional<int> temperature;
    std::vector<AttributeSample> attributes;
};

// What the file says of one drive: the verdict and temperature of its last
// good reading, or of detection while it has none, as the drive table shows
// them.
DriveSample SampleOf(const device::xDEV_INFO& drive) {
    DriveSample s;
    s.slot = drive.nDevIndex;
    s.labels = Label("device", smart::FieldBytes(drive.szDevFilePath)) + ',' +
               Label("model", smart::FieldBytes(drive.szModelNum)) + ',' +
               Label("firmware", smart::FieldBytes(drive.szFirmwareRev));
    s.statusOk = drive.bSmartEnabled != 0;
    if (drive.nTemperature != 0)
        s.temperature = drive.nTemperature;
    if (!metrics.gbHasReading[s.slot])
        return s;

    s.statusOk = true;
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

template <typename Number>
void Sample(QByteArray& out, const char* name, const QByteArray& labels, Number value) {
    out += QByteArray(name) + '{' + labels + "} " + QByteArray::number(value) + '\n';
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
    Family(out, "zentrova_drive_listed", "gauge", "1 for every drive the monitor lists.");
    for (const DriveSample& s : drives)
        Sample(out, "zentrova_drive_listed", s.labels, 1);
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
