// Drives that come and go while the monitor runs: the kernel's events wait
// in the window's own event loop (a socket notifier, no thread, no timer
// until an event comes), a burst is handled once after it has been quiet for
// a while, and never under a panel, whose caller may be polling the very
// drive that left.
#include "AppController.h"

#include "metrics/metrics.h"
#include "settings/store.h"
#include "settings/timers.h"
#include "smart/event_log.h"
#include "table_model.h"

#include "platform/ui/alert_panel.h"

#include <cstdio>
#include <ostream>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;

namespace {

void Tell(const char* what, const xDEV_INFO& record) {
    if (std::ostream* debug = zentrova::platform::DebugStreamFromEnvironment())
        *debug << "zentrova: drive " << what << ": " << record.szDevFilePath << " (slot "
               << record.nDevIndex << ")\n";
}

} // namespace

void AppController::SetUpDriveEvents(bool systemRegistry) {
    std::string why;
    if (env_.makeDriveEvents)
        driveEvents_ = env_.makeDriveEvents();
    else if (systemRegistry)
        driveEvents_ = zentrova::platform::CreateSystemDriveEventSource(&why);
    if (driveEvents_ == nullptr && !why.empty())
        if (std::ostream* debug = zentrova::platform::DebugStreamFromEnvironment())
            *debug << "zentrova: drives are not followed after start-up: " << why << '\n';
}

void AppController::ListenToDriveEvents(
    std::unique_ptr<zentrova::platform::DeviceRegistry> registry) {
    if (driveEvents_ == nullptr || driveEvents_->Descriptor() < 0 || registry == nullptr) {
        driveEvents_.reset();
        return;
    }
    registry_ = std::move(registry);
    driveEventFollower_ = std::make_unique<zentrova::hotplug::DriveEventFollower>(
        std::move(driveEvents_), env_.driveEventsQuietMilliseconds,
        [this](std::vector<std::string> removed) { DriveEventsQuiet(std::move(removed)); });
}

void AppController::DriveEventsQuiet(std::vector<std::string> removed) {
    if (ended_)
        return;
    removedInBurst_.insert(removedInBurst_.end(), removed.begin(), removed.end());
    driveListWaiting_ = true;
    WhenNoPanelIsUp();
}

void AppController::UpdateDriveList() {
    if (ended_ || registry_ == nullptr)
        return;
    const zentrova::device::DriveListChanges changes =
        zentrova::device::UpdateDriveList(*registry_, std::exchange(removedInBurst_, {}));

    for (xDEV_INFO* record : changes.departed) {
        const int k = record->nDevIndex;
        Tell("removed", *record);
        zentrova::settings::StopTimerForDrive(k);
        // The row keeps its last values; its S.M.A.R.T. cell its last verdict.
        if (k >= 0 && k < driveColumns_.Col_2_Array.size())
            driveColumns_.Col_2_Array[k] = QStringLiteral("Removed");
    }
    for (xDEV_INFO* record : changes.returned) {
        const int k = record->nDevIndex;
        Tell("back", *record);
        readFailed_[k] = false;
        FillDriveRow(*record, /*keepVerdict=*/true);
    }
    for (xDEV_INFO* record : changes.arrived) {
        Tell("arrived", *record);
        readFailed_[record->nDevIndex] = false;
        FillDriveRow(*record);
    }
    ShowLeftOutDisks();
    ReloadDriveTable();
    zentrova::metrics::UpdateMetricsFile();

    // Its log as start-up opens or creates it, its settings and its timer.
    // A log that cannot be made now is told on standard error: the drive is
    // watched without it, and the monitor goes on with the others.
    std::vector<xDEV_INFO*> back = changes.arrived;
    back.insert(back.end(), changes.returned.begin(), changes.returned.end());
    for (xDEV_INFO* record : back) {
        const int k = record->nDevIndex;
        if (k < 0 || k >= zentrova::device::kMaxDrives)
            continue;
        const QString path = zentrova::smart::LogFilePath(strDrvPath, k);
        const zentrova::smart::LogCreation created =
            zentrova::smart::CreateLogFile(path, zentrova::platform::CurrentDateTime());
        if (created.result == zentrova::smart::LogCreateResult::CreateFailed)
            std::fprintf(stderr, "%s\n",
                         zentrova::smart::LogCreateFailureLine(path, created).constData());
        zentrova::settings::SettingsForDriveThatArrived(*this, *record);
    }
}
