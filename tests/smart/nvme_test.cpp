#include "nvme/nvme_health.h"
#include "platform/nvme_pages.h"
#include "smart_fixture.h"

using namespace zentrova;
using namespace zentrova::testing;
namespace pages = zentrova::platform::nvme;
using nvme::Counter;

namespace {

void Put(Page& page, pages::Field field, Counter value) {
    for (std::size_t i = 0; i < field.width; ++i, value >>= 8)
        page[field.offset + i] = static_cast<std::uint8_t>(value & 0xff);
}

struct Health {
    std::uint8_t warning = 0, spare = 100, spareThreshold = 10, used = 3;
    std::uint16_t kelvin = 311;
    Counter media = 0, hours = 1200, written = 2'400'000;
};

Page HealthPage(const Health& h) {
    Page page{};
    Put(page, pages::kCriticalWarning, h.warning);
    Put(page, pages::kCompositeTemperature, h.kelvin);
    Put(page, pages::kAvailableSpare, h.spare);
    Put(page, pages::kAvailableSpareThreshold, h.spareThreshold);
    Put(page, pages::kPercentageUsed, h.used);
    Put(page, pages::kMediaErrors, h.media);
    Put(page, pages::kPowerOnHours, h.hours);
    Put(page, pages::kDataUnitsWritten, h.written);
    return page;
}

Page IdentifyPage(std::uint16_t warningKelvin, std::uint16_t criticalKelvin) {
    Page page{};
    Put(page, pages::kWarningTemperatureThreshold, warningKelvin);
    Put(page, pages::kCriticalTemperatureThreshold, criticalKelvin);
    return page;
}

} // namespace

// Every field from its own offset: neighbours hold other values, and a 128-bit
// counter's highest byte counts.
TEST(NvmeHealth, EveryFieldFromItsOwnBytes) {
    Page page{};
    const Counter top = Counter{0xAB} << 120;
    const pages::Field counters[] = {pages::kDataUnitsRead,      pages::kDataUnitsWritten,
                                     pages::kHostReadCommands,   pages::kHostWriteCommands,
                                     pages::kControllerBusyTime, pages::kPowerCycles,
                                     pages::kPowerOnHours,       pages::kUnsafeShutdowns,
                                     pages::kMediaErrors,        pages::kErrorLogEntries};
    for (std::size_t i = 0; i < std::size(counters); ++i)
        Put(page, counters[i], top + i + 1);
    const pages::Field small[] = {pages::kCriticalWarning,        pages::kCompositeTemperature,
                                  pages::kAvailableSpare,         pages::kAvailableSpareThreshold,
                                  pages::kPercentageUsed,         pages::kWarningTemperatureTime,
                                  pages::kCriticalTemperatureTime};
    for (std::size_t i = 0; i < std::size(small); ++i)
        Put(page, small[i], 0x80 + i);
    for (int s = 0; s < pages::kTemperatureSensorCount; ++s)
        Put(page, {pages::kTemperatureSensor1.offset + 2u * s, 2}, 300 + s);

    const nvme::HealthLog h = nvme::DecodeHealthLog(page.data());
    const Counter got[] = {h.dataUnitsRead,     h.dataUnitsWritten,      h.hostReadCommands,
                           h.hostWriteCommands, h.controllerBusyMinutes, h.powerCycles,
                           h.powerOnHours,      h.unsafeShutdowns,       h.mediaErrors,
                           h.errorLogEntries};
    for (std::size_t i = 0; i < std::size(got); ++i)
        EXPECT_TRUE(got[i] == top + i + 1) << "counter " << i;
    EXPECT_EQ(std::vector<unsigned>({h.criticalWarning, h.compositeKelvin, h.availableSpare,
                                     h.availableSpareThreshold, h.percentageUsed,
                                     h.warningTemperatureMinutes, h.criticalTemperatureMinutes,
                                     h.sensorKelvin[0], h.sensorKelvin[7]}),
              std::vector<unsigned>({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 300, 307}));
    EXPECT_EQ(nvme::DecimalText(~Counter{0}), "340282366920938463463374607431768211455");

    const nvme::ControllerLimits limits =
        nvme::DecodeIdentifyController(IdentifyPage(343, 358).data());
    EXPECT_EQ(limits.warningKelvin * 1000 + limits.criticalKelvin, 343358);
    // 0 K is "not reported", not -273 degrees.
    EXPECT_EQ(nvme::Celsius(0), std::nullopt);
    EXPECT_EQ(nvme::Celsius(273), 0);
}

TEST(NvmeHealth, VerdictsAndWarningNames) {
    const struct {
        std::uint8_t warning, spare, threshold, used;
        bool failed;
    } cases[] = {
        {0, 100, 10, 3, false},   {0, 10, 10, 99, false}, // at the threshold, below 100 %: well
        {0, 9, 10, 3, true},      {0, 100, 10, 100, true},  {0, 100, 10, 255, true},
        {0x01, 100, 10, 3, true}, {0x20, 100, 10, 3, true}, {0x80, 100, 10, 3, true},
    };
    for (const auto& c : cases) {
        nvme::HealthLog log;
        log.criticalWarning = c.warning, log.availableSpare = c.spare;
        log.availableSpareThreshold = c.threshold, log.percentageUsed = c.used;
        EXPECT_EQ(nvme::HealthFailed(log), c.failed)
            << int(c.warning) << ' ' << int(c.spare) << ' ' << int(c.used);
    }
    std::string names;
    for (int bit = 0; bit < 8; ++bit)
        names += nvme::CriticalWarningText(std::uint8_t(1u << bit)) + '|';
    EXPECT_EQ(names, "spare below threshold|temperature|reliability degraded|read-only|"
                     "volatile memory backup failed|persistent memory region read-only|bit 6|"
                     "bit 7|");
    EXPECT_EQ(nvme::CriticalWarningText(0), "none");
    EXPECT_EQ(nvme::CriticalWarningText(0x0a), "temperature, read-only");
}

// NVMe drive 0 ("nvme0", warning threshold 70 degrees, no ATA attributes)
// and ATA drive 1.
class NvmeDrive : public SmartTest {
  protected:
    void SetUp() override {
        drives[0].data = HealthPage({});
        drives[0].thresholds = IdentifyPage(343, 358);
        FakeService nvmeService{true,           "nvme0", std::int64_t{512} << 30,
                                "ZT NVME 512G", "ZN1.0", &drives[0]};
        nvmeService.kind = platform::DriveKind::Nvme;
        nvmeService.sensorCelsius = 44;
        registry.services.push_back(nvmeService);
        for (int i = 0; i < 2; ++i) {
            smart::CreateLogFile(smart::LogFilePath(dir.path(), i), now, host.LogLocale());
            host.col2 << QStringLiteral("N/A");
            host.col3 << QStringLiteral("OK");
        }
        registry.services.push_back(
            {true, "sdb", std::int64_t{80} << 30, "OTHER", "FW02", &drives[1]});
        SetReading(1, {{5, 100, 100, 0, 36}});
        device::SMARTDeviceDetection(registry);
        Select(0);
        settings::settings.gnCriticaltemp[0] = 70;
        settings::settings.gbCriticalTempEnable[0] = 1;
    }
    QString Rows() {
        QStringList rows;
        for (int r = 0; r < host.columns.Attr_0_Array.size(); ++r)
            rows << Row(host.columns, r);
        return rows.join('\n');
    }
    QByteArray Entry(std::uint8_t id, const char* name, const char* last, const char* value) {
        return smart::AttributeChangeEntry(now, "ZT NVME 512G", "ZN1.0", id, name, last, value,
                                           host.LogLocale());
    }
};

TEST_F(NvmeDrive, DetectionTakesItsTemperatureAndWarningThreshold) {
    const device::xDEV_INFO& r = *device::dev.gpHeadDevInfo;
    EXPECT_EQ(std::tuple(r.driveKind, r.nTemperature, r.nDefaultCriticalTemp, r.bSmartEnabled),
              std::tuple(platform::DriveKind::Nvme, 38, 70, std::uint8_t{1}));
    // Without its pages: the sensor's temperature and the usual 50.
    drives[0].readDataStatus = drives[0].readThresholdsStatus = 5;
    device::ResetDeviceGlobalsForTest();
    device::SMARTDeviceDetection(registry);
    EXPECT_EQ(std::pair(device::dev.gpHeadDevInfo->nTemperature,
                        device::dev.gpHeadDevInfo->nDefaultCriticalTemp),
              std::pair(44, 50));
}

TEST_F(NvmeDrive, PollShowsHealthRowsAndLogsWhatChanged) {
    PollOnce();
    EXPECT_EQ(Rows(), "00|Critical warning|||none||OK\n"
                      "01|Composite temperature||70 \u00b0C|38 \u00b0C||OK\n"
                      "03|Available spare||10 %|100 %||OK\n"
                      "05|Percentage used||100 %|3 %||OK\n"
                      "A0|Media and data integrity errors|||0||OK\n"
                      "90|Unsafe shutdowns|||0||OK\n"
                      "70|Power cycles|||0||OK\n"
                      "80|Power-on hours|||1200 h||OK\n"
                      "30|Data written|||1.2 TB||OK\n"
                      "B0|Error log entries|||0||OK\n"
                      "C0|Warning temperature time|||0 min||OK\n"
                      "C4|Critical temperature time|||0 min||OK");
    EXPECT_EQ(std::tuple(smart::smart.gnTotAttr, smart::smart.gnReadingTemp, host.col3[0], beeps),
              std::tuple(12, 38, QString("OK"), 0));

    // Worn past its spare, with a media error: both logged; the hours that
    // pass with ordinary use are not.
    drives[0].data = HealthPage({.warning = 0x05, .spare = 5, .media = 1, .hours = 1201});
    PollOnce();
    EXPECT_EQ(LogBody(0), Entry(0x00, "Critical warning", "0", "5") +
                              Entry(0x03, "Available spare", "100", "5") +
                              Entry(0xA0, "Media and data integrity errors", "0", "1"));
    EXPECT_EQ(
        Row(host.columns, 0),
        "00|Critical warning|12/05/2026||spare below threshold, reliability degraded||Failed");
    EXPECT_EQ(Row(host.columns, 2), "03|Available spare|12/05/2026|10 %|5 %||Failed");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(std::tuple(alerts[0].title, host.col3[0], beeps), std::tuple("WARNING", "Failed", 3));
}

TEST_F(NvmeDrive, HotterThanItsCriticalTemperatureAlertsAsAnAtaDriveDoes) {
    drives[0].data = HealthPage({.kelvin = 343}); // at the limit of 70 degrees: no alert
    PollOnce();
    drives[0].data = HealthPage({.kelvin = 344});
    PollOnce();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Drive: ZT NVME 512G\nS/N: ZN1.0\nThe Current Temperature value "
                                 "exeeds than Critical Temperature");
    EXPECT_EQ(smart::smart.gnCurrTemp, 71);
    drives[0].data = HealthPage({.kelvin = 0}); // no temperature reported: no alert
    alerts.clear();
    PollOnce();
    EXPECT_EQ(std::pair(alerts.size(), Row(host.columns, 1)),
              std::pair(std::size_t{0}, QString("01|Composite temperature||70 \u00b0C|N/A||OK")));
}

// Coming back to the NVMe drive redisplays its own rows, not an ATA reading.
TEST_F(NvmeDrive, ReselectionRedisplaysItsOwnReading) {
    PollOnce();
    Select(1);
    PollOnce();
    Select(0);
    smart::ShowSelectedDriveReading(host);
    EXPECT_EQ(std::pair(Row(host.columns, 0), drives[0].readDataCalls),
              std::pair(QString("00|Critical warning|||none||OK"), 2));
}
