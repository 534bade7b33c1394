// The window layer: start-up, the tables, the log page, the settings page,
// the welcome and help windows, and ending.
#include "shell/string_table.h"
#include "shell_fixture.h"

#include "platform/install_layout.h"

#include <QTest>

static const QByteArray kHeader = smart::LogHeader(kEvening);
static const QByteArray kEntry = smart::AttributeChangeEntry(kEvening, "HD-EXAMPLE 80G", "FW01", 5,
                                                             "Reallocated Sector Count", 100, 99);

TEST_F(Shell, StartupShowsTheTablesTheNotesAndTheWelcomeWindow) {
    AddDrives(5);
    ASSERT_TRUE(Start());
    EXPECT_TRUE(!controller->SplashWindow()->isVisible() && alerts.empty());
    ASSERT_EQ(Drives()->model()->rowCount(), 4);
    const char* rows[] = {"/dev/sda|1|40|OK", "/dev/sdb|3|N/A|OK", "/dev/sdc|5|42|Failed",
                          "/dev/sdd|7|43|OK"};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(DriveRow(row) + Shown(ReadAll(LogPath(row))), rows[row] + Shown(kHeader));
    EXPECT_FALSE(QFile::exists(LogPath(4)));
    // The first drive is chosen: its log and its one attribute are shown.
    EXPECT_EQ(controller->LogPageText() + Cell(Attrs(), 0, 0), Shown(kHeader) + "C2");
    EXPECT_EQ(controller->DriveNotes()->text(),
              "vda: not an ATA drive.\nsde: Zentrova watches only the first four drives.");
    EXPECT_TRUE(controller->AdvertWindow()->isVisible() && !controller->MainWindow()->isVisible());
    // The About page names the version CMakeLists.txt builds (the news page's
    // check holds CHANGELOG.md's newest entry to the same).
    EXPECT_EQ(controller->AboutVersion()->text(), "V" ZENTROVA_PROJECT_VERSION);
    // Its promo opens a page; continuing shows the window and ends the timer.
    QPointer<QTimer> timer = controller->AdTimer();
    controller->OnClickPromo4Img();
    EXPECT_EQ(opened, (std::vector<QString>{
                          QUrl::fromLocalFile(ZENTROVA_BUILD_TREE_GUIDE "/news.html").toString()}));
    controller->OnClickContinueImg();
    EXPECT_TRUE(!controller->AdvertWindow()->isVisible() && controller->MainWindow()->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(timer.isNull());

    // Left alone, the timer leads on.
    ASSERT_TRUE(Start([](StartupEnvironment& env) { env.adTimerMilliseconds = 0; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(controller->MainWindow()->isVisible() && controller->AdTimer() == nullptr);
    ASSERT_TRUE(Start()); // closed from outside, the welcome window asks to end
    controller->AdvertWindow()->close();
    EXPECT_TRUE(controller->HasEnded() && !controller->MainWindow()->isVisible());
}

// Each button asks the browser for a page of ours that is there, run from the
// build tree and from an install staged by the install rule itself. An install
// without its pages, or missing one page, opens nothing: never the pages of the
// source tree it was built from.
TEST_F(Shell, WelcomeButtonsOpenOurPagesFromTheBuildTreeAndAnInstallOnly) {
    QTemporaryDir staged, bare;
    QProcess install;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DESTDIR", staged.path());
    install.setProcessEnvironment(environment);
    install.start(ZENTROVA_CMAKE, {"--install", ZENTROVA_BUILD_DIR, "--component", "guide",
                                   "--prefix", QString::fromStdString(platform::BundlePath())});
    ASSERT_TRUE(install.waitForFinished(60000) && install.exitCode() == 0)
        << install.readAllStandardError().toStdString();
    const struct LayoutReset {
        ~LayoutReset() { platform::ResetInstallLayoutForTest(); }
    } reset;
    // The installed program is a file of its own there, as after an install.
    const auto installedIn = [](const QTemporaryDir& root, QString* pages) {
        platform::installLayout.rootPrefix = root.path().toStdString();
        const QString program = QString::fromStdString(platform::MonitorProgramPath());
        *pages = QString::fromStdString(platform::GuidePagesPath());
        QFile file(program);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(program).path()) && file.open(QIODevice::WriteOnly));
        return program;
    };
    QString installed, missing;
    const struct {
        QString program, pages;                  // no pages: the buttons open nothing
    } runs[] = {{"", ZENTROVA_BUILD_TREE_GUIDE}, // this test, in the build tree
                {installedIn(staged, &installed), installed},
                {installedIn(bare, &missing), ""}};
    for (const auto& run : runs) {
        ASSERT_TRUE(Start([&](StartupEnvironment& env) { env.programPath = run.program; }));
        opened.clear();
        std::vector<QString> pages;
        int button = 0;
        for (const char* page : {"backup.html", "drive-care.html", "smart.html", "news.html"}) {
            controller->AdvertWindow()
                ->findChild<QAbstractButton*>(QStringLiteral("Promo%1Image").arg(++button))
                ->click();
            if (!run.pages.isEmpty())
                pages.push_back(QUrl::fromLocalFile(run.pages + "/" + page).toString());
            EXPECT_TRUE(run.pages.isEmpty() || QFile::exists(run.pages + "/" + page)) << page;
        }
        EXPECT_EQ(opened, pages) << run.program.toStdString();
        EXPECT_TRUE(controller->AdvertWindow()->isVisible());
    }
    ASSERT_TRUE(Start([&](StartupEnvironment& env) { env.programPath = runs[1].program; }));
    ASSERT_TRUE(QFile::remove(installed + "/backup.html"));
    opened.clear();
    controller->OnClickPromo1Img();
    EXPECT_TRUE(opened.empty() && controller->AdvertWindow()->isVisible());
}

TEST_F(Shell, LogPageAppendsOnlyWhatIsNewAndFollowsTheChosenDrive) {
    AddDrives(2);
    ASSERT_TRUE(Start());
    shell::LogPageView* view = controller->LogView();
    ASSERT_TRUE(Append(LogPath(0), kEntry));
    view->SelectLines(1, 0);
    controller->FillLogEvents();
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), Shown(kHeader + kEntry));
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(view, &copy); // whole lines, the selection kept across the append
    EXPECT_EQ(QApplication::clipboard()->text(), Shown(kHeader).section('\n', 0, 1) + "\n");

    Drives()->selectRow(1);
    EXPECT_EQ(controller->LogPageText(), Shown(kHeader));
    Drives()->selectRow(0);
    ASSERT_TRUE(QFile::remove(LogPath(0)) && Append(LogPath(0), "new\r\n")); // shorter: afresh
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), "new\n");
    // A log deleted meanwhile leaves the page; a folder in its place empties it.
    Drives()->selectRow(1);
    ASSERT_TRUE(QFile::remove(LogPath(1)));
    controller->FillLogEvents();
    EXPECT_EQ(controller->LogPageText(), Shown(kHeader));
    ASSERT_TRUE(QDir().mkdir(LogPath(1)));
    Drives()->selectRow(0);
    Drives()->selectRow(1);
    EXPECT_EQ(controller->LogPageText(), "");
}

// On a scrolled page a click picks the line under the pointer; new lines move
// a page that showed the last line, and no other.
TEST_F(Shell, LogPageClickPicksTheLineUnderThePointerAndOnlyTheLastLineFollows) {
    AddDrives(1);
    ASSERT_TRUE(Start());
    controller->OnClickContinueImg();
    Find<QTabWidget>("TheTab")->setCurrentWidget(Find<QWidget>("logPage"));
    QByteArray numbers;
    for (int i = 0; i < 500; ++i)
        numbers += QByteArray::number(i) + '\n';
    ASSERT_TRUE(Append(LogPath(0), numbers));
    controller->FillLogEvents();
    shell::LogPageView* view = controller->LogView();
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(100);
    const int row = view->fontMetrics().lineSpacing();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, row * 5 / 2));
    EXPECT_EQ(view->SelectedText(), "98\n"); // line 102, after the header's four
    ASSERT_TRUE(Append(LogPath(0), "500\n"));
    controller->FillLogEvents();
    EXPECT_EQ(bar->value(), 100);
    bar->setValue(bar->maximum());
    const int last = bar->value();
    ASSERT_TRUE(Append(LogPath(0), "501\n"));
    controller->FillLogEvents();
    EXPECT_EQ(bar->value(), last + 1);
}

TEST_F(Shell, LargeLogShowsItsFirstAndLastLinesAndWhatIsAppended) {
    AddDrives(1);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Zentrodat") &&
                Append(LogPath(0), kHeader + kEntry.repeated(24000))); // 4 MB, scanned by 1 MB
    ASSERT_TRUE(Start([](StartupEnvironment& env) { env.logScanSliceBytes = 1 << 20; }));
    smart::LogLineIndex& lines = controller->LogLines();
    EXPECT_TRUE(lines.Scanning() && lines.Line(0) == Shown(kHeader).section('\n', 0, 0));
    for (int turn = 0; turn < 10 && lines.Scanning(); ++turn)
        QApplication::processEvents();
    ASSERT_EQ(lines.LineCount(), 4 + 6 * 24000);
    EXPECT_EQ(lines.Line(lines.LineCount() - 2), "New Value :  99");
    ASSERT_TRUE(Append(LogPath(0), kHeader));
    controller->FillLogEvents();
    EXPECT_EQ(lines.Text(lines.LineCount() - 4, 4), Shown(kHeader));
}

// Ending: asked, for a data folder it cannot use, and whatever the
// uninstaller closes (the splash, a start-up panel, a panel over the window).
TEST_F(Shell, EndsWhenAskedWhenTheDataFolderFailsAndWhenClosedFromOutside) {
    AddDrives(2);
    EXPECT_FALSE(Start([this](StartupEnvironment& env) {
        env.splashWait = [this](int) { controller->SplashWindow()->close(); };
    }));
    EXPECT_FALSE(QDir(dir.path() + "/Zentrodat").exists());
    ASSERT_TRUE(Start());
    controller->OnClickContinueImg();
    answer = platform::NSAlertAlternateReturn; // "No"
    controller->OnAppClose();
    EXPECT_TRUE(controller->MainWindow()->isVisible() && !controller->HasEnded());
    answer = platform::NSAlertDefaultReturn;
    controller->OnAppClose();
    EXPECT_TRUE(!controller->MainWindow()->isVisible() && controller->HasEnded());
    EXPECT_EQ(device::dev.gpHeadDevInfo, nullptr);
    EXPECT_EQ(Cell(Drives(), 0, 0), ""); // a late repaint finds nothing, safely

    // A current directory that does not exist: no data folder can be made there.
    alerts.clear();
    EXPECT_FALSE(
        Start([this](StartupEnvironment& env) { env.currentDirectory = dir.path() + "/x"; }));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Unable to create S.M.A.R.T. log file.\nQuiting the application.");
    EXPECT_TRUE(controller->HasEnded() && controller->AdTimer() == nullptr);
    EXPECT_EQ(device::dev.gpHeadDevInfo, nullptr);

    states[0].data = DataPage({{5, 10}});
    states[0].thresholds = ThresholdsPage({{5, 0, 0, 0, 36}});
    duringAlert = [](const platform::AlertRequest&) { platform::PanelClosedByWindowManager(); };
    EXPECT_FALSE(Start());
    duringAlert = {};
    ASSERT_TRUE(Start());
    duringAlert = [this](const platform::AlertRequest&) { controller->MainWindow()->close(); };
    controller->OnAppClose();
    EXPECT_TRUE(controller->HasEnded());
    EXPECT_NE(device::dev.gpHeadDevInfo, nullptr); // the panel's caller still uses it
}

TEST_F(Shell, PollFillsBothTablesAndSelectionsRedisplayWithoutReading) {
    AddDrives(3);
    states[1].data = DataPage({{5, 36, 36}, {194, 100, 90, 45}});
    states[1].thresholds = ThresholdsPage({{5, 0, 0, 0, 36}, {194}});
    ASSERT_TRUE(Start());
    EXPECT_EQ(Reads(0) * 10 + Reads(1), 10);
    Drives()->selectRow(1);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message.section('\n', 0, 2), "HD-EXAMPLE 80G,\nFW01,\nis about to fail.");
    EXPECT_EQ(Cell(Attrs(), 0, 6) + Cell(Drives(), 1, 3) + Cell(Drives(), 1, 2), "FailedFailed45");
    // Status red or blue, the attribute's numbers red or black, the rest plain.
    const std::tuple<QTableView*, int, int, QColor> colours[] = {
        {Attrs(), 0, 6, Qt::red},   {Attrs(), 1, 6, Qt::blue}, {Attrs(), 1, 4, Qt::black},
        {Attrs(), 0, 1, QColor()},  {Drives(), 1, 3, Qt::red}, {Drives(), 0, 3, Qt::blue},
        {Drives(), 0, 0, QColor()},
    };
    for (const auto& [t, r, c, colour] : colours)
        EXPECT_EQ(t->model()->index(r, c).data(Qt::ForegroundRole).value<QColor>(), colour)
            << r << "," << c;
    Drives()->selectRow(0);
    Drives()->selectRow(1);
    EXPECT_EQ(Reads(0) * 10 + Reads(1), 11);
    settings::settings.bPoll[1] = 1; // the drive's timer marks it: read, and unmarked
    Drives()->selectRow(0);
    Drives()->selectRow(1);
    EXPECT_EQ(Reads(1) * 10 + settings::settings.bPoll[1], 20);
    // A poll brings a minimised window back; with log events on, the page follows.
    controller->MainWindow()->showMinimized();
    settings::settings.gbCheckLog[1] = 1;
    states[1].data = DataPage({{5, 36, 36}, {194, 99, 90, 45}});
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_FALSE(controller->MainWindow()->isMinimized());
    EXPECT_EQ(controller->LogPageText(), Shown(ReadAll(LogPath(1))));
    EXPECT_GT(ReadAll(LogPath(1)).size(), kHeader.size());
    // Edits from the view write only the program's own values, on the chosen row.
    smart::smart.gnReadingTemp = 55;
    QAbstractItemModel* model = Drives()->model();
    for (auto [row, column] : {std::pair{1, 2}, {0, 2}, {0, 3}})
        EXPECT_TRUE(model->setData(model->index(row, column), "typed", Qt::EditRole));
    EXPECT_EQ(DriveRow(0) + DriveRow(1), "/dev/sda|1|40|OK/dev/sdb|3|55|Failed");
    EXPECT_EQ(Drives()->selectionModel()->selectedRows().size(), 1); // the reload keeps it
}

TEST_F(Shell, MetricsFileAfterDetectionAndAfterEveryRead) {
    const QString file = dir.path() + "/zentrova.prom";
    settings::UserDefaults()->setValue("MetricsDirectory", dir.path());
    ASSERT_TRUE(Start()); // no drive: detection alone writes it
    EXPECT_TRUE(ReadAll(file).startsWith("# HELP zentrova_drive_listed "));
    AddDrives(2);
    states[0].readDataStatus = 5;
    ASSERT_TRUE(Start());
    Drives()->selectRow(1);
    const QByteArray labels = R"(",model="HD-EXAMPLE 80G",firmware="FW01",serial=""} )";
    EXPECT_TRUE(ReadAll(file).contains("failed_reads_total{device=\"/dev/sda" + labels + "1\n"));
    EXPECT_TRUE(ReadAll(file).contains("poll_timestamp_seconds{device=\"/dev/sdb" + labels +
                                       QByteArray::number(kEvening.toSecsSinceEpoch())));
}

TEST(StringTable, ParsesEntriesCommentsAndEscapesAndSkipsBrokenOnes) {
    const auto table =
        shell::ParseStringTable("/* c */ \"A\" = \"x;y\";\n// note\n\"B\"=\"q\\\"uote\\n\";\n\"C\" "
                                "= broken;\n\"D\" = \"d\";");
    EXPECT_EQ(table.value("A") + table.value("B") + table.value("D"), "x;yq\"uote\nd");
    EXPECT_FALSE(table.contains("C"));
}

TEST_F(Shell, SettingsPageTicksApplyAndCarryOver) {
    AddDrives(3);
    ASSERT_TRUE(Start());
    const int before = Reads(0) + Reads(1) + Reads(2);
    clock.Advance(3600); // drive 0 polled in place, then 1 and 2 selected and polled
    EXPECT_EQ(Drives()->selectionModel()->selectedRows().first().row(), 2);
    EXPECT_EQ(Reads(0) + Reads(1) + Reads(2), before + 3);
    Find<QSpinBox>("SetsMinStepper")->setValue(2);
    Find<QLineEdit>("SetsHrEdit")->setText("0");
    Find<QCheckBox>("SetsLogEvent")->click(); // off
    Find<QPushButton>("SetsApplysettings")->click();
    EXPECT_EQ(clock.Intervals(), (std::vector<std::int64_t>{3600, 3600, 120}));
    EXPECT_FALSE(controller->LogView()->Selectable());
    // The page follows the selection; its boxes enable their fields.
    Drives()->selectRow(2);
    Find<QCheckBox>("SetsPollDrive")->click();
    Find<QCheckBox>("SetsCriticalTemp")->click();
    EXPECT_FALSE(Enabled("SetsMinStepper") || Enabled("SetsTempEdit"));
    Find<QPushButton>("SetsApplysettings")->click();
    Drives()->selectRow(0);
    EXPECT_TRUE(Enabled("SetsHrEdit") && Enabled("SetsTempEdit"));
    Drives()->selectRow(2);
    EXPECT_FALSE(Find<QCheckBox>("SetsPollDrive")->isChecked() || Enabled("SetsHrEdit"));
    // One number for each value: in the field; its stepper is arrows only, and
    // the unit a label after them.
    for (const auto& [stepper, unit] :
         {std::pair{"SetsHrStepper", "h"}, {"SetsMinStepper", "min"}, {"SetsTempStepper", "°C"}}) {
        const QSpinBox* arrows = Find<QSpinBox>(stepper);
        EXPECT_TRUE(arrows->findChild<QLineEdit*>()->isHidden() && arrows->suffix().isEmpty())
            << stepper;
        EXPECT_EQ(Find<QLabel>(QByteArray(stepper).replace("Stepper", "Unit").constData())->text(),
                  unit);
    }
    // The carry-over runs before the first selection: the page that selection
    // loads may replace a foreign entry, and must not write the file before the
    // other drives' entries are in the store.
    registry.services[0].model = "OTHER MODEL";
    ASSERT_TRUE(Start());
    const settings::SettingsRead read = settings::ReadSettingsFile(dir.path() + "/Zentrodat");
    ASSERT_TRUE(read.dict && read.dict->Find("disk2"));
    EXPECT_EQ(read.dict->Find("disk2")->Value("DrvPoll"), "False");
}
