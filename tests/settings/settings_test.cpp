// The settings store, the polling timers, the settings page's Apply and the
// log-in item, against drives made by hand, scratch data and configuration
// folders, timers on a hand-moved clock and scripted panels.
#include "fakes/log_files.h"
#include "fakes/manual_timers.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_page.h"
#include "settings/settings_state.h"
#include "settings/store.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zentrova;
using namespace zentrova::testing;
using Seconds = std::vector<std::int64_t>;
using Events = std::vector<std::string>;
auto& mirrors = settings::settings;

// The fixture is the window too, and records what it was asked to do.
class Settings : public ::testing::Test, public settings::SettingsHost {
  protected:
    QString DrvPath() const override { return data.path(); }
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
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        settings::SetTimerBackend(&clock);
        platform::SetAlertHandler([this](const platform::AlertRequest& request) {
            alerts.push_back(request.message);
            if (duringAlert)
                duringAlert();
            return platform::NSAlertDefaultReturn;
        });
    }
    void TearDown() override { Fresh(); }
    // Everything back to its start, for the next case of a table.
    void Fresh() {
        settings::ResetSettingsForTest();
        device::ResetDeviceGlobalsForTest();
        for (const QTemporaryDir* d : {&data, &config}) {
            QDir(d->path()).removeRecursively();
            QDir().mkpath(d->path());
        }
        alerts.clear();
        events.clear();
        logSelectable = -1;
    }
    // All fresh, then drive i: model "MODEL-<i>", firmware "FW<i>", temperature
    // 40; drive 0 selected.
    void AddDrives(int count) {
        Fresh();
        for (int i = count - 1; i >= 0; --i) {
            auto* r = new device::xDEV_INFO;
            r->nDevIndex = i;
            r->nTemperature = 40;
            qstrncpy(r->szModelNum, "MODEL-" + QByteArray::number(i), 41);
            qstrncpy(r->szFirmwareRev, "FW" + QByteArray::number(i), 9);
            r->pNext = std::exchange(device::dev.gpHeadDevInfo, r);
        }
        device::dev.gpSelDevInfo = device::dev.gpHeadDevInfo;
    }
    QString FilePath() const { return settings::SettingsFilePath(data.path()); }
    // An entry as "key=value" pairs joined by spaces.
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
    void Stored(const std::vector<std::string>& entries) const {
        settings::SettingsDict dict;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            settings::DriveEntry entry;
            for (const QString& pair : QString::fromStdString(entries[i]).split(' '))
                entry.Set(pair.section('=', 0, 0), pair.section('=', 1));
            dict.Put(settings::DiskKey(int(i)), entry);
        }
        ASSERT_EQ(settings::WriteFileAtomically(FilePath(), settings::SerializeSettings(dict)), "");
    }

    QTemporaryDir data, config;
    ManualTimers clock;
    std::vector<QString> alerts;
    Events events;
    std::function<void()> duringAlert, duringPoll;
    int logSelectable = -1;
};

std::string Default(int i, const char* startUp = "") {
    return "DrvModel=MODEL-" + std::to_string(i) + " DrvFwrev=FW" + std::to_string(i) +
           " DrvPoll=True Temp=True " + startUp + "LogEvent=True Hour=1 Min=0 Temperature=50";
}

// The critical temperature of drive i times ten, plus its check.
int Critical(int i) {
    return mirrors.gnCriticaltemp[i] * 10 + mirrors.gbCriticalTempEnable[i];
}

// ---- the store

TEST_F(Settings, CarryOverGoesByPositionAndDropsWhatIsGone) {
    const std::string kept = "DrvModel=M DrvFwrev=F DrvPoll=True Temp=False LogEvent=False Hour=0 "
                             "Min=30 Temperature=45";
    const struct {
        int drivesNow;
        std::string stored0, carried0;
        Seconds timers;
        int critical0;
        std::string last; // the highest index now
    } cases[] = {
        {2, kept + " X=x", kept, Seconds{1800, 3600}, 450, Default(1)}, // one drive fewer
        // No DrvPoll: the keys after it stay behind; "StartUp" is dropped.
        {3, "DrvModel=M DrvFwrev=F Temp=True Temperature=abc", "DrvModel=M DrvFwrev=F",
         Seconds{3600, 3600}, 1, Default(2)},
        {4, Default(0), Default(0), Seconds{3600, 3600, 3600}, 501, ""}, // one drive added
        // As above, another drive's entry is carried all the same, and its timer
        // runs until Apply or the next start; but the page, loading it, puts the
        // defaults in.
        {1, "DrvModel=OTHER DrvFwrev=FW0 DrvPoll=True Temp=False Hour=2",
         Default(0, "StartUp=True "), Seconds{7200}, 501, Default(0, "StartUp=True ")},
    };
    for (const auto& c : cases) {
        AddDrives(c.drivesNow);
        Stored({c.stored0, Default(1, "StartUp=True "), Default(2, "StartUp=True ")});
        settings::ReadAndSavePreviousSettings(*this);
        if (c.drivesNow == 1) // the page loads drive 0's entry
            settings::SettingsForSelectedDrive(*this);
        EXPECT_EQ(std::tuple(Entry("disk0"), clock.Intervals(), Critical(0),
                             Entry(settings::DiskKey(c.drivesNow - 1)),
                             Entry(settings::DiskKey(c.drivesNow))),
                  std::tuple(c.carried0, c.timers, c.critical0, c.last, "<none>"));
    }
}

// A drive that names its own warning temperature (an NVMe drive) starts its
// settings there, on a first run and when its entry is replaced.
TEST_F(Settings, DefaultsStartAtTheDrivesOwnCriticalTemperature) {
    AddDrives(1);
    device::dev.gpHeadDevInfo->nDefaultCriticalTemp = 72;
    settings::ReadAndSavePreviousSettings(*this);
    const std::string own = "DrvModel=MODEL-0 DrvFwrev=FW0 DrvPoll=True Temp=True "
                            "LogEvent=True Hour=1 Min=0 Temperature=72";
    EXPECT_EQ(std::pair(Entry("disk0"), Critical(0)), std::pair(own, 721));
    Stored({"DrvModel=OTHER DrvFwrev=FW0 DrvPoll=True"});
    settings::SettingsForSelectedDrive(*this);
    EXPECT_TRUE(QString::fromStdString(Entry("disk0")).endsWith("Temperature=72"));
}

TEST_F(Settings, AnUnreadableFileIsKeptAsideAndTheDrivesStartAsOnAFirstRun) {
    AddDrives(2);
    ASSERT_TRUE(Append(FilePath(), "<plist><dict><key>disk0</key>"));
    settings::ReadAndSavePreviousSettings(*this);
    const QStringList aside = QDir(data.path()).entryList({"Zentroset.unreadable-*"});
    ASSERT_EQ(aside.size() * 10 + qsizetype(alerts.size()), 11);
    EXPECT_EQ(ReadAll(data.path() + "/" + aside[0]), "<plist><dict><key>disk0</key>");
    EXPECT_TRUE(alerts[0].contains(aside[0])) << qPrintable(alerts[0]);
    EXPECT_EQ(std::tuple(Entry("disk1"), clock.Intervals(), Critical(1)),
              std::tuple(Default(1), Seconds{3600, 3600}, 501));
    // A real XML property list whose every value is a string.
    EXPECT_TRUE(ReadAll(FilePath()).contains("<key>Hour</key>\n\t\t<string>1</string>"));
    // Spoilt again while running: the next write keeps it too.
    ASSERT_TRUE(QFile::remove(FilePath()) && Append(FilePath(), "again"));
    ASSERT_EQ(settings::UpdateDictionaryWithDefaultSettings(*this), "");
    EXPECT_EQ(QDir(data.path()).entryList({"Zentroset.unreadable-*"}).size(), 2);
}

// A writer killed at any moment leaves a whole file of one generation.
TEST_F(Settings, KillNineNeverLeavesATornFile) {
    for (int round = 0; round < 40; ++round) {
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        // The writer: four entries of one generation, 2000 characters each,
        // written as fast as it can, each write told.
        for (long generation = 0; writer == 0; ++generation) {
            const std::string entry =
                "Generation=" + std::string(2000, char('a' + generation % 26));
            Stored({entry, entry, entry, entry});
            if (::write(pipe[1], "w", 1) != 1)
                ::_exit(1);
        }
        // Only the writer holds the write end, so a writer that dies ends the
        // reads; and it is killed before any check can leave it running.
        ::close(pipe[1]);
        char done;
        bool told = true;
        for (int n = 0; n <= round % 8 && told; ++n) // 1 to 8 whole writes, then anywhere
            told = ::read(pipe[0], &done, 1) == 1;
        const int killed = ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        ::close(pipe[0]);
        ASSERT_TRUE(told) << "round " << round;
        ASSERT_EQ(killed, 0);
        const auto dict = settings::ParseSettings(ReadAll(FilePath()));
        ASSERT_TRUE(dict && dict->entries.size() == 4) << "round " << round;
        for (const auto& [key, entry] : dict->entries)
            EXPECT_EQ(entry.items, dict->entries[0].second.items);
    }
    // Start-up removes what the killed writes left.
    settings::ReadAndSavePreviousSettings(*this);
    EXPECT_EQ(QDir(data.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Zentroset"});
}

// A kill cannot show a missing sync: each step is on the disk before the next
// one counts on it.
TEST_F(Settings, AtomicWriteSyncsTheFileBeforeTheRenameAndTheFolderAfterIt) {
    Events calls;
    // The temporary file's unique part shown as "*".
    const auto name = [](const QString& path) {
        const QString file = QFileInfo(path).fileName();
        return (file.startsWith("f.tmp.") ? "f.tmp.*" : file).toStdString();
    };
    const auto fdName = [&](int fd) {
        return name(QFile::symLinkTarget("/proc/self/fd/" + QString::number(fd)));
    };
    settings::atomicWriteCalls = {[&](int fd, const void* bytes, size_t size) {
                                      calls.push_back("write " + fdName(fd));
                                      return ::write(fd, bytes, size);
                                  },
                                  [&](int fd) {
                                      calls.push_back("fsync " + fdName(fd));
                                      return ::fsync(fd);
                                  },
                                  [&](const char* from, const char* to) {
                                      calls.push_back("rename " + name(from) + " " + name(to));
                                      return ::rename(from, to);
                                  }};
    const QString error = settings::WriteFileAtomically(data.path() + "/f", "x", "f.tmp");
    settings::atomicWriteCalls = {};
    EXPECT_EQ(error, "");
    EXPECT_EQ(calls, (Events{"write f.tmp.*", "fsync f.tmp.*", "rename f.tmp.* f",
                             "fsync " + name(data.path())}));
    // A write that fails keeps the old file and leaves no temporary file.
    settings::atomicWriteCalls.fsync = [](int) { return errno = EIO, -1; };
    EXPECT_TRUE(
        settings::WriteFileAtomically(data.path() + "/f", "y", "f.tmp").startsWith("cannot flush"));
    settings::atomicWriteCalls = {};
    EXPECT_EQ(ReadAll(data.path() + "/f"), "x");
    EXPECT_EQ(QDir(data.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"f"});
}

// ---- the timers

TEST_F(Settings, IntervalComesFromHourAndMinAndIsNeverZeroNegativeOrBeyond32Bits) {
    // The third row's products wrap to 1904 s and 44 s in 32 bits.
    const std::pair<std::string, Seconds> cases[] = {
        {"DrvPoll=True Hour=2 Min=90", {12600}}, {"DrvPoll=False Hour=1 Min=0", {}},
        {"DrvPoll=True Hour=0 Min=0", {}},       {"DrvPoll=True Hour=-1 Min=30", {}},
        {"DrvPoll=True Hour=1193047 Min=0", {}}, {"DrvPoll=True Hour=0 Min=71582789", {}},
        {"DrvPoll=True Hour=596524 Min=0", {}},  {"DrvPoll=True Hour=596523 Min=0", {2147482800}},
    };
    for (const auto& [entry, seconds] : cases) {
        Fresh();
        Stored({entry});
        settings::FireTimerForSelDevice(*this, 0);
        EXPECT_EQ(clock.Intervals(), seconds) << entry;
    }
    // An occupied slot stays; there is no fifth timer.
    Stored({"DrvPoll=True Hour=0 Min=5"});
    settings::FireTimerForSelDevice(*this, 0);
    settings::FireTimerForSelDevice(*this, 4);
    EXPECT_EQ(clock.Intervals(), Seconds{2147482800});
}

TEST(TimerSteps, LongIntervalsWaitInStepsAndMissedTicksComeAsOne) {
    const std::int64_t day = 24LL * 3600 * 1000, month = 30 * day;
    const std::tuple<std::int64_t, bool, std::int64_t, std::int64_t> cases[] = {
        {0, false, month, 24 * day},
        {24 * day, false, month, 6 * day},
        {month, true, 2 * month, 24 * day},
        {3 * month + 5, true, 4 * month, 24 * day}};
    for (const auto& [now, fire, due, wait] : cases) {
        const settings::TimerStep step = settings::StepRepeatingTimer(month, now, month);
        EXPECT_EQ(std::tie(step.fire, step.dueMs, step.waitMs), std::tie(fire, due, wait)) << now;
    }
}

// The other tests move a clock by hand; the real timer has to repeat too.
TEST(QtTimers, RepeatAtTheirInterval) {
    char name[] = "settings_tests";
    char* argv[] = {name, nullptr};
    int argc = 1;
    QCoreApplication app(argc, argv);
    QEventLoop loop;
    int ticks = 0;
    const auto timer = settings::MakeQtRepeatingTimer(20, [&] {
        if (++ticks == 3)
            loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(ticks, 3);
}

TEST_F(Settings, TicksWaitWhileAPanelIsUpThenComeOncePerTimer) {
    AddDrives(3);
    for (int drive : {0, 1, 2})
        settings::FireTimerForSelDevice(*this, drive);
    // A poll's own panel, under which hours pass and one timer is stopped: that
    // one delivers nothing, and the others' missed ticks come once each after
    // the poll.
    duringAlert = [this] {
        clock.Advance(3 * 3600);
        settings::StopTimerForDrive(2);
    };
    duringPoll = [this, shown = false]() mutable {
        if (!std::exchange(shown, true)) {
            platform::NSRunAlertPanel("WARNING", "fails", "");
            events.push_back("panel closed");
        }
    };
    clock.Advance(3600);
    EXPECT_EQ(events, (Events{"poll 0", "panel closed", "poll 0", "select 1", "poll 1"}));
    // Under a later panel too.
    events.clear();
    duringAlert = [this] { clock.Advance(24 * 3600); };
    platform::NSRunAlertPanel("Zentrova", "later", "");
    events.push_back("panel closed");
    clock.RunPosted();
    EXPECT_EQ(events, (Events{"panel closed", "select 0", "poll 0", "select 1", "poll 1"}));
}

// ---- the settings page

TEST_F(Settings, ApplyValidatesStoresSetsTheMirrorsAndRestartsTheTimer) {
    using In = settings::PageInput;
    const std::string on = "DrvPoll=True Temp=True LogEvent=True Hour=";
    const struct {
        settings::PageInput input;
        std::string entry; // from "DrvPoll" on; empty: the file is unchanged
        Seconds timers;
        const char* alert;   // how it begins
        const char* mirrors; // Critical(0), the log check, log selectable
        char trouble;        // 'l': an unreadable log-in list, 'w': writes fail
    } cases[] = {
        // Rejected before anything changes: the hourly timer keeps running.
        {In{true, "abc", "", true, "30", true}, "", Seconds{3600}, "You have entered Zero",
         "471 0 -1", ' '},
        {In{true, "2", "90", true, "45", true}, on + "2 Min=90 Temperature=45", Seconds{12600},
         "Zentrova", "451 1 1", ' '},
        {In{false, "5", "5", false, "45", false},
         "DrvPoll=False Temp=False LogEvent=False Hour=1 Min=0 Temperature=50", Seconds{},
         "Zentrova", "470 0 0", ' '},
        {In{true, "0", "30", true, "45", true, true}, on + "0 Min=30 Temperature=45", Seconds{1800},
         "The settings were saved, but", "451 1 1", 'l'},
        // The timer from the file as it is.
        {In{true, "0", "30", true, "45", true}, "", Seconds{3600},
         "The settings could not be saved (", "451 1 1", 'w'},
    };
    // A file size limit makes a write fail, whoever runs the test.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{}, small{64, 0};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    small.rlim_max = old.rlim_max;
    for (const auto& c : cases) {
        AddDrives(1);
        settings::ReadAndSavePreviousSettings(*this);
        mirrors.gnCriticaltemp[0] = 47;
        // A log-in list we cannot read is left alone.
        ASSERT_TRUE(c.trouble != 'l' || Append(settings::LoginWindowPath(), "not a list"));
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, c.trouble == 'w' ? &small : &old), 0);
        settings::ApplySettings(*this, c.input);
        setrlimit(RLIMIT_FSIZE, &old);
        ASSERT_EQ(alerts.size(), 1u) << c.entry;
        EXPECT_TRUE(alerts[0].startsWith(c.alert)) << qPrintable(alerts[0]);
        EXPECT_EQ(
            std::tuple(
                Entry("disk0"), clock.Intervals(),
                QString::asprintf("%d %d %d", Critical(0), mirrors.gbCheckLog[0], logSelectable)),
            std::tuple(c.entry.empty() ? Default(0) : "DrvModel=MODEL-0 DrvFwrev=FW0 " + c.entry,
                       c.timers, QString(c.mirrors)));
        EXPECT_TRUE(c.trouble != 'l' || ReadAll(settings::LoginWindowPath()) == "not a list");
    }
}

// ---- the log-in item

// Elements of the log-in list: another application's, ours hidden, ours.
const QByteArray O = "<dict><key>Path</key><string>/Applications/Other.app</string></dict>";
const QByteArray H = "<dict><key>Hide</key><true/><key>Path</key>"
                     "<string>/Applications/Zentrova.app</string></dict>";
const QByteArray Z = "<dict><key>Hide</key><false/><key>Path</key>"
                     "<string>/Applications/Zentrova.app</string></dict>";

// The root's keys, then the list as letters O, H, Z ("-" without a list).
std::string LoginList() {
    QString xml = QString::fromUtf8(ReadAll(settings::LoginWindowPath()));
    xml.remove(QRegularExpression("\\s")).replace(O, "O").replace(H, "H").replace(Z, "Z");
    QString out;
    for (const auto& key : QRegularExpression("<key>(\\w)\\w*</key>").globalMatch(xml))
        out += key.captured(1);
    const auto list = QRegularExpression("<array>(\\w*)</array>").match(xml);
    return (out + " " + (list.hasMatch() ? list.captured(1) : "-")).toStdString();
}

// Apply puts our element at the end of the log-in list once, removes only
// elements equal to ours, and mirrors it in an autostart entry beside others.
TEST_F(Settings, ApplyAddsOurLoginItemOnceAtTheEndRemovesOnlyOursAndMirrorsAutostart) {
    const struct {
        QByteArray elements; // null: no file
        std::vector<bool> applies;
        std::string list;
    } cases[] = {
        {Z + O + H, {true, true}, "AAY OHZ"}, {Z + O + Z + H, {false}, "AAY OH"},
        {H + O, {true, false}, "AAY HO"},     {QByteArray(), {true}, "A Z"},
        {QByteArray(), {true, false}, "A "},  {QByteArray(), {false}, " -"},
    };
    const QString neighbour = config.path() + "/autostart/other.desktop";
    settings::SetInstalledMonitorCommand([] { return QString("/opt/my monitor/zentrova"); });
    for (const auto& c : cases) {
        AddDrives(1);
        EXPECT_FALSE(settings::CheckForStartUpFlagInList()); // absent reads as off
        ASSERT_TRUE(QDir().mkpath(config.path() + "/autostart") && Append(neighbour, "x"));
        ASSERT_TRUE(
            c.elements.isNull() ||
            Append(settings::LoginWindowPath(),
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>A</key><string>first</string><key>"
                   "AutoLaunchedApplicationDictionary</key><array>" +
                       c.elements + "</array><key>Y</key><integer>7</integer></dict></plist>"));
        for (bool on : c.applies)
            settings::ApplySettings(*this, {true, "1", "0", true, "50", true, on});
        EXPECT_EQ(std::pair(LoginList(), settings::SettingsForSelectedDrive(*this).startsUp),
                  std::pair(c.list, bool(c.applies.back())));
        const QByteArray entry = ReadAll(settings::AutostartEntryPath());
        EXPECT_EQ(entry.contains("\nExec=\"/opt/my monitor/zentrova\"\n") &&
                      entry.contains("\nPath=" + QDir::homePath().toUtf8() + "\n"),
                  c.list.back() == 'Z')
            << c.list;
        EXPECT_EQ(ReadAll(neighbour), "x");
    }
}
