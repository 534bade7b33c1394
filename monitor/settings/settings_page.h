// What the settings page shows for the selected drive and what Apply does,
// apart from the controls themselves, which live with the window.
#pragma once

#include "settings/settings_host.h"

#include <QString>

#include <optional>

namespace zentrova::settings {

// The page for one drive.
struct PageValues {
    bool poll = true;
    bool criticalTemp = true;
    bool logEvent = true;
    bool startsUp = false;
    bool keepInTray = false;
    // Whether the drive gave a temperature at detection; without one the
    // critical-temperature controls are off and disabled.
    bool hasTemperature = false;
    int hours = 1;
    int minutes = 0;
    int temperature = 50;
};

// The selected drive's values from the settings file; a missing, empty or
// foreign entry is replaced by the default entry. Sets the drive's mirrors.
// Never touches a timer.
PageValues SettingsForSelectedDrive(SettingsHost& host);

// The page's controls as Apply reads them: the three fields as typed.
struct PageInput {
    bool poll = false;
    QString hours;
    QString minutes;
    bool criticalTemp = false; // on and enabled
    QString temperature;
    bool logEvent = false;
    bool startsUp = false;
    // Absent when the page does not offer it (no system tray): it stays as it is.
    std::optional<bool> keepInTray = std::nullopt;
};

// Apply for the selected drive: validates the interval before anything
// changes, stores the entry, sets the mirrors, the log-in item and the log
// page's selectability, re-creates the timer and says how it went in a panel.
void ApplySettings(SettingsHost& host, const PageInput& input);

} // namespace zentrova::settings
