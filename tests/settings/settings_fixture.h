// What the settings tests share: a drive list made by hand, a scratch data
// folder and configuration folder, timers on a hand-moved clock, panels
// scripted, and a host that records what the window was asked to do.
#pragma once

#include "device/device.h"
#include "fakes/log_files.h"
#include "fakes/manual_timers.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_state.h"
#include "settings/store.h"
#include "settings/timers.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zentrova::testing {

class RecordingHost final : public settings::SettingsHost {
  public:
    QString DrvPath() const override { return path; }
    void SelectDriveRow(int row) override {
        events.push_back("select " + std::to_string(row));
        // The selection handler: the drive becomes the selected one and, as
        // it is marked, is polled.
        for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
            if (r->nDevIndex == row)
                device::dev.gpSelDevInfo = r;
        }
        if (settings::settings.bPoll[row] == 1)
            PollSelDriveForSMARTAndFillAttributeTable();
        settings::settings.bPoll[row] = 0;
    }
    void PollSelDriveForSMARTAndFillAttributeTable() override {
        events.push_back("poll " + std::to_string(device::dev.gpSelDevInfo->nDevIndex));
        if (duringPoll)
            duringPoll();
    }
    void SetLogViewSelectable(bool selectable) override { logSelectable = selectable; }

    QString path;
    std::vector<std::string> events;
    std::function<void()> duringPoll;
    int logSelectable = -1;
};

class SettingsFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        ASSERT_TRUE(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        host.path = data.path();
        device::ResetDeviceGlobalsForTest();
        settings::ResetSettingsForTest();
        settings::SetTimerBackend(&clock);
        platform::SetAlertHandler([this](const platform::AlertRequest& request) {
            alerts.push_back(request.message);
            if (duringAlert)
                duringAlert();
            return platform::NSAlertDefaultReturn;
        });
    }
    void TearDown() override {
        settings::ResetSettingsForTest();
        device::ResetDeviceGlobalsForTest();
        settings::SetTimerBackend(nullptr);
        platform::SetAlertHandler({});
        qunsetenv("XDG_CONFIG_HOME");
    }

    // Drive i: model "MODEL-<i>", firmware "FW<i>", temperature 40 unless 0.
    void AddDrives(int count, int temperature = 40) {
        device::xDEV_INFO* last = device::dev.gpHeadDevInfo;
        while (last != nullptr && last->pNext != nullptr)
            last = last->pNext;
        for (int n = 0; n < count; ++n) {
            auto* record = new device::xDEV_INFO;
            record->nDevIndex = last == nullptr ? 0 : last->nDevIndex + 1;
            std::snprintf(record->szModelNum, sizeof record->szModelNum, "MODEL-%d",
                          record->nDevIndex);
            std::snprintf(record->szFirmwareRev, sizeof record->szFirmwareRev, "FW%d",
                          record->nDevIndex);
            record->nTemperature = temperature;
            (last == nullptr ? device::dev.gpHeadDevInfo : last->pNext) = record;
            last = record;
        }
    }
    void Select(int index) {
        for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
            if (r->nDevIndex == index)
                device::dev.gpSelDevInfo = r;
        }
    }
    QString FilePath() const { return settings::SettingsFilePath(data.path()); }
    settings::SettingsDict File() const {
        return settings::ReadSettingsFile(data.path()).dict.value_or(settings::SettingsDict{});
    }
    void WriteFile(const settings::SettingsDict& dict) const {
        ASSERT_EQ(settings::WriteFileAtomically(FilePath(), settings::SerializeSettings(dict)), "");
    }
    // The keys and values of a stored entry, "key=value" joined by spaces.
    std::string Entry(const QString& key) const {
        const settings::SettingsDict dict = File();
        const settings::DriveEntry* entry = dict.Find(key);
        if (entry == nullptr)
            return "<none>";
        std::string out;
        for (const auto& [k, v] : entry->items)
            out += (out.empty() ? "" : " ") + k.toStdString() + "=" + v.toStdString();
        return out;
    }
    bool HasTimer(int k) const { return *settings::TimerSlot(k) != nullptr; }

    QTemporaryDir data;
    QTemporaryDir config;
    ManualTimers clock;
    RecordingHost host;
    std::vector<QString> alerts;
    std::function<void()> duringAlert;
};

inline auto& mirrors = settings::settings;

inline const std::string kDefault0 = "DrvModel=MODEL-0 DrvFwrev=FW0 DrvPoll=True Temp=True "
                                     "LogEvent=True Hour=1 Min=0 Temperature=50";

} // namespace zentrova::testing
