// The history store, the readings the monitor makes of its drives' pages, the
// CSV and the page's model of what a range plots.
#include "fakes/fake_registry.h"
#include "history/faulty_vfs.h"
#include "history/demo_history.h"
#include "history/history.h"
#include "history/history_csv.h"
#include "history/history_fixture.h"
#include "history/history_plot.h"
#include "history/history_reading.h"
#include "platform/nvme_pages.h"
#include "platform/sim/simulated_registry.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace zentrova;
using namespace zentrova::history;
using namespace zentrova::testing;

namespace {

struct HistoryStore : ::testing::Test {
    QTemporaryDir dir;
    std::string path = dir.filePath("history.sqlite3").toStdString();
    Store store{[] { return kT0; }};

    std::vector<Reading> All(const Identity& drive) {
        std::vector<Reading> out;
        store.ForEachRow(drive, [&](const Reading& r, const Entry& e) {
            if (out.empty() || out.back().takenMs != r.takenMs)
                out.push_back({r.takenMs, r.identity, r.kind, r.temperature, {}});
            out.back().entries.push_back(e);
        });
        return out;
    }
};

TEST_F(HistoryStore, OneReadingComesBackWholeWithItsRawBytesAndTime) {
    ASSERT_EQ(store.Open(path).error, "");
    Reading r = MadeUpReading("M", kT0, 0x1234, 3);
    r.entries[1].worst.reset();
    ASSERT_EQ(store.Add(r).error, "");
    const std::vector<Reading> back = All(r.identity);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].takenMs, kT0);
    EXPECT_EQ(back[0].temperature, r.temperature);
    EXPECT_EQ(back[0].entries, r.entries);
}

TEST_F(HistoryStore, TheFileIsInWriteAheadModeWithItsLayout) {
    ASSERT_EQ(store.Open(path).error, "");
    store.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string tables;
    sqlite3_exec(
        db, "PRAGMA journal_mode; SELECT group_concat(name) FROM sqlite_master WHERE type='table'",
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) += std::string(values[0]) + ";";
            return 0;
        },
        &tables, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(tables, "wal;drive,reading,entry,selftest,watch;");
}

// A self-test comes back with its drive; a file of the first layout gains
// the table at its next open and keeps its readings.
TEST_F(HistoryStore, SelfTestsComeBackAndAnOlderFileGainsTheirTable) {
    ASSERT_EQ(store.Open(path).error, "");
    store.Add(MadeUpReading("M", kT0, 7));
    const SelfTestRecord failed{kT0 + 1, "short", 1, 1234, 48213517};
    EXPECT_EQ(store.AddSelfTest({"M", "FW1", ""}, failed).error, "");
    EXPECT_EQ(store.AddSelfTest({"Unknown", "FW1", ""}, failed).error, "");
    store.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "DROP TABLE selftest; PRAGMA user_version = 1", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(store.Open(path).error, "");
    EXPECT_TRUE(store.SelfTests({"M", "FW1", ""}).empty());
    EXPECT_EQ(store.ReadingCount(), 1);
    EXPECT_EQ(store.AddSelfTest({"M", "FW1", ""}, failed).error, "");
    EXPECT_EQ(store.SelfTests({"M", "FW1", ""}), std::vector<SelfTestRecord>{failed});
}

TEST_F(HistoryStore, ARepeatedReadingKeepsItsTimeButNotItsEntries) {
    ASSERT_EQ(store.Open(path).error, "");
    for (std::int64_t t : {kT0, kT0 + kHourMs, kT0 + 2 * kHourMs})
        store.Add(MadeUpReading("M", t, 7));
    // The same temperature, one raw byte changed.
    Reading changed = MadeUpReading("M", kT0 + 3 * kHourMs, 7);
    changed.entries[4].raw[0] = 8;
    store.Add(changed);
    const auto points = store.Points({"M", "FW1", ""}, 5, 0);
    ASSERT_EQ(points.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(points[i].takenMs, kT0 + i * kHourMs);
        EXPECT_EQ(points[i].entry->raw[0], i < 3 ? 7 : 8);
    }
    store.Close();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    int rows = 0;
    sqlite3_exec(
        db, "SELECT count(*) FROM entry",
        [](void* n, int, char** v, char**) { return *static_cast<int*>(n) = std::atoi(v[0]), 0; },
        &rows, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(rows, 60);
    EXPECT_EQ(StoreDefects(path), "");
}

// Closing checkpoints the log into the file.
void WriteTwoHundredReadings(const std::string& path) {
    Store full{[] { return kT0; }};
    full.Open(path);
    for (int i = 0; i < 200; ++i)
        full.Add(MadeUpReading("M", kT0 + i * kHourMs, i));
}

// What a damaged file looks like to the store.
struct Damage {
    const char* name;
    void (*apply)(const std::string& path);
};
const Damage kDamages[] = {
    {"garbage",
     [](const std::string& path) {
         QFile f(QString::fromStdString(path));
         f.open(QIODevice::WriteOnly);
         f.write(QByteArray(5000, 'z'));
     }},
    {"truncated",
     [](const std::string& path) {
         WriteTwoHundredReadings(path);
         ASSERT_EQ(::truncate(path.c_str(), 3 * 4096 + 100), 0);
     }},
    {"a page overwritten",
     [](const std::string& path) {
         WriteTwoHundredReadings(path);
         QFile f(QString::fromStdString(path));
         f.open(QIODevice::ReadWrite);
         f.seek(6 * 4096);
         f.write(QByteArray(4096, '\x5a'));
     }},
};

TEST_F(HistoryStore, ADamagedFileIsKeptAsideOnceAndAFreshOneTakesReadings) {
    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        QTemporaryDir scratch;
        const std::string file = scratch.filePath("history.sqlite3").toStdString();
        damage.apply(file);
        const QByteArray before = [&] {
            QFile f(QString::fromStdString(file));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        const Trouble trouble = store.Open(file);
        EXPECT_FALSE(trouble.historyOff);
        EXPECT_EQ(trouble.keptAside, file + ".broken-20261205T214300Z");
        QFile aside(QString::fromStdString(trouble.keptAside));
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), before);
        EXPECT_FALSE(TroubleMessage(trouble).isEmpty());
        EXPECT_EQ(store.Add(MadeUpReading("M", kT0, 1)).error, "");
        EXPECT_EQ(store.ReadingCount(), 1);
        store.Close();
        EXPECT_TRUE(Store([] { return kT0; }).Open(file).keptAside.empty());
    }
}

QByteArray Bytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Runs `sql` on a connection of its own, which stays open (holding what it
// took) until it is closed.
sqlite3* Connect(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    return db;
}

// A healthy file that cannot be opened now: `before` runs on it first, `held`
// on a connection held open during the open, `after` mends it for the next.
struct Unopenable {
    const char* name;
    DiskFault fault;
    const char* before;
    const char* held;
    const char* after;
};
const Unopenable kUnopenables[] = {
    {"a newer layout", DiskFault::None, "PRAGMA user_version = 99", nullptr,
     "PRAGMA user_version = 3"},
    {"locked by another process", DiskFault::None, nullptr,
     "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; SELECT count(*) FROM drive", nullptr},
    // A first layout gains its self-test table at the open: a write.
    {"a full disk", DiskFault::Full, "DROP TABLE selftest; PRAGMA user_version = 1", nullptr,
     nullptr},
    {"an I/O error", DiskFault::ReadError, nullptr, nullptr, nullptr},
    {"a read-only folder", DiskFault::NoNewFiles, nullptr, nullptr, nullptr},
};

TEST_F(HistoryStore, AFileThatCannotBeOpenedNowIsLeftAsItIsAndTriedAgainNextTime) {
    for (const Unopenable& c : kUnopenables) {
        SCOPED_TRACE(c.name);
        QTemporaryDir scratch;
        const std::string file = scratch.filePath("history.sqlite3").toStdString();
        {
            Store writer{[] { return kT0; }};
            writer.Open(file);
            for (int i = 0; i < 3; ++i)
                writer.Add(MadeUpReading("M", kT0 + i * kHourMs, i));
        }
        if (c.before != nullptr)
            sqlite3_close(Connect(file, c.before));
        sqlite3* held = c.held != nullptr ? Connect(file, c.held) : nullptr;
        const QByteArray before = Bytes(file);
        FaultyVfs::fault = c.fault;
        Store troubled{[] { return kT0; }, {FaultyVfs::Name(), 0}};
        const Trouble trouble = troubled.Open(file);
        EXPECT_EQ(troubled.Add(MadeUpReading("M", kT0 + 5 * kHourMs, 5)).error, "");
        troubled.Close();
        FaultyVfs::fault = DiskFault::None;
        EXPECT_TRUE(trouble.notOpened);
        EXPECT_TRUE(trouble.keptAside.empty());
        EXPECT_TRUE(TroubleMessage(trouble).startsWith("The drive history could not be opened ("))
            << TroubleMessage(trouble).toStdString();
        EXPECT_TRUE(TroubleMessage(trouble).endsWith(
            "); Zentrova keeps running without it and will try again at the next start."));
        EXPECT_EQ(Bytes(file), before);
        EXPECT_EQ(QDir(scratch.path()).entryList({"*broken*"}), QStringList());
        sqlite3_close(held);
        if (c.after != nullptr)
            sqlite3_close(Connect(file, c.after));
        Store next{[] { return kT0; }};
        EXPECT_EQ(next.Open(file).error, "");
        EXPECT_EQ(next.ReadingCount(), 3);
    }
}

// A write that fails loses its reading, and the transaction it left is rolled
// back, so the next reading is stored: a full disk (SQLite meets it at the
// commit), and an insert stopped half way (an identifier twice).
TEST_F(HistoryStore, AfterAFailedWriteTheNextReadingIsStoredAgain) {
    Store faulty{[] { return kT0; }, {FaultyVfs::Name(), 0}};
    ASSERT_EQ(faulty.Open(path).error, "");
    faulty.Add(MadeUpReading("M", kT0, 1));
    FaultyVfs::fault = DiskFault::Full;
    const Trouble full = faulty.Add(MadeUpReading("M", kT0 + kHourMs, 2));
    FaultyVfs::fault = DiskFault::None;
    EXPECT_NE(full.error, "");
    EXPECT_TRUE(full.keptAside.empty() && !full.historyOff);
    Reading twice = MadeUpReading("M", kT0 + 2 * kHourMs, 3);
    twice.entries[1].id = twice.entries[0].id;
    EXPECT_NE(faulty.Add(twice).error, "");
    EXPECT_EQ(faulty.Add(MadeUpReading("M", kT0 + 3 * kHourMs, 4)).error, "");
    EXPECT_EQ(faulty.ReadingCount(), 2);
    faulty.Close();
    EXPECT_EQ(StoreDefects(path), "");
}

TEST_F(HistoryStore, AStoreThatCannotBeMadeTurnsTheHistoryOffAndReadingsAreDropped) {
    const Trouble trouble = store.Open(dir.filePath("missing/history.sqlite3").toStdString());
    EXPECT_TRUE(trouble.historyOff);
    EXPECT_FALSE(TroubleMessage(trouble).isEmpty());
    EXPECT_EQ(store.Add(MadeUpReading("M", kT0, 1)).error, "");
}

// A child writes readings in a loop and reports each commit on a pipe; it is
// killed at once after a different number of commits each round, mostly in
// the middle of its next reading.
TEST_F(HistoryStore, AWriterKilledMidReadingLeavesAWholeStore) {
    for (int round = 0; round < 6; ++round) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            Store writer{[] { return kT0; }};
            if (!writer.Open(path).error.empty())
                ::_exit(3);
            for (int i = 0;; ++i) {
                writer.Add(MadeUpReading(i % 2 ? "A" : "B", kT0 + i * kHourMs, i / 3));
                if (::write(pipeEnds[1], "x", 1) != 1)
                    ::_exit(4);
            }
        }
        ::close(pipeEnds[1]);
        char byte;
        for (int seen = 0; seen < 5 + 7 * round; ++seen)
            ASSERT_EQ(::read(pipeEnds[0], &byte, 1), 1);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeEnds[0]);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(StoreDefects(path), "") << "round " << round;
    }
    const Trouble reopened = store.Open(path);
    EXPECT_TRUE(reopened.keptAside.empty());
    EXPECT_GE(store.ReadingCount(), 5 + 7 * 5);
}

// The demo drives as detection lists them, and their pages.
struct DemoDrives : ::testing::Test {
    std::vector<platform::BlockStorageService> drives =
        platform::SimulatedRegistry(ZENTROVA_DEMO_DRIVES).BlockStorageServices();
    QTemporaryDir dir;
    void SetUp() override {
        device::ResetDeviceGlobalsForTest();
        platform::SimulatedRegistry registry(ZENTROVA_DEMO_DRIVES);
        device::SMARTDeviceDetection(registry);
        ResetHistoryForTest();
        ASSERT_TRUE(OpenHistory(dir.path()).error.empty());
    }
    void TearDown() override {
        ResetHistoryForTest();
        device::ResetDeviceGlobalsForTest();
    }
    void Read(int slot, int listed) {
        Page data, thresholds;
        drives[slot].smartInterface->SMARTReadData(data.data());
        drives[slot].smartInterface->SMARTReadDataThresholds(thresholds.data());
        EXPECT_EQ(RecordRead(listed, data.data(), thresholds.data()).error, "");
    }
    const device::xDEV_INFO& Record(int index) {
        const device::xDEV_INFO* r = device::dev.gpHeadDevInfo;
        while (r->nDevIndex != index)
            r = r->pNext;
        return *r;
    }
};

TEST_F(DemoDrives, ADriveKeepsItsHistoryWhenItMovesInTheList) {
    const Identity first = IdentityOf(Record(0)), second = IdentityOf(Record(1));
    Read(0, 0);
    // The next run lists the two drives the other way round.
    device::xDEV_INFO& a = const_cast<device::xDEV_INFO&>(Record(0));
    device::xDEV_INFO& b = const_cast<device::xDEV_INFO&>(Record(1));
    std::swap(a.nDevIndex, b.nDevIndex);
    Read(0, 1);
    Read(1, 0);
    EXPECT_EQ(history::history.store->Points(first, 194, 0).size(), 2u);
    EXPECT_EQ(history::history.store->Points(second, 194, 0).size(), 1u);
}

TEST_F(DemoDrives, AnNvmeDrivesHealthFieldsAreKeptWithTheirBytes) {
    Page data, identify;
    drives[3].smartInterface->SMARTReadData(data.data());
    drives[3].smartInterface->SMARTReadDataThresholds(identify.data());
    ASSERT_EQ(RecordRead(3, data.data(), identify.data()).error, "");
    const Reading r = ReadingOf(Record(3), data.data(), identify.data(), kT0);
    Kind kind = Kind::Ata;
    const std::vector<Entry> stored = history::history.store->LatestEntries(r.identity, &kind);
    EXPECT_EQ(kind, Kind::Nvme);
    ASSERT_EQ(stored.size(), 17u);
    EXPECT_EQ(stored[5].id, 32);
    EXPECT_EQ(stored[5].raw, std::vector<std::uint8_t>(data.begin() + 32, data.begin() + 48));
    EXPECT_TRUE(stored == r.entries);
}

TEST_F(DemoDrives, AnAtaDrivesAttributesAreKeptWithTheirThresholdsAndRawBytes) {
    Page data, thresholds;
    drives[2].smartInterface->SMARTReadData(data.data());
    drives[2].smartInterface->SMARTReadDataThresholds(thresholds.data());
    ASSERT_EQ(RecordRead(2, data.data(), thresholds.data()).error, "");
    const std::vector<Entry> stored = history::history.store->LatestEntries(IdentityOf(Record(2)));
    const auto* attributes = device::AttributeEntries(data.data());
    const auto* limits = device::ThresholdEntries(thresholds.data());
    ASSERT_FALSE(stored.empty());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].id, attributes[i].attributeId);
        EXPECT_EQ(stored[i].value, attributes[i].current);
        EXPECT_EQ(stored[i].threshold, limits[i].ThresholdValue);
        EXPECT_EQ(stored[i].raw,
                  std::vector<std::uint8_t>(attributes[i].rawvalue, attributes[i].rawvalue + 6));
    }
}

// A page that names an attribute twice is still stored, the first entry
// speaking for the identifier.
TEST_F(DemoDrives, APageThatRepeatsAnAttributeIsStillStored) {
    Page data, thresholds;
    drives[2].smartInterface->SMARTReadData(data.data());
    drives[2].smartInterface->SMARTReadDataThresholds(thresholds.data());
    auto* attributes =
        const_cast<device::ATASMARTAttributeStruct*>(device::AttributeEntries(data.data()));
    attributes[2].attributeId = attributes[1].attributeId;
    attributes[2].current = static_cast<std::uint8_t>(attributes[1].current + 1);
    ASSERT_EQ(RecordRead(2, data.data(), thresholds.data()).error, "");
    EXPECT_EQ(history::history.store->ReadingCount(), 1);
    const std::vector<Entry> stored = history::history.store->LatestEntries(IdentityOf(Record(2)));
    const auto first = std::find_if(stored.begin(), stored.end(), [&](const Entry& e) {
        return e.id == attributes[1].attributeId;
    });
    ASSERT_NE(first, stored.end());
    EXPECT_EQ(first->value, attributes[1].current);
}

// The demo's past, read back from the file by a store of its own: the NVMe
// drive's percentage used rising from 0 over a month to its 3 now, sda's
// 8 reallocated sectors unchanged for a week and a day, each under the
// identity the monitor records the drive by.
TEST_F(DemoDrives, TheDemosPastIsAMonthOfWearAndAWeekOfUnchangedCounts) {
    ASSERT_EQ(SeedDemoHistory(*history::history.store, kT0).error, "");
    Store again{[] { return kT0; }};
    ASSERT_TRUE(again.Open(dir.filePath("history.sqlite3").toStdString()).error.empty());
    const auto counts = [&](int slot, std::uint8_t id) {
        std::string out;
        const std::vector<Point> points = again.Points(IdentityOf(Record(slot)), id, 0);
        for (const Point& p : points)
            out += p.entry ? std::to_string(p.entry->raw.at(0)) : "-";
        return std::to_string((kT0 - points.at(0).takenMs) / kDemoDayMs) + "d:" + out;
    };
    EXPECT_EQ(counts(0, 5), "8d:" + std::string(16, '8'));
    EXPECT_EQ(counts(3, platform::nvme::kPercentageUsed.offset),
              "32d:" + std::string(14, '0') + std::string(20, '1') + std::string(20, '2') +
                  std::string(10, '3'));
}

TEST_F(DemoDrives, AFailedReadAddsNothing) {
    EXPECT_EQ(RecordRead(0, nullptr, nullptr).error, "");
    EXPECT_EQ(history::history.store->ReadingCount(), 0);
}

// Two drives of one model and firmware that differ only in their serials,
// and a third of its own kind, as detection lists them.
struct Twins : ::testing::Test {
    QTemporaryDir dir;
    std::string drivesFile = dir.filePath("drives.json").toStdString();
    const Identity a{"TWIN", "T1", "A"}, b{"TWIN", "T1", "B"}, solo{"SOLO", "S1", "C"};
    void SetUp() override {
        QFile f(QString::fromStdString(drivesFile));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const char* drive = R"({"bsdName": "sd%1", "model": "%2", "firmware": "%3", "serial": "%4",
            "readings": [{"attributes": [{"id": 194, "value": 64, "worst": 50, "raw": [36],
            "threshold": 0}]}]})";
        const auto text = [&](const char* name, const Identity& i) {
            return QString::fromLatin1(drive).arg(
                QLatin1String(name), QString::fromStdString(i.model),
                QString::fromStdString(i.firmware), QString::fromStdString(i.serial));
        };
        f.write(QStringLiteral(R"({"drives": [%1, %2, %3]})")
                    .arg(text("a", a), text("b", b), text("c", solo))
                    .toUtf8());
        f.close();
        device::ResetDeviceGlobalsForTest();
        platform::SimulatedRegistry registry(drivesFile);
        device::SMARTDeviceDetection(registry);
        ASSERT_EQ(device::dev.nDevCnt, 3);
        ResetHistoryForTest();
    }
    void TearDown() override {
        ResetHistoryForTest();
        device::ResetDeviceGlobalsForTest();
    }
    void Read(int slot) {
        auto drives = platform::SimulatedRegistry(drivesFile).BlockStorageServices();
        Page data, thresholds;
        drives[slot].smartInterface->SMARTReadData(data.data());
        drives[slot].smartInterface->SMARTReadDataThresholds(thresholds.data());
        EXPECT_EQ(RecordRead(slot, data.data(), thresholds.data()).error, "");
    }
    std::size_t Count(const Identity& drive) {
        return history::history.store->Points(drive, 194, 0).size();
    }
};

TEST_F(Twins, EachKeepsItsOwnHistory) {
    ASSERT_TRUE(OpenHistory(dir.path()).error.empty());
    Read(0);
    Read(1);
    Read(1);
    EXPECT_EQ(Count(a), 1u);
    EXPECT_EQ(Count(b), 2u);
}

// A store written before serials were read: the one drive listed of its
// model and firmware takes its row over; twins start rows of their own and
// the old one stays readable.
TEST_F(Twins, AnOlderRowGoesOnlyToTheOneListedDriveOfItsKind) {
    {
        Store older{[] { return kT0; }};
        older.Open(dir.filePath(kHistoryFileName).toStdString());
        for (const Identity& drive : {Identity{"TWIN", "T1", ""}, Identity{"SOLO", "S1", ""}}) {
            Reading r = MadeUpReading(drive.model, kT0, 1, 2);
            r.identity = drive;
            older.Add(r, true);
        }
    }
    ASSERT_TRUE(OpenHistory(dir.path()).error.empty());
    Read(0);
    Read(2);
    EXPECT_EQ(Count(solo), 2u);
    EXPECT_EQ(Count({"SOLO", "S1", ""}), 0u);
    EXPECT_EQ(Count(a), 1u);
    EXPECT_EQ(Count({"TWIN", "T1", ""}), 1u);
    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_TRUE(WriteCsv(*history::history.store, {"TWIN", "T1", ""}, csv, &error));
    EXPECT_EQ(csv.data().count("\r\n"), 1 + 2);
}

TEST(HistoryCsv, HeaderAndOneRowInUtc) {
    Reading r = MadeUpReading("ACME, \"Fast\"", kT0, 0x0102, 1);
    const std::string csv = (QByteArray(kCsvHeader) + CsvRow(r, r.entries[0])).toStdString();
    EXPECT_EQ(csv, "time_utc,model,firmware,serial,temperature_c,id,name,value,worst,threshold,"
                   "raw,raw_bytes\r\n"
                   "2026-12-05T21:43:00Z,\"ACME, \"\"Fast\"\"\",FW1,,48,01,Raw Read Error Rate,"
                   "200,150,0,141832705016066,80FF00000102\r\n");
}

// Drive-supplied text that a spreadsheet would take for a formula; the
// numbers beside it (a temperature below zero) stay numbers.
TEST(HistoryCsv, TextThatStartsLikeAFormulaGetsAnApostrophe) {
    const struct {
        const char* text;
        const char* cell;
    } cases[] = {
        {"=HYPERLINK(1)", "'=HYPERLINK(1)"},
        {"+1", "'+1"},
        {"-2", "'-2"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tT", "'\tT"},
        {"\rR", "\"'\rR\""},
        {"=A,B", "\"'=A,B\""},
        {"OK -=+@", "OK -=+@"},
        {"", ""},
    };
    for (const auto& c : cases) {
        Reading r = MadeUpReading(c.text, kT0, 0, 1);
        r.identity = {c.text, c.text, c.text};
        r.temperature = -5;
        const std::string cell = c.cell;
        EXPECT_TRUE(CsvRow(r, r.entries[0])
                        .startsWith("2026-12-05T21:43:00Z," + cell + "," + cell + "," + cell +
                                    ",-5,01,Raw Read Error Rate,200,150,"))
            << CsvRow(r, r.entries[0]).toStdString();
    }
}

TEST(HistoryCsv, TheWholeDriveIsOneRowPerReadingAndEntry) {
    QTemporaryDir dir;
    Store store{[] { return kT0; }};
    store.Open(dir.filePath("h.sqlite3").toStdString());
    for (int i = 0; i < 3; ++i)
        store.Add(MadeUpReading("M", kT0 + i * kHourMs, i / 2, 4));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(WriteCsv(store, {"M", "FW1", ""}, out, &error));
    EXPECT_EQ(out.data().count("\r\n"), 1 + 3 * 4);
}

// Readings 40 days, 3 days and 2 hours before now; then one more, and the
// page updated `laterHours` after now.
struct PlotCase {
    Range range;
    std::size_t shown;
    int laterHours;
    std::size_t afterPoll;
};
const PlotCase kPlotCases[] = {{Range::Day, 1, 1, 2},         {Range::Day, 1, 23, 1},
                               {Range::Week, 2, 1, 3},        {Range::Month, 2, 1, 3},
                               {Range::Month, 2, 24 * 28, 2}, {Range::Year, 3, 1, 4},
                               {Range::All, 3, 24 * 400, 4}};

TEST(HistoryPlot, ARangeShowsItsReadingsAndAPollAddsOnlyItsOwn) {
    const std::int64_t now = kT0 + 1000 * kHourMs;
    for (const PlotCase& c : kPlotCases) {
        SCOPED_TRACE(RangeName(c.range).toStdString() + " " + std::to_string(c.laterHours));
        QTemporaryDir dir;
        Store store{[] { return kT0; }};
        store.Open(dir.filePath("h.sqlite3").toStdString());
        for (std::int64_t ago : {40 * 24, 3 * 24, 2})
            store.Add(MadeUpReading("M", now - ago * kHourMs, int(ago)));
        PlotModel model;
        model.Show(&store, {"M", "FW1", ""}, 5, c.range, now);
        EXPECT_EQ(model.Size(), c.shown);
        store.Add(MadeUpReading("M", now + kHourMs / 2, 1));
        model.Update(now + c.laterHours * kHourMs);
        EXPECT_EQ(model.Values().size(), c.afterPoll);
        EXPECT_EQ(model.Temperatures().size(), c.afterPoll);
        EXPECT_EQ(model.Threshold(), 36);
        // A second reading in the same millisecond is new all the same.
        store.Add(MadeUpReading("M", now + kHourMs / 2, 2));
        model.Update(now + c.laterHours * kHourMs);
        EXPECT_EQ(model.Size(), c.afterPoll + 1);
    }
}

TEST(HistoryPlot, ThinningKeepsEachColumnsLowestAndHighestInTimeOrder) {
    const std::vector<QPointF> points{{0, 5}, {1, 9}, {2, 1}, {3, 4}, {10, 7}, {11, 7}, {19, 3}};
    EXPECT_EQ(Thinned(points, 0, 20, 2), (std::vector<QPointF>{{1, 9}, {2, 1}, {10, 7}, {19, 3}}));
    EXPECT_EQ(Thinned(points, 0, 20, 4).size(), points.size());
}

TEST(HistoryPlot, TheTooltipNamesTheNearestReading) {
    QTemporaryDir dir;
    Store store{[] { return kT0; }};
    store.Open(dir.filePath("h.sqlite3").toStdString());
    for (int i = 0; i < 3; ++i)
        store.Add(MadeUpReading("M", kT0 + i * kHourMs, i));
    PlotModel model;
    model.Show(&store, {"M", "FW1", ""}, 5, Range::All, kT0 + 3 * kHourMs);
    EXPECT_EQ(model.Nearest(double(kT0 + kHourMs * 1.4))->takenMs, kT0 + kHourMs);
    EXPECT_EQ(model.Nearest(double(kT0 + kHourMs * 1.6))->takenMs, kT0 + 2 * kHourMs);
    EXPECT_TRUE(TooltipText("Temperature", 41, kT0).startsWith("Temperature: 41\n2026-12-05"));
}

} // namespace
