#include "AppController.h"
#include "platform/ui/alert_panel_widgets.h"

#include <QApplication>
#include <QIcon>

// Arguments go to Qt alone; the monitor itself has no options.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    zentrova::platform::UseWidgetPanels();
    QApplication::setApplicationName(QStringLiteral("Zentrova"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zentrova.png")));
    AppController controller;
    if (!controller.applicationWillFinishLaunching())
        return 1;
    return QApplication::exec();
}
