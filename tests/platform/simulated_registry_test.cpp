#include "device/device.h"
#include "device/knowndrives.h"
#include "platform/sim/simulated_registry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace zentrova::device;
using zentrova::platform::SimulatedRegistry;

namespace {

using Page = std::array<std::uint8_t, 512>;
namespace fs = std::filesystem;

class SimulatedDrives : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetDeviceGlobalsForTest();
        std::string pattern = (fs::temp_directory_path() / "zentrova-sim-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        ResetDeviceGlobalsForTest();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // The first three records of the list, which must hold exactly three.
    static std::array<xDEV_INFO*, 3> ThreeDrives() {
        EXPECT_EQ(dev.nDevCnt, 3);
        xDEV_INFO* first = dev.gpHeadDevInfo;
        xDEV_INFO* second = first != nullptr ? first->pNext : nullptr;
        xDEV_INFO* third = second != nullptr ? second->pNext : nullptr;
        EXPECT_NE(third, nullptr);
        EXPECT_TRUE(third == nullptr || third->pNext == nullptr);
        return {first, second, third};
    }
    fs::path dir_;
};

std::string Hex(const Page& page) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : page)
        out += {digits[b >> 4], digits[b & 15]};
    return out;
}

// Data and thresholds page of the selected drive's next poll.
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
    const std::string path = Write("good.json", R"({
  "comment": "drives for the test",
  "drives": [
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
    {"model": "NO NAME"}
  ]
})");
    SimulatedRegistry registry(path);
    testing::internal::CaptureStderr();
    SMARTDeviceDetection(registry);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // Without an interface or a name a drive is left out; every other field
    // reaches the record.
    const std::array<xDEV_INFO*, 3> drives = ThreeDrives();
    ASSERT_NE(drives[2], nullptr);
    EXPECT_STREQ(drives[0]->szDevFilePath, "/dev/sda");
    EXPECT_STREQ(drives[0]->szModelNum, "HD-EXAMPLE 80G");
    EXPECT_STREQ(drives[0]->szFirmwareRev, "FW01");
    EXPECT_EQ(drives[0]->nSizeGB, 232);
    EXPECT_EQ(drives[0]->bSmartEnabled, 1);
    EXPECT_EQ(drives[0]->nTemperature, 36);
    EXPECT_STREQ(drives[1]->szDevFilePath, "/dev/sdb");
    EXPECT_EQ(drives[1]->nSizeGB, 0);
    EXPECT_EQ(drives[1]->bSmartEnabled, 0);
    // A failing data read gives no temperature even though the reading has one.
    EXPECT_STREQ(drives[2]->szDevFilePath, "/dev/sdd");
    EXPECT_EQ(drives[2]->nTemperature, 0);

    // Detection's temperature read did not move the drive on: this is reading 1.
    Page data{}, thresholds{};
    dev.gpSelDevInfo = drives[0];
    ASSERT_TRUE(Poll(data, thresholds));
    Page expectedData{}, expectedThresholds{};
    const std::uint8_t entry0[] = {5, 0x34, 0x12, 100, 99, 1, 2, 3, 4, 5, 6, 0};
    const std::uint8_t entry1[] = {194, 0, 0, 64, 50, 36, 0, 20, 0, 0, 0, 0};
    std::copy(std::begin(entry0), std::end(entry0), expectedData.begin() + 2);
    std::copy(std::begin(entry1), std::end(entry1), expectedData.begin() + 14);
    expectedThresholds[2] = 5;
    expectedThresholds[3] = 36;
    expectedThresholds[14] = 194;
    EXPECT_EQ(data, expectedData);
    EXPECT_EQ(thresholds, expectedThresholds);

    // Data reads alone never move the drive on; the thresholds read does.
    ASSERT_EQ(drives[0]->ppSmartInterface->SMARTReadData(data.data()), 0);
    ASSERT_TRUE(Poll(data, thresholds));
    EXPECT_EQ(data[7], 40);
    EXPECT_EQ(thresholds[3], 7);
    // The hexadecimal reading, then the same again: the last one repeats.
    for (int poll = 0; poll < 2; ++poll) {
        ASSERT_TRUE(Poll(data, thresholds));
        EXPECT_EQ(data, hexData);
        EXPECT_EQ(thresholds, hexThresholds);
    }

    // No readings: zero pages.
    dev.gpSelDevInfo = drives[1];
    ASSERT_TRUE(Poll(data, thresholds));
    EXPECT_EQ(data, Page{});
    EXPECT_EQ(thresholds, Page{});

    // Failing reads answer their status and leave the page as it was.
    dev.gpSelDevInfo = drives[2];
    EXPECT_FALSE(Poll(data, thresholds));
    EXPECT_EQ(drives[2]->ppSmartInterface->SMARTReadData(data.data()), -3);
    EXPECT_EQ(drives[2]->ppSmartInterface->SMARTReadDataThresholds(thresholds.data()), 4);
    EXPECT_EQ(data[2], 0xAA);
    EXPECT_EQ(thresholds[2], 0xAA);

    // Every call describes the drives afresh, from their first reading.
    std::vector<zentrova::platform::BlockStorageService> fresh = registry.BlockStorageServices();
    ASSERT_EQ(fresh.size(), 5u);
    ASSERT_EQ(fresh[0].smartInterface->SMARTReadData(data.data()), 0);
    EXPECT_EQ(data[2], 5);
}

TEST_F(SimulatedDrives, DemoDrivesChosenThroughTheEnvironment) {
    ASSERT_EQ(setenv("ZENTROVA_SIMULATED_DRIVES", ZENTROVA_DEMO_DRIVES, 1), 0);
    std::unique_ptr<zentrova::platform::DeviceRegistry> registry =
        zentrova::platform::CreateSystemDeviceRegistry();
    unsetenv("ZENTROVA_SIMULATED_DRIVES");
    testing::internal::CaptureStderr();
    SMARTDeviceDetection(*registry);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const std::array<xDEV_INFO*, 3> drives = ThreeDrives();
    ASSERT_NE(drives[2], nullptr);
    EXPECT_EQ(drives[0]->nTemperature, 36);
    EXPECT_STREQ(drives[1]->szModelNum, "SAMSUNG SV1204H");
    EXPECT_EQ(lookupdrive(drives[1]->szModelNum, drives[1]->szFirmwareRev, 194), 1);
    EXPECT_EQ(drives[1]->nTemperature, 41);
    EXPECT_STREQ(drives[2]->szDevFilePath, "/dev/sdc");
    EXPECT_EQ(drives[2]->nTemperature, 38);
}

TEST_F(SimulatedDrives, BadFilesGiveNoDrivesAndNameTheLine) {
    const std::string attribute = R"({"id": 5, "value": 100, "worst": 100, "threshold": 36})";
    std::string thirtyOne = "{\"drives\": [{\"readings\": [{\"attributes\": [\n";
    for (int i = 0; i < 31; ++i)
        thirtyOne += attribute + (i < 30 ? ",\n" : "\n");
    thirtyOne += "]}]}]}";
    std::string badDigit(1024, '0');
    badDigit[10] = 'g';
    const std::string zeros(1024, '0');
    const std::string deep =
        "{\"drives\": " + std::string(100000, '[') + std::string(100000, ']') + "}";

    struct Case {
        std::string text;
        int line; // 0: no line in the message
        std::string message;
    };
    const std::vector<Case> cases = {
        {"", 1, "not valid JSON"},
        {"{\n  \"drives\": [\n    {\"bsdName\": sda}\n  ]\n}", 3, "not valid JSON"},
        {"{\n  \"drives\": [\n", 2, "not valid JSON"},
        {"\xEF\xBB\xBF{\"drives\":\n[{\"model\": 7}]}", 2, "drive 1: \"model\" must be a string"},
        {"[\n]", 1, "the file must hold an object with a \"drives\" list"},
        {"\n\n{ }", 3, "\"drives\" is missing"},
        {"{\"drives\":\n {}}", 2, "\"drives\" must be a list of drives"},
        {"{\"drives\": [\n{},\n1]}", 3, "drive 2: a drive must be an object"},
        {deep, 1, "nested more than 64 levels deep"},
        // Strings full of brackets and escapes before the fault, a key
        // written with an escape, and the message of the example.
        {"{\"drives\": [\n  {\"model\": \"a [{\\\"}\"},\n  {\"readings\": [{\"attributes\": [\n"
         "    " +
             attribute + ",\n    " + attribute +
             ",\n"
             "    {\"\\u0069d\": 256, \"value\": 1, \"worst\": 1, \"threshold\": 0}]}]}]}",
         6, "drive 2, reading 1, attribute 3: \"id\" must be an integer from 0 to 255"},
        {"{\"drives\": [{\"readings\": [{\"attributes\": [\n{\"id\": 5, \"value\": -1, "
         "\"worst\": 1, \"threshold\": 0}]}]}]}",
         2, "attribute 1: \"value\" must be an integer from 0 to 255"},
        {"{\"drives\": [{\"readings\": [{\"attributes\": [\n{\"id\": 5.0, \"value\": 1, "
         "\"worst\": 1, \"threshold\": 0}]}]}]}",
         2, "\"id\" must be an integer"},
        {"{\"drives\": [{\"readings\": [{\"attributes\": [\n{\"id\": 5,\n\"value\": 1}]}]}]}", 2,
         "reading 1, attribute 1: \"worst\" is missing"},
        {"{\"drives\": [{\n\"sizeBytes\": 99999999999999999999}]}", 2,
         "\"sizeBytes\" must be an integer from 0 to 9223372036854775807"},
        {"{\"drives\": [{\n\"enableStatus\": 2147483648}]}", 2,
         "\"enableStatus\" must be an integer from -2147483648 to 2147483647"},
        {"{\"drives\": [{\n\"smartInterface\": \"yes\"}]}", 2,
         "\"smartInterface\" must be true or false"},
        {"{\"drives\": [{\"readDataStatus\": 0,\n\"readDataStatuss\": 1}]}", 2,
         "drive 1: unknown key \"readDataStatuss\""},
        {"{\"drives\": [{\"model\": \"A\",\n\"model\": 7}]}", 2, "\"model\" must be a string"},
        {"{\"drives\": [{\"readings\": [{\"attributes\": [{\"id\": 5, \"value\": 1, \"worst\": 1, "
         "\"threshold\": 0, \"raw\": [1, 2, 3, 4, 5, 6,\n7]}]}]}]}",
         2, "\"raw\" holds more than six bytes"},
        {"{\"drives\": [{\"readings\": [{\"attributes\": [{\"id\": 5, \"value\": 1, \"worst\": 1, "
         "\"threshold\": 0, \"raw\": [1,\n256]}]}]}]}",
         2, "byte 2 of \"raw\" must be an integer from 0 to 255"},
        {thirtyOne, 32, "drive 1, reading 1: more than 30 attributes"},
        {"{\"drives\": [{\"readings\": [\n{\"dataPage\": \"000102\", \"thresholdsPage\": \"\"}]}]}",
         2,
         "reading 1: \"dataPage\" must be a string of 1024 hexadecimal digits (512 bytes), not 6"},
        {"{\"drives\": [{\"readings\": [{\"thresholdsPage\": \"" + zeros + "\",\n\"dataPage\": \"" +
             badDigit + "\"}]}]}",
         2, "character 11 is not a hexadecimal digit"},
        {"{\"drives\": [{\"readings\": [\n{\"dataPage\": \"" + zeros + "\"}]}]}", 2,
         "\"thresholdsPage\" is missing"},
        {"{\"drives\": [{\"readings\": [{\"attributes\": [],\n\"dataPage\": \"\"}]}]}", 2,
         "either \"attributes\" or the two pages, not both"},
        {"{\"drives\": [{\"readings\": [\n{}]}]}", 2, "a reading needs \"attributes\""},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const std::string path = Write("bad" + std::to_string(i) + ".json", cases[i].text);
        SimulatedRegistry registry(path);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(registry.BlockStorageServices().empty());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("zentrova: " + path + ":" + std::to_string(cases[i].line) + ": ", 0),
                  0u)
            << err;
        EXPECT_NE(err.find(cases[i].message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }

    // Files that cannot be read name the reason instead of a line; a FIFO
    // nobody writes to must not block.
    const std::string fifo = (dir_ / "fifo.json").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {(dir_ / "absent.json").string(), dir_.string(), fifo}) {
        SimulatedRegistry registry(path);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(registry.BlockStorageServices().empty());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("zentrova: " + path + ": cannot ", 0), 0u) << err;
    }
}

TEST_F(SimulatedDrives, DamagedDemoFilesNeverCrash) {
    std::ifstream in(ZENTROVA_DEMO_DRIVES, std::ios::binary);
    const std::string demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(demo.empty());
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        std::string text = demo;
        const int damage = 1 + static_cast<int>(random() % 4);
        for (int d = 0; d < damage; ++d) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text[at] = static_cast<char>(random() % 256);
                break;
            case 1:
                text.erase(at, 1 + random() % 40);
                break;
            default:
                text.resize(at);
                break;
            }
            if (text.empty())
                break;
        }
        SimulatedRegistry registry(Write("damaged.json", text));
        testing::internal::CaptureStderr();
        const std::size_t count = registry.BlockStorageServices().size();
        const std::string err = testing::internal::GetCapturedStderr();
        // A reported fault never comes with drives.
        EXPECT_TRUE(err.empty() || count == 0) << err;
    }
}
