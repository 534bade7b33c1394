// Start at log-in: the user's choice in the monitor's own user defaults
// ("RunAt_Startup"), and the monitor's entry in the log-in list, which the
// desktop's autostart folder mirrors.
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QSettings;

namespace zentrova::settings {

// The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config.
QString ConfigFolder();
// The monitor's user defaults, $XDG_CONFIG_HOME/Zentrova/zentrova.conf
// (organization "Zentrova", application "zentrova"). Every user default of
// the monitor goes through here.
std::unique_ptr<QSettings> UserDefaults();

// The log-in list's stand-in: a property list holding
// "AutoLaunchedApplicationDictionary".
QString LoginWindowPath();
// The freedesktop autostart entry that mirrors the monitor's list entry.
QString AutostartEntryPath();

// The command that starts the installed monitor (the install layout's);
// tests replace it. Null restores the default.
QString InstalledMonitorCommand();
void SetInstalledMonitorCommand(std::function<QString()> command);

// Yes when "RunAt_Startup" is not 0; the log-in list is not consulted.
bool CheckForStartUpFlagInList();
// "RunAt_Startup" := 1 or 0, one setting for all drives.
void SetStartUpFlagForAllDrivesInList(bool flag);
// "KeepRunning_InTray", beside "RunAt_Startup": whether closing the main
// window hides it while a system tray holds the monitor's icon, rather than
// ending the monitor. Off unless set.
bool KeepRunningInTray();
void SetKeepRunningInTray(bool flag);
// Adds the monitor's entry at the end of the log-in list (once), or removes
// every element equal to it, then brings the autostart entry in line.
// Answers an empty string, or why the list could not be updated (it then
// keeps its previous content).
QString UpdateStartUpDictionary(bool flag);

} // namespace zentrova::settings
