#include "settings_fixture.h"

#include <QFile>
#include <QRegularExpression>

using namespace zentrova;
using namespace zentrova::testing;

namespace {

// Elements of the log-in list: another application's, ours hidden, ours.
const QByteArray O = "<dict><key>Path</key><string>/Applications/Other.app</string></dict>";
const QByteArray H = "<dict><key>Hide</key><true/><key>Path</key>"
                     "<string>/Applications/Zentrova.app</string></dict>";
const QByteArray Z = "<dict><key>Hide</key><false/><key>Path</key>"
                     "<string>/Applications/Zentrova.app</string></dict>";

class LoginItem : public SettingsFixture {
  protected:
    void WriteList(const QByteArray& elements) {
        ASSERT_TRUE(Append(settings::LoginWindowPath(),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                           "<dict><key>A</key><string>first</string><key>"
                           "AutoLaunchedApplicationDictionary</key><array>" +
                               elements +
                               "</array><key>Y</key><integer>7</integer></dict></plist>"));
    }
    // The root's keys, then the list as letters O, H, Z ("-" without a list).
    std::string List() {
        const QString xml = QString::fromUtf8(ReadAll(settings::LoginWindowPath()));
        QString out;
        for (const auto& key : QRegularExpression("\n\t<key>(\\w+)</key>").globalMatch(xml))
            out += key.captured(1).left(1);
        const qsizetype begin = xml.indexOf("<array>");
        if (begin < 0)
            return (out + " -").toStdString();
        out += ' ';
        const QString list = xml.mid(begin, xml.indexOf("</array>") - begin);
        QRegularExpression element("<dict>(.*?)</dict>",
                                   QRegularExpression::DotMatchesEverythingOption);
        for (const auto& e : element.globalMatch(list))
            out += e.captured(1).contains("<true/>")    ? 'H'
                   : e.captured(1).contains("<false/>") ? 'Z'
                                                        : 'O';
        return out.toStdString();
    }
};

TEST_F(LoginItem, AddsOnceAtTheEndRemovesOnlyEqualElementsAndMirrorsAutostart) {
    struct Case {
        const char* name;
        QByteArray elements; // null: no file
        std::vector<bool> applies;
        std::string list;
    } cases[] = {
        {"twice on", Z + O + H, {true, true}, "AAY OHZ"},
        {"off", Z + O + Z + H, {false}, "AAY OH"},
        {"on, off", H + O, {true, false}, "AAY HO"},
        {"no list, on", QByteArray(), {true}, "A Z"},
        {"no list, off", QByteArray(), {false}, " -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        if (!c.elements.isNull())
            WriteList(c.elements);
        for (bool on : c.applies)
            ASSERT_EQ(settings::UpdateStartUpDictionary(on), "");
        EXPECT_EQ(List(), c.list);
        EXPECT_EQ(QFile::exists(settings::AutostartEntryPath()), c.list.back() == 'Z');
    }
}

TEST_F(LoginItem, AutostartEntryStartsTheMonitorAtHomeAndLeavesOtherEntries) {
    settings::SetInstalledMonitorCommand([] { return QString("/opt/my monitor/zentrova"); });
    const QString neighbour = config.path() + "/autostart/other.desktop";
    ASSERT_TRUE(QDir().mkpath(config.path() + "/autostart") && Append(neighbour, "x"));
    ASSERT_EQ(settings::UpdateStartUpDictionary(true), "");
    const QByteArray entry = ReadAll(settings::AutostartEntryPath());
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/my monitor/zentrova\"\n"));
    EXPECT_TRUE(entry.contains("\nPath=" + QDir::homePath().toUtf8() + "\n"));
    ASSERT_EQ(settings::UpdateStartUpDictionary(false), "");
    EXPECT_FALSE(QFile::exists(settings::AutostartEntryPath()));
    EXPECT_EQ(ReadAll(neighbour), "x");
    settings::SetInstalledMonitorCommand({});

    // A list we cannot read is left alone.
    ASSERT_TRUE(QFile::remove(settings::LoginWindowPath()) &&
                Append(settings::LoginWindowPath(), "not a list"));
    EXPECT_NE(settings::UpdateStartUpDictionary(true), "");
    EXPECT_EQ(ReadAll(settings::LoginWindowPath()), "not a list");
}

TEST_F(LoginItem, ApplyKeepsTheUserDefaultAndTheListInLine) {
    EXPECT_FALSE(settings::CheckForStartUpFlagInList()); // absent reads as off
    AddDrives(1);
    Select(0);
    for (bool on : {true, false}) {
        settings::ApplySettings(host, {true, "1", "0", true, "50", true, on});
        EXPECT_EQ(settings::CheckForStartUpFlagInList(), on);
        EXPECT_EQ(settings::SettingsForSelectedDrive(host).startsUp, on);
        EXPECT_EQ(List(), on ? "A Z" : "A ");
    }
    EXPECT_TRUE(ReadAll(config.path() + "/Zentrova/zentrova.conf").contains("RunAt_Startup=0"));
}

} // namespace
