#include "platform/sim/simulated_registry.h"

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
