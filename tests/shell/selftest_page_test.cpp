// The Self-test tab on simulated drives that test themselves: a running
// test's progress, a failed one in red that fails the drive as a failed
// attribute does, a start that waits for the poll under way, an abort, and
// the Quit confirmation while a test runs.
#include "platform/sim/simulated_registry.h"
#include "shell/history_page.h"
#include "shell/selftest_page.h"
#include "shell/selftest_tab.h"
#include "shell_fixture.h"

#include <QAbstractItemModelTester>

namespace {

// sda tests itself and every test fails at LBA 48213517 with 60 % left; sdb
// has an attribute at its threshold; nvme0 tests itself too.
const char kDrives[] = R"({"drives": [
  {"bsdName": "sda", "model": "ZENTROVA TEST A", "firmware": "T1",
   "selfTest": {"shortMinutes": 1, "extendedMinutes": 54, "failingLba": 48213517},
   "readings": [{"attributes": [{"id": 9, "value": 86, "worst": 86, "threshold": 0, "raw": [210, 4]}]}]},
  {"bsdName": "sdb", "model": "ZENTROVA TEST B", "firmware": "T2",
   "selfTest": {"shortMinutes": 2, "extendedMinutes": 90},
   "readings": [{"attributes": [{"id": 5, "value": 30, "worst": 30, "threshold": 36}]}]},
  {"kind": "nvme", "bsdName": "nvme0", "model": "ZENTROVA TEST N", "firmware": "N1",
   "selfTest": {"extendedMinutes": 30}, "readings": [{"health": {"availableSpare": 100}}]}
]})";

class SelfTestShell : public Shell {
  protected:
    bool StartOnSimulatedDrives() {
        QFile file(dir.filePath("drives.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(kDrives) < 0)
            return false;
        file.close();
        platform::SetClockHandler([this] { return now; });
        return Start([this](StartupEnvironment& env) {
            env.makeRegistry = [path = dir.filePath("drives.json").toStdString()] {
                return std::make_unique<platform::SimulatedRegistry>(path);
            };
        });
    }
    shell::SelfTestPage* Page() const { return controller->SelfTests()->Page(); }
    QString Row(int r) const {
        const QAbstractItemModel* m = Page()->LogModel();
        QStringList cells;
        for (int c = 0; c < m->columnCount(); ++c)
            cells << m->index(r, c).data().toString();
        return cells.join('|');
    }
    int Warnings() const {
        return int(std::count_if(alerts.begin(), alerts.end(), [](const platform::AlertRequest& a) {
            return a.title == "WARNING";
        }));
    }

    QDateTime now = kEvening;
};

TEST_F(SelfTestShell, ARunningTestShowsItsProgressAndAFailedOneFailsTheDriveInRed) {
    ASSERT_TRUE(StartOnSimulatedDrives());
    QAbstractItemModelTester tester(Page()->LogModel());
    QTabWidget* tabs = Find<QTabWidget>("TheTab");
    EXPECT_EQ(tabs->indexOf(Page()), tabs->indexOf(controller->HistoryView()) + 1);
    EXPECT_EQ(Page()->Support()->text(), "This drive can test itself.");
    EXPECT_EQ(Page()->ShortButton()->text(), "Short test (about 1 min)");
    EXPECT_EQ(Page()->ExtendedButton()->text(), "Extended test (about 54 min)");
    EXPECT_TRUE(Page()->Note()->text().contains("\"zentrova\""));
    EXPECT_FALSE(Page()->AbortButton()->isEnabled());

    Page()->ShortButton()->click();
    EXPECT_EQ(Page()->StateLine()->text(), "Short test running: 0 % done.");
    EXPECT_FALSE(Page()->ShortButton()->isEnabled());
    EXPECT_TRUE(Page()->AbortButton()->isEnabled());
    EXPECT_EQ(controller->SelfTests()->Tests().Start(0, selftest::TestType::Short),
              selftest::StartResult::AlreadyRunning);
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(Page()->Progress()->value(), 10);
    // Thirty seconds on, the page reads the drive itself.
    now = now.addSecs(29);
    QMetaObject::invokeMethod(controller->SelfTests()->CheckTimer(), "timeout");
    EXPECT_EQ(Page()->Progress()->value(), 10);
    now = now.addSecs(1);
    QMetaObject::invokeMethod(controller->SelfTests()->CheckTimer(), "timeout");
    EXPECT_EQ(Page()->Progress()->value(), 20);
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(Page()->Progress()->value(), 30);
    EXPECT_EQ(Warnings(), 0);

    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(Page()->StateLine()->text(), "Short test finished: Failed: read element.");
    ASSERT_EQ(Page()->LogModel()->rowCount(), 1);
    EXPECT_EQ(Row(0), "1|Short|Failed: read element|1234|48213517");
    EXPECT_EQ(Page()->LogModel()->index(0, 2).data(Qt::ForegroundRole).value<QColor>(),
              QColor(Qt::red));
    EXPECT_EQ(Warnings(), 1);
    EXPECT_EQ(DriveRow(0).section('|', 3), "Failed");
    EXPECT_TRUE(
        ReadAll(LogPath(0))
            .contains(
                "ALERT\r\n[ ZENTROVA TEST A, S/N : T1 ] - Self-test finished\r\nType :  Short\r\n"
                "Result :  Failed: read element\r\nHours :  1234\r\nFirst failing LBA :  "
                "48213517\r\n\r\n"));
    EXPECT_EQ(history::history.store->SelfTests({"ZENTROVA TEST A", "T1", ""}).size(), 1u);
    // The next poll warns again, as for a failed attribute.
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(Warnings(), 2);
}

// An NVMe drive offers Device Self-test in its Identify Controller.
TEST_F(SelfTestShell, AnNvmeDriveThatTestsItselfOffersBothTests) {
    ASSERT_TRUE(StartOnSimulatedDrives());
    controller->SelectDriveRow(2);
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(Page()->Support()->text(), "This drive can test itself.");
    EXPECT_TRUE(Page()->ShortButton()->isEnabled() && Page()->ExtendedButton()->isEnabled());
    EXPECT_EQ(Page()->ExtendedButton()->text(), "Extended test (about 30 min)");
}

TEST_F(SelfTestShell, AStartDuringAPollWaitsForItsEndAndAnAbortIsLogged) {
    ASSERT_TRUE(StartOnSimulatedDrives());
    controller->SelectDriveRow(1);
    // sdb's failed attribute raises the WARNING panel inside its poll; a
    // click there only marks the test.
    duringAlert = [this](const platform::AlertRequest& request) {
        if (request.title == "WARNING" && Page()->ShortButton()->isEnabled()) {
            Page()->ShortButton()->click();
            EXPECT_EQ(Page()->StateLine()->text(),
                      "Short test starts when the poll of the drive ends.");
        }
    };
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_EQ(Page()->StateLine()->text(), "Short test running: 0 % done.");
    duringAlert = {};
    Page()->AbortButton()->click();
    EXPECT_EQ(Page()->StateLine()->text(), "Short test aborted.");
    EXPECT_EQ(Row(0), "1|Short|Aborted by the host|0|-");
    EXPECT_TRUE(ReadAll(LogPath(1))
                    .contains("INFO\r\n[ ZENTROVA TEST B, S/N : T2 ] - Self-test "
                              "finished\r\nType :  Short\r\nResult :  Aborted"));
}

TEST_F(SelfTestShell, TheQuitConfirmationSaysARunningTestGoesOn) {
    ASSERT_TRUE(StartOnSimulatedDrives());
    answer = platform::NSAlertAlternateReturn;
    const QString question = "Are you sure that you want to close this application and stop "
                             "monitoring for S.M.A.R.T. Data?";
    controller->OnAppClose();
    EXPECT_EQ(alerts.back().message, question);
    Page()->ExtendedButton()->click();
    controller->OnAppClose();
    EXPECT_EQ(alerts.back().message, question + "\n\nA self-test is running: the drive goes on "
                                                "with it after Zentrova closes.");
}

} // namespace
