// The real panel and beep of a program with windows: a modal QMessageBox and
// the display's bell.
#include "alert_panel_widgets.h"

#include "alert_panel.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace zentrova::platform {

namespace {

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

void UseWidgetPanels() {
    SetRealPanel(RunMessageBox, [] { QApplication::beep(); });
}

} // namespace zentrova::platform
