// Modal alert panels, the system beep and the clock, each replaceable so that
// tests can script answers and fix the time instead of waiting for a person.
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace zentrova::platform {

// What the panel's buttons answer, as the monitor's code compares them.
inline constexpr int NSAlertDefaultReturn = 1;
inline constexpr int NSAlertAlternateReturn = 0;
inline constexpr int NSAlertOtherReturn = -1;

struct AlertRequest {
    QString title;
    QString message;         // shown literally, never as a format
    QString defaultButton;   // empty: the platform's own "OK"
    QString alternateButton; // empty: none
    QString otherButton;     // empty: none
};

using AlertHandler = std::function<int(const AlertRequest&)>;
using BeepHandler = std::function<void()>;
using ClockHandler = std::function<QDateTime()>;

// Runs a modal panel and blocks until it is dismissed; answers one of the
// NSAlert*Return values.
int NSRunAlertPanel(const QString& title, const QString& message, const QString& defaultButton,
                    const QString& alternateButton = {}, const QString& otherButton = {});
void NSBeep();
// The local date and time.
QDateTime CurrentDateTime();

// True while a panel is up: its own event loop runs, and what its caller
// holds must stay until it returns.
bool PanelIsUp();
// Told after the window manager, rather than a button, dismissed a panel:
// that is how another program asks an application showing one to quit.
using PanelClosedHandler = std::function<void()>;
void SetPanelClosedByWindowManagerHandler(PanelClosedHandler handler);
void PanelClosedByWindowManager();
// How many panels are up now (panels run inside panels' event loops).
int OpenPanelCount();
// Called each time the last open panel closes; empty: nothing.
void SetPanelsClosedHandler(std::function<void()> handler);

// Runs `action` now when no panel is up, else from the event loop once the
// last open panel has closed and its caller has finished: what a panel's
// caller holds (the selected drive among it) must not change under it. A
// later action replaces one still waiting.
void WhenNoPanelIsUp(std::function<void()> action);

// Events that raise a panel are also told to the desktop, just before the
// panel opens, for a user who is not looking at the window.
enum class NoticeKind {
    DriveFailing,          // the "WARNING" panel of a failed attribute
    DriveOverCriticalTemp, // the temperature alert
    DataFolderUnusable,
    SettingsUnreadable,
    SettingsUnsaved,
    HistoryTrouble,
    // Told without a panel: a drive entered Watch or one of its counters
    // grew again; an advice counter (the cable's) grew.
    DriveOnWatch,
    DriveAdvice,
};
struct DesktopNotice {
    NoticeKind kind = NoticeKind::DriveFailing;
    int drive = -1;    // the drive's index, -1 for the program's own events
    QString driveName; // "/dev/sdc"; empty for the program's own events
    QString body;      // the panel's text
    QString rule{};    // Watch and advice: the rule's key; a repeat of it replaces
};
using NoticeHandler = std::function<void(const DesktopNotice&)>;
// Empty: nothing is told (tests, and before the desktop side is up).
void SetNoticeHandler(NoticeHandler handler);
void AnnounceBeforePanel(const DesktopNotice& notice);

// The program's real panel and beep (alert_panel_widgets.h installs the
// windowed ones). Without them and without a handler, a panel answers its
// default button at once, showing nothing, and a beep is silent.
void SetRealPanel(AlertHandler panel, BeepHandler beep);

// Replace the real behaviour; an empty function restores it.
void SetAlertHandler(AlertHandler handler);
void SetBeepHandler(BeepHandler handler);
void SetClockHandler(ClockHandler handler);

} // namespace zentrova::platform
