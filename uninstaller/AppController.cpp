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
#include <fstream>

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
    if (!env_.remove)
        env_.remove = zentrova::uninstaller::RemoveItemAtPath;
    if (!env_.run)
        env_.run = zentrova::uninstaller::RunProgram;
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
    // The package manager keeps its own list of the files and removes them
    // itself; taking them away here would leave it believing they are there.
    if (FileExistsAtPath(layout::PackageMarkerPath())) {
        NSRunAlertPanel(Localized("Uninstall Zentrova"),
                        Localized("Zentrova was installed with the package manager. Remove it "
                                  "with: sudo apt remove zentrova"),
                        Localized("Ok"), Localized(""), Localized(""));
        EndProgram();
        return;
    }
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

    const MadeByInstall made = ReadReceipt();
    const std::optional<std::string> user = layout::InvokingUserName();
    const std::optional<std::string> desktopFolder =
        user ? layout::DesktopFolderFor(*user) : std::nullopt;
    // The user's folders are reached through the user's own links: they are
    // removed with the user's rights, never with root's.
    const std::optional<layout::UserIdentity> owner =
        user ? layout::IdentityOf(*user) : std::nullopt;
    const std::optional<layout::UserIdentity> desktopOwner =
        user ? layout::DesktopFolderOwner(*user) : std::nullopt;
    const bool desktopRemoved =
        RemoveUserItem(desktopOwner ? desktopFolder : std::nullopt, false, desktopOwner);
    Pause(26);
    // The menu entry, icon and policy are copies out of the bundle: they go
    // with it, and their absence alone is no failure.
    bool bundleRemoved = true;
    for (const std::string& path : layout::SystemIntegrationPaths())
        bundleRemoved = RemoveItem(path, true) && bundleRemoved;
    bundleRemoved = RemoveItem(layout::BundlePath(), false) && bundleRemoved;
    // Only a group this install made: one of that name from before may serve others.
    if (made.group)
        bundleRemoved = RunProgram({"groupdel", layout::kHelperGroupName},
                                   std::string("group ") + layout::kHelperGroupName, false) &&
                        bundleRemoved;
    Pause(51);
    const bool receiptRemoved = RemoveItem(layout::ReceiptPath(), false);
    Pause(101);
    (void)RemoveUserItem(owner && user ? layout::DataFolderFor(*user) : std::nullopt, true, owner);
    RemoveFoldersLeftEmpty(made.folders, user ? layout::HomeFolderOf(*user) : std::nullopt, owner);
    // The desktop's caches still name the menu entry and the icon. Only caches
    // that are there are refreshed: a new one would be a leftover of its own.
    const std::string iconCache = layout::IconThemeFolder() + "/icon-theme.cache";
    if (FileExistsAtPath(iconCache))
        (void)RunProgram({"gtk-update-icon-cache", "-q", "-t", "-f", layout::IconThemeFolder()},
                         iconCache, true);
    const std::string menuCache = layout::ApplicationsFolder() + "/mimeinfo.cache";
    if (FileExistsAtPath(menuCache))
        (void)RunProgram({"update-desktop-database", "-q", layout::ApplicationsFolder()}, menuCache,
                         true);
    bProcessRunning = false;

    if (desktopRemoved && bundleRemoved && receiptRemoved) {
        NSRunAlertPanel(Localized("Uninstall Zentrova"),
                        Localized("Uninstall process completed successfully"), Localized("Ok"),
                        Localized(""), Localized(""));
    }
    ReportFailures();
    EndProgram();
}

AppController::MadeByInstall AppController::ReadReceipt() {
    MadeByInstall made;
    const std::string path = layout::ReceiptPath();
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line == "Group: " + std::string(layout::kHelperGroupName))
            made.group = true;
        else if (line.rfind("Folder: /", 0) == 0)
            made.folders.push_back(layout::UnderRoot(line.substr(8)));
    }
    if (!file.eof())
        NoteFailure(path, Localized("the receipt could not be read"));
    return made;
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
    return RemoveUserItem(path, missingIsFine, std::nullopt);
}

bool AppController::RemoveUserItem(const std::optional<std::string>& path, bool missingIsFine,
                                   const std::optional<layout::UserIdentity>& owner) {
    if (!path) {
        if (!missingIsFine)
            failures_ << Localized("Your desktop folder: no such user.");
        return missingIsFine;
    }
    const auto removeIt = [&] { return env_.remove(*path); };
    const zentrova::uninstaller::RemovalResult result =
        owner ? zentrova::uninstaller::RunAsUser(*owner, *path, removeIt) : removeIt();
    if (result.removed || (missingIsFine && result.error == ENOENT && result.where == *path))
        return true;
    NoteFailure(result.where, QString::fromLocal8Bit(std::strerror(result.error)));
    return false;
}

// Deepest first, so that a folder emptied of the one made in it goes too. One
// that holds anything else stays, and that is no failure.
// Those made inside the user's home, as for the desktop folder, go with the
// user's rights.
void AppController::RemoveFoldersLeftEmpty(const std::vector<std::string>& folders,
                                           const std::optional<std::string>& home,
                                           const std::optional<layout::UserIdentity>& owner) {
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        const auto removeIt = [&] { return zentrova::uninstaller::RemoveEmptyFolder(*folder); };
        const bool inHome = home && folder->rfind(*home + "/", 0) == 0;
        if (inHome && !owner)
            continue; // the user is gone; a folder of theirs is none of root's business
        const zentrova::uninstaller::RemovalResult result =
            inHome ? zentrova::uninstaller::RunAsUser(*owner, *folder, removeIt) : removeIt();
        if (result.removed || result.error == ENOENT || result.error == ENOTEMPTY ||
            result.error == EEXIST)
            continue;
        NoteFailure(result.where, QString::fromLocal8Bit(std::strerror(result.error)));
    }
}

bool AppController::RunProgram(const std::vector<std::string>& arguments, const std::string& item,
                               bool missingIsFine) {
    const zentrova::uninstaller::ProgramRun run = env_.run(arguments);
    if (run.startError == 0 && run.exitStatus == 0)
        return true;
    if (missingIsFine && run.startError == ENOENT)
        return true;
    const QString program = QString::fromStdString(arguments[0]);
    const QString why =
        run.startError != 0
            ? program + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(run.startError))
            : QStringLiteral("%1 ended with status %2").arg(program).arg(run.exitStatus);
    NoteFailure(item, why);
    return false;
}

void AppController::NoteFailure(const std::string& item, const QString& why) {
    failures_ << QStringLiteral("%1: %2").arg(QString::fromStdString(item), why);
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
