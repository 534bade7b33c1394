// Fake drives, their logs and a windowless controller for the evaluation and
// the poll, with alerts, beeps and the clock scripted, so tests look at what
// the user would see.
#pragma once

#include "device/device.h"
#include "fakes/fake_registry.h"
#include "fakes/log_files.h"
#include "platform/ui/alert_panel.h"
#include "quiet_host.h"
#include "settings/settings_state.h"
#include "smart/event_log.h"
#include "smart/poll_cycle.h"

#include <QFile>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <vector>

namespace zentrova::testing {

// Row r of the attribute table as the user reads it, cells joined by '|'.
inline QString Row(const smart::AttributeColumns& columns, int r) {
    QStringList cells;
    for (const QStringList* c :
         {&columns.Attr_0_Array, &columns.Attr_1_Array, &columns.Attr_2_Array,
          &columns.Attr_3_Array, &columns.Attr_4_Array, &columns.Attr_5_Array,
          &columns.Attr_6_Array})
        cells << c->value(r, QStringLiteral("<none>"));
    return cells.join('|');
}

// Up to four fake drives detected through the registry, a data folder with
// their logs, and the panel, beep and clock replaced.
class SmartTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    FakeRegistry registry;
    FakeDriveState drives[device::kMaxDrives];
    QuietHost host;
    int beeps = 0;
    std::vector<platform::AlertRequest> alerts;
    QDateTime now = kEvening;

    void SetUp() override {
        device::ResetDeviceGlobalsForTest();
        smart::ResetSmartGlobalsForTest();
        settings::ResetSettingsGlobalsForTest();
        platform::SetBeepHandler([this] { ++beeps; });
        platform::SetClockHandler([this] { return now; });
        platform::SetAlertHandler([this](const platform::AlertRequest& r) {
            alerts.push_back(r);
            return platform::NSAlertDefaultReturn;
        });
        host.drvPath = dir.path();
    }
    void TearDown() override {
        platform::SetBeepHandler({});
        platform::SetClockHandler({});
        platform::SetAlertHandler({});
        smart::ResetSmartGlobalsForTest();
        device::ResetDeviceGlobalsForTest();
    }

    // Detects `count` drives with the given models; each gets its log file
    // and its start-up cells, as start-up leaves them.
    void Detect(std::vector<const char*> models) {
        for (std::size_t i = 0; i < models.size(); ++i) {
            FakeService s;
            s.bsdName = "sd" + std::string(1, static_cast<char>('a' + i));
            s.sizeBytes = std::int64_t{80} << 30;
            s.model = models[i];
            s.firmware = "FW0" + std::to_string(i + 1);
            s.drive = &drives[i];
            registry.services.push_back(s);
        }
        device::SMARTDeviceDetection(registry);
        for (std::size_t i = 0; i < models.size(); ++i) {
            smart::CreateLogFile(smart::LogFilePath(dir.path(), static_cast<int>(i)), now,
                                 host.LogLocale());
            host.col2 << QVariant(QStringLiteral("N/A"));
            host.col3 << QStringLiteral("OK");
        }
    }
    void Select(int index) {
        device::dev.gpSelDevInfo = nullptr;
        for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            if (r->nDevIndex == index)
                device::dev.gpSelDevInfo = r;
    }
    void PollOnce() { smart::PollSelDriveForSMARTAndFillAttributeTable(host); }
    void SetReading(int drive, const std::vector<EntrySpec>& entries) {
        drives[drive].data = DataPage(entries);
        drives[drive].thresholds = ThresholdsPage(entries);
    }
    // What the evaluation appended to the drive's log after its header.
    QByteArray LogBody(int drive) {
        QFile f(smart::LogFilePath(dir.path(), drive));
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll().mid(smart::LogHeader(now, host.LogLocale()).size());
    }
};

} // namespace zentrova::testing
