// The drives' health for Prometheus: a file in the text exposition format,
// rewritten after every detection and every read of a poll, for
// node_exporter's textfile collector to serve. Off unless the user default
// "MetricsDirectory" names a folder.
#pragma once

#include "device/device.h"
#include "device/smart_pages.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace zentrova::metrics {

using device::kMaxDrives;
using device::kSmartPageSize;

// The file's name in the folder; it is written first under a unique name
// that begins with kMetricsTempName (kMetricsTempName + ".XXXXXX"), which
// node_exporter's "*.prom" never matches.
inline constexpr char kMetricsFileName[] = "zentrova.prom";
inline constexpr char kMetricsTempName[] = "zentrova.prom.tmp";

// What the early-warning judgement made of one rule for a drive's last read.
// The monitor hands it over, so that the file needs nothing of the judgement.
struct WatchSample {
    QByteArray reason;       // the rule's key, "reallocated_sectors", ...
    std::uint64_t count = 0; // the decoded raw count the rule reads
    bool watched = false;    // the rule puts the drive on Watch now
    bool advice = false;     // told, never Watch: no zentrova_drive_watch sample
};

// Per drive slot (nDevIndex): the last reading that came in whole and what
// the polls of this run made of the drive.
struct MetricsGlobals {
    std::uint8_t gLastDataPage[kMaxDrives][kSmartPageSize] = {};
    std::uint8_t gLastThreshPage[kMaxDrives][kSmartPageSize] = {};
    bool gbHasReading[kMaxDrives] = {};
    std::int64_t gnLastPollSecs[kMaxDrives] = {}; // when that reading came in
    std::uint64_t gnFailedReads[kMaxDrives] = {};
    // The last self-test of this run that ended, per slot.
    struct SelfTest {
        bool ended = false;
        QByteArray type; // "short", "extended", ...
        int result = 0;  // SelfTestResult
        std::uint64_t hours = 0;
    } gSelfTest[kMaxDrives];
    // The last Watch judgement of this run, per slot; empty before one.
    std::vector<WatchSample> gWatch[kMaxDrives];
    // An unwritable folder is told once, and again only after a write that
    // succeeded in between.
    bool gbWriteFailureReported = false;
};

extern MetricsGlobals metrics;

void ResetMetricsGlobalsForTest();

// A new drive list: the slots start over.
void MetricsDrivesDetected();
// The read of one poll of drive `drive`: both pages when it succeeded, null
// pages when it failed.
void MetricsRecordRead(int drive, const std::uint8_t* dataPage, const std::uint8_t* thresholdsPage);

// zentrova_selftest_last_result's values.
enum SelfTestResult {
    kSelfTestPassed = 0,
    kSelfTestFailed = 1,
    kSelfTestAborted = 2,
    kSelfTestUnknown = 3
};
// A self-test of drive `drive` ended; a failed one also counts against the
// drive's status as a failed attribute does.
void MetricsSelfTestEnded(int drive, const QByteArray& type, SelfTestResult result,
                          std::uint64_t hours);

// The judgement of drive `drive`'s last read, every rule that read a count;
// it replaces the one before.
void MetricsWatchJudged(int drive, std::vector<WatchSample> samples);

// The file's content for the drive list `device::dev` and the slots above.
QByteArray RenderMetrics();

// Writes RenderMetrics() to `directory`/zentrova.prom atomically (temporary
// file in the same folder, fsync, rename). False with the reason in `error`
// when it could not; an old file is then left as it was.
bool WriteMetricsFile(const QString& directory, QString* error);

// The user default "MetricsDirectory" (organization "Zentrova", application
// "zentrova"); empty when unset, which turns the file off.
QString MetricsDirectory();

// WriteMetricsFile into MetricsDirectory() when one is set; a failure is one
// line on standard error, told once, and the next call tries again.
void UpdateMetricsFile();

} // namespace zentrova::metrics
