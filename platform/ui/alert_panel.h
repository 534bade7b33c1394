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

// Replace the real behaviour; an empty function restores it.
void SetAlertHandler(AlertHandler handler);
void SetBeepHandler(BeepHandler handler);
void SetClockHandler(ClockHandler handler);

} // namespace zentrova::platform
