// The metrics file: its content for the demo drives and for reads that fail,
// label escaping, atomic replacement and a folder that cannot be written.
#include "demo_metrics.h"
#include "smart/smart_fixture.h"

#include <QDir>
#include <QSet>
#include <QSettings>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

const QByteArray kSda = R"(device="/dev/sda",model="ZENTROVA DEMO HD 250G",firmware="ZD1.04")";
const QByteArray kSdb = R"(device="/dev/sdb",model="SAMSUNG SV1204H",firmware="RK100-1")";
const QByteArray kSdc = R"(device="/dev/sdc",model="ZENTROVA DEMO HD 80G",firmware="ZD0.97")";

QByteArray Line(const char* name, const QByteArray& labels, qint64 value) {
    return QByteArray(name) + '{' + labels + "} " + QByteArray::number(value);
}
QByteArray Attr(const QByteArray& drive, const char* id, const char* name) {
    return drive + ",id=\"" + id + "\",name=\"" + name + '"';
}
bool Has(const QByteArray& text, const QByteArray& line) {
    return ('\n' + text).contains('\n' + line + '\n');
}

// One "# HELP" and one "# TYPE" per metric, and a metric's samples right
// after them, as the exposition format wants.
void ExpectWellFormed(const QByteArray& text) {
    QSet<QByteArray> typed;
    QByteArray family;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("# TYPE ")) {
            family = line.split(' ').value(2);
            EXPECT_FALSE(typed.contains(family)) << family.constData();
            typed.insert(family);
        } else if (!line.isEmpty() && !line.startsWith("# HELP ")) {
            EXPECT_TRUE(line.startsWith(family + '{')) << line.constData();
        }
    }
    EXPECT_EQ(text.count("# HELP "), typed.size());
    EXPECT_EQ(typed.size(), 10);
}

class MetricsFile : public SmartTest {
  protected:
    void SetUp() override {
        SmartTest::SetUp();
        metrics::ResetMetricsGlobalsForTest();
    }
    void TearDown() override {
        metrics::ResetMetricsGlobalsForTest();
        SmartTest::TearDown();
    }
    MetricsHost mhost;
};

} // namespace

TEST_F(MetricsFile, DemoDrivesAfterDetectionAndAfterPolls) {
    const qint64 polled = kEvening.toSecsSinceEpoch();
    // (after the polls?, line, present?)
    const std::vector<std::tuple<bool, QByteArray, bool>> cases = {
        {false, Line("zentrova_drive_listed", kSdb, 1), true},
        {false, Line("zentrova_drive_smart_status_ok", kSdc, 1), true},
        {false, Line("zentrova_drive_temperature_celsius", kSdb, 41), true},
        {false, Line("zentrova_drive_failed_reads_total", kSda, 0), true},
        {false, Line("zentrova_drive_last_poll_timestamp_seconds", kSda, polled), false},
        {false, Line("zentrova_attribute_value", Attr(kSda, "05", "Reallocated Sector Count"), 100),
         false},
        {true, Line("zentrova_drive_smart_status_ok", kSda, 1), true},
        {true, Line("zentrova_drive_smart_status_ok", kSdc, 0), true},
        {true, Line("zentrova_drive_temperature_celsius", kSdc, 55), true},
        {true, Line("zentrova_drive_last_poll_timestamp_seconds", kSda, polled), true},
        {true,
         Line("zentrova_attribute_raw_value", Attr(kSda, "01", "Raw Read Error Rate"), 143528104),
         true},
        {true, Line("zentrova_attribute_failed", Attr(kSda, "05", "Reallocated Sector Count"), 0),
         true},
        {true, Line("zentrova_attribute_value", Attr(kSdb, "09", "Power On Half Minutes"), 100),
         true},
        {true, Line("zentrova_attribute_worst", Attr(kSdb, "C2", "Temperature Celsius x10"), 50),
         true},
        {true, Line("zentrova_attribute_failed", Attr(kSdc, "05", "Reallocated Sector Count"), 1),
         true},
        {true,
         Line("zentrova_attribute_threshold", Attr(kSdc, "05", "Reallocated Sector Count"), 36),
         true},
        {true,
         Line("zentrova_attribute_raw_value", Attr(kSdc, "05", "Reallocated Sector Count"), 330),
         true},
    };
    DetectDemoDrives();
    const QByteArray detected = metrics::RenderMetrics();
    for (const auto& [drive, reads] : {std::pair{0, 1}, {1, 1}, {2, 7}})
        PollDrive(mhost, drive, reads);
    const QByteArray polledText = metrics::RenderMetrics();
    for (const auto& [afterPolls, line, present] : cases)
        EXPECT_EQ(Has(afterPolls ? polledText : detected, line), present) << line.constData();
    ExpectWellFormed(polledText);
}

TEST_F(MetricsFile, FailedReadsCountAndKeepTheLastGoodReadingEscaped) {
    Detect({"X"});
    std::memcpy(device::dev.gpHeadDevInfo->szModelNum, kOddModel, sizeof kOddModel);
    const QByteArray drive =
        R"(device="/dev/sda",model="QUOTE\" BACK\\SLASH\nLINE",firmware="FW01")";
    // The first temperature attribute gives the temperature. A repeated
    // identifier would be a repeated series: the first one counts.
    SetReading(0,
               {{194, 100, 100, 40}, {231, 100, 100, 60}, {5, 90, 90, 0, 36}, {5, 10, 10, 0, 36}});
    PollDrive(mhost, 0, 1);
    const qint64 good = now.toSecsSinceEpoch();
    now = now.addSecs(3600);
    drives[0].readDataStatus = 5;
    PollDrive(mhost, 0, 2);

    const QByteArray text = metrics::RenderMetrics();
    EXPECT_TRUE(Has(text, Line("zentrova_drive_failed_reads_total", drive, 2))) << text.constData();
    EXPECT_TRUE(Has(text, Line("zentrova_drive_last_poll_timestamp_seconds", drive, good)));
    EXPECT_TRUE(Has(text, Line("zentrova_drive_temperature_celsius", drive, 40)));
    EXPECT_TRUE(Has(text, Line("zentrova_drive_smart_status_ok", drive, 1)));
    EXPECT_EQ(text.count("zentrova_attribute_value{"), 3);
}

TEST_F(MetricsFile, ReaderNeverSeesAPartialFile) {
    // Four drives of 30 attributes make a file of some 70 kB.
    Detect({"A", "B", "C", "D"});
    std::vector<EntrySpec> full;
    for (int id = 1; id <= 30; ++id)
        full.push_back({static_cast<std::uint8_t>(id), 100, 100, 7, 10});
    for (int d = 0; d < 4; ++d) {
        SetReading(d, full);
        PollDrive(mhost, d, 1);
    }
    const QString path = dir.path() + "/zentrova.prom";
    QByteArray versions[2];
    versions[0] = metrics::RenderMetrics();
    metrics::metrics.gnFailedReads[0] = 123456789;
    versions[1] = metrics::RenderMetrics();
    ASSERT_TRUE(metrics::WriteMetricsFile(dir.path(), nullptr));

    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        while (!done) {
            const QByteArray got = ReadAll(path);
            ++reads;
            if (got != versions[0] && got != versions[1])
                ++torn;
        }
    });
    for (int i = 0; i < 200; ++i) {
        metrics::metrics.gnFailedReads[0] = i % 2 == 0 ? 0 : 123456789;
        EXPECT_TRUE(metrics::WriteMetricsFile(dir.path(), nullptr));
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_FALSE(QFile::exists(path + ".tmp"));
}

TEST_F(MetricsFile, UnwritableFolderIsToldOnceAndTriedAgain) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/config");
    EXPECT_TRUE(metrics::MetricsDirectory().isEmpty()) << "off unless asked for";
    const QString folder = dir.path() + "/later";
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Zentrova", "zentrova")
        .setValue("MetricsDirectory", folder);

    ::testing::internal::CaptureStderr();
    metrics::UpdateMetricsFile();
    metrics::UpdateMetricsFile();
    ASSERT_TRUE(QDir().mkpath(folder));
    metrics::UpdateMetricsFile();
    const QString err = QString::fromStdString(::testing::internal::GetCapturedStderr());
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(folder + "/zentrova.prom.tmp")) << err.toStdString();
    EXPECT_TRUE(QFile::exists(folder + "/zentrova.prom"));
}
