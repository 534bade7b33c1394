// The whole road of a poll on the demo drives: the real start-up over the
// simulated registry, the drive table's selections, the evaluation, the log
// files, the log page and the panels, with only alerts, beeps and the clock
// scripted.
#include "platform/sim/simulated_registry.h"
#include "shell_fixture.h"
#include "smart/event_log.h"

#include <QMainWindow>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

#include <array>
#include <fstream>
#include <tuple>
#include <utility>

using namespace zentrova;
using namespace zentrova::testing;
using zentrova::device::dev;

namespace {

constexpr int kDrift = 2; // sdc, the drive that wears out
const char* const kDriftModel = "ZENTROVA DEMO HD 80G";
const char* const kDriftFirmware = "ZD0.97";
const QString kWarning = "ZENTROVA DEMO HD 80G,\nZD0.97,\nis about to fail.\nMake sure to take "
                         "backup of your data before it is lost.";
const QString kTempAlertText = "\nThe Current Temperature value exeeds than Critical Temperature";
const QString kFailDate = "12/05/2026";

// Counts each drive's thresholds reads, the last command of every read of a
// drive, on their way to the simulated drives. The simulated drive moves on to
// its next reading with every thresholds read.
using ReadCounts = std::array<int, device::kMaxDrives>;

class CountingSmart final : public platform::AtaSmartInterface {
  public:
    CountingSmart(std::unique_ptr<platform::AtaSmartInterface> inner, int* count)
        : inner_(std::move(inner)), count_(count) {}
    int SMARTEnableDisableOperations(bool enable) override {
        return inner_->SMARTEnableDisableOperations(enable);
    }
    int SMARTReadData(std::uint8_t* page) override { return inner_->SMARTReadData(page); }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        ++*count_;
        return inner_->SMARTReadDataThresholds(page);
    }

  private:
    std::unique_ptr<platform::AtaSmartInterface> inner_;
    int* count_;
};

// (identifier, last value, new value) of every change entry, in order.
using Change = std::tuple<int, int, int>;

std::vector<Change> ChangesIn(const QByteArray& logBytes) {
    static const QRegularExpression entry(
        "Attribute :  ([0-9A-F]+), [^\r]*\r\nLast checked value :  (\\d+)\r\nNew Value :  "
        "(\\d+)\r\n\r\n");
    std::vector<Change> changes;
    for (auto it = entry.globalMatch(QString::fromUtf8(logBytes)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        changes.emplace_back(m.captured(1).toInt(nullptr, 16), m.captured(2).toInt(),
                             m.captured(3).toInt());
    }
    return changes;
}

// What the demo file says changes from reading r-1 to reading r of the drift
// drive: every attribute whose current value moved to a non-zero value.
std::vector<Change> ExpectedChanges(int r) {
    std::ifstream in(ZENTROVA_DEMO_DRIVES);
    const nlohmann::json readings = nlohmann::json::parse(in)["drives"][kDrift]["readings"];
    const auto& before = readings[r - 1]["attributes"];
    const auto& after = readings[r]["attributes"];
    std::vector<Change> changes;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const int last = before[i]["value"];
        const int now = after[i]["value"];
        if (now != last && now != 0)
            changes.emplace_back(after[i]["id"].get<int>(), last, now);
    }
    return changes;
}

class PollEndToEnd : public ShellFixture {
  protected:
    StartupEnvironment Environment() override {
        StartupEnvironment env;
        env.makeRegistry = [this] { return MakeRegistry(); };
        env.splashWait = [](int) {};
        env.currentDirectory = dir.path();
        env.openUrl = [](const QUrl&) { return true; };
        return env;
    }

    std::unique_ptr<platform::DeviceRegistry> MakeRegistry() {
        struct Counting final : platform::DeviceRegistry {
            std::vector<platform::BlockStorageService> BlockStorageServices() override {
                std::vector<platform::BlockStorageService> services =
                    platform::SimulatedRegistry(ZENTROVA_DEMO_DRIVES).BlockStorageServices();
                for (std::size_t i = 0; i < services.size() && i < device::kMaxDrives; ++i)
                    services[i].smartInterface = std::make_unique<CountingSmart>(
                        std::move(services[i].smartInterface), &(*counts)[i]);
                return services;
            }
            ReadCounts* counts = nullptr;
        };
        auto registry = std::make_unique<Counting>();
        registry->counts = &reads;
        return registry;
    }

    QTableView* Attrs() const { return controller->AttrTable(); }
    QTableView* Drives() const { return controller->DriveTable(); }

    // The attribute row whose identifier column reads `id`, or -1.
    int RowOf(const QString& id) const {
        for (int row = 0; row < Attrs()->model()->rowCount(); ++row) {
            if (Cell(Attrs(), row, 0) == id)
                return row;
        }
        return -1;
    }
    QColor Colour(QTableView* table, int row, int column) const {
        return Look(table, row, column, Qt::ForegroundRole).value<QColor>();
    }
    void Poll() { controller->PollSelDriveForSMARTAndFillAttributeTable(); }
    // At the next panel: the drift drive is marked as having one up, and a
    // poll of it (tried once, so a fault cannot recurse) reads nothing.
    void PollUnderThePanel() {
        duringAlert = [this, tried = false](const platform::AlertRequest&) mutable {
            if (std::exchange(tried, true))
                return;
            EXPECT_EQ(smart::smart.gbMessagePoped[kDrift], 1);
            const int before = reads[kDrift];
            Poll();
            EXPECT_EQ(reads[kDrift], before) << "a poll under the panel";
        };
    }
    void Reselect(int row) {
        Drives()->selectRow(0);
        Drives()->selectRow(row);
    }

    ReadCounts reads{};
};

} // namespace

TEST_F(PollEndToEnd, StartupShowsTheFirstDriveAndClicksRedisplayWithoutReading) {
    // The first drive runs hot for its setting, but start-up shows no panel.
    settings::settings.gnCriticaltemp[0] = 30;
    settings::settings.gbCriticalTempEnable[0] = 1;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(beeps, 0);

    // Start-up read the first drive, and only it, and shows its attributes.
    EXPECT_EQ(reads[0], 1);
    EXPECT_EQ(reads[1], 0);
    EXPECT_EQ(reads[kDrift], 0);
    ASSERT_EQ(Attrs()->model()->rowCount(), 13);
    const int reallocated = RowOf("05");
    ASSERT_GE(reallocated, 0);
    EXPECT_EQ(Cell(Attrs(), reallocated, 1), "Reallocated Sector Count");
    EXPECT_EQ(Cell(Attrs(), reallocated, 3), "36");
    EXPECT_EQ(Cell(Attrs(), reallocated, 4), "100");
    EXPECT_EQ(Cell(Attrs(), reallocated, 6), "OK");
    EXPECT_EQ(Colour(Attrs(), reallocated, 6), QColor(Qt::blue));
    EXPECT_EQ(Colour(Attrs(), reallocated, 4), QColor(Qt::black));
    EXPECT_EQ(Cell(Drives(), 0, 3), "OK");
    const QByteArray header = smart::LogHeader(kEvening);

    // Choosing the drift drive reads it; its first reading compares with nothing.
    Drives()->selectRow(kDrift);
    EXPECT_EQ(dev.gpSelDevInfo->nDevIndex, kDrift);
    EXPECT_EQ(reads[kDrift], 1);
    EXPECT_EQ(Cell(Attrs(), RowOf("01"), 4), "100");
    EXPECT_EQ(ReadAll(LogPath(kDrift)), header);

    // Back and forth redisplays what was read, without reading. Start-up is
    // over now, so the first drive's redisplay shows its temperature alert,
    // its text taken literally.
    EXPECT_TRUE(alerts.empty());
    Reselect(kDrift);
    EXPECT_EQ(reads[0], 1);
    EXPECT_EQ(reads[kDrift], 1);
    EXPECT_EQ(Cell(Attrs(), RowOf("01"), 4), "100");
    EXPECT_EQ(ReadAll(LogPath(kDrift)), header);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Zentrova");
    EXPECT_EQ(alerts[0].message, "Drive: ZENTROVA DEMO HD 250G\nS/N: ZD1.04" + kTempAlertText);
    EXPECT_EQ(alerts[0].defaultButton, "OK");
    EXPECT_EQ(beeps, 0);

    // The drive's timer marks it: the selection reads it and clears the mark.
    settings::settings.bPoll[kDrift] = 1;
    Reselect(kDrift);
    EXPECT_EQ(reads[kDrift], 2);
    EXPECT_EQ(settings::settings.bPoll[kDrift], 0);
}

TEST_F(PollEndToEnd, DriftDriveWearsOutToAFailureWarning) {
    settings::settings.gnCriticaltemp[kDrift] = 60;
    ASSERT_TRUE(Start());
    Drives()->selectRow(kDrift); // reading 0
    const QByteArray header = smart::LogHeader(kEvening);

    // Without the log-event setting the entries go to the file only; the next
    // selection shows the whole file. Every poll brings a minimised window back.
    controller->MainWindow()->showMinimized();
    Poll(); // reading 1
    EXPECT_FALSE(controller->MainWindow()->isMinimized());
    EXPECT_EQ(ChangesIn(ReadAll(LogPath(kDrift))), ExpectedChanges(1));
    EXPECT_EQ(controller->LogPageText(), Shown(header));
    Reselect(kDrift);
    EXPECT_EQ(controller->LogPageText(), Shown(ReadAll(LogPath(kDrift))));

    settings::settings.gbCheckLog[kDrift] = 1;
    for (int reading = 2; reading <= 5; ++reading) {
        SCOPED_TRACE(reading);
        const QByteArray before = ReadAll(LogPath(kDrift));
        if (reading == 5) {
            // 52 degrees: over a limit of 50, with the alert asked for.
            settings::settings.gnCriticaltemp[kDrift] = 50;
            settings::settings.gbCriticalTempEnable[kDrift] = 1;
            PollUnderThePanel();
        }
        Poll();
        const QByteArray after = ReadAll(LogPath(kDrift));
        ASSERT_TRUE(after.startsWith(before));
        EXPECT_EQ(ChangesIn(after.mid(before.size())), ExpectedChanges(reading));
        EXPECT_EQ(controller->LogPageText(), Shown(after));
        EXPECT_EQ(Cell(Drives(), kDrift, 3), "OK");
        EXPECT_EQ(Cell(Attrs(), RowOf("05"), 6), "OK");
    }
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Zentrova");
    EXPECT_EQ(alerts[0].message,
              QString("Drive: ") + kDriftModel + "\nS/N: " + kDriftFirmware + kTempAlertText);
    EXPECT_EQ(smart::smart.gbMessagePoped[kDrift], 0);
    duringAlert = nullptr;
    alerts.clear();

    // Reading 6: attribute 5 reaches its threshold at 55 degrees, within 60.
    settings::settings.gnCriticaltemp[kDrift] = 60;
    PollUnderThePanel();
    beeps = 0;
    Poll();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "WARNING");
    EXPECT_EQ(alerts[0].message, kWarning);
    EXPECT_EQ(alerts[0].defaultButton, "");
    EXPECT_EQ(alerts[0].alternateButton, "");
    EXPECT_EQ(smart::smart.gbMessagePoped[kDrift], 0);
    EXPECT_EQ(beeps, 2); // the failed attribute's, and the poll's
    const int failed = RowOf("05");
    ASSERT_GE(failed, 0);
    EXPECT_EQ(Cell(Attrs(), failed, 2), kFailDate);
    EXPECT_EQ(Cell(Attrs(), failed, 3), "36");
    EXPECT_EQ(Cell(Attrs(), failed, 4), "36");
    EXPECT_EQ(Cell(Attrs(), failed, 6), "Failed");
    for (int column = 2; column <= 6; ++column)
        EXPECT_EQ(Colour(Attrs(), failed, column), QColor(Qt::red)) << column;
    EXPECT_FALSE(Look(Attrs(), failed, 1, Qt::ForegroundRole).isValid());
    EXPECT_EQ(Colour(Attrs(), RowOf("01"), 6), QColor(Qt::blue));
    EXPECT_EQ(Cell(Drives(), kDrift, 3), "Failed");
    EXPECT_EQ(Colour(Drives(), kDrift, 3), QColor(Qt::red));
    // The "Temp" cell shows this reading's own 55, not the last over-limit
    // temperature (reading 5's 52).
    EXPECT_EQ(Cell(Drives(), kDrift, 2), "55");
    EXPECT_EQ(Cell(Drives(), 0, 3), "OK");
    duringAlert = nullptr;

    // Hotter than the limit: "Failed", the temperature in its cell and the
    // beeps, and the temperature alert instead of the warning; no panel at all
    // without the setting. The reading repeats, so the log gains nothing.
    const QByteArray log = ReadAll(LogPath(kDrift));
    settings::settings.gnCriticaltemp[kDrift] = 50;
    for (int enable : {1, 0}) {
        SCOPED_TRACE(enable);
        settings::settings.gbCriticalTempEnable[kDrift] = std::uint8_t(enable);
        alerts.clear();
        beeps = 0;
        Poll();
        EXPECT_EQ(beeps, 2);
        EXPECT_EQ(Cell(Drives(), kDrift, 3), "Failed");
        EXPECT_EQ(Cell(Drives(), kDrift, 2), "55");
        ASSERT_EQ(alerts.size(), std::size_t(enable));
        if (enable == 1) {
            EXPECT_EQ(alerts[0].title, "Zentrova");
        }
    }

    // A redisplay reads nothing and logs nothing, but beeps for the failed row.
    const int readsBefore = reads[kDrift];
    EXPECT_EQ(ReadAll(LogPath(kDrift)), log);
    beeps = 0;
    Reselect(kDrift);
    EXPECT_EQ(reads[kDrift], readsBefore);
    EXPECT_EQ(ReadAll(LogPath(kDrift)), log);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(Cell(Attrs(), RowOf("05"), 6), "Failed");
    EXPECT_EQ(controller->LogPageText(), Shown(log));
}

TEST_F(PollEndToEnd, DeletedLogIsNotRecreatedAndTheTableStillFills) {
    settings::settings.gbCheckLog[kDrift] = 1;
    ASSERT_TRUE(Start());
    Drives()->selectRow(kDrift);
    const QString shown = controller->LogPageText();
    ASSERT_TRUE(QFile::remove(LogPath(kDrift)));

    Poll(); // reading 1 changes three attributes
    EXPECT_FALSE(QFile::exists(LogPath(kDrift)));
    EXPECT_EQ(Attrs()->model()->rowCount(), 13);
    EXPECT_EQ(Cell(Attrs(), RowOf("01"), 4), "99");
    EXPECT_EQ(Cell(Drives(), kDrift, 3), "OK");
    EXPECT_EQ(controller->LogPageText(), shown);
}
