// The monitor's icon in the system tray: the overall state of the drives at
// a glance, each drive's state in its tooltip, and a menu to reach the window.
#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <ostream>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace zentrova::desktop {

// Worst last: the state of the tray icon is that of its worst drive. A
// drive on Watch ranks above one that could not be read: its warning rests on
// readings it gave, an unreadable drive may just be asleep or unplugged.
enum class TrayState { AllOk, Unreadable, OnWatch, OverCriticalTemp, Failed };

// The amber of Watch, in the tray's badge and the drive table's marker; apart
// from the orange of a drive too hot.
inline const QColor kWatchAmber{0xff, 0xc1, 0x07};

struct TrayDrive {
    QString name;        // "/dev/sdc"
    QString status;      // the drive table's "SMART" cell: "OK", "Failed" or empty
    QString temperature; // the last reading's, in degrees; empty when unknown
    bool overCriticalTemp = false;
    bool unreadable = false; // its last read failed
    QString watchReason{};   // on Watch: why, in a few words; empty: not on Watch
};

TrayState DriveState(const TrayDrive& drive);
TrayState OverallState(const std::vector<TrayDrive>& drives);
// "/dev/sdc: Failed, 41 °C"
QString DriveLine(const TrayDrive& drive);
QString TrayToolTip(const std::vector<TrayDrive>& drives);
// The program's icon with a badge for any state but all OK.
QIcon StateIcon(const QIcon& program, TrayState state);

struct TrayActions {
    std::function<void()> toggleWindow; // a click on the icon
    std::function<void()> showWindow;
    std::function<void(int row)> showDrive;
    std::function<void()> about;
    std::function<void()> quit;
};

class Tray : public QObject {
  public:
    // `debug`: where each change of the tooltip is told; null: nowhere.
    Tray(QIcon program, TrayActions actions, std::ostream* debug = nullptr,
         QObject* parent = nullptr);
    ~Tray() override;

    void Update(const std::vector<TrayDrive>& drives);
    TrayState State() const { return state_; }
    QString ToolTip() const;
    QMenu* Menu() const { return menu_.get(); }

  private:
    void RebuildDriveEntries(const std::vector<TrayDrive>& drives);

    QIcon program_;
    TrayActions actions_;
    std::ostream* debug_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* icon_ = nullptr;
    TrayState state_ = TrayState::AllOk;
    bool shown_ = false;
    int driveEntries_ = 0;
};

} // namespace zentrova::desktop
