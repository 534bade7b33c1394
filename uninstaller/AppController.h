// The uninstaller's one controller: delegate of the application and of its
// only window, the progress window. The whole flow runs in
// applicationWillBecomeActive and keeps nothing beyond one run.
#pragma once

#include "removal.h"
#include "run_program.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QProgressBar;
class QWidget;

// What the flow takes from the world around it. Empty members mean the real
// thing; tests put fakes in so that nothing waits or ends the test program.
struct UninstallEnvironment {
    // Blocks for one pause, keeping the window painted.
    std::function<void(int milliseconds)> wait;
    // Ends the program once its window is closed.
    std::function<void()> terminate;
    // A pause's length: long enough for the applications asked to quit.
    int pauseMilliseconds = 1000;
    // Removes one item: a file, or a folder with everything in it. For the
    // user's folders it runs in a child process with the user's rights.
    std::function<zentrova::uninstaller::RemovalResult(const std::string& path)> remove;
    // Runs a program of the system (groupdel, the cache builders) to its end.
    std::function<zentrova::uninstaller::ProgramRun(const std::vector<std::string>& arguments)> run;
};

class AppController : public QObject {
    Q_OBJECT

  public:
    explicit AppController(UninstallEnvironment environment = {}, QObject* parent = nullptr);
    ~AppController() override;

    // Application and window delegate.
    void applicationWillBecomeActive();
    // True: terminate now; false: cancel (after a beep).
    bool applicationShouldTerminate();
    bool windowShouldClose();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    QWidget* Window() const { return MyWindow; }
    QProgressBar* ProgressIndicator() const { return PrgInd; }
    bool ProcessRunning() const { return bProcessRunning; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the receipt says the install made besides the items it lists.
    struct MadeByInstall {
        bool group = false;               // the drive helper's group, which did not exist before
        std::vector<std::string> folders; // parents before children
    };
    MadeByInstall ReadReceipt();
    void Pause(int target);
    // Removes one item; a failure is kept for the report at the end.
    bool RemoveItem(const std::optional<std::string>& path, bool missingIsFine);
    // The same for an item in a user's folders, removed with `owner`'s rights.
    bool RemoveUserItem(const std::optional<std::string>& path, bool missingIsFine,
                        const std::optional<zentrova::platform::UserIdentity>& owner);
    void RemoveFoldersLeftEmpty(const std::vector<std::string>& folders,
                                const std::optional<std::string>& home,
                                const std::optional<zentrova::platform::UserIdentity>& owner);
    // Runs one program; a failure is kept for the report under `item`, what
    // it leaves behind. A program that is not there may be fine.
    bool RunProgram(const std::vector<std::string>& arguments, const std::string& item,
                    bool missingIsFine);
    // Keeps what could not be undone, and why, for the report at the end.
    void NoteFailure(const std::string& item, const QString& why);
    void ReportFailures();
    void EndProgram();

    UninstallEnvironment env_;
    QWidget* MyWindow = nullptr;
    QProgressBar* PrgInd = nullptr;
    bool bProcessRunning = false;
    int progress_ = 0;
    QStringList failures_;
};
