// zentrova-service on simulated drives: its configuration, what it writes
// each poll, what it tells the journal, and its signals. The drives' minute
// lasts a few milliseconds (ZENTROVA_SERVICE_MINUTE_MS), so every wait is a
// condition polled against a deadline.
#include "journal.h"
#include "service_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using zentrova::service::ParseServiceConfig;
using zentrova::service::ServiceConfig;

TEST(ServiceConfig, EachLineTakenOrToldWithItsNumber) {
    struct Row {
        const char* text;
        std::function<bool(const ServiceConfig&)> holds;
        std::vector<int> badLines;
    };
    const ServiceConfig d;
    const std::vector<Row> rows = {
        {"",
         [&](const ServiceConfig& c) {
             return c.textfileDir == d.textfileDir && c.intervalMinutes == 60 &&
                    c.criticalTemperature == 50 && c.dataDir == d.dataDir;
         },
         {}},
        {"# comment\n\n  textfile_dir = /srv/prom  \ndata_dir=/srv/z\n",
         [](const ServiceConfig& c) {
             return c.textfileDir == "/srv/prom" && c.dataDir == "/srv/z";
         },
         {}},
        {"interval_minutes=15\ncritical_temperature=45",
         [](const ServiceConfig& c) {
             return c.intervalMinutes == 15 && c.criticalTemperature == 45;
         },
         {}},
        {"interval_minutes=0", [](const ServiceConfig& c) { return c.intervalMinutes == 60; }, {1}},
        {"interval_minutes=6000",
         [](const ServiceConfig& c) { return c.intervalMinutes == 60; },
         {1}},
        {"interval_minutes=5999",
         [](const ServiceConfig& c) { return c.intervalMinutes == 5999; },
         {}},
        {"#\ncritical_temperature=hot\ninterval_minutes=5",
         [](const ServiceConfig& c) {
             return c.criticalTemperature == 50 && c.intervalMinutes == 5;
         },
         {2}},
        {"textfile_dir=relative/dir",
         [&](const ServiceConfig& c) { return c.textfileDir == d.textfileDir; },
         {1}},
        {"data_dir=", [&](const ServiceConfig& c) { return c.dataDir == d.dataDir; }, {1}},
        {"x\ncolour=blue\n", [](const ServiceConfig&) { return true; }, {1, 2}},
    };
    for (const Row& row : rows) {
        const auto parsed = ParseServiceConfig(QByteArray(row.text));
        EXPECT_TRUE(row.holds(parsed.config)) << row.text;
        std::vector<int> lines;
        for (const auto& p : parsed.problems) {
            lines.push_back(p.line);
            EXPECT_FALSE(p.why.isEmpty());
        }
        EXPECT_EQ(lines, row.badLines) << row.text;
    }
}

TEST(ServiceJournal, OneLineWithItsPriority) {
    EXPECT_EQ(zentrova::service::JournalLine(zentrova::service::Priority::Crit,
                                             QStringLiteral("a\nb\r\nc")),
              QByteArray("<2>a b c\n"));
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// One run of the service in a scratch folder, its standard error in a file.
class ServiceRun : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    pid_t pid = -1;

    QString Path(const QString& name) const { return dir.filePath(name); }
    QString Prom(const QString& folder = QStringLiteral("prom")) const {
        return Path(folder + QStringLiteral("/zentrova.prom"));
    }

    void WriteConfig(const QByteArray& extra, const QString& folder = QStringLiteral("prom")) {
        QDir(dir.path()).mkpath(folder);
        QFile f(Path(QStringLiteral("service.conf")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("# the test's\ntextfile_dir=" + Path(folder).toUtf8() + "\ndata_dir=" +
                Path(QStringLiteral("data")).toUtf8() + "\ninterval_minutes=1\n" + extra);
    }

    void Start(int minuteMs) {
        const QByteArray conf = Path(QStringLiteral("service.conf")).toUtf8();
        const QByteArray err = Path(QStringLiteral("stderr")).toUtf8();
        const QByteArray minute = QByteArray::number(minuteMs);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int fd = ::open(err.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd < 0 || dup2(fd, STDERR_FILENO) < 0)
                _exit(127);
            setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_SERVICE_DRIVES, 1);
            setenv("ZENTROVA_SERVICE_MINUTE_MS", minute.constData(), 1);
            execl(ZENTROVA_SERVICE_PATH, ZENTROVA_SERVICE_PATH, "--config", conf.constData(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    // SIGTERM; the service must be gone within 2 s with status 0.
    void Stop() {
        if (pid <= 0)
            return;
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        int status = -1;
        const bool gone = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 2000);
        if (!gone) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = -1;
        EXPECT_TRUE(gone) << "still running 2 s after SIGTERM";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    QList<QByteArray> JournalLines() const {
        QFile f(Path(QStringLiteral("stderr")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = f.readAll().split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }
    int Count(const QByteArray& prefix) const {
        int n = 0;
        for (const QByteArray& line : JournalLines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    // The text file's inode and modification time: each atomic rewrite
    // changes them (an inode alone comes back: the freed one is reused).
    // Empty while there is no file.
    QByteArray PromStamp(const QString& folder = QStringLiteral("prom")) const {
        struct stat st {};
        if (::stat(Prom(folder).toLocal8Bit().constData(), &st) != 0)
            return {};
        return QByteArray::number(static_cast<qulonglong>(st.st_ino)) + ':' +
               QByteArray::number(static_cast<qlonglong>(st.st_mtim.tv_sec)) + '.' +
               QByteArray::number(static_cast<qlonglong>(st.st_mtim.tv_nsec));
    }

    // Readings in the history; -1 when it cannot be read, -2 when damaged.
    long long Readings() const {
        sqlite3* db = nullptr;
        const QByteArray path = Path(QStringLiteral("data/history.sqlite3")).toUtf8();
        long long n = -1;
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* check = nullptr;
            if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) ==
                    SQLITE_OK &&
                sqlite3_step(check) == SQLITE_ROW &&
                std::string(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) != "ok")
                n = -2;
            sqlite3_finalize(check);
            sqlite3_stmt* count = nullptr;
            if (n == -1 &&
                sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM reading", -1, &count, nullptr) ==
                    SQLITE_OK &&
                sqlite3_step(count) == SQLITE_ROW)
                n = sqlite3_column_int64(count, 0);
            sqlite3_finalize(count);
        }
        sqlite3_close(db);
        return n;
    }

    // promtool's verdict on the text file; true when promtool is missing.
    bool PromtoolClean(const QString& folder = QStringLiteral("prom")) const {
        if (std::system("command -v promtool >/dev/null 2>&1") != 0)
            return true;
        const QByteArray cmd =
            "promtool check metrics < '" + Prom(folder).toUtf8() + "' >/dev/null 2>&1";
        return std::system(cmd.constData()) == 0;
    }
};

TEST_F(ServiceRun, EachPollRewritesTheFileAndTheHistoryAndTellsEachEventOnce) {
    ASSERT_TRUE(dir.isValid());
    WriteConfig({});
    Start(100);
    ASSERT_TRUE(WaitFor([&] { return !PromStamp().isEmpty(); }, 5000)) << "no text file";
    const QByteArray first = PromStamp();
    EXPECT_TRUE(PromtoolClean());
    ASSERT_TRUE(WaitFor([&] { return Readings() > 0; }, 5000));
    const long long before = Readings();
    // Several polls of every drive.
    ASSERT_TRUE(WaitFor([&] { return Readings() >= before + 6; }, 5000)) << Readings();
    EXPECT_NE(PromStamp(), first) << "the file was not rewritten";
    EXPECT_TRUE(PromtoolClean());
    const QByteArray text = [&] {
        QFile f(Prom());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    EXPECT_TRUE(text.contains("SVC-FAILING")) << text.left(400).constData();
    Stop();
    // sda fails at every poll, sdc is unreadable at every poll: one line each.
    EXPECT_EQ(Count("<2>/dev/sda:"), 1);
    EXPECT_EQ(Count("<2>"), 1);
    EXPECT_EQ(Count("<3>/dev/sdc:"), 1);
    EXPECT_EQ(Count("<3>/dev/sdb"), 0);
}

TEST_F(ServiceRun, SigtermMidPollLeavesWholeFiles) {
    ASSERT_TRUE(dir.isValid());
    WriteConfig({});
    // A poll every 20 ms or so: a signal at any moment falls into one often.
    for (int round = 0; round < 4; ++round) {
        Start(20);
        ASSERT_TRUE(WaitFor([&] { return Readings() > 0; }, 5000));
        const QByteArray seen = PromStamp();
        ASSERT_TRUE(WaitFor([&] { return PromStamp() != seen; }, 5000));
        Stop();
        EXPECT_GT(Readings(), 0) << "history damaged or empty after SIGTERM, round " << round;
        EXPECT_TRUE(PromtoolClean()) << "round " << round;
        EXPECT_TRUE(QDir(Path(QStringLiteral("prom")))
                        .entryList({QStringLiteral("zentrova.prom.tmp*")}, QDir::Files)
                        .isEmpty());
    }
}

TEST_F(ServiceRun, SighupMovesTheTextFileAndTellsABadLine) {
    ASSERT_TRUE(dir.isValid());
    WriteConfig("interval_minutes=often\n");
    Start(100);
    ASSERT_TRUE(WaitFor([&] { return !PromStamp().isEmpty(); }, 5000));
    // The fifth line of the file, by its number, and the service runs on.
    EXPECT_EQ(Count("<3>" + Path(QStringLiteral("service.conf")).toUtf8() + ":5: interval_minutes"),
              1)
        << JournalLines().join('\n').constData();
    WriteConfig({}, QStringLiteral("moved"));
    ASSERT_EQ(kill(pid, SIGHUP), 0);
    EXPECT_TRUE(WaitFor([&] { return !PromStamp(QStringLiteral("moved")).isEmpty(); }, 5000))
        << "the new textfile_dir is not used";
    EXPECT_TRUE(PromtoolClean(QStringLiteral("moved")));
    Stop();
}

} // namespace
