// The settings page's controls on the demo drives, and the polling timers
// driving the real window on a hand-moved clock.
#include "platform/sim/simulated_registry.h"
#include "settings/store.h"
#include "shell/log_page_view.h"
#include "shell_fixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QValidator>

using namespace zentrova;
using namespace zentrova::testing;
using zentrova::device::dev;

namespace {

constexpr int kDrift = 2;

class SettingsPage : public ShellFixture {
  protected:
    StartupEnvironment Environment() override {
        StartupEnvironment env;
        env.makeRegistry = [] {
            return std::make_unique<platform::SimulatedRegistry>(ZENTROVA_DEMO_DRIVES);
        };
        env.splashWait = [](int) {};
        env.currentDirectory = dir.path();
        env.openUrl = [](const QUrl&) { return true; };
        return env;
    }
    template <typename T> T* Control(const char* name) const {
        return controller->MainWindow()->findChild<T*>(name);
    }
    QString Field(const char* name) const { return Control<QLineEdit>(name)->text(); }
    int SelectedRow() const { return dev.gpSelDevInfo ? dev.gpSelDevInfo->nDevIndex : -1; }
    void Apply() { Control<QPushButton>("SetsApplysettings")->click(); }
};

TEST_F(SettingsPage, FollowsTheSelectionAndItsBoxesEnableTheirFields) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(Field("SetsHrEdit"), "1");
    EXPECT_EQ(Control<QSpinBox>("SetsTempStepper")->value(), 50);
    EXPECT_FALSE(Control<QCheckBox>("SetsStartsUp")->isChecked());

    // Polling and the temperature check off for the drift drive, applied;
    // another drive's page, then the drift drive's again.
    controller->DriveTable()->selectRow(kDrift);
    Control<QCheckBox>("SetsPollDrive")->click();
    Control<QCheckBox>("SetsCriticalTemp")->click();
    EXPECT_FALSE(Control<QSpinBox>("SetsMinStepper")->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>("SetsTempEdit")->isEnabled());
    Apply();
    controller->DriveTable()->selectRow(0);
    EXPECT_TRUE(Control<QLineEdit>("SetsHrEdit")->isEnabled());
    controller->DriveTable()->selectRow(kDrift);
    EXPECT_FALSE(Control<QCheckBox>("SetsPollDrive")->isChecked());
    EXPECT_FALSE(Control<QLineEdit>("SetsHrEdit")->isEnabled());
}

TEST_F(SettingsPage, ApplyReadsTheFieldsAndRestartsTheTimer) {
    ASSERT_TRUE(Start());
    controller->DriveTable()->selectRow(kDrift);
    // The stepper writes its field; the field is what Apply reads.
    Control<QSpinBox>("SetsMinStepper")->setValue(2);
    EXPECT_EQ(Field("SetsMinEdit"), "2");
    Control<QLineEdit>("SetsHrEdit")->setText("0");
    Control<QCheckBox>("SetsLogEvent")->click(); // off
    Apply();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Zentrova settings updated successfully.");
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{3600, 3600, 120}));
    EXPECT_FALSE(controller->LogView()->Selectable());

    // Zero hours and minutes: the alert, and the two-minute timer runs on.
    Control<QLineEdit>("SetsMinEdit")->setText("");
    Apply();
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_TRUE(alerts[1].message.startsWith("You have entered Zero value"));
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{3600, 3600, 120}));
    // The fields take digits only, so no interval comes out negative or
    // beyond 32 bits.
    for (QString typed : {"-1", "12345", "1e3"}) {
        int at = 0;
        EXPECT_EQ(Control<QLineEdit>("SetsHrEdit")->validator()->validate(typed, at),
                  QValidator::Invalid)
            << typed.toStdString();
    }
}

TEST_F(SettingsPage, TicksPollTheirDrivesAndTheTableFollows) {
    ASSERT_TRUE(Start());
    const QByteArray driftLog = ReadAll(LogPath(kDrift));
    clock.Advance(3600); // drive 0 polled in place, then 1 and 2 selected and polled
    EXPECT_EQ(SelectedRow(), kDrift);
    EXPECT_EQ(controller->DriveTable()->selectionModel()->selectedRows().first().row(), kDrift);
    EXPECT_EQ(ReadAll(LogPath(kDrift)), driftLog); // its first reading compares with nothing
    clock.Advance(3600);
    EXPECT_GT(ReadAll(LogPath(kDrift)).size(), driftLog.size()); // the second one logs changes
    EXPECT_EQ(settings::settings.bPoll[1], 0);
}

} // namespace
