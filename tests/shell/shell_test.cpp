#include "fakes/fake_registry.h"
#include "shell/log_page_view.h"
#include "shell/string_table.h"
#include "shell/table_model.h"
#include "settings/login_item.h"
#include "shell_fixture.h"
#include "smart/event_log.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include <string>
#include <vector>

using namespace zentrova;
using namespace zentrova::testing;
using zentrova::device::dev;
using zentrova::platform::AlertRequest;

namespace {

class RecordingVersion final : public platform::SystemVersionSource {
  public:
    explicit RecordingVersion(std::vector<std::string>* order) : order_(order) {}
    int SystemVersion(std::uint32_t* value) override {
        order_->push_back("version");
        *value = 0x1039;
        return 0;
    }

  private:
    std::vector<std::string>* order_;
};

// Drive i: "/dev/sd<a+i>", (2i+1) GiB, temperature 40+i except drive 1,
// which reports none; drive 2's SMART enable fails.
class Shell : public ShellFixture {
  protected:
    void AddDrives(int count) {
        states.resize(count);
        for (int i = 0; i < count; ++i) {
            FakeDriveState& state = states[i];
            state.data =
                DataPage({i == 1 ? EntrySpec{5} : EntrySpec{194, 100, 100, std::uint8_t(40 + i)}});
            if (i == 2)
                state.enableStatus = 7;
            FakeService service;
            service.bsdName = std::string("sd") + char('a' + i);
            service.sizeBytes = std::int64_t(2 * i + 1) << 30;
            service.model = "HD-EXAMPLE 80G";
            service.firmware = "FW01";
            service.drive = &state;
            services.push_back(service);
        }
    }

    StartupEnvironment Environment() override {
        StartupEnvironment env;
        env.makeRegistry = [this] {
            order.push_back("detect");
            dataFolderAtDetection = QDir(dir.path()).exists("Zentrodat");
            auto registry = std::make_unique<FakeRegistry>();
            registry->services = services;
            registry->leftOut = leftOut;
            return registry;
        };
        env.systemVersion = &version;
        env.splashWait = [this](int seconds) {
            order.push_back("splash " + std::to_string(seconds));
            splashShownDuringWait = controller->SplashWindow()->isVisible();
            EXPECT_EQ(dev.gpHeadDevInfo, nullptr);
        };
        env.currentDirectory = currentDirectory.isEmpty() ? dir.path() : currentDirectory;
        env.openUrl = [this](const QUrl& url) {
            opened.push_back(url.toString());
            return true;
        };
        env.logScanSliceBytes = logScanSlice;
        return env;
    }

    QString currentDirectory;
    std::int64_t logScanSlice = smart::LogLineIndex::kScanSlice;
    std::vector<FakeDriveState> states;
    std::vector<FakeService> services;
    std::vector<std::string> leftOut{"vda: not an ATA drive."};
    std::vector<std::string> order;
    RecordingVersion version{&order};
    bool dataFolderAtDetection = true;
    bool splashShownDuringWait = false;
    std::vector<QString> opened;
};

} // namespace

TEST_F(Shell, StartupOrderAndResultsForNoDriveAndForFive) {
    const QByteArray header = smart::LogHeader(kEvening);
    for (int count : {0, 5}) {
        SCOPED_TRACE(count);
        controller.reset();
        ResetAll();
        services.clear();
        order.clear();
        QTemporaryDir fresh;
        currentDirectory = fresh.path();
        AddDrives(count);

        ASSERT_TRUE(Start());
        const int listed = std::min(count, 4);
        EXPECT_EQ(order, (std::vector<std::string>{"splash 5", "version", "detect"}));
        EXPECT_TRUE(splashShownDuringWait);
        EXPECT_FALSE(controller->SplashWindow()->isVisible());
        EXPECT_FALSE(dataFolderAtDetection);
        EXPECT_EQ(controller->DrvPath(), fresh.path() + "/Zentrodat");
        EXPECT_TRUE(alerts.empty());

        QTableView* table = controller->DriveTable();
        ASSERT_EQ(table->model()->rowCount(), listed);
        const char* temps[] = {"40", "N/A", "42", "43"};
        const char* sizes[] = {"1", "3", "5", "7"};
        for (int row = 0; row < listed; ++row) {
            EXPECT_EQ(Cell(table, row, 0), QString("/dev/sd") + QChar('a' + row));
            EXPECT_EQ(Cell(table, row, 1), sizes[row]);
            EXPECT_EQ(Cell(table, row, 2), temps[row]);
            EXPECT_EQ(Cell(table, row, 3), row == 2 ? "Failed" : "OK");
            EXPECT_EQ(ReadAll(fresh.path() + "/Zentrodat/SMARTLog" + QString::number(row)), header);
        }
        EXPECT_FALSE(QFile::exists(fresh.path() + "/Zentrodat/SMARTLog" + QString::number(listed)));

        // The first load chose the first drive and its log is on the page, once.
        EXPECT_EQ(dev.gpSelDevInfo, dev.gpHeadDevInfo);
        EXPECT_EQ(controller->LogPageText(), listed > 0 ? Shown(header) : QString());
        // ... and its reading fills the attribute table: one attribute, 194.
        EXPECT_EQ(controller->AttrTable()->model()->rowCount(), listed > 0 ? 1 : 30);
        EXPECT_EQ(Cell(controller->AttrTable(), 0, 0), listed > 0 ? "C2" : "");

        // Under the drive table, one line per disk left out.
        EXPECT_EQ(controller->DriveNotes()->text(),
                  count == 0 ? "No drive was found that Zentrova can read.\nvda: not an ATA drive."
                             : "vda: not an ATA drive.\nsde: Zentrova watches only the first four "
                               "drives.");
        EXPECT_FALSE(controller->DriveNotes()->isHidden());

        EXPECT_EQ(controller->MainWindow()->windowTitle(), "Zentrova");
        EXPECT_EQ(controller->AboutVersion()->text(), "V1.0.2");
        EXPECT_FALSE(controller->AboutImage()->pixmap().isNull());
        EXPECT_TRUE(controller->AdvertWindow()->isVisible());
        EXPECT_FALSE(controller->MainWindow()->isVisible());
        ASSERT_NE(controller->AdTimer(), nullptr);
        EXPECT_TRUE(controller->AdTimer()->isActive());
        EXPECT_EQ(controller->AdTimer()->interval(), 30000);
        EXPECT_EQ(controller->AdTimer()->timerType(), Qt::PreciseTimer);
    }
}

TEST_F(Shell, ExistingDataFolderAndLogsAreLeftAsTheyAre) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("Zentrodat"));
    const QByteArray old = "Mon, Nov 30 2026, 08:00 AM :: INFO\r\nGr\xC3\xB6\xC3\x9F"
                           "e\r\n";
    ASSERT_TRUE(Append(LogPath(0), old));
    AddDrives(2);

    leftOut.clear();
    ASSERT_TRUE(Start());
    EXPECT_EQ(ReadAll(LogPath(0)), old);
    EXPECT_TRUE(controller->DriveNotes()->isHidden()); // nothing to say
    EXPECT_EQ(ReadAll(LogPath(1)), smart::LogHeader(kEvening));
    // Decoded as UTF-8, not lost as non-ASCII.
    EXPECT_EQ(controller->LogPageText(), Shown(old));
}

TEST_F(Shell, UnusableDataFolderAlertsOnceAndEndsTheProgram) {
    currentDirectory = dir.path() + "/gone"; // Zentrodat cannot be made inside it
    AddDrives(2);
    EXPECT_FALSE(Start());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Zentrova");
    EXPECT_EQ(alerts[0].message, "Unable to create S.M.A.R.T. log file.\nQuiting the application.");
    EXPECT_EQ(alerts[0].defaultButton, "OK");
    EXPECT_TRUE(controller->HasEnded());
    EXPECT_EQ(dev.gpHeadDevInfo, nullptr);
    EXPECT_FALSE(controller->AdvertWindow()->isVisible());
    EXPECT_EQ(controller->AdTimer(), nullptr);

    // With no drive there is no log to create; only the settings file that
    // cannot be written is reported.
    controller.reset();
    ResetAll();
    services.clear();
    alerts.clear();
    EXPECT_TRUE(Start());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].message.startsWith("The settings could not be saved"));
    EXPECT_FALSE(controller->HasEnded());
}

TEST_F(Shell, LogPageReadsOnlyWhatIsNewAndAlwaysAppendsAtTheEnd) {
    AddDrives(2);
    ASSERT_TRUE(Start());
    shell::LogPageView* view = controller->LogView();
    const QByteArray header = smart::LogHeader(kEvening);
    const QByteArray entry = smart::AttributeChangeEntry(kEvening, "HD-EXAMPLE 80G", "FW01", 5,
                                                         "Reallocated Sector Count", 100, 99);

    ASSERT_TRUE(Append(LogPath(0), entry));
    // The user has selected the first two lines; the new entry still goes at
    // the end, and the selection copies whole lines.
    view->SelectLines(1, 0);
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), Shown(header + entry));
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(view, &copy);
    EXPECT_EQ(QApplication::clipboard()->text(), Shown(header).section('\n', 0, 1) + "\n");

    // Not selectable: nothing is selected or copied.
    controller->SetLogViewSelectable(false);
    view->SelectLines(0, 0);
    EXPECT_EQ(view->SelectedText(), "");
    controller->SetLogViewSelectable(true);

    // Nothing new: nothing changes.
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), Shown(header + entry));

    // Another drive shows its own log from the start; back again shows the
    // whole first log once.
    controller->DriveTable()->selectRow(1);
    EXPECT_EQ(dev.gpSelDevInfo->nDevIndex, 1);
    EXPECT_EQ(controller->LogPageText(), Shown(header));
    controller->DriveTable()->selectRow(0);
    EXPECT_EQ(controller->LogPageText(), Shown(header + entry));

    // A log replaced by a shorter file is shown afresh, not appended to.
    {
        QFile replaced(LogPath(0));
        ASSERT_TRUE(replaced.open(QIODevice::WriteOnly | QIODevice::Truncate));
        replaced.write("new\r\n");
    }
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), "new\n");

    // Clearing the selection leaves no drive chosen and the page as it was.
    controller->DriveTable()->clearSelection();
    EXPECT_EQ(dev.gpSelDevInfo, nullptr);
    EXPECT_EQ(controller->LogPageText(), "new\n");

    // A log deleted while running leaves the page alone; something that is
    // not a log shows an empty page when its drive is chosen.
    controller->DriveTable()->selectRow(1);
    ASSERT_TRUE(QFile::remove(LogPath(1)));
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), Shown(header));
    ASSERT_TRUE(QDir().mkdir(LogPath(1)));
    controller->DriveTable()->selectRow(0);
    controller->DriveTable()->selectRow(1);
    EXPECT_EQ(controller->LogPageText(), "");
}

TEST_F(Shell, LargeLogShowsItsFirstAndLastLinesAndWhatIsAppended) {
    AddDrives(1);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Zentrodat"));
    const QByteArray entry = smart::AttributeChangeEntry(kEvening, "HD-EXAMPLE 80G", "FW01", 5,
                                                         "Reallocated Sector Count", 100, 99);
    const QByteArray header = smart::LogHeader(kEvening);
    // About 4 MB, scanned in 1 MB slices: start-up shows the first lines and
    // the event loop scans the rest.
    ASSERT_TRUE(Append(LogPath(0), header + entry.repeated(24000)));
    logScanSlice = 1 << 20;
    ASSERT_TRUE(Start());
    smart::LogLineIndex& lines = controller->LogLines();
    EXPECT_EQ(lines.Line(0), Shown(header).section('\n', 0, 0));
    EXPECT_TRUE(lines.Scanning());
    for (int turn = 0; turn < 10 && lines.Scanning(); ++turn)
        QApplication::processEvents();
    ASSERT_EQ(lines.LineCount(), 4 + 6 * 24000);
    EXPECT_EQ(lines.Line(lines.LineCount() - 2), "New Value :  99");
    EXPECT_EQ(controller->LogView()->FirstVisibleLine(), 0);

    const QByteArray last =
        smart::AttributeChangeEntry(kEvening, "HD-EXAMPLE 80G", "FW01", 194, "Temperature", 40, 41);
    ASSERT_TRUE(Append(LogPath(0), last));
    controller->FillLogEvents();
    EXPECT_EQ(lines.Text(lines.LineCount() - 6, 6), Shown(last));
}

TEST_F(Shell, CloseAsksFirstAndYesEndsTheProgram) {
    AddDrives(2);
    ASSERT_TRUE(Start());
    controller->OnClickContinueImg();
    ASSERT_TRUE(controller->MainWindow()->isVisible());

    answer = platform::NSAlertAlternateReturn;
    controller->OnAppClose();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Zentrova");
    EXPECT_EQ(alerts[0].message, "Are you sure that you want to close this application and stop "
                                 "monitoring for S.M.A.R.T. Data?");
    EXPECT_EQ(alerts[0].defaultButton, "Yes");
    EXPECT_EQ(alerts[0].alternateButton, "No");
    EXPECT_EQ(alerts[0].otherButton, "");
    EXPECT_TRUE(controller->MainWindow()->isVisible());
    EXPECT_FALSE(controller->HasEnded());
    EXPECT_NE(dev.gpHeadDevInfo, nullptr);

    answer = platform::NSAlertDefaultReturn;
    controller->OnAppClose();
    EXPECT_FALSE(controller->MainWindow()->isVisible());
    EXPECT_TRUE(controller->HasEnded());
    EXPECT_EQ(dev.gpHeadDevInfo, nullptr);
    EXPECT_EQ(dev.gpSelDevInfo, nullptr);
    // The table may still be asked to draw; it finds nothing, safely.
    EXPECT_EQ(Cell(controller->DriveTable(), 0, 0), "");
}

TEST_F(Shell, AdvertisementWindowTimerPromosAboutAndHelp) {
    AddDrives(1);
    ASSERT_TRUE(Start());
    QPointer<QTimer> timer = controller->AdTimer();

    // A promotional button opens its address and leaves the window and timer.
    controller->OnClickPromo1Img();
    controller->OnClickPromo4Img();
    EXPECT_EQ(opened, (std::vector<QString>{"https://zentrova.example/guide/backup",
                                            "https://zentrova.example/news"}));
    EXPECT_TRUE(controller->AdvertWindow()->isVisible());
    EXPECT_TRUE(timer->isActive());

    // About switches the (still hidden) main window to its About page.
    controller->OnAboutMenu();
    EXPECT_EQ(controller->Tab()->currentIndex(), 3);
    EXPECT_FALSE(controller->MainWindow()->isVisible());

    // Continue cancels the timer for good.
    controller->OnClickContinueImg();
    EXPECT_EQ(controller->AdTimer(), nullptr);
    EXPECT_FALSE(controller->AdvertWindow()->isVisible());
    EXPECT_TRUE(controller->MainWindow()->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(timer.isNull());

    controller->OnAppHelp();
    ASSERT_NE(controller->HelpBrowser(), nullptr);
    EXPECT_EQ(controller->HelpBrowser()->documentTitle(), "Zentrova Help");

    // Left alone, the timer leads on to the main window by itself.
    controller.reset();
    ResetAll();
    auto env = Environment();
    env.adTimerMilliseconds = 0;
    controller = std::make_unique<AppController>(env);
    ASSERT_TRUE(controller->applicationWillFinishLaunching());
    EXPECT_FALSE(controller->MainWindow()->isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(controller->AdvertWindow()->isVisible());
    EXPECT_TRUE(controller->MainWindow()->isVisible());
    EXPECT_EQ(controller->AdTimer(), nullptr);

    // Closed from outside, the welcome window is a request to end.
    controller.reset();
    ResetAll();
    ASSERT_TRUE(Start());
    controller->AdvertWindow()->close();
    EXPECT_TRUE(controller->HasEnded());
    EXPECT_FALSE(controller->MainWindow()->isVisible());
    EXPECT_EQ(controller->AdTimer(), nullptr);
}

// The uninstaller asks by closing whatever the monitor shows: the splash, a
// panel during start-up, a panel over the main window.
TEST_F(Shell, EndsWhenAskedToCloseDuringStartUpOrAPanel) {
    AddDrives(1);
    auto env = Environment();
    env.splashWait = [this](int) { controller->SplashWindow()->close(); };
    controller = std::make_unique<AppController>(env);
    EXPECT_FALSE(controller->applicationWillFinishLaunching());
    EXPECT_TRUE(controller->HasEnded());
    EXPECT_FALSE(QDir(dir.path() + "/Zentrodat").exists());

    // A failing drive's "WARNING" panel during the first load.
    controller.reset();
    ResetAll();
    states[0].data = DataPage({{5, 10}});
    states[0].thresholds = ThresholdsPage({{5, 0, 0, 0, 36}});
    duringAlert = [](const platform::AlertRequest&) { platform::PanelClosedByWindowManager(); };
    EXPECT_FALSE(Start());
    EXPECT_FALSE(alerts.empty());
    EXPECT_FALSE(controller->AdvertWindow()->isVisible());

    controller.reset();
    ResetAll();
    duringAlert = {};
    ASSERT_TRUE(Start());
    duringAlert = [this](const platform::AlertRequest&) { controller->MainWindow()->close(); };
    controller->OnAppClose();
    EXPECT_TRUE(controller->HasEnded());
    EXPECT_NE(zentrova::device::dev.gpHeadDevInfo, nullptr); // kept while the panel ran
}

TEST_F(Shell, CellColoursComeFromEachRowsOwnData) {
    AddDrives(3);
    ASSERT_TRUE(Start());
    QTableView* drives = controller->DriveTable();
    const QColor pale = QColor::fromRgbF(0.929f, 0.953f, 0.996f, 1.0f);

    // Ask in an order a view might: row 2 ("Failed") last, row 0 after it.
    EXPECT_EQ(Look(drives, 2, 3, Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_EQ(Look(drives, 0, 3, Qt::ForegroundRole).value<QColor>(), QColor(Qt::blue));
    EXPECT_FALSE(Look(drives, 0, 0, Qt::ForegroundRole).isValid());
    EXPECT_EQ(Look(drives, 0, 1, Qt::BackgroundRole).value<QColor>(), pale);
    EXPECT_EQ(Look(drives, 1, 1, Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    dev.gbRunningOS = 'Q';
    EXPECT_FALSE(Look(drives, 0, 1, Qt::BackgroundRole).isValid());

    // Keys match anywhere in an identifier, whatever the case.
    EXPECT_EQ(controller->objectValueForTableColumn("smart", 2).toString(), "Failed");
    EXPECT_EQ(controller->objectValueForTableColumn("xxTEMPxx", 0).toString(), "40");
    EXPECT_FALSE(controller->objectValueForTableColumn("Nothing", 0).isValid());
}

TEST_F(Shell, ValueSetPathWritesOnlyTheProgramsOwnValues) {
    AddDrives(2);
    // The first drive cannot be read, so start-up's poll pushes no status.
    states[0].readDataStatus = 1;
    ASSERT_TRUE(Start());
    QAbstractItemModel* model = controller->DriveTable()->model();
    smart::smart.gbAttrFailed = 1;
    smart::smart.gnReadingTemp = 55;

    // Before a poll has pushed a status nothing changes; the unread drive's
    // attribute table shows 30 empty rows.
    EXPECT_TRUE(model->setData(model->index(0, 3), "typed", Qt::EditRole));
    EXPECT_EQ(Cell(controller->DriveTable(), 0, 3), "OK");
    ASSERT_EQ(controller->AttrTable()->model()->rowCount(), 30);
    EXPECT_EQ(Cell(controller->AttrTable(), 29, 1), "");

    controller->SetDrvFailed();
    model->setData(model->index(0, 3), "typed", Qt::EditRole);
    model->setData(model->index(0, 2), "typed", Qt::EditRole);
    model->setData(model->index(1, 3), "typed", Qt::EditRole);
    EXPECT_EQ(Cell(controller->DriveTable(), 0, 3), "Failed");
    EXPECT_EQ(Cell(controller->DriveTable(), 0, 2), "55");
    EXPECT_EQ(Cell(controller->DriveTable(), 1, 3), "OK");
    // The refresh kept the chosen drive chosen; without a chosen drive
    // nothing is written.
    EXPECT_EQ(dev.gpSelDevInfo, dev.gpHeadDevInfo);
    EXPECT_EQ(controller->DriveTable()->selectionModel()->selectedRows().size(), 1);
    dev.gpSelDevInfo = nullptr;
    smart::smart.gnReadingTemp = 70;
    controller->EditDriveCell(2, 0);
    EXPECT_EQ(Cell(controller->DriveTable(), 0, 2), "55");
}

TEST(StringTable, ParsesEntriesCommentsAndEscapesAndSkipsBrokenOnes) {
    const auto table =
        shell::ParseStringTable("/* c */ \"A\" = \"x;y\";\n// note\n\"B\"=\"q\\\"uote\\n\";\n\"C\" "
                                "= broken;\n\"D\" = \"d\";");
    EXPECT_EQ(table.value("A"), "x;y");
    EXPECT_EQ(table.value("B"), "q\"uote\n");
    EXPECT_FALSE(table.contains("C"));
    EXPECT_EQ(table.value("D"), "d");
    EXPECT_EQ(shell::LocalizedString("IDS_PROMO2_PATH", "", "Messages"),
              "https://zentrova.example/guide/drive-care");
    EXPECT_EQ(shell::LocalizedString("IDS_NONE", "fallback", "Messages"), "fallback");
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(Shell, MetricsFileAfterDetectionAndAfterEveryRead) {
    const QString folder = dir.path() + "/metrics";
    const QString file = folder + "/zentrova.prom";
    ASSERT_TRUE(QDir().mkpath(folder));
    settings::UserDefaults()->setValue("MetricsDirectory", folder);

    // No drive, so no poll: detection alone writes the file.
    ASSERT_TRUE(Start());
    EXPECT_TRUE(ReadAll(file).startsWith("# HELP zentrova_drive_listed "));

    // Start-up's poll of the first drive fails; choosing the second reads it.
    controller.reset();
    ResetAll();
    AddDrives(2);
    states[0].readDataStatus = 5;
    ASSERT_TRUE(Start());
    const QByteArray sda = R"({device="/dev/sda",model="HD-EXAMPLE 80G",firmware="FW01"})";
    const QByteArray sdb = R"({device="/dev/sdb",model="HD-EXAMPLE 80G",firmware="FW01"})";
    EXPECT_TRUE(ReadAll(file).contains("zentrova_drive_failed_reads_total" + sda + " 1\n"));
    controller->DriveTable()->selectRow(1);
    const QByteArray text = ReadAll(file);
    EXPECT_TRUE(text.contains("zentrova_drive_last_poll_timestamp_seconds" + sdb + ' ' +
                              QByteArray::number(kEvening.toSecsSinceEpoch()) + '\n'))
        << text.constData();
    EXPECT_TRUE(text.contains("zentrova_drive_failed_reads_total" + sda + " 1\n"));
}
