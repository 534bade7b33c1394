#include "AppController.h"
#include "platform/ui/alert_panel_widgets.h"

#include <QApplication>
#include <QTimer>

// Arguments go to Qt alone; the uninstaller itself has no options.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    zentrova::platform::UseWidgetPanels();
    QApplication::setApplicationName(QStringLiteral("Zentrova Uninstaller"));
    // The flow ends the program itself, also when it never showed a window.
    QApplication::setQuitOnLastWindowClosed(false);
    AppController controller;
    QTimer::singleShot(0, &controller, &AppController::applicationWillBecomeActive);
    return QApplication::exec();
}
