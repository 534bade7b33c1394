// The service's host of the poll: what the window's controller is to the
// poll and the settings, without a window. Panels become journal lines, the
// drive table is two plain lists, and every read goes to the metrics file,
// the history and the Watch judgement as in the window.
#pragma once

#include "journal.h"
#include "service_config.h"

#include "hotplug/drive_event_follower.h"
#include "settings/settings_file.h"
#include "settings/settings_host.h"
#include "smart/poll_cycle.h"

#include <QString>
#include <QVariantList>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zentrova::platform {
class DeviceRegistry;
class DriveEventSource;
struct DesktopNotice;
struct AlertRequest;
} // namespace zentrova::platform

namespace zentrova::service {

class ServiceHost final : public smart::PollHost, public settings::SettingsHost {
  public:
    explicit ServiceHost(ServiceConfig config);
    ~ServiceHost() override;
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    // Detection, the event logs, the history, the settings and their timers,
    // then one read of every drive. False when the data folder is unusable
    // (the journal says why): the service cannot run.
    bool Start(platform::DeviceRegistry& registry);
    // A reread configuration: the textfile folder applies from the next
    // write; the rest needs a restart (the drives' entries are written).
    void Reconfigure(const ServiceConfig& config);
    // Stops the timers and closes the history (its last transaction is
    // over: a poll never runs inside this call).
    void Stop();
    // After Start: the drives that come and go. After each burst of the
    // source's events, quiet for `quietMilliseconds`, `registry` is listed
    // again; arrivals are watched as at start-up and departures no longer
    // read. A null source: the drives found at start-up stay the list.
    void FollowDriveEvents(std::unique_ptr<platform::DriveEventSource> source,
                           std::unique_ptr<platform::DeviceRegistry> registry,
                           int quietMilliseconds = 2000);
    bool FollowsDriveEvents() const { return follower_ != nullptr && follower_->Listening(); }

    // smart::PollHost (and EvaluationHost)
    smart::AttributeColumns& AttrColumns() override { return columns_; }
    QString DrvPath() const override { return config_.dataDir; }
    bool FirstTime() const override { return false; }
    QLocale LogLocale() const override;
    void ReloadAttrTable() override {}
    void SetDrvFailed() override { drvFailed_ = true; }
    void EditDriveCell(int column, int row) override;
    void ReloadDriveTable() override {}
    void RestoreMainWindowIfMinimised() override {}
    void FillLogEvents() override {}
    void PollReadFinished(int drive, const std::uint8_t* dataPage,
                          const std::uint8_t* thresholdsPage) override;
    void PollStarted(int drive) override;
    void PollEnded(int drive) override;

    // settings::SettingsHost
    void SelectDriveRow(int row) override;
    void PollSelDriveForSMARTAndFillAttributeTable() override;
    void SetLogViewSelectable(bool) override {}

  private:
    void SeedDriveEntries();
    settings::DriveEntry SeededEntry(const device::xDEV_INFO& drive) const;
    void UpdateDriveList(const std::vector<std::string>& removed);
    void Watch(device::xDEV_INFO& drive);
    void TellLeftOutDisks(Priority priority);
    void WriteMetrics();
    void JudgeWatch(int drive, const std::uint8_t* dataPage, const std::uint8_t* thresholdsPage);
    void Told(const platform::DesktopNotice& notice);
    int Answer(const platform::AlertRequest& request);
    QString DriveName(int drive) const;

    ServiceConfig config_;
    smart::AttributeColumns columns_;
    bool drvFailed_ = false;
    QVariantList col2_; // "Temp"
    QStringList col3_;  // "SMART"
    // Per drive, the kinds of event told and still standing: a failing drive
    // is told once, not at every poll; a poll whose read succeeded without
    // the event ends it. `toldThisPoll_` collects the poll's own.
    std::set<int> told_[device::kMaxDrives];
    std::set<int> toldThisPoll_[device::kMaxDrives];
    bool readSucceeded_[device::kMaxDrives] = {};
    bool unreadable_[device::kMaxDrives] = {};
    // A panel after a notice is already told; one without says itself.
    bool noticeBeforePanel_ = false;
    bool metricsFailureTold_ = false;
    bool historyFailureTold_ = false;
    bool started_ = false;
    std::unique_ptr<platform::DeviceRegistry> registry_;
    std::unique_ptr<hotplug::DriveEventFollower> follower_;
    // The left-out disks' lines of the last listing, each told once.
    std::vector<std::string> toldLeftOut_;
};

} // namespace zentrova::service
