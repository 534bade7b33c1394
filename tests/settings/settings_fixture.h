// What the settings tests share: a drive list made by hand, scratch data and
// configuration folders, timers on a hand-moved clock, scripted panels, and a
// host that records what the window was asked to do.
#pragma once

#include "device/device.h"
#include "fakes/log_files.h"
#include "fakes/manual_timers.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_page.h"
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

inline auto& mirrors = settings::settings;

class RecordingHost final : public settings::SettingsHost {
  public:
    QString DrvPath() const override { return path; }
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

    QString path;
    std::vector<std::string> events;
    std::function<void()> duringPoll;
    int logSelectable = -1;
};

class SettingsFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid() && config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        host.path = data.path();
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
        device::ResetDeviceGlobalsForTest();
        QDir(data.path()).removeRecursively();
        QDir(config.path()).removeRecursively();
        QDir().mkpath(data.path());
        QDir().mkpath(config.path());
        alerts.clear();
        host.events.clear();
        host.logSelectable = -1;
    }

    // Drive i: model "MODEL-<i>", firmware "FW<i>", temperature 40.
    void AddDrives(int count) {
        device::xDEV_INFO** link = &device::dev.gpHeadDevInfo;
        for (int i = 0; i < count; ++i, link = &(*link)->pNext) {
            *link = new device::xDEV_INFO;
            (*link)->nDevIndex = i;
            qstrncpy((*link)->szModelNum, "MODEL-" + QByteArray::number(i), 41);
            qstrncpy((*link)->szFirmwareRev, "FW" + QByteArray::number(i), 9);
            (*link)->nTemperature = 40;
        }
    }
    void Select(int index) {
        for (device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            device::dev.gpSelDevInfo = r->nDevIndex == index ? r : device::dev.gpSelDevInfo;
    }
    QString FilePath() const { return settings::SettingsFilePath(data.path()); }
    // Entries as "key=value" pairs joined by spaces, and back.
    static settings::DriveEntry Parse(const QString& text) {
        settings::DriveEntry entry;
        for (const QString& pair : text.split(' ', Qt::SkipEmptyParts))
            entry.Set(pair.section('=', 0, 0), pair.section('=', 1));
        return entry;
    }
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
    void Stored(const std::vector<QString>& entries) const {
        settings::SettingsDict dict;
        for (std::size_t i = 0; i < entries.size(); ++i)
            dict.Put(settings::DiskKey(int(i)), Parse(entries[i]));
        ASSERT_EQ(settings::WriteFileAtomically(FilePath(), settings::SerializeSettings(dict)), "");
    }

    QTemporaryDir data;
    QTemporaryDir config;
    ManualTimers clock;
    RecordingHost host;
    std::vector<QString> alerts;
    std::function<void()> duringAlert;
};

inline QString Default(int i, const QString& startUp = "") {
    return QString("DrvModel=MODEL-%1 DrvFwrev=FW%1 DrvPoll=True Temp=True %2LogEvent=True Hour=1 "
                   "Min=0 Temperature=50")
        .arg(i)
        .arg(startUp);
}

} // namespace zentrova::testing
