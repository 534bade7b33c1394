// The panels of a program with windows (Qt Widgets), kept apart so that a
// program without any links only the handlers of alert_panel.h.
#pragma once

namespace zentrova::platform {

// From now on a panel with no handler is a modal QMessageBox and a beep the
// display's bell. Called once by each program with windows, before its first
// panel.
void UseWidgetPanels();

} // namespace zentrova::platform
