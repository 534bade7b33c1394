// The uninstaller's flow for the system tests: the installation under the
// root named by ZENTROVA_TEST_ROOT, "Yes" to the confirmation, short pauses,
// and each panel's message printed instead of shown.
#include "AppController.h"

#include "platform/install_layout.h"
#include "platform/ui/alert_panel.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const char* root = std::getenv("ZENTROVA_TEST_ROOT");
    if (root == nullptr || *root != '/') {
        std::fprintf(stderr, "ZENTROVA_TEST_ROOT must name a scratch folder\n");
        return 2;
    }
    zentrova::platform::installLayout.rootPrefix = root;
    zentrova::platform::SetAlertHandler([](const zentrova::platform::AlertRequest& request) {
        std::printf("panel: %s\n", qPrintable(request.message));
        std::fflush(stdout);
        return zentrova::platform::NSAlertDefaultReturn;
    });
    zentrova::platform::SetBeepHandler([] {});
    UninstallEnvironment environment;
    environment.pauseMilliseconds = 200;
    AppController controller(environment);
    QTimer::singleShot(0, &controller, &AppController::applicationWillBecomeActive);
    return QApplication::exec();
}
