#include "settings/settings_page.h"
#include "settings_fixture.h"

#include <QFile>

#include <plist/plist.h>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

const QByteArray kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
                         "\"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n<dict>\n";
const QByteArray kOther = "<dict><key>Path</key><string>/Applications/Other.app</string></dict>";
const QByteArray kHidden = "<dict><key>Hide</key><true/><key>Path</key>"
                           "<string>/Applications/Zentrova.app</string></dict>";
const QByteArray kOurs = "<dict><key>Hide</key><false/><key>Path</key>"
                         "<string>/Applications/Zentrova.app</string></dict>";

class LoginItem : public SettingsFixture {
  protected:
    void WriteList(const QByteArray& elements) {
        ASSERT_TRUE(Append(settings::LoginWindowPath(),
                           kHead +
                               "<key>A</key><string>first</string>\n<key>"
                               "AutoLaunchedApplicationDictionary</key><array>" +
                               elements +
                               "</array>\n<key>Z</key><integer>7</integer>\n</dict>\n"
                               "</plist>\n"));
    }
    // The list as "O" (another application), "H" (ours, hidden), "Z" (ours),
    // or "-" when the key is absent; and the root's keys in order.
    std::string List(std::string* keys = nullptr) {
        const QByteArray bytes = ReadAll(settings::LoginWindowPath());
        plist_t root = nullptr;
        plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
        if (root == nullptr)
            return "<unreadable>";
        std::string out = "-";
        if (plist_t list = plist_dict_get_item(root, "AutoLaunchedApplicationDictionary")) {
            out.clear();
            for (uint32_t i = 0; i < plist_array_get_size(list); ++i) {
                plist_t hide = plist_dict_get_item(plist_array_get_item(list, i), "Hide");
                uint8_t hidden = 0;
                if (hide != nullptr)
                    plist_get_bool_val(hide, &hidden);
                out += hide == nullptr ? 'O' : hidden ? 'H' : 'Z';
            }
        }
        if (keys != nullptr) {
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(root, &it);
            for (char* key = nullptr;; std::free(key)) {
                plist_t value = nullptr;
                plist_dict_next_item(root, it, &key, &value);
                if (key == nullptr)
                    break;
                *keys += key;
            }
            std::free(it);
        }
        plist_free(root);
        return out;
    }
};

struct ListCase {
    const char* name;
    QByteArray elements; // null: no file at all
    std::vector<bool> applies;
    std::string list;
};
// Test names carry the case name; the values stay out of them.
inline void PrintTo(const ListCase&, std::ostream*) {}

class Rules : public LoginItem, public ::testing::WithParamInterface<ListCase> {};

TEST_P(Rules, AddAtTheEndOnceRemoveOnlyEqualElements) {
    const ListCase& c = GetParam();
    if (!c.elements.isNull())
        WriteList(c.elements);
    for (bool on : c.applies)
        ASSERT_EQ(settings::UpdateStartUpDictionary(on), "");
    std::string keys;
    EXPECT_EQ(List(&keys), c.list);
    if (!c.elements.isNull()) {
        EXPECT_EQ(keys, "AAutoLaunchedApplicationDictionaryZ"); // the rest keeps its order
    }
    EXPECT_EQ(QFile::exists(settings::AutostartEntryPath()), c.list.back() == 'Z');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rules,
    ::testing::Values(ListCase{"TwiceOn", kOurs + kOther + kHidden, {true, true}, "OHZ"},
                      ListCase{"Off", kOurs + kOther + kOurs + kHidden, {false}, "OH"},
                      ListCase{"OnThenOff", kHidden + kOther, {true, false}, "HO"},
                      ListCase{"NoListOn", QByteArray(), {true}, "Z"},
                      ListCase{"NoListOff", QByteArray(), {false}, "<unreadable>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoginItem, AutostartEntryStartsTheMonitorAtHomeAndOtherEntriesStay) {
    settings::SetInstalledMonitorCommand([] { return QString("/opt/my monitor/zentrova"); });
    const QString neighbour = config.path() + "/autostart/other.desktop";
    ASSERT_TRUE(QDir().mkpath(config.path() + "/autostart"));
    ASSERT_TRUE(Append(neighbour, "[Desktop Entry]\n"));
    ASSERT_EQ(settings::UpdateStartUpDictionary(true), "");
    const QByteArray entry = ReadAll(settings::AutostartEntryPath());
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/my monitor/zentrova\"\n"));
    EXPECT_TRUE(entry.contains("\nPath=" + QDir::homePath().toUtf8() + "\n"));
    ASSERT_EQ(settings::UpdateStartUpDictionary(false), "");
    EXPECT_FALSE(QFile::exists(settings::AutostartEntryPath()));
    EXPECT_EQ(ReadAll(neighbour), "[Desktop Entry]\n");
    settings::SetInstalledMonitorCommand({});
}

TEST_F(LoginItem, AnUnreadableListIsLeftAlone) {
    ASSERT_TRUE(Append(settings::LoginWindowPath(), "not a list"));
    EXPECT_NE(settings::UpdateStartUpDictionary(true), "");
    EXPECT_EQ(ReadAll(settings::LoginWindowPath()), "not a list");
}

TEST_F(LoginItem, ApplyKeepsTheUserDefaultAndTheListInLine) {
    EXPECT_FALSE(settings::CheckForStartUpFlagInList()); // absent reads as off
    AddDrives(1);
    Select(0);
    settings::ApplySettings(host, {true, "1", "0", true, "50", true, true});
    EXPECT_TRUE(settings::CheckForStartUpFlagInList());
    EXPECT_TRUE(settings::SettingsForSelectedDrive(host).startsUp);
    EXPECT_EQ(List(), "Z");
    EXPECT_TRUE(QFile::exists(config.path() + "/Zentrova/zentrova.conf"));
    settings::ApplySettings(host, {true, "1", "0", true, "50", true, false});
    EXPECT_FALSE(settings::CheckForStartUpFlagInList());
    EXPECT_EQ(List(), "");
}

} // namespace
