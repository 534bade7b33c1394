#include "alert_panel.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace zentrova::platform {

namespace {

AlertHandler& CurrentAlertHandler() {
    static AlertHandler handler;
    return handler;
}
BeepHandler& CurrentBeepHandler() {
    static BeepHandler handler;
    return handler;
}
ClockHandler& CurrentClockHandler() {
    static ClockHandler handler;
    return handler;
}
PanelClosedHandler& CurrentPanelClosedHandler() {
    static PanelClosedHandler handler;
    return handler;
}
int& PanelDepth() {
    static int depth = 0;
    return depth;
}
std::function<void()>& PanelsClosedHandler() {
    static std::function<void()> handler;
    return handler;
}

std::function<void()>& ActionAfterPanels() {
    static std::function<void()> action;
    return action;
}
NoticeHandler& CurrentNoticeHandler() {
    static NoticeHandler handler;
    return handler;
}

// The program's real panel and beep; none in a program without windows.
AlertHandler& RealPanel() {
    static AlertHandler panel;
    return panel;
}
BeepHandler& RealBeep() {
    static BeepHandler beep;
    return beep;
}

} // namespace

int NSRunAlertPanel(const QString& title, const QString& message, const QString& defaultButton,
                    const QString& alternateButton, const QString& otherButton) {
    const AlertRequest request{title, message, defaultButton, alternateButton, otherButton};
    ++PanelDepth();
    // Without a panel to show, nobody is there to answer: the default button.
    const int answer = CurrentAlertHandler() ? CurrentAlertHandler()(request)
                       : RealPanel()         ? RealPanel()(request)
                                             : NSAlertDefaultReturn;
    if (--PanelDepth() == 0) {
        if (PanelsClosedHandler())
            PanelsClosedHandler()();
        // The panel's caller goes on from here: the action waits for the
        // event loop.
        if (ActionAfterPanels())
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [] { WhenNoPanelIsUp(std::exchange(ActionAfterPanels(), {})); },
                Qt::QueuedConnection);
    }
    return answer;
}

bool PanelIsUp() {
    return PanelDepth() > 0;
}

void PanelClosedByWindowManager() {
    if (CurrentPanelClosedHandler())
        CurrentPanelClosedHandler()();
}

void SetPanelClosedByWindowManagerHandler(PanelClosedHandler handler) {
    CurrentPanelClosedHandler() = std::move(handler);
}

int OpenPanelCount() {
    return PanelDepth();
}

void SetPanelsClosedHandler(std::function<void()> handler) {
    PanelsClosedHandler() = std::move(handler);
}

void WhenNoPanelIsUp(std::function<void()> action) {
    if (PanelDepth() == 0) {
        if (action)
            action();
        return;
    }
    ActionAfterPanels() = std::move(action);
}

void SetNoticeHandler(NoticeHandler handler) {
    CurrentNoticeHandler() = std::move(handler);
}

void AnnounceBeforePanel(const DesktopNotice& notice) {
    if (CurrentNoticeHandler())
        CurrentNoticeHandler()(notice);
}

void NSBeep() {
    if (CurrentBeepHandler())
        CurrentBeepHandler()();
    else if (RealBeep())
        RealBeep()();
}

QDateTime CurrentDateTime() {
    if (CurrentClockHandler())
        return CurrentClockHandler()();
    return QDateTime::currentDateTime();
}

void SetRealPanel(AlertHandler panel, BeepHandler beep) {
    RealPanel() = std::move(panel);
    RealBeep() = std::move(beep);
}

void SetAlertHandler(AlertHandler handler) {
    CurrentAlertHandler() = std::move(handler);
}
void SetBeepHandler(BeepHandler handler) {
    CurrentBeepHandler() = std::move(handler);
}
void SetClockHandler(ClockHandler handler) {
    CurrentClockHandler() = std::move(handler);
}

} // namespace zentrova::platform
