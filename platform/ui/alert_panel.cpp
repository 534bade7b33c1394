#include "alert_panel.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

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
// Tells a close from the window manager (spontaneous) from a button's.
class CloseWatcher : public QObject {
  public:
    bool byWindowManager = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && event->spontaneous())
            byWindowManager = true;
        return QObject::eventFilter(watched, event);
    }
};

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

int RunMessageBox(const AlertRequest& request) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(request.title);
    // The title also heads the panel's text, as an alert panel shows it.
    box.setText(request.title);
    box.setInformativeText(request.message);
    box.setTextFormat(Qt::PlainText);
    QPushButton* defaultButton = box.addButton(
        request.defaultButton.isEmpty() ? QStringLiteral("OK") : request.defaultButton,
        QMessageBox::AcceptRole);
    QPushButton* alternate = nullptr;
    QPushButton* other = nullptr;
    if (!request.alternateButton.isEmpty())
        alternate = box.addButton(request.alternateButton, QMessageBox::RejectRole);
    if (!request.otherButton.isEmpty())
        other = box.addButton(request.otherButton, QMessageBox::ActionRole);
    box.setDefaultButton(defaultButton);
    CloseWatcher watcher;
    box.installEventFilter(&watcher);
    box.exec();
    if (watcher.byWindowManager)
        PanelClosedByWindowManager();
    if (alternate != nullptr && box.clickedButton() == alternate)
        return NSAlertAlternateReturn;
    if (other != nullptr && box.clickedButton() == other)
        return NSAlertOtherReturn;
    if (box.clickedButton() == defaultButton)
        return NSAlertDefaultReturn;
    // Closed with Escape or the title bar: the safe answer, never the default.
    return alternate != nullptr ? NSAlertAlternateReturn : NSAlertDefaultReturn;
}

} // namespace

int NSRunAlertPanel(const QString& title, const QString& message, const QString& defaultButton,
                    const QString& alternateButton, const QString& otherButton) {
    const AlertRequest request{title, message, defaultButton, alternateButton, otherButton};
    ++PanelDepth();
    const int answer =
        CurrentAlertHandler() ? CurrentAlertHandler()(request) : RunMessageBox(request);
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
    else
        QApplication::beep();
}

QDateTime CurrentDateTime() {
    if (CurrentClockHandler())
        return CurrentClockHandler()();
    return QDateTime::currentDateTime();
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
