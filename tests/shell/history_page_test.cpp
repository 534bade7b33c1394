// The History tab on fake drives: it fills as the shown drive is polled, says
// when there is nothing to plot, exports through the save dialog, and a
// damaged store is kept aside with one panel while monitoring goes on, one
// that cannot be opened now is left as it is.
#include "history/history_fixture.h"
#include "shell/history_page.h"
#include "shell_fixture.h"

#include <QChart>
#include <QComboBox>
#include <QValueAxis>

namespace {

const char kNoReadings[] = "No readings of this drive yet.";

int HistoryPanels(const std::vector<platform::AlertRequest>& alerts) {
    return int(std::count_if(alerts.begin(), alerts.end(), [](const platform::AlertRequest& a) {
        return a.title == "Drive history";
    }));
}

TEST_F(Shell, HistoryTabFollowsEachPollOfTheShownDrive) {
    AddDrives(2);
    ASSERT_TRUE(Start());
    QTabWidget* tabs = Find<QTabWidget>("TheTab");
    shell::HistoryPage* page = controller->HistoryView();
    EXPECT_EQ(tabs->indexOf(page), tabs->indexOf(Find<QWidget>("logPage")) + 1);
    EXPECT_EQ(page->Model().Size(), 1u);
    EXPECT_EQ(page->Notice(), "");
    states[0].data = DataPage({{194, 100, 100, 47}});
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    ASSERT_EQ(page->Model().Size(), 2u);
    EXPECT_EQ(page->Model().Temperatures().back().y(), 47);
    EXPECT_EQ(page->Model().Raws().back().y(), 47);
    EXPECT_EQ(page->EntryList()->currentItem()->text(), "C2 Temperature");
}

// A counter a Watch rule reads is plotted as its count (a stray high word
// left out), and the time the drive entered Watch is marked.
TEST_F(Shell, HistoryTabPlotsAWatchedCounterAsItsCountAndMarksTheWatch) {
    AddDrives(1);
    const auto read = [&](std::uint8_t count) {
        states[0].data = DataPage({{194, 100, 100, 40}, {5, 100, 100, count}});
        states[0].data[2 + 12 + 5 + 4] = 1; // raw byte 4: not part of the count
    };
    read(0);
    ASSERT_TRUE(Start());
    shell::HistoryPage* page = controller->HistoryView();
    EXPECT_TRUE(page->WatchStarts().empty());
    for (const std::uint8_t count : {1, 4}) {
        read(count);
        controller->PollSelDriveForSMARTAndFillAttributeTable();
    }
    EXPECT_EQ(page->WatchStarts(), (std::vector<std::int64_t>{kEvening.toMSecsSinceEpoch()}));
    page->SelectEntry(5);
    ASSERT_EQ(page->RawPoints().size(), 3u);
    EXPECT_EQ(page->RawPoints().back().y(), 4);
    EXPECT_TRUE(page->RawAxis()->titleText().startsWith("Raw count"));
    page->SelectEntry(0xC2);
    EXPECT_EQ(page->RawPoints().back().y(), 40);
    EXPECT_EQ(page->RawAxis()->titleText(), "Raw");
}

TEST_F(Shell, HistoryTabSaysSoWhenTheDriveHasNoReadings) {
    AddDrives(1);
    states[0].readDataStatus = 1;
    ASSERT_TRUE(Start());
    EXPECT_EQ(controller->HistoryView()->Notice(), kNoReadings);
    EXPECT_EQ(controller->HistoryView()->EntryList()->count(), 0);
}

TEST_F(Shell, HistoryExportGoesWhereTheSaveDialogSays) {
    AddDrives(1);
    QString suggested, answer = dir.filePath("out.csv");
    ASSERT_TRUE(Start([&](StartupEnvironment& env) {
        env.saveDialog = [&](QWidget*, const QString& path) { return suggested = path, answer; };
    }));
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    EXPECT_TRUE(controller->HistoryView()->ExportCsv());
    EXPECT_TRUE(suggested.endsWith("HD-EXAMPLE-80G-history.csv"));
    QFile csv(answer);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    EXPECT_TRUE(rows[0].startsWith("time_utc,model,"));
    EXPECT_EQ(rows.size(), 1 + 2 + 1); // header, one row per reading, the end
    answer.clear();
    EXPECT_FALSE(controller->HistoryView()->ExportCsv());
}

TEST_F(Shell, ADamagedHistoryIsKeptAsideWithOnePanelAndPollsGoOn) {
    AddDrives(1);
    QDir(dir.path()).mkdir("Zentrodat");
    QFile garbage(dir.filePath("Zentrodat/history.sqlite3"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x5a'));
    garbage.close();
    ASSERT_TRUE(Start());
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    QCoreApplication::processEvents();
    EXPECT_EQ(HistoryPanels(alerts), 1);
    EXPECT_EQ(QDir(dir.filePath("Zentrodat")).entryList({"history.sqlite3.broken-*"}).size(), 1);
    EXPECT_EQ(controller->HistoryView()->Model().Size(), 2u);
    EXPECT_EQ(Reads(0), 2);
}

// A store that Zentrodat holds before the start, `readings` of the fake
// drives' model stored before serials were read.
std::string OlderStore(const QTemporaryDir& dir, int readings) {
    QDir(dir.path()).mkdir("Zentrodat");
    const std::string path = dir.filePath("Zentrodat/history.sqlite3").toStdString();
    history::Store older{[] { return zentrova::testing::kT0; }};
    older.Open(path);
    for (int i = 0; i < readings; ++i) {
        history::Reading r =
            zentrova::testing::MadeUpReading("HD-EXAMPLE 80G", zentrova::testing::kT0 + i, i, 2);
        r.identity.firmware = "FW01";
        older.Add(r);
    }
    return path;
}

// Twins each have a page of their own, and the readings they shared before
// serials were read stay one choice away.
TEST_F(Shell, ATwinsPageOffersTheReadingsFromBeforeSerials) {
    AddDrives(2);
    registry.services[0].serial = "S0";
    registry.services[1].serial = "S1";
    OlderStore(dir, 3);
    ASSERT_TRUE(Start());
    shell::HistoryPage* page = controller->HistoryView();
    page->SetRange(history::Range::All);
    auto* source = Find<QComboBox>("HistorySource");
    EXPECT_FALSE(source->isHidden());
    EXPECT_EQ(page->Model().Size(), 1u);
    source->setCurrentIndex(1);
    EXPECT_EQ(page->Model().Size(), 3u);
}

TEST_F(Shell, AHistoryThatCannotBeOpenedIsLeftAsItIsWithOnePanelAndPollsGoOn) {
    AddDrives(1);
    const std::string path = OlderStore(dir, 1);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    ASSERT_TRUE(Start());
    controller->PollSelDriveForSMARTAndFillAttributeTable();
    QCoreApplication::processEvents();
    EXPECT_EQ(HistoryPanels(alerts), 1);
    ASSERT_FALSE(notifications.sent.empty());
    EXPECT_TRUE(notifications.sent.back().body.startsWith(
        "The drive history could not be opened (unknown layout version 99); Zentrova keeps "
        "running without it and will try again at the next start"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(QDir(dir.filePath("Zentrodat")).entryList({"history.sqlite3.broken-*"}).size(), 0);
    EXPECT_EQ(Reads(0), 2);
}

} // namespace
