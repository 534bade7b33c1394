// Arbitrary data and thresholds pages, previous readings, model and firmware
// strings and per-drive settings through the evaluation and the poll. Traps
// when the attribute table's columns fall out of step or the verdict
// disagrees with the rows; the sanitizers catch the rest.
#include "device/device.h"
#include "fakes/fake_registry.h"
#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "smart/event_log.h"
#include "smart/log_lines.h"
#include "smart/poll_cycle.h"
#include "smart/quiet_host.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <unistd.h>

using namespace zentrova;

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    void Take(void* out, std::size_t n) {
        std::memset(out, 0, n);
        const std::size_t k = std::min(n, size);
        if (k > 0)
            std::memcpy(out, data, k);
        data += k;
        size -= k;
    }
    std::uint8_t Byte() {
        std::uint8_t b;
        Take(&b, 1);
        return b;
    }
};

void CheckTable(const testing::QuietHost& host, std::uint8_t result) {
    const smart::AttributeColumns& c = host.columns;
    const qsizetype n = smart::smart.gnTotAttr;
    if (n < 0 || n > device::kSmartEntryCount)
        __builtin_trap();
    for (const QStringList* col :
         {&c.Attr_0_Array, &c.Attr_1_Array, &c.Attr_2_Array, &c.Attr_3_Array, &c.Attr_4_Array,
          &c.Attr_5_Array, &c.Attr_6_Array})
        if (col->size() != n)
            __builtin_trap();
    bool anyFailed = false;
    for (qsizetype r = 0; r < n; ++r) {
        const bool failed = c.Attr_6_Array[r] == QLatin1String("Failed");
        if (failed != !c.Attr_2_Array[r].isEmpty() || c.Attr_0_Array[r].size() != 2)
            __builtin_trap();
        anyFailed = anyFailed || failed;
    }
    if (result > 1 || (result == 1) != anyFailed)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static QTemporaryDir dir;
    static const bool quiet = [] {
        platform::SetAlertHandler([](const platform::AlertRequest&) { return 1; });
        platform::SetBeepHandler([] {});
        platform::SetClockHandler([] { return QDateTime(QDate(2026, 12, 5), QTime(21, 43)); });
        return true;
    }();
    (void)quiet;

    Input in{bytes, size};
    testing::FakeDriveState state;
    testing::Page data, thresholds, previous;
    in.Take(data.data(), data.size());
    in.Take(thresholds.data(), thresholds.size());
    in.Take(previous.data(), previous.size());
    std::uint8_t cfg[8];
    in.Take(cfg, sizeof cfg);

    device::ResetDeviceGlobalsForTest();
    smart::ResetSmartGlobalsForTest();
    settings::ResetSettingsGlobalsForTest();
    auto* record = new device::xDEV_INFO{};
    in.Take(record->szModelNum, sizeof record->szModelNum); // not always terminated
    in.Take(record->szFirmwareRev, sizeof record->szFirmwareRev);
    const int d = cfg[0] % device::kMaxDrives;
    record->nDevIndex = d;
    record->nTemperature = cfg[1];
    record->ppSmartInterface = std::make_unique<testing::FakeSmart>(&state);
    device::dev.gpHeadDevInfo = device::dev.gpCurrDevInfo = device::dev.gpSelDevInfo = record;
    device::dev.nDevCnt = 1;

    settings::settings.gnCriticaltemp[d] = static_cast<std::int8_t>(cfg[2]);
    settings::settings.gbCriticalTempEnable[d] = cfg[3] & 3;
    settings::settings.gbCheckLog[d] = cfg[4] & 2;
    smart::smart.gbFlag[d] = cfg[4] & 1;

    testing::QuietHost host;
    host.drvPath = dir.path();
    host.firstTime = cfg[5] & 1;
    host.col2 = QVariantList(device::kMaxDrives, QStringLiteral("N/A"));
    host.col3 = QStringList(device::kMaxDrives, QStringLiteral("OK"));
    const QString log = smart::LogFilePath(host.drvPath, d);
    if (cfg[5] & 4) {
        smart::CreateLogFile(log, QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
        if (::truncate(QFile::encodeName(log).constData(), 0) != 0)
            __builtin_trap();
    } else {
        QFile::remove(log);
    }

    // A judgement against an arbitrary previous reading, fresh or redisplayed.
    if (cfg[5] & 2)
        smart::smart.gpPrevSmartAttr[d] = device::AttributeEntries(previous.data());
    std::uint8_t result =
        smart::FillAttributeListTable(host, device::AttributeEntries(data.data()),
                                      device::ThresholdEntries(thresholds.data()), cfg[6] & 1);
    CheckTable(host, result);
    smart::smart.gpPrevSmartAttr[d] = nullptr;

    // Two polls: the previous page, then the new one, read well or not.
    state.data = previous;
    state.thresholds = thresholds;
    smart::PollSelDriveForSMARTAndFillAttributeTable(host);
    state.data = data;
    state.readDataStatus = cfg[7] & 1;
    state.readThresholdsStatus = cfg[7] & 2;
    state.failureFill = cfg[7];
    smart::PollSelDriveForSMARTAndFillAttributeTable(host);
    if (smart::smart.gnTotAttr != host.columns.Attr_0_Array.size())
        __builtin_trap();
    smart::ShowSelectedDriveReading(host);

    // Whatever went into the log reads back line by line, from wherever the
    // reader was, as the whole file decodes.
    smart::LogLineIndex lines;
    std::int64_t position = cfg[1];
    const smart::LogRefreshResult read = lines.Refresh(log, &position);
    if (read.ok && (position < 0 || position > QFileInfo(log).size()))
        __builtin_trap();
    if (read.ok) {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            __builtin_trap();
        const QString whole = QString::fromUtf8(file.read(position)).remove(QLatin1Char('\r'));
        if (lines.Text(0, lines.LineCount()) != whole)
            __builtin_trap();
    }
    return 0;
}
