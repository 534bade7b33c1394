// What the widget tests of the monitor share: every global back to its start
// value, alert panels, beeps and the clock scripted, and a scratch directory
// as the current directory.
#pragma once

#include "AppController.h"
#include "device/device.h"
#include "fakes/log_files.h"
#include "metrics/metrics.h"
#include "settings/settings_state.h"
#include "smart/smart_state.h"

#include "platform/ui/alert_panel.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace zentrova::testing {

// What the log page shows of these log bytes: lines, without their CRs.
inline QString Shown(const QByteArray& logBytes) {
    return QString::fromUtf8(logBytes).remove('\r');
}

class ShellFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetAll();
        ASSERT_TRUE(dir.isValid());
        // The user defaults of a test are its own, never the developer's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/config");
        platform::SetAlertHandler([this](const platform::AlertRequest& request) {
            alerts.push_back(request);
            if (duringAlert)
                duringAlert(request);
            return answer;
        });
        platform::SetBeepHandler([this] { ++beeps; });
        platform::SetClockHandler([] { return kEvening; });
    }
    void TearDown() override {
        controller.reset();
        ResetAll();
        platform::SetAlertHandler({});
        platform::SetBeepHandler({});
        platform::SetClockHandler({});
    }
    static void ResetAll() {
        device::ResetDeviceGlobalsForTest();
        smart::ResetSmartGlobalsForTest();
        settings::ResetSettingsGlobalsForTest();
        metrics::ResetMetricsGlobalsForTest();
    }

    // The outside world of one start-up.
    virtual StartupEnvironment Environment() = 0;

    bool Start() {
        controller = std::make_unique<AppController>(Environment());
        return controller->applicationWillFinishLaunching();
    }

    static QString Cell(QTableView* table, int row, int column) {
        return table->model()->index(row, column).data().toString();
    }
    static QVariant Look(QTableView* table, int row, int column, int role) {
        return table->model()->index(row, column).data(role);
    }
    QString LogPath(int i) const { return dir.path() + "/Zentrodat/SMARTLog" + QString::number(i); }

    QTemporaryDir dir;
    std::vector<platform::AlertRequest> alerts;
    int answer = platform::NSAlertDefaultReturn;
    // Runs while the panel is up, before it is answered.
    std::function<void(const platform::AlertRequest&)> duringAlert;
    int beeps = 0;
    std::unique_ptr<AppController> controller;
};

} // namespace zentrova::testing
