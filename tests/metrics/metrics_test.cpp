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

using namespace zentrova;
using namespace zentrova::testing;

namespace {

// One line per case: '+' the line is in the file, '-' it is not. A, B, C
// stand for the demo drives' labels, @T for the time of the polls.
const char* const kAfterDetection = R"(
+zentrova_drive_listed{B} 1
+zentrova_drive_smart_status_ok{C} 1
+zentrova_drive_temperature_celsius{B} 41
+zentrova_drive_failed_reads_total{A} 0
-zentrova_drive_last_poll_timestamp_seconds{A} @T
-zentrova_attribute_value{A,id="05",name="Reallocated Sector Count"} 100)";
const char* const kAfterPolls = R"(
+zentrova_drive_smart_status_ok{A} 1
+zentrova_drive_smart_status_ok{C} 0
+zentrova_drive_temperature_celsius{C} 55
+zentrova_drive_last_poll_timestamp_seconds{A} @T
+zentrova_attribute_raw_value{A,id="01",name="Raw Read Error Rate"} 143528104
+zentrova_attribute_failed{A,id="05",name="Reallocated Sector Count"} 0
+zentrova_attribute_value{B,id="09",name="Power On Half Minutes"} 100
+zentrova_attribute_worst{B,id="C2",name="Temperature Celsius x10"} 50
+zentrova_attribute_failed{C,id="05",name="Reallocated Sector Count"} 1
+zentrova_attribute_threshold{C,id="05",name="Reallocated Sector Count"} 36
+zentrova_attribute_raw_value{C,id="05",name="Reallocated Sector Count"} 330)";

void ExpectLines(const QByteArray& text, const char* cases) {
    for (QByteArray line : QByteArray(cases).split('\n')) {
        if (line.isEmpty())
            continue;
        const bool present = line[0] == '+';
        line =
            line.mid(1)
                .replace("{A",
                         R"({device="/dev/sda",model="ZENTROVA DEMO HD 250G",firmware="ZD1.04")")
                .replace("{B", R"({device="/dev/sdb",model="SAMSUNG SV1204H",firmware="RK100-1")")
                .replace("{C",
                         R"({device="/dev/sdc",model="ZENTROVA DEMO HD 80G",firmware="ZD0.97")")
                .replace("@T", QByteArray::number(kEvening.toSecsSinceEpoch()));
        EXPECT_EQ(('\n' + text).contains('\n' + line + '\n'), present) << line.constData();
    }
}

// One "# HELP" and one "# TYPE" for each of the ten metrics, and a metric's
// samples right after them, as the exposition format wants.
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
    EXPECT_EQ(text.count("# HELP "), 10);
    EXPECT_EQ(typed.size(), 10);
}

class MetricsFile : public SmartTest {
  protected:
    void SetUp() override {
        SmartTest::SetUp();
        metrics::ResetMetricsGlobalsForTest();
    }
    MetricsHost mhost;
};

} // namespace

TEST_F(MetricsFile, DemoDrivesAfterDetectionAndAfterPolls) {
    DetectDemoDrives();
    ExpectLines(metrics::RenderMetrics(), kAfterDetection);
    for (const auto& [drive, reads] : {std::pair{0, 1}, {1, 1}, {2, 7}})
        PollDrive(mhost, drive, reads);
    const QByteArray text = metrics::RenderMetrics();
    ExpectLines(text, kAfterPolls);
    ExpectWellFormed(text);
}

TEST_F(MetricsFile, FailedReadsCountAndKeepTheLastGoodReadingEscaped) {
    Detect({"X"});
    std::memcpy(device::dev.gpHeadDevInfo->szModelNum, kOddModel, sizeof kOddModel);
    // The first temperature attribute gives the temperature. A repeated
    // identifier would be a repeated series: the first one counts.
    SetReading(0,
               {{194, 100, 100, 40}, {231, 100, 100, 60}, {5, 90, 90, 0, 36}, {5, 10, 10, 0, 36}});
    PollDrive(mhost, 0, 1);
    const QByteArray good = QByteArray::number(now.toSecsSinceEpoch());
    now = now.addSecs(3600);
    drives[0].readDataStatus = 5;
    PollDrive(mhost, 0, 2);

    const QByteArray text = metrics::RenderMetrics();
    const QByteArray drive =
        R"({device="/dev/sda",model="QUOTE\" BACK\\SLASH\nLINE",firmware="FW01"} )";
    for (const QByteArray& line : {"zentrova_drive_failed_reads_total" + drive + "2",
                                   "zentrova_drive_last_poll_timestamp_seconds" + drive + good,
                                   "zentrova_drive_temperature_celsius" + drive + "40",
                                   "zentrova_drive_smart_status_ok" + drive + "1"})
        EXPECT_TRUE(text.contains(line + '\n')) << line.constData() << "\nin\n" << text.constData();
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
    // Two versions of the file, of different lengths, written in turn.
    QByteArray versions[2];
    for (int v : {1, 0}) {
        metrics::metrics.gnFailedReads[0] = v * 123456789u;
        versions[v] = metrics::RenderMetrics();
    }
    const QString path = dir.path() + "/zentrova.prom";
    ASSERT_TRUE(metrics::WriteMetricsFile(dir.path(), nullptr));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, torn{0};
    std::thread reader([&] {
        for (; !done; ++reads) {
            const QByteArray got = ReadAll(path);
            torn += got != versions[0] && got != versions[1];
        }
    });
    for (int i = 1; i <= 200; ++i) {
        metrics::metrics.gnFailedReads[0] = (i % 2) * 123456789u;
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
