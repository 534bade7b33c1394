// Arbitrary data and thresholds pages, a previous reading, model and firmware
// strings, per-drive settings and the drive's kind through the evaluation and
// the poll. Traps
// when the attribute table's columns fall out of step, the verdict disagrees
// with the rows or the event log does not read back as the file holds it;
// the sanitizers catch the rest.
#include "fakes/fake_registry.h"
#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "smart/event_log.h"
#include "smart/log_lines.h"
#include "smart/quiet_host.h"

#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

using namespace zentrova;

namespace {

// Every evaluation the poll makes, of either kind, checked as it is made.
class CheckingHost : public testing::QuietHost {
    std::uint8_t FillAttributeListTable(const device::ATASMARTAttributeStruct* attributes,
                                        const device::ATASMARTThresholdsStruct* thresholds,
                                        int operation) override {
        return Checked(PollHost::FillAttributeListTable(attributes, thresholds, operation));
    }
    std::uint8_t FillNvmeHealthTable(const std::uint8_t* health, const std::uint8_t* identify,
                                     const std::uint8_t* previous, int operation) override {
        return Checked(PollHost::FillNvmeHealthTable(health, identify, previous, operation));
    }
    std::uint8_t Checked(std::uint8_t result) {
        const smart::AttributeColumns& c = columns;
        const qsizetype n = smart::smart.gnTotAttr;
        for (const QStringList* col :
             {&c.Attr_0_Array, &c.Attr_1_Array, &c.Attr_2_Array, &c.Attr_3_Array, &c.Attr_4_Array,
              &c.Attr_5_Array, &c.Attr_6_Array})
            if (n > device::kSmartEntryCount || col->size() != n)
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
        return result;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static QTemporaryDir dir;
    [[maybe_unused]] static const bool quiet = [] {
        platform::SetAlertHandler([](const platform::AlertRequest&) { return 1; });
        platform::SetBeepHandler([] {});
        platform::SetClockHandler([] { return QDateTime(QDate(2026, 12, 5), QTime(21, 43)); });
        return true;
    }();

    FuzzedDataProvider in(bytes, size); // short input: the rest stays zero
    testing::FakeDriveState state;
    testing::Page data{};
    std::uint8_t cfg[8] = {};
    in.ConsumeData(data.data(), data.size());
    in.ConsumeData(state.thresholds.data(), state.thresholds.size());
    in.ConsumeData(state.data.data(), state.data.size()); // the previous reading
    in.ConsumeData(cfg, sizeof cfg);
    device::ResetDeviceGlobalsForTest();
    smart::ResetSmartGlobalsForTest();
    settings::ResetSettingsGlobalsForTest();
    auto* record = new device::xDEV_INFO{};
    in.ConsumeData(record->szModelNum, sizeof record->szModelNum); // not always terminated
    in.ConsumeData(record->szFirmwareRev, sizeof record->szFirmwareRev);
    const int d = cfg[0] % device::kMaxDrives;
    record->nDevIndex = d;
    record->nTemperature = cfg[1];
    record->driveKind = cfg[6] & 1 ? platform::DriveKind::Nvme : platform::DriveKind::Ata;
    record->ppSmartInterface = std::make_unique<testing::FakeSmart>(&state);
    device::dev.gpHeadDevInfo = device::dev.gpCurrDevInfo = device::dev.gpSelDevInfo = record;
    device::dev.nDevCnt = 1;
    settings::settings.gnCriticaltemp[d] = static_cast<std::int8_t>(cfg[2]);
    settings::settings.gbCriticalTempEnable[d] = cfg[3] & 3;
    settings::settings.gbCheckLog[d] = cfg[4] & 2;
    smart::smart.gbFlag[d] = cfg[4] & 1;

    CheckingHost host;
    host.drvPath = dir.path();
    host.firstTime = cfg[5] & 1;
    const QString log = smart::LogFilePath(host.drvPath, d);
    QFile::remove(log);

    // Two polls: the previous page, then the new one, read well or not, and a
    // redisplay.
    smart::PollSelDriveForSMARTAndFillAttributeTable(host);
    state.data = data;
    state.readDataStatus = cfg[7] & 1;
    state.readThresholdsStatus = cfg[7] & 2;
    state.failureFill = cfg[7];
    smart::PollSelDriveForSMARTAndFillAttributeTable(host);
    smart::ShowSelectedDriveReading(host);

    // Whatever went into the log reads back line by line, as far as it was indexed.
    smart::LogLineIndex lines;
    std::int64_t position = cfg[1];
    QFile file(log);
    if (lines.Refresh(log, &position).ok &&
        (position < 0 || position > file.size() || !file.open(QIODevice::ReadOnly) ||
         lines.Text(0, lines.LineCount()) != QString::fromUtf8(file.read(position)).remove('\r')))
        __builtin_trap();
    return 0;
}
