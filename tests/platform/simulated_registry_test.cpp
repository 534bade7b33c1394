#include "device/device.h"
#include "platform/sim/simulated_registry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>

using namespace zentrova::device;
using zentrova::platform::SimulatedRegistry;
using Page = std::array<std::uint8_t, 512>;

namespace {

class SimulatedDrives : public ::testing::Test {
  protected:
    void SetUp() override { ResetDeviceGlobalsForTest(); }
    void TearDown() override {
        ResetDeviceGlobalsForTest();
        std::filesystem::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + name, std::ios::binary) << text;
        return dir_ + name;
    }
    // What the registry's drives and stderr come to, through detection.
    std::vector<std::string> Detect(zentrova::platform::DeviceRegistry& registry) {
        testing::internal::CaptureStderr();
        SMARTDeviceDetection(registry);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        std::vector<std::string> out;
        for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
            out.push_back(std::string(r->szDevFilePath) + "|" + r->szModelNum + "|" +
                          r->szFirmwareRev + "|" + std::to_string(r->nSizeGB) + "|" +
                          std::to_string(r->bSmartEnabled) + "|" + std::to_string(r->nTemperature));
        EXPECT_EQ(dev.nDevCnt, static_cast<int>(out.size()));
        return out;
    }
    std::string dir_ = [] {
        std::string pattern = std::filesystem::temp_directory_path() / "zentrova-sim-XXXXXX";
        return ::mkdtemp(pattern.data()) != nullptr ? pattern + "/" : std::string("/nonexistent/");
    }();
};

std::string Hex(const Page& page) {
    std::string out;
    for (std::uint8_t b : page)
        out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return out;
}

// How many drives a file gives, and what was said about it.
std::pair<std::size_t, std::string> Load(const std::string& path) {
    SimulatedRegistry registry(path);
    testing::internal::CaptureStderr();
    const std::size_t count = registry.BlockStorageServices().size();
    return {count, testing::internal::GetCapturedStderr()};
}

// Data and thresholds pages of the selected drive's next poll.
bool Poll(Page& data, Page& thresholds) {
    data.fill(0xAA);
    thresholds.fill(0xAA);
    return GetSMARTAttributeAndThreshold(data.data(), thresholds.data()) == 1;
}

} // namespace

TEST_F(SimulatedDrives, GoodFileThroughDetectionAndPolls) {
    Page hexData{}, hexThresholds{};
    for (std::size_t i = 0; i < hexData.size(); ++i) {
        hexData[i] = static_cast<std::uint8_t>(i * 7);
        hexThresholds[i] = static_cast<std::uint8_t>(255 - i);
    }
    SimulatedRegistry registry(Write("good.json", R"({"comment": "drives for the test", "drives": [
    {"bsdName": "sda", "sizeBytes": 250059350016, "model": "HD-EXAMPLE 80G", "firmware": "FW01",
     "readings": [
       {"attributes": [
         {"id": 5, "flags": 4660, "value": 100, "worst": 99, "raw": [1, 2, 3, 4, 5, 6], "threshold": 36},
         {"id": 194, "value": 64, "worst": 50, "raw": [36, 0, 20], "threshold": 0}]},
       {"attributes": [{"id": 194, "value": 60, "worst": 50, "raw": [40], "threshold": 7}]},
       {"dataPage": ")" + Hex(hexData) + R"(", "thresholdsPage": ")" +
                                                      Hex(hexThresholds) + R"("}]},
    {"bsdName": "sdb", "model": "NO SIZE", "enableStatus": 5},
    {"bsdName": "sdc", "model": "NO SMART", "smartInterface": false},
    {"bsdName": "sdd", "firmware": "ONLYFW", "readDataStatus": -3, "readThresholdsStatus": 4,
     "readings": [{"attributes": [{"id": 194, "value": 1, "worst": 1, "raw": [44], "threshold": 0}]}]},
    {"model": "NO NAME"}]})"));
    // Without an interface or a name a drive is left out; a failing data read
    // gives no temperature even though the reading has one.
    ASSERT_EQ(Detect(registry),
              (std::vector<std::string>{"/dev/sda|HD-EXAMPLE 80G|FW01|232|1|36",
                                        "/dev/sdb|NO SIZE||0|0|0", "/dev/sdd||ONLYFW|0|1|0"}));
    xDEV_INFO* const sda = dev.gpHeadDevInfo;
    xDEV_INFO* const sdd = dev.gpCurrDevInfo;

    // Detection's temperature read did not move the drive on: this is reading 1.
    Page data{}, thresholds{}, expectedData{}, expectedThresholds{};
    dev.gpSelDevInfo = sda;
    ASSERT_TRUE(Poll(data, thresholds));
    const std::uint8_t entries[] = {5,   0x34, 0x12, 100, 99, 1,  2, 3,  4, 5, 6, 0,
                                    194, 0,    0,    64,  50, 36, 0, 20, 0, 0, 0, 0};
    std::copy(std::begin(entries), std::end(entries), expectedData.begin() + 2);
    expectedThresholds[2] = 5;
    expectedThresholds[3] = 36;
    expectedThresholds[14] = 194;
    EXPECT_EQ(std::tie(data, thresholds), std::tie(expectedData, expectedThresholds));

    // Data reads alone never move the drive on; the thresholds read does. The
    // hexadecimal reading, the last, then repeats.
    ASSERT_EQ(sda->ppSmartInterface->SMARTReadData(data.data()), 0);
    ASSERT_TRUE(Poll(data, thresholds));
    EXPECT_EQ(data[7], 40);
    EXPECT_EQ(thresholds[3], 7);
    for (int poll = 0; poll < 2; ++poll) {
        ASSERT_TRUE(Poll(data, thresholds));
        EXPECT_EQ(std::tie(data, thresholds), std::tie(hexData, hexThresholds));
    }

    // No readings: zero pages. Failing reads answer their status and leave
    // the page as it was.
    dev.gpSelDevInfo = sda->pNext;
    ASSERT_TRUE(Poll(data, thresholds));
    EXPECT_EQ(std::tie(data, thresholds), std::make_tuple(Page{}, Page{}));
    dev.gpSelDevInfo = sdd;
    EXPECT_FALSE(Poll(data, thresholds));
    EXPECT_EQ(sdd->ppSmartInterface->SMARTReadData(data.data()), -3);
    EXPECT_EQ(sdd->ppSmartInterface->SMARTReadDataThresholds(thresholds.data()), 4);
    EXPECT_EQ(data[2] + thresholds[2], 2 * 0xAA);

    // Every call describes the drives afresh, from their first reading.
    auto fresh = registry.BlockStorageServices();
    ASSERT_EQ(fresh.size(), 5u);
    ASSERT_EQ(fresh[0].smartInterface->SMARTReadData(data.data()), 0);
    EXPECT_EQ(data[2], 5);
}

TEST_F(SimulatedDrives, DemoDrivesChosenThroughTheEnvironment) {
    ASSERT_EQ(setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_DEMO_DRIVES, 1), 0);
    auto registry = zentrova::platform::CreateSystemDeviceRegistry();
    unsetenv("ZENTROVA_SIMULATED_DRIVES");
    EXPECT_EQ(Detect(*registry),
              (std::vector<std::string>{"/dev/sda|ZENTROVA DEMO HD 250G|ZD1.04|232|1|36",
                                        "/dev/sdb|SAMSUNG SV1204H|RK100-1|111|1|41",
                                        "/dev/sdc|ZENTROVA DEMO HD 80G|ZD0.97|74|1|38"}));
}

namespace {
// The faults below sit on the second line unless a case says otherwise.
std::string Drive(const std::string& body) {
    return "{\"drives\": [{\n" + body + "}]}";
}
std::string Reading(const std::string& body) {
    return "{\"drives\": [{\"readings\": [\n" + body + "]}]}";
}
std::string Attribute(const std::string& body) {
    return "{\"drives\": [{\"readings\": [{\"attributes\": [\n" + body + "]}]}]}";
}
const std::string kAttribute = R"({"id": 5, "value": 100, "worst": 100, "threshold": 36})";
} // namespace

TEST_F(SimulatedDrives, BadFilesGiveNoDrivesAndNameTheLine) {
    std::string thirtyOne = kAttribute;
    for (int i = 1; i < 31; ++i)
        thirtyOne += ",\n" + kAttribute;
    const std::string zeros(1024, '0');
    std::string badDigit = zeros;
    badDigit[10] = 'g';
    const struct {
        std::string text;
        int line;
        std::string message;
    } cases[] = {
        {"", 1, "not valid JSON"},
        {"{\n  \"drives\": [\n    {\"bsdName\": sda}\n  ]\n}", 3, "not valid JSON"},
        {"{\n  \"drives\": [\n", 2, "not valid JSON"},
        {"\xEF\xBB\xBF{\"drives\":\n[{\"model\": 7}]}", 2, "drive 1: \"model\" must be a string"},
        {"[\n]", 1, "the file must hold an object with a \"drives\" list"},
        {"\n\n{ }", 3, "\"drives\" is missing"},
        {"{\"drives\":\n {}}", 2, "\"drives\" must be a list of drives"},
        {"{\"drives\": [\n{},\n1]}", 3, "drive 2: a drive must be an object"},
        {"{\"drives\": " + std::string(100000, '[') + std::string(100000, ']') + "}", 1,
         "nested more than 64 levels deep"},
        // Brackets and escapes in strings before the fault, and a key written
        // with an escape.
        {"{\"drives\": [\n  {\"model\": \"a [{\\\"}\"},\n  {\"readings\": [{\"attributes\": [\n   "
         " " +
             kAttribute + ",\n    " + kAttribute +
             ",\n    {\"\\u0069d\": 256, \"value\": 1, \"worst\": 1, \"threshold\": 0}]}]}]}",
         6, "drive 2, reading 1, attribute 3: \"id\" must be an integer from 0 to 255"},
        {Attribute(R"({"id": 5, "value": -1, "worst": 1, "threshold": 0})"), 2,
         "attribute 1: \"value\" must be an integer from 0 to 255"},
        {Attribute(R"({"id": 5.0, "value": 1, "worst": 1, "threshold": 0})"), 2,
         "\"id\" must be an integer"},
        {Attribute("{\"id\": 5,\n\"value\": 1}"), 2,
         "reading 1, attribute 1: \"worst\" is missing"},
        {Drive(R"("sizeBytes": 99999999999999999999)"), 2,
         "\"sizeBytes\" must be an integer from 0 to 9223372036854775807"},
        {Drive(R"("enableStatus": 2147483648)"), 2,
         "\"enableStatus\" must be an integer from -2147483648 to 2147483647"},
        {Drive(R"("smartInterface": "yes")"), 2, "\"smartInterface\" must be true or false"},
        {Drive("\"readDataStatus\": 0,\n\"readDataStatuss\": 1"), 3,
         "drive 1: unknown key \"readDataStatuss\""},
        {Drive("\"model\": \"A\",\n\"model\": 7"), 3, "\"model\" must be a string"},
        {Attribute(kAttribute.substr(0, kAttribute.size() - 1) +
                   ", \"raw\": [1, 2, 3, 4, 5, 6,\n7]}"),
         3, "\"raw\" holds more than six bytes"},
        {Attribute(kAttribute.substr(0, kAttribute.size() - 1) + ", \"raw\": [1,\n256]}"), 3,
         "byte 2 of \"raw\" must be an integer from 0 to 255"},
        {Attribute(thirtyOne), 32, "drive 1, reading 1: more than 30 attributes"},
        {Reading(R"({"dataPage": "000102", "thresholdsPage": ""})"), 2,
         "reading 1: \"dataPage\" must be a string of 1024 hexadecimal digits (512 bytes), not 6"},
        {Reading("{\"thresholdsPage\": \"" + zeros + "\",\n\"dataPage\": \"" + badDigit + "\"}"), 3,
         "character 11 is not a hexadecimal digit"},
        {Reading("{\"dataPage\": \"" + zeros + "\"}"), 2, "\"thresholdsPage\" is missing"},
        {Reading("{\"attributes\": [],\n\"dataPage\": \"\"}"), 3,
         "either \"attributes\" or the two pages, not both"},
        {Reading("{}"), 2, "a reading needs \"attributes\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string path = Write("bad.json", c.text);
        const auto [count, err] = Load(path);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(err.rfind("zentrova: " + path + ":" + std::to_string(c.line) + ": ", 0), 0u)
            << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }

    // Files that cannot be read name the reason instead of a line; a FIFO
    // nobody writes to must not block.
    ASSERT_EQ(mkfifo((dir_ + "fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir_ + "absent.json", dir_, dir_ + "fifo"}) {
        const auto [count, err] = Load(path);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(err.rfind("zentrova: " + path + ": cannot ", 0), 0u) << err;
    }
}

// Bytes changed, cut out or cut off: a reported fault never comes with drives.
TEST_F(SimulatedDrives, DamagedDemoFilesNeverCrash) {
    std::ifstream in(ZENTROVA_DEMO_DRIVES, std::ios::binary);
    const std::string demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(demo.empty());
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        std::string text = demo;
        for (int d = 1 + static_cast<int>(random() % 4); d > 0 && !text.empty(); --d) {
            const std::size_t at = random() % text.size(), how = random() % 3;
            if (how == 0)
                text[at] = static_cast<char>(random() % 256);
            else
                text.erase(at, how == 1 ? 1 + random() % 40 : std::string::npos);
        }
        const auto [count, err] = Load(Write("damaged.json", text));
        EXPECT_TRUE(err.empty() || count == 0) << err;
    }
}
