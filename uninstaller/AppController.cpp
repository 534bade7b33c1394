#include "AppController.h"

#include "processes.h"
#include "removal.h"

#include "platform/install_layout.h"
#include "platform/ui/alert_panel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace layout = zentrova::platform;
using zentrova::platform::NSAlertDefaultReturn;
using zentrova::platform::NSBeep;
using zentrova::platform::NSRunAlertPanel;

namespace {

// The panel texts are their own translation keys.
QString Localized(const char* text) {
    return QCoreApplication::translate("Uninstaller", text);
}

bool FileExistsAtPath(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Keeps the progress window painted but takes no input.
void WaitShowingProgress(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

AppController::AppController(UninstallEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    MyWindow = new QWidget;
    MyWindow->setWindowTitle(QStringLiteral("Uninstall Zentrova"));
    MyWindow->setFixedSize(380, 90);
    auto* layout = new QVBoxLayout(MyWindow);
    layout->addWidget(new QLabel(Localized("Removing Zentrova..."), MyWindow));
    PrgInd = new QProgressBar(MyWindow);
    // The last pause ends at 101, which must show a full bar.
    PrgInd->setRange(0, 101);
    PrgInd->setValue(0);
    PrgInd->setTextVisible(false);
    layout->addWidget(PrgInd);
    MyWindow->installEventFilter(this);
    QCoreApplication::instance()->installEventFilter(this);
}

AppController::~AppController() {
    QCoreApplication::instance()->removeEventFilter(this);
    delete MyWindow;
}

bool AppController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MyWindow && event->type() == QEvent::Close && !windowShouldClose()) {
        event->ignore();
        return true;
    }
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit &&
        !applicationShouldTerminate()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool AppController::applicationShouldTerminate() {
    if (bProcessRunning) {
        NSBeep();
        return false;
    }
    return true;
}

bool AppController::windowShouldClose() {
    if (bProcessRunning) {
        NSBeep();
        return false;
    }
    return true;
}

void AppController::applicationWillBecomeActive() {
    progress_ = 0;
    failures_.clear();
    if (!FileExistsAtPath(layout::ReceiptPath())) {
        NSRunAlertPanel(Localized("Uninstall Zentrova"),
                        Localized("Uninstall is not required since Zentrova is not installed"),
                        Localized("Ok"), Localized(""), Localized(""));
        EndProgram();
        return;
    }
    const int answer = NSRunAlertPanel(Localized("Uninistall Zentrova"),
                                       Localized("Are you sure you want to uninstall Zentrova ?"),
                                       Localized("Yes"), Localized("No"), Localized(""));
    if (answer != NSAlertDefaultReturn) {
        EndProgram();
        return;
    }
    bProcessRunning = true;
    MyWindow->show();
    MyWindow->raise();
    MyWindow->activateWindow();

    zentrova::uninstaller::KillBrevant(true);

    const std::optional<std::string> user = layout::InvokingUserName();
    const std::optional<std::string> desktopFolder =
        user ? layout::DesktopFolderFor(*user) : std::nullopt;
    const bool desktopRemoved = RemoveItem(desktopFolder, false);
    Pause(26);
    // The menu entry, icon and policy are copies out of the bundle: they go
    // with it, and their absence alone is no failure.
    bool bundleRemoved = true;
    for (const std::string& path : layout::SystemIntegrationPaths())
        bundleRemoved = RemoveItem(path, true) && bundleRemoved;
    bundleRemoved = RemoveItem(layout::BundlePath(), false) && bundleRemoved;
    Pause(51);
    const bool receiptRemoved = RemoveItem(layout::ReceiptPath(), false);
    Pause(101);
    (void)RemoveItem(user ? layout::DataFolderFor(*user) : std::nullopt, true);
    bProcessRunning = false;

    if (desktopRemoved && bundleRemoved && receiptRemoved) {
        NSRunAlertPanel(Localized("Uninstall Zentrova"),
                        Localized("Uninstall process completed successfully"), Localized("Ok"),
                        Localized(""), Localized(""));
    }
    ReportFailures();
    EndProgram();
}

void AppController::Pause(int target) {
    while (progress_ <= target - 1) {
        ++progress_;
        PrgInd->setValue(progress_);
    }
    if (env_.wait)
        env_.wait(env_.pauseMilliseconds);
    else
        WaitShowingProgress(env_.pauseMilliseconds);
}

bool AppController::RemoveItem(const std::optional<std::string>& path, bool missingIsFine) {
    if (!path) {
        if (!missingIsFine)
            failures_ << Localized("Your desktop folder: no such user.");
        return missingIsFine;
    }
    const zentrova::uninstaller::RemovalResult result =
        zentrova::uninstaller::RemoveItemAtPath(*path);
    if (result.removed || (missingIsFine && result.error == ENOENT && result.where == *path))
        return true;
    failures_ << QStringLiteral("%1: %2").arg(QString::fromStdString(result.where),
                                              QString::fromLocal8Bit(std::strerror(result.error)));
    return false;
}

void AppController::ReportFailures() {
    if (failures_.isEmpty())
        return;
    NSRunAlertPanel(Localized("Uninstall Zentrova"),
                    Localized("These items could not be removed:") + QStringLiteral("\n\n") +
                        failures_.join(QLatin1Char('\n')),
                    Localized("Ok"), Localized(""), Localized(""));
}

void AppController::EndProgram() {
    if (MyWindow->isVisible())
        MyWindow->close();
    if (applicationShouldTerminateAfterLastWindowClosed()) {
        if (env_.terminate)
            env_.terminate();
        else
            QCoreApplication::quit();
    }
}
