// What the window tests share: every global reset, panels, beeps, the clock
// and the polling timers scripted, fake drives, a scratch current directory.
// Each test binary includes it from its one source file, main() and all.
#pragma once

#include "AppController.h"
#include "fakes/fake_notifications.h"
#include "fakes/fake_registry.h"
#include "fakes/log_files.h"
#include "fakes/manual_timers.h"
#include "fakes/monitor_reset.h"
#include "history/history.h"
#include "metrics/metrics.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_state.h"
#include "settings/store.h"
#include "shell/log_page_view.h"
#include "smart/event_log.h"
#include "watch/watch.h"

#include <QtWidgets>

#include <gtest/gtest.h>

using namespace zentrova;
using namespace zentrova::testing;

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

class Shell : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && config.isValid());
        registry.leftOut = {"vda: not an ATA drive."};
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        settings::SetTimerBackend(&clock);
        platform::SetAlertHandler([this](const platform::AlertRequest& request) {
            alerts.push_back(request);
            return duringAlert ? (duringAlert(request), answer) : answer;
        });
        platform::SetBeepHandler([this] { ++beeps; });
        platform::SetClockHandler([] { return kEvening; });
    }
    void TearDown() override {
        controller.reset();
        ResetMonitorGlobalsForTest();
    }
    // Drive i: "/dev/sd<a+i>", (2i+1) GiB, 40+i degrees but drive 1 has no
    // temperature, and drive 2's SMART enable fails.
    void AddDrives(int count) {
        registry.services.clear();
        for (int i = 0; i < count; ++i) {
            states[i].data =
                DataPage({{std::uint8_t(i == 1 ? 5 : 194), 100, 100, std::uint8_t(40 + i)}});
            states[i].enableStatus = i == 2 ? 7 : 0;
            registry.services.push_back({true, "sd" + std::string(1, char('a' + i)),
                                         std::int64_t(2 * i + 1) << 30, "HD-EXAMPLE 80G", "FW01",
                                         &states[i]});
        }
    }
    // Starts the monitor on the fake drives, `change` adjusting its world;
    // a second start in one test begins from a clean slate too.
    bool Start(const std::function<void(StartupEnvironment&)>& change = {}) {
        TearDown();
        StartupEnvironment env;
        env.makeRegistry = [this] { return std::make_unique<FakeRegistry>(registry); };
        env.splashWait = [](int) {};
        env.currentDirectory = dir.path();
        env.openUrl = [this](const QUrl& url) { return opened.push_back(url.toString()), true; };
        env.makeNotificationBus = [this] {
            return std::make_unique<FakeNotificationBus>(notifications);
        };
        env.systemTrayAvailable = [this] { return trayAvailable; };
        if (change)
            change(env);
        controller = std::make_unique<AppController>(std::move(env));
        return controller->applicationWillFinishLaunching();
    }

    QTableView* Drives() const { return controller->DriveTable(); }
    QTableView* Attrs() const { return controller->AttrTable(); }
    QString Cell(QTableView* t, int r, int c) const {
        return t->model()->index(r, c).data().toString();
    }
    QString DriveRow(int r) const {
        return QStringList{Cell(Drives(), r, 0), Cell(Drives(), r, 1), Cell(Drives(), r, 2),
                           Cell(Drives(), r, 3)}
            .join('|');
    }
    QString LogPath(int i) const { return dir.path() + "/Zentrodat/SMARTLog" + QString::number(i); }
    int Reads(int drive) const { return states[drive].readThresholdsCalls; }
    template <typename T> T* Find(const char* name) const {
        return controller->MainWindow()->findChild<T*>(name);
    }
    static QString Shown(const QByteArray& log) { return QString::fromUtf8(log).remove('\r'); }
    bool Enabled(const char* name) const { return Find<QWidget>(name)->isEnabled(); }

    QTemporaryDir dir, config;
    ManualTimers clock;
    FakeDriveState states[5];
    FakeRegistry registry; // copied at each start, with one disk left out unless cleared
    std::vector<platform::AlertRequest> alerts;
    int answer = platform::NSAlertDefaultReturn, beeps = 0;
    std::function<void(const platform::AlertRequest&)> duringAlert; // while a panel is up
    std::vector<QString> opened;
    FakeNotificationServer notifications;
    bool trayAvailable = false;
    std::unique_ptr<AppController> controller;
};

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
