// Fake drives with their logs and a windowless controller, alerts, beeps and
// the clock scripted; shared by the tests and the benchmark.
#pragma once

#include "fakes/fake_registry.h"
#include "fakes/log_files.h"
#include "platform/ui/alert_panel.h"
#include "quiet_host.h"
#include "settings/settings_state.h"
#include "smart/event_log.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zentrova::testing {

// Row r of the attribute table as the user reads it, cells joined by '|'.
inline QString Row(const smart::AttributeColumns& c, int r) {
    QStringList cells;
    for (auto* col : {&c.Attr_0_Array, &c.Attr_1_Array, &c.Attr_2_Array, &c.Attr_3_Array,
                      &c.Attr_4_Array, &c.Attr_5_Array, &c.Attr_6_Array})
        cells << col->value(r, "<none>");
    return cells.join('|');
}

struct SmartWorld {
    QTemporaryDir dir;
    FakeRegistry registry;
    FakeDriveState drives[device::kMaxDrives];
    QuietHost host;
    int beeps = 0;
    std::vector<platform::AlertRequest> alerts;
    QDateTime now = kEvening;

    SmartWorld() {
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
    // The handlers point into this world: none may outlive it.
    ~SmartWorld() {
        platform::SetBeepHandler({});
        platform::SetClockHandler({});
        platform::SetAlertHandler({});
    }
    // Drive i: "sd<a+i>", firmware "FW0<i+1>", its log and start-up cells.
    void Detect(const std::vector<const char*>& models) {
        for (std::size_t i = 0; i < models.size(); ++i) {
            registry.services.push_back({true, "sd" + std::string(1, char('a' + i)),
                                         std::int64_t{80} << 30, models[i],
                                         "FW0" + std::to_string(i + 1), &drives[i]});
            smart::CreateLogFile(smart::LogFilePath(dir.path(), int(i)), now, host.LogLocale());
            host.col2 << QStringLiteral("N/A");
            host.col3 << QStringLiteral("OK");
        }
        device::SMARTDeviceDetection(registry);
    }
    void Select(int index) {
        device::dev.gpSelDevInfo = nullptr;
        for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            device::dev.gpSelDevInfo = r->nDevIndex == index ? r : device::dev.gpSelDevInfo;
    }
    void PollOnce() { smart::PollSelDriveForSMARTAndFillAttributeTable(host); }
    void SetReading(int drive, const std::vector<EntrySpec>& entries) {
        drives[drive].data = DataPage(entries);
        drives[drive].thresholds = ThresholdsPage(entries);
    }
    // What the evaluation appended to the drive's log after its header.
    QByteArray LogBody(int drive) {
        return ReadAll(smart::LogFilePath(dir.path(), drive))
            .mid(smart::LogHeader(now, host.LogLocale()).size());
    }
};

class SmartTest : public ::testing::Test, public SmartWorld {};

} // namespace zentrova::testing
