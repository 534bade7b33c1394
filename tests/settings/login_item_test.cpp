#include "settings_fixture.h"

#include <QRegularExpression>

using namespace zentrova;
using namespace zentrova::testing;

// Elements of the log-in list: another application's, ours hidden, ours.
const QByteArray O = "<dict><key>Path</key><string>/Applications/Other.app</string></dict>";
const QByteArray H = "<dict><key>Hide</key><true/><key>Path</key>"
                     "<string>/Applications/Zentrova.app</string></dict>";
const QByteArray Z = "<dict><key>Hide</key><false/><key>Path</key>"
                     "<string>/Applications/Zentrova.app</string></dict>";

class LoginItem : public SettingsFixture {
  protected:
    // The root's keys, then the list as letters O, H, Z ("-" without a list).
    std::string List() {
        QString xml = QString::fromUtf8(ReadAll(settings::LoginWindowPath()));
        xml.remove(QRegularExpression("\\s")).replace(O, "O").replace(H, "H").replace(Z, "Z");
        QString out;
        for (const auto& key : QRegularExpression("<key>(\\w)\\w*</key>").globalMatch(xml))
            out += key.captured(1);
        const auto list = QRegularExpression("<array>(\\w*)</array>").match(xml);
        return (out + " " + (list.hasMatch() ? list.captured(1) : "-")).toStdString();
    }
};

TEST_F(LoginItem, AddsOnceAtTheEndRemovesOnlyEqualElementsAndMirrorsAutostart) {
    const struct {
        QByteArray elements; // null: no file
        std::vector<bool> applies;
        std::string list;
    } cases[] = {
        {Z + O + H, {true, true}, "AAY OHZ"}, {Z + O + Z + H, {false}, "AAY OH"},
        {H + O, {true, false}, "AAY HO"},     {QByteArray(), {true}, "A Z"},
        {QByteArray(), {false}, " -"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        Fresh();
        ASSERT_TRUE(
            c.elements.isNull() ||
            Append(settings::LoginWindowPath(),
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>A</key><string>first</string><key>"
                   "AutoLaunchedApplicationDictionary</key><array>" +
                       c.elements + "</array><key>Y</key><integer>7</integer></dict></plist>"));
        for (bool on : c.applies)
            ASSERT_EQ(settings::UpdateStartUpDictionary(on), "");
        EXPECT_EQ(List(), c.list);
        EXPECT_EQ(QFile::exists(settings::AutostartEntryPath()), c.list.back() == 'Z');
    }
}

TEST_F(LoginItem, ApplyKeepsTheUserDefaultTheListAndTheAutostartEntryInLine) {
    EXPECT_FALSE(settings::CheckForStartUpFlagInList()); // absent reads as off
    settings::SetInstalledMonitorCommand([] { return QString("/opt/my monitor/zentrova"); });
    const QString neighbour = config.path() + "/autostart/other.desktop";
    ASSERT_TRUE(QDir().mkpath(config.path() + "/autostart") && Append(neighbour, "x"));
    AddDrives(1);
    for (bool on : {true, false}) {
        settings::ApplySettings(*this, {true, "1", "0", true, "50", true, on});
        EXPECT_EQ(settings::SettingsForSelectedDrive(*this).startsUp, on);
        EXPECT_EQ(List(), on ? "A Z" : "A ");
        const QByteArray entry = ReadAll(settings::AutostartEntryPath());
        EXPECT_EQ(entry.contains("\nExec=\"/opt/my monitor/zentrova\"\n") &&
                      entry.contains("\nPath=" + QDir::homePath().toUtf8() + "\n"),
                  on);
    }
    EXPECT_EQ(ReadAll(neighbour), "x");
    EXPECT_TRUE(ReadAll(config.path() + "/Zentrova/zentrova.conf").contains("RunAt_Startup=0"));
}
