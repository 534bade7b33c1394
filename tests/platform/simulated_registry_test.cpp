#include "nvme/nvme_health.h"
#include "platform/nvme_pages.h"
#include "platform/sim/simulated_registry.h"
#include "selftest/selftest_pages.h"

#include "fakes/sysfs_tree.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <sys/stat.h>

using namespace zentrova::platform;
using Page = std::array<std::uint8_t, 512>;

namespace {

// The drives as "name|model|firmware|size|enable status" lines, "-" for what
// is missing.
std::string Describe(std::vector<BlockStorageService>& services) {
    std::string out;
    for (BlockStorageService& s : services) {
        const auto& smart = s.smartInterface;
        out += s.bsdName.value_or("-") + "|" + s.deviceModel.value_or("-") + "|" +
               s.deviceRevision.value_or("-") + "|" +
               (s.sizeBytes ? std::to_string(*s.sizeBytes) : "-") + "|" +
               (smart ? std::to_string(smart->SMARTEnableDisableOperations(true)) : "-") + "\n";
    }
    return out;
}

std::string Hex(const Page& page) {
    std::string out;
    for (std::uint8_t b : page)
        out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return out.erase(out.find_last_not_of('0') + 1);
}

// A poll: "data status,thresholds status|data|thresholds", the pages in
// hexadecimal without trailing zeros; a failed read leaves the AAh they held.
std::string Poll(BlockStorageService& service) {
    Page data, thresholds;
    data.fill(0xAA);
    thresholds.fill(0xAA);
    const int d = service.smartInterface->SMARTReadData(data.data());
    const int t = service.smartInterface->SMARTReadDataThresholds(thresholds.data());
    return std::to_string(d) + "," + std::to_string(t) + "|" + Hex(data) + "|" + Hex(thresholds);
}

// How many drives a file gives, and what was said about it.
std::pair<std::size_t, std::string> Load(const std::string& path) {
    SimulatedRegistry registry(path);
    testing::internal::CaptureStderr();
    const std::size_t count = registry.BlockStorageServices().size();
    return {count, testing::internal::GetCapturedStderr()};
}

} // namespace

TEST(SimulatedDrives, GoodFileDescribesItsDrivesAndPlaysTheirReadings) {
    zentrova::testing::TempTree tree;
    Page hexData, hexThresholds;
    std::iota(hexData.begin(), hexData.end(), 0);
    std::iota(hexThresholds.begin(), hexThresholds.end(), 7);
    const std::string path =
        tree.Write("good.json", R"({"comment": "drives for the test", "drives": [
    {"bsdName": "sda", "sizeBytes": 250059350016, "model": "HD-EXAMPLE 80G", "firmware": "FW01",
     "readings": [
       {"attributes": [
         {"id": 5, "flags": 4660, "value": 100, "worst": 99, "raw": [1, 2, 3, 4, 5, 6], "threshold": 36},
         {"id": 194, "value": 64, "worst": 50, "raw": [36, 0, 20], "threshold": 0}]},
       {"attributes": [{"id": 194, "value": 60, "worst": 50, "raw": [40], "threshold": 7}]},
       {"dataPage": ")" + Hex(hexData) +
                                    R"(", "thresholdsPage": ")" + Hex(hexThresholds) + R"("}]},
    {"bsdName": "sdb", "model": "NO SIZE", "enableStatus": 5},
    {"bsdName": "sdc", "model": "NO SMART", "smartInterface": false},
    {"bsdName": "sdd", "firmware": "ONLYFW", "readDataStatus": -3, "readThresholdsStatus": 4,
     "readings": [{"attributes": [{"id": 194, "value": 1, "worst": 1, "raw": [44], "threshold": 0}]}]},
    {"model": "NO NAME"}]})");
    // Chosen through the environment, as the demo drives are.
    ::setenv("ZENTROVA_SIMULATED_DRIVES", path.c_str(), 1);
    const auto registry = CreateSystemDeviceRegistry();
    ::unsetenv("ZENTROVA_SIMULATED_DRIVES");
    auto drives = registry->BlockStorageServices();
    ASSERT_EQ(Describe(drives), "sda|HD-EXAMPLE 80G|FW01|250059350016|0\nsdb|NO SIZE|-|-|5\n"
                                "sdc|NO SMART|-|-|-\nsdd|-|ONLYFW|-|0\n-|NO NAME|-|-|0\n");
    // Data reads alone never move a drive on; the thresholds read does. The
    // last reading then repeats; no readings give zero pages.
    Page page{};
    ASSERT_EQ(drives[0].smartInterface->SMARTReadData(page.data()), 0);
    EXPECT_EQ(Poll(drives[0]), "0,0|0000053412646301020304050600c20000403224"
                               "0014|0000052400000000000000000000c2");
    EXPECT_EQ(Poll(drives[0]), "0,0|0000c200003c3228|0000c207");
    const std::string hexReading = "0,0|" + Hex(hexData) + "|" + Hex(hexThresholds);
    EXPECT_EQ(Poll(drives[0]), hexReading);
    EXPECT_EQ(Poll(drives[0]), hexReading);
    EXPECT_EQ(Poll(drives[1]), "0,0||");
    EXPECT_EQ(Poll(drives[3]), "-3,4|" + std::string(1024, 'a') + "|" + std::string(1024, 'a'));
    // Every call describes the drives afresh, from their first reading.
    EXPECT_EQ(Poll(registry->BlockStorageServices()[0]).substr(0, 10), "0,0|000005");
}

// Every field of the health log, told apart by distinct values, at its
// widest where the file allows it.
TEST(SimulatedDrives, NvmeDriveAnswersItsHealthLogsAndOneIdentifyController) {
    zentrova::testing::TempTree tree;
    Page second{};
    second[nvme::kPercentageUsed.offset] = 42;
    const std::string path = tree.Write("nvme.json", R"({"drives": [
    {"kind": "nvme", "bsdName": "nvme0", "model": "NVME MODEL", "firmware": "FW2", "serial": "S1",
     "warningTemperatureKelvin": 343, "criticalTemperatureKelvin": 65535, "sensorCelsius": -5,
     "readings": [
       {"health": {"criticalWarning": 255, "compositeTemperatureKelvin": 311, "availableSpare": 100,
         "availableSpareThreshold": 10, "percentageUsed": 254, "dataUnitsRead": 1,
         "dataUnitsWritten": 18446744073709551615, "hostReadCommands": 3, "hostWriteCommands": 4,
         "controllerBusyMinutes": 5, "powerCycles": 6, "powerOnHours": 7, "unsafeShutdowns": 8,
         "mediaErrors": 9, "errorLogEntries": 10, "warningTemperatureMinutes": 4294967295,
         "criticalTemperatureMinutes": 12}},
       {"healthPage": ")" + Hex(second) + std::string(1024 - Hex(second).size(), '0') +
                                                         R"("}]},
    {"kind": "ata", "bsdName": "sda", "serial": "S2"}]})");
    auto drives = SimulatedRegistry(path).BlockStorageServices();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_TRUE(drives[0].kind == DriveKind::Nvme && drives[1].kind == DriveKind::Ata);
    EXPECT_TRUE(drives[0].sensorCelsius == -5 && !drives[1].sensorCelsius);
    EXPECT_TRUE(drives[0].deviceSerial == "S1" && drives[1].deviceSerial == "S2");
    EXPECT_EQ(Describe(drives), "nvme0|NVME MODEL|FW2|-|0\nsda|-|-|-|0\n");

    const auto read = [&](Page& identify) {
        Page data{};
        EXPECT_EQ(drives[0].smartInterface->SMARTReadData(data.data()), 0);
        EXPECT_EQ(drives[0].smartInterface->SMARTReadDataThresholds(identify.data()), 0);
        return zentrova::nvme::DecodeHealthLog(data.data());
    };
    using zentrova::nvme::DecimalText;
    Page identify{}, again{};
    const zentrova::nvme::HealthLog h = read(identify);
    const std::string fields[] = {std::to_string(h.criticalWarning),
                                  std::to_string(h.compositeKelvin),
                                  std::to_string(h.availableSpare),
                                  std::to_string(h.availableSpareThreshold),
                                  std::to_string(h.percentageUsed),
                                  DecimalText(h.dataUnitsRead),
                                  DecimalText(h.dataUnitsWritten),
                                  DecimalText(h.hostReadCommands),
                                  DecimalText(h.hostWriteCommands),
                                  DecimalText(h.controllerBusyMinutes),
                                  DecimalText(h.powerCycles),
                                  DecimalText(h.powerOnHours),
                                  DecimalText(h.unsafeShutdowns),
                                  DecimalText(h.mediaErrors),
                                  DecimalText(h.errorLogEntries),
                                  std::to_string(h.warningTemperatureMinutes),
                                  std::to_string(h.criticalTemperatureMinutes)};
    EXPECT_EQ(std::accumulate(std::begin(fields), std::end(fields), std::string(),
                              [](std::string a, const std::string& b) { return a + b + " "; }),
              "255 311 100 10 254 1 18446744073709551615 3 4 5 6 7 8 9 10 4294967295 12 ");
    const auto limits = zentrova::nvme::DecodeIdentifyController(identify.data());
    EXPECT_TRUE(limits.warningKelvin == 343 && limits.criticalKelvin == 65535);
    const auto text = [&](nvme::Field f) {
        return std::string(identify.begin() + f.offset, identify.begin() + f.offset + f.width);
    };
    EXPECT_EQ(text(nvme::kSerialNumber) + "|" + text(nvme::kModelNumber) + "|" +
                  text(nvme::kFirmwareRevision),
              "S1" + std::string(18, ' ') + "|NVME MODEL" + std::string(30, ' ') + "|FW2     ");
    // The thresholds read moved the drive on; Identify Controller stays.
    EXPECT_EQ(read(again).percentageUsed, 42);
    EXPECT_EQ(again, identify);
}

TEST(SimulatedDrives, BadFilesGiveNoDrivesAndNameTheLine) {
    zentrova::testing::TempTree tree;
    // A drive, a reading or an attribute (the first three keys filled in)
    // whose fault sits on the file's second line unless a case says otherwise.
    const auto drive = [](const std::string& body) { return "{\"drives\": [{\n" + body + "}]}"; };
    const auto reading = [&](const std::string& body) {
        return drive("\"readings\": [" + body + "]");
    };
    const auto attribute = [&](const std::string& more) {
        return reading("{\"attributes\": [{\"id\": 5, \"value\": 1, \"worst\": 1" + more + "}]}");
    };
    const auto nvmeReading = [&](const std::string& body) {
        return drive("\"kind\": \"nvme\", \"readings\": [" + body + "]");
    };
    std::string thirtyOne = R"({"id": 5, "value": 1, "worst": 1, "threshold": 0})";
    for (int i = 1; i < 31; ++i)
        thirtyOne += ",\n" + thirtyOne.substr(0, 49);
    const std::string zeros(1024, '0');
    const struct {
        std::string text;
        int line;
        std::string message;
    } cases[] = {
        {"", 1, "not valid JSON"},
        {"{\n  \"drives\": [\n    {\"bsdName\": sda}\n  ]\n}", 3, "not valid JSON"},
        {"\xEF\xBB\xBF{\"drives\":\n[{\"model\": 7}]}", 2, "drive 1: \"model\" must be a string"},
        {"[\n]", 1, "the file must hold an object with a \"drives\" list"},
        {"\n\n{ }", 3, "\"drives\" is missing"},
        {"{\"drives\":\n {}}", 2, "\"drives\" must be a list of drives"},
        {"{\"drives\": [\n{},\n1]}", 3, "drive 2: a drive must be an object"},
        {"{\"drives\": " + std::string(100000, '[') + std::string(100000, ']') + "}", 1,
         "nested more than 64 levels deep"},
        // Brackets and escapes in strings before the fault, and a key written
        // with an escape.
        {R"({"drives": [
{"model": "a [{\"}"},
{"readings": [{"attributes": [
{"\u0069d": 256, "value": 1, "worst": 1, "threshold": 0}]}]}]})",
         4, "drive 2, reading 1, attribute 1: \"id\" must be an integer from 0 to 255"},
        {attribute(", \"threshold\": -1"), 2, "\"threshold\" must be an integer from 0 to 255"},
        {attribute(""), 2, "reading 1, attribute 1: \"threshold\" is missing"},
        {drive(R"("sizeBytes": 99999999999999999999)"), 2,
         "\"sizeBytes\" must be an integer from 0 to 9223372036854775807"},
        {drive(R"("smartInterface": "yes")"), 2, "\"smartInterface\" must be true or false"},
        {drive("\"readDataStatus\": 0,\n\"readDataStatuss\": 1"), 3,
         "drive 1: unknown key \"readDataStatuss\""},
        {attribute(", \"threshold\": 0, \"raw\": [1, 2, 3, 4, 5, 6,\n7]"), 3,
         "\"raw\" holds more than six bytes"},
        {reading("{\"attributes\": [" + thirtyOne + "]}"), 32,
         "drive 1, reading 1: more than 30 attributes"},
        {reading(R"({"dataPage": "000102", "thresholdsPage": ""})"), 2,
         "\"dataPage\" must be a string of 1024 hexadecimal digits (512 bytes), not 6"},
        {reading("{\"thresholdsPage\": \"" + zeros + "\",\n\"dataPage\": \"" +
                 std::string(10, '0') + "g" + zeros.substr(11) + "\"}"),
         3, "character 11 is not a hexadecimal digit"},
        {reading("{\"dataPage\": \"" + zeros + "\"}"), 2, "\"thresholdsPage\" is missing"},
        {reading("{\"attributes\": [],\n\"dataPage\": \"\"}"), 3,
         "either \"attributes\" or the two pages, not both"},
        {reading("{}"), 2, "a reading needs \"attributes\""},
        {drive(R"("kind": "sata")"), 2, "drive 1: \"kind\" must be \"ata\" or \"nvme\""},
        {drive("\"kind\": \"nvme\",\n\"enableStatus\": 0"), 3,
         "drive 1: \"enableStatus\" is for ATA drives, and this one is \"kind\": \"nvme\""},
        {drive(R"("sensorCelsius": 40)"), 2,
         "drive 1: \"sensorCelsius\" is for NVMe drives: the drive needs \"kind\": \"nvme\""},
        {nvmeReading(R"({"attributes": []})"), 2, "reading 1: \"attributes\" is for ATA drives"},
        {reading(R"({"healthPage": ""})"), 2, "reading 1: \"healthPage\" is for NVMe drives"},
        {drive("\"kind\": \"nvme\", \"sensorCelsius\": -274"), 2,
         "\"sensorCelsius\" must be an integer from -273 to 1000"},
        {nvmeReading(R"({"health": {"availableSpare": 101}})"), 2,
         "drive 1, reading 1: \"availableSpare\" must be an integer from 0 to 100"},
        {nvmeReading(R"({"health": {"mediaErrors": 18446744073709551616}})"), 2,
         "\"mediaErrors\" must be an integer from 0 to 18446744073709551615"},
        {nvmeReading(R"({"health": {"powerOnHour": 1}})"), 2, "unknown key \"powerOnHour\""},
        {nvmeReading(R"({"health": []})"), 2, "\"health\" must be an object"},
        {nvmeReading("{}"), 2, "a reading of an NVMe drive needs \"health\" or \"healthPage\""},
        {nvmeReading("{\"health\": {},\n\"healthPage\": \"\"}"), 3,
         "either \"health\" or \"healthPage\", not both"},
        {attribute(", \"threshold\": 0, \"every\": 3"), 2, "\"every\" needs a \"rawStep\""},
        {attribute(", \"threshold\": 0, \"rawStep\": 1, \"every\": 0"), 2,
         "\"every\" must be an integer from 1 to 65535"},
        {attribute(", \"threshold\": 0, \"rawStep\": 281474976710656"), 2,
         "\"rawStep\" must be an integer from 0 to 281474976710655"},
    };
    for (const auto& c : cases) {
        const std::string path = tree.Write("bad.json", c.text);
        const auto [count, err] = Load(path);
        EXPECT_EQ(count, 0u);
        const std::string head = "zentrova: " + path + ":" + std::to_string(c.line) + ": ";
        EXPECT_TRUE(err.starts_with(head) && err.find(c.message) != std::string::npos &&
                    err.find('\n') + 1 == err.size())
            << c.message << err;
    }

    // Files that cannot be read name the reason instead of a line; a FIFO
    // nobody writes to must not block.
    const std::string dir = tree.root().string() + "/";
    ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir + "absent.json", dir, dir + "fifo"}) {
        const auto [count, err] = Load(path);
        EXPECT_TRUE(count == 0 && err.starts_with("zentrova: " + path + ": cannot ")) << err;
    }
}

// A growing raw count: the demo's sda reallocates one sector every third
// poll from its 8 while its value stays far above the threshold; a count at
// the six bytes' top stays there; data reads alone never grow it.
TEST(SimulatedDrives, RawCountsGrowWithThePolls) {
    zentrova::testing::TempTree tree;
    const std::string path = tree.Write("grow.json", R"({"drives": [{"readings": [
        {"attributes": [{"id": 5, "value": 1, "worst": 1, "threshold": 0,
                         "raw": [254, 255, 255, 255, 255, 255], "rawStep": 1}]}]}]})");
    std::vector<BlockStorageService> demo =
        SimulatedRegistry(ZENTROVA_DEMO_DRIVES).BlockStorageServices();
    std::vector<BlockStorageService> top = SimulatedRegistry(path).BlockStorageServices();
    ASSERT_TRUE(demo.size() == 4u && top.size() == 1u);
    std::string counts;
    for (int poll = 0; poll < 7; ++poll) {
        Page data{}, thresholds{};
        ASSERT_EQ(demo[0].smartInterface->SMARTReadData(data.data()), 0);
        ASSERT_EQ(demo[0].smartInterface->SMARTReadData(data.data()), 0);
        ASSERT_EQ(demo[0].smartInterface->SMARTReadDataThresholds(thresholds.data()), 0);
        // sda's attribute 5 is its fourth entry.
        const std::uint8_t* entry = data.data() + 2 + 12 * 3;
        ASSERT_TRUE(entry[0] == 5 && entry[3] == 100 && thresholds[2 + 12 * 3 + 1] == 36);
        counts += std::to_string(entry[5] | entry[6] << 8) + " ";
        ASSERT_EQ(top[0].smartInterface->SMARTReadData(data.data()), 0);
        ASSERT_EQ(top[0].smartInterface->SMARTReadDataThresholds(thresholds.data()), 0);
        counts += Hex(data).substr(14) + " ";
    }
    EXPECT_EQ(counts,
              "8 feffffffffff 8 ffffffffffff 8 ffffffffffff 9 ffffffffffff 9 ffffffffffff 9 "
              "ffffffffffff 10 ffffffffffff ");
}

// The demo's drives test themselves: ten percent more with each read of the
// data page, one test at a time, into the log; sdc's every test fails at its
// LBA with 60 % left, the others pass, an abort is logged as such.
TEST(SimulatedDrives, DemoDrivesRunTheirSelfTestsIntoTheirLogs) {
    namespace st = zentrova::selftest;
    std::vector<BlockStorageService> drives =
        SimulatedRegistry(ZENTROVA_DEMO_DRIVES).BlockStorageServices();
    ASSERT_EQ(drives.size(), 4u);
    struct Case {
        std::size_t drive;
        SelfTestCommand stop; // Short: let it end
        int polls;
        st::Verdict verdict;
        std::optional<std::uint64_t> lba;
    };
    const Case cases[] = {
        {0, SelfTestCommand::Short, 9, st::Verdict::Passed, std::nullopt},
        {2, SelfTestCommand::Short, 3, st::Verdict::Failed, 48213517},
        {2, SelfTestCommand::Abort, 1, st::Verdict::Aborted, std::nullopt},
        {3, SelfTestCommand::Short, 9, st::Verdict::Passed, std::nullopt},
    };
    for (const Case& c : cases) {
        AtaSmartInterface& smart = *drives[c.drive].smartInterface;
        const bool ata = drives[c.drive].kind == DriveKind::Ata;
        Page page{};
        ASSERT_EQ(smart.SMARTExecuteSelfTest(SelfTestCommand::Short), 0);
        EXPECT_NE(smart.SMARTExecuteSelfTest(SelfTestCommand::Extended), 0) << c.drive;
        for (int n = 0; n < c.polls; ++n) {
            ASSERT_EQ(smart.SMARTReadData(page.data()), 0);
            if (ata && n == 0) {
                EXPECT_EQ(st::DecodeExecutionStatus(page.data()).percentRemaining, 90);
            }
        }
        if (c.stop == SelfTestCommand::Abort) {
            EXPECT_EQ(smart.SMARTExecuteSelfTest(SelfTestCommand::Abort), 0);
        }
        ASSERT_EQ(smart.SMARTReadData(page.data()), 0);
        if (ata) {
            EXPECT_EQ(st::DecodeExecutionStatus(page.data()).verdict, c.verdict) << c.drive;
            EXPECT_TRUE(st::DecodeCapability(page.data()).supported);
        }
        ASSERT_EQ(smart.SMARTReadSelfTestLog(page.data()), 0);
        const auto entries = ata ? st::DecodeAtaSelfTestLog(page.data())
                                 : st::DecodeNvmeSelfTestLog(page.data(), page.size()).entries;
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries[0].verdict, c.verdict) << c.drive;
        EXPECT_EQ(entries[0].failingLba, c.lba) << c.drive;
        EXPECT_EQ(entries[0].type, st::TestType::Short);
    }
    EXPECT_EQ(drives[1].smartInterface->SMARTReadSelfTestLog(Page{}.data()), kNoSelfTests);
}
