// What the settings subsystem needs from the window, implemented by the
// controller, so that the store, the timers and the page logic run without
// widgets.
#pragma once

#include <QString>

namespace zentrova::settings {

class SettingsHost {
  public:
    virtual ~SettingsHost() = default;
    // The data folder, which holds "Zentroset".
    virtual QString DrvPath() const = 0;
    // Selects `row` of the drive table without extending the selection; the
    // selection handler runs at once.
    virtual void SelectDriveRow(int row) = 0;
    // Reads the selected drive now and shows the verdict.
    virtual void PollSelDriveForSMARTAndFillAttributeTable() = 0;
    // Whether the user can select the log page's text.
    virtual void SetLogViewSelectable(bool selectable) = 0;
};

} // namespace zentrova::settings
