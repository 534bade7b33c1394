// The per-drive settings store: `mutDict` in memory and "Zentroset" in the
// data folder, written whole after every change, and the start-up carry-over
// of the previous run's entries.
#pragma once

#include "device/device.h"
#include "settings/settings_file.h"
#include "settings/settings_host.h"

#include <QString>

namespace zentrova::settings {

struct StoreGlobals {
    SettingsDict mutDict;
    // The entry most recently built by Apply.
    DriveEntry devDict;
};

inline StoreGlobals store;

// Every piece of the subsystem's state back to its start: mirrors, store,
// timers (stopped) and panel holds.
void ResetSettingsForTest();

QString SettingsFilePath(const QString& drvPath);
// Removes the temporary files of writes that a crash cut short.
void RemoveLeftoverTemporaryFiles(const QString& drvPath);

// What reading the settings file found.
struct SettingsRead {
    bool exists = false;
    std::optional<SettingsDict> dict; // empty when the file does not parse
};
SettingsRead ReadSettingsFile(const QString& drvPath);

// Writes `mutDict` to the settings file; an empty answer on success, else why
// it failed (the file then keeps its previous content). A file there that
// does not parse is first kept aside under a name of its own.
QString SaveSettings(const QString& drvPath);

// The entry a drive gets when nothing is known about it. The default-entry
// writer adds "StartUp"; the first run does not. `criticalTemp` is the
// drive's nDefaultCriticalTemp.
DriveEntry DefaultEntry(const QString& model, const QString& firmware, bool withStartUp,
                        int criticalTemp);

// Start-up: builds `mutDict` from the previous run's file, sets the
// temperature mirrors, creates the polling timers and writes the file.
// A file that does not parse is kept aside under a new name (an alert says
// which) and the drives start as on a first run.
void ReadAndSavePreviousSettings(SettingsHost& host);

// A drive that arrived or came back while the monitor runs: its slot's entry
// stays when it names the drive's model and firmware (its own, from earlier
// in this run), else the slot gets the default entry as on a first run. The
// temperature mirrors follow the entry, the file is written (a failure is
// told as at start-up) and the polling timer starts as at start-up. A host
// with defaults of its own hands the entry a new drive gets in `newEntry`.
void SettingsForDriveThatArrived(SettingsHost& host, const device::xDEV_INFO& drive,
                                 const DriveEntry* newEntry = nullptr);

// Replaces the selected drive's entry with the default entry and writes the
// file. Answers what `SaveSettings` answers.
QString UpdateDictionaryWithDefaultSettings(SettingsHost& host);

} // namespace zentrova::settings
