#include "settings/login_item.h"

#include "settings/settings_file.h"

#include "platform/install_layout.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <plist/plist.h>

#include <memory>

namespace zentrova::settings {

namespace {

const char kListKey[] = "AutoLaunchedApplicationDictionary";
const char kMonitorPath[] = "/Applications/Zentrova.app";

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::function<QString()>& CommandOverride() {
    static std::function<QString()> command;
    return command;
}

// Equal to the monitor's entry: a dictionary of exactly "Hide" false and
// "Path" "/Applications/Zentrova.app".
bool IsMonitorEntry(plist_t node) {
    if (plist_get_node_type(node) != PLIST_DICT || plist_dict_get_size(node) != 2)
        return false;
    plist_t hide = plist_dict_get_item(node, "Hide");
    plist_t path = plist_dict_get_item(node, "Path");
    if (hide == nullptr || path == nullptr || plist_get_node_type(hide) != PLIST_BOOLEAN ||
        plist_get_node_type(path) != PLIST_STRING)
        return false;
    uint8_t hidden = 1;
    plist_get_bool_val(hide, &hidden);
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(path, &length);
    return hidden == 0 && QByteArray(text, qsizetype(length)) == kMonitorPath;
}

QString DesktopEntry() {
    // Exec takes a quoted path: a space or a quote in it stays one argument.
    QString command = InstalledMonitorCommand();
    command.replace('\\', QStringLiteral("\\\\")).replace('"', QStringLiteral("\\\""));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Zentrova\n"
                          "Comment=Watches the health of the computer's drives\n"
                          "Exec=\"%1\"\n"
                          "Path=%2\n"
                          "Icon=zentrova\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(command, QDir::homePath());
}

QString MirrorToAutostart(bool listed) {
    const QString path = AutostartEntryPath();
    if (!listed) {
        if (QFile::exists(path) && !QFile::remove(path))
            return QStringLiteral("cannot remove %1").arg(path);
        return {};
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    return WriteFileAtomically(path, DesktopEntry().toUtf8());
}

} // namespace

QString ConfigFolder() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.config");
}

std::unique_ptr<QSettings> UserDefaults() {
    return std::make_unique<QSettings>(ConfigFolder() + QStringLiteral("/Zentrova/zentrova.conf"),
                                       QSettings::IniFormat);
}

QString LoginWindowPath() {
    return ConfigFolder() + QStringLiteral("/loginwindow.plist");
}

QString AutostartEntryPath() {
    return ConfigFolder() + QStringLiteral("/autostart/zentrova.desktop");
}

QString InstalledMonitorCommand() {
    if (CommandOverride())
        return CommandOverride()();
    // Like the log-in list's own entry, the launcher names the installed
    // monitor, wherever the one that wrote it runs from.
    return QString::fromStdString(zentrova::platform::MonitorProgramPath());
}

void SetInstalledMonitorCommand(std::function<QString()> command) {
    CommandOverride() = std::move(command);
}

namespace {

// A choice kept in the user defaults as 1 or 0; anything else but 0 is yes.
bool UserFlag(const QString& key) {
    return UserDefaults()->value(key, 0).toInt() != 0;
}

void SetUserFlag(const QString& key, bool flag) {
    std::unique_ptr<QSettings> defaults = UserDefaults();
    defaults->setValue(key, flag ? 1 : 0);
    defaults->sync();
}

} // namespace

bool CheckForStartUpFlagInList() {
    return UserFlag(QStringLiteral("RunAt_Startup"));
}

void SetStartUpFlagForAllDrivesInList(bool flag) {
    SetUserFlag(QStringLiteral("RunAt_Startup"), flag);
}

bool KeepRunningInTray() {
    return UserFlag(QStringLiteral("KeepRunning_InTray"));
}

void SetKeepRunningInTray(bool flag) {
    SetUserFlag(QStringLiteral("KeepRunning_InTray"), flag);
}

QString UpdateStartUpDictionary(bool flag) {
    const QString path = LoginWindowPath();
    PlistPtr root;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1").arg(path);
        const QByteArray bytes = file.readAll();
        plist_t parsed = nullptr;
        if (!bytes.isEmpty())
            plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &parsed);
        root.reset(parsed);
        // Another program's file that we cannot read is left as it is.
        if (parsed == nullptr || plist_get_node_type(parsed) != PLIST_DICT)
            return QStringLiteral("%1 is not a property list").arg(path);
    } else {
        root.reset(plist_new_dict());
    }

    plist_t list = plist_dict_get_item(root.get(), kListKey);
    const bool hadList = list != nullptr && plist_get_node_type(list) == PLIST_ARRAY;
    if (hadList) {
        for (uint32_t i = plist_array_get_size(list); i-- > 0;) {
            if (IsMonitorEntry(plist_array_get_item(list, i)))
                plist_array_remove_item(list, i);
        }
    }
    if (flag) {
        if (!hadList) {
            list = plist_new_array();
            plist_dict_set_item(root.get(), kListKey, list);
        }
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, "Hide", plist_new_bool(0));
        plist_dict_set_item(entry, "Path", plist_new_string(kMonitorPath));
        plist_array_append_item(list, entry);
    }
    if (flag || hadList) {
        char* xml = nullptr;
        uint32_t length = 0;
        plist_to_xml(root.get(), &xml, &length);
        const QByteArray bytes(xml, xml != nullptr ? qsizetype(length) : 0);
        plist_to_xml_free(xml);
        if (!QDir().mkpath(ConfigFolder()))
            return QStringLiteral("cannot create %1").arg(ConfigFolder());
        if (QString error = WriteFileAtomically(path, bytes); !error.isEmpty())
            return error;
    }
    return MirrorToAutostart(flag);
}

} // namespace zentrova::settings
