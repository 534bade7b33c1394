// What the settings tests share: drives made by hand, scratch data and
// configuration folders, timers on a hand-moved clock and scripted panels.
#pragma once

#include "device/device.h"
#include "fakes/log_files.h"
#include "fakes/manual_timers.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_page.h"
#include "settings/settings_state.h"
#include "settings/store.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zentrova::testing {

inline auto& mirrors = settings::settings;
using Seconds = std::vector<std::int64_t>;

// The fixture is the window too, and records what it was asked to do.
class SettingsFixture : public ::testing::Test, public settings::SettingsHost {
  protected:
    QString DrvPath() const override { return data.path(); }
    // As the selection handler: select, then poll when the timer marked it.
    void SelectDriveRow(int row) override {
        events.push_back("select " + std::to_string(row));
        for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            device::dev.gpSelDevInfo = r->nDevIndex == row ? r : device::dev.gpSelDevInfo;
        if (std::exchange(mirrors.bPoll[row], 0) == 1)
            PollSelDriveForSMARTAndFillAttributeTable();
    }
    void PollSelDriveForSMARTAndFillAttributeTable() override {
        events.push_back("poll " + std::to_string(device::dev.gpSelDevInfo->nDevIndex));
        if (duringPoll)
            duringPoll();
    }
    void SetLogViewSelectable(bool selectable) override { logSelectable = selectable; }
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        settings::SetTimerBackend(&clock);
        platform::SetAlertHandler([this](const platform::AlertRequest& request) {
            alerts.push_back(request.message);
            if (duringAlert)
                duringAlert();
            return platform::NSAlertDefaultReturn;
        });
        Fresh();
    }
    void TearDown() override {
        Fresh();
        settings::SetTimerBackend(nullptr);
        platform::SetAlertHandler({});
        qunsetenv("XDG_CONFIG_HOME");
    }
    // Everything back to its start, for the next case of a table.
    void Fresh() {
        settings::ResetSettingsForTest();
        settings::SetInstalledMonitorCommand({});
        device::ResetDeviceGlobalsForTest();
        for (const QTemporaryDir* d : {&data, &config}) {
            QDir(d->path()).removeRecursively();
            QDir().mkpath(d->path());
        }
        alerts.clear();
        events.clear();
        logSelectable = -1;
    }
    // Drive i: model "MODEL-<i>", firmware "FW<i>", temperature 40; drive 0 selected.
    void AddDrives(int count) {
        for (int i = count - 1; i >= 0; --i) {
            auto* r = new device::xDEV_INFO;
            r->nDevIndex = i;
            r->nTemperature = 40;
            qstrncpy(r->szModelNum, "MODEL-" + QByteArray::number(i), 41);
            qstrncpy(r->szFirmwareRev, "FW" + QByteArray::number(i), 9);
            r->pNext = std::exchange(device::dev.gpHeadDevInfo, r);
        }
        device::dev.gpSelDevInfo = device::dev.gpHeadDevInfo;
    }
    QString FilePath() const { return settings::SettingsFilePath(data.path()); }
    // Entries as "key=value" pairs joined by spaces.
    std::string Entry(const QString& key) const {
        const auto dict = settings::ReadSettingsFile(data.path()).dict;
        const settings::DriveEntry* entry = dict ? dict->Find(key) : nullptr;
        if (entry == nullptr)
            return "<none>";
        QStringList pairs;
        for (const auto& [k, v] : entry->items)
            pairs << k + "=" + v;
        return pairs.join(' ').toStdString();
    }
    void Stored(const std::vector<std::string>& entries) const {
        settings::SettingsDict dict;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            settings::DriveEntry entry;
            for (const QString& pair : QString::fromStdString(entries[i]).split(' '))
                entry.Set(pair.section('=', 0, 0), pair.section('=', 1));
            dict.Put(settings::DiskKey(int(i)), entry);
        }
        ASSERT_EQ(settings::WriteFileAtomically(FilePath(), settings::SerializeSettings(dict)), "");
    }

    QTemporaryDir data, config;
    ManualTimers clock;
    std::vector<QString> alerts;
    std::vector<std::string> events;
    std::function<void()> duringAlert, duringPoll;
    int logSelectable = -1;
};

inline std::string Default(int i, const char* startUp = "") {
    return "DrvModel=MODEL-" + std::to_string(i) + " DrvFwrev=FW" + std::to_string(i) +
           " DrvPoll=True Temp=True " + startUp + "LogEvent=True Hour=1 Min=0 Temperature=50";
}

} // namespace zentrova::testing
