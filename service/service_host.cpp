#include "service_host.h"

#include "device/device.h"
#include "history/history.h"
#include "history/history_reading.h"
#include "metrics/metrics.h"
#include "platform/device_registry.h"
#include "platform/ui/alert_panel.h"
#include "settings/store.h"
#include "settings/timers.h"
#include "smart/event_log.h"
#include "smart/smart_state.h"
#include "smart/table_rules.h"
#include "watch/watch.h"

#include <QDir>

#include <algorithm>

namespace zentrova::service {

using device::dev;
using device::xDEV_INFO;

namespace {

const xDEV_INFO* RecordOf(int drive) {
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            return r;
    return nullptr;
}

// What the window's panel for this kind of event would have been.
Priority PriorityOf(platform::NoticeKind kind) {
    switch (kind) {
    case platform::NoticeKind::DriveFailing:
        return Priority::Crit;
    case platform::NoticeKind::DriveOverCriticalTemp:
    case platform::NoticeKind::DriveOnWatch:
        return Priority::Warning;
    case platform::NoticeKind::DriveAdvice:
        return Priority::Notice;
    default:
        return Priority::Err;
    }
}

} // namespace

ServiceHost::ServiceHost(ServiceConfig config) : config_(std::move(config)) {
    // Nobody answers a panel here: each becomes a journal line and answers
    // its default button at once.
    platform::SetNoticeHandler([this](const platform::DesktopNotice& n) { Told(n); });
    platform::SetAlertHandler([this](const platform::AlertRequest& r) { return Answer(r); });
    platform::SetBeepHandler([] {});
}

ServiceHost::~ServiceHost() {
    Stop();
    platform::SetNoticeHandler({});
    platform::SetAlertHandler({});
    platform::SetBeepHandler({});
}

QLocale ServiceHost::LogLocale() const {
    // The same logs whatever the system's locale: a service has no user's.
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

QString ServiceHost::DriveName(int drive) const {
    const xDEV_INFO* r = RecordOf(drive);
    return r != nullptr ? QString::fromLatin1(r->szDevFilePath) : QString();
}

bool ServiceHost::Start(platform::DeviceRegistry& registry) {
    device::FindCurrentRunningOS();
    device::SMARTDeviceDetection(registry);
    metrics::MetricsDrivesDetected();
    TellLeftOutDisks(Priority::Notice);
    if (dev.gpHeadDevInfo == nullptr)
        Journal(Priority::Warning, QStringLiteral("No drive was found that Zentrova can read."));

    if (!QDir().mkpath(config_.dataDir)) {
        Journal(Priority::Err,
                QStringLiteral("The data folder %1 could not be made.").arg(config_.dataDir));
        return false;
    }
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        col2_.append(r->nTemperature == 0 ? QVariant(QStringLiteral("N/A"))
                                          : QVariant(QString::number(r->nTemperature)));
        col3_.append(r->bSmartEnabled != 0 ? QStringLiteral("OK") : QStringLiteral("Failed"));
        if (r->nDevIndex >= 0 && r->nDevIndex < device::kMaxDrives)
            smart::smart.gbFlag[r->nDevIndex] = r->nDevIndex == 0 ? 1 : 0;
        const QString path = smart::LogFilePath(config_.dataDir, r->nDevIndex);
        const smart::LogCreation created =
            smart::CreateLogFile(path, platform::CurrentDateTime(), LogLocale());
        if (created.result == smart::LogCreateResult::CreateFailed) {
            Journal(Priority::Err, QString::fromUtf8(smart::LogCreateFailureLine(path, created)));
            return false;
        }
    }
    WriteMetrics();
    const QString trouble = history::TroubleMessage(history::OpenHistory(config_.dataDir));
    if (!trouble.isEmpty())
        Journal(Priority::Err, trouble);

    SeedDriveEntries();
    settings::store.mutDict = {};
    settings::ReadAndSavePreviousSettings(*this);
    started_ = true;

    // Every drive once now, so the text file has its samples within the
    // first poll rather than a whole interval later.
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        dev.gpSelDevInfo = r;
        smart::PollSelDriveForSMARTAndFillAttributeTable(*this);
        if (dev.gpHeadDevInfo == nullptr)
            break;
    }
    return true;
}

// A drive the settings file does not know starts with the configured
// interval and critical temperature instead of the window's hourly 50 degrees.
void ServiceHost::SeedDriveEntries() {
    const settings::SettingsRead read = settings::ReadSettingsFile(config_.dataDir);
    if (read.exists && !read.dict)
        return; // the settings keep it aside and say so
    settings::SettingsDict dict = read.dict.value_or(settings::SettingsDict{});
    bool added = false;
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        const QString key = settings::DiskKey(r->nDevIndex);
        if (dict.Find(key) != nullptr)
            continue;
        dict.Put(key, SeededEntry(*r));
        added = true;
    }
    if (!added)
        return;
    settings::store.mutDict = std::move(dict);
    const QString error = settings::SaveSettings(config_.dataDir);
    if (!error.isEmpty())
        Journal(Priority::Err, error);
}

settings::DriveEntry ServiceHost::SeededEntry(const xDEV_INFO& drive) const {
    settings::DriveEntry entry = settings::DefaultEntry(
        QString::fromLatin1(drive.szModelNum), QString::fromLatin1(drive.szFirmwareRev), false,
        drive.driveKind == platform::DriveKind::Nvme && drive.nDefaultCriticalTemp > 0
            ? drive.nDefaultCriticalTemp
            : config_.criticalTemperature);
    entry.Set(QStringLiteral("Hour"), QString::number(config_.intervalMinutes / 60));
    entry.Set(QStringLiteral("Min"), QString::number(config_.intervalMinutes % 60));
    return entry;
}

void ServiceHost::TellLeftOutDisks(Priority priority) {
    for (const std::string& line : dev.leftOutDisks)
        if (std::find(toldLeftOut_.begin(), toldLeftOut_.end(), line) == toldLeftOut_.end())
            Journal(priority, QString::fromStdString(line));
    toldLeftOut_ = dev.leftOutDisks;
}

void ServiceHost::FollowDriveEvents(std::unique_ptr<platform::DriveEventSource> source,
                                    std::unique_ptr<platform::DeviceRegistry> registry,
                                    int quietMilliseconds) {
    if (!started_ || source == nullptr || registry == nullptr)
        return;
    registry_ = std::move(registry);
    follower_ = std::make_unique<hotplug::DriveEventFollower>(
        std::move(source), quietMilliseconds,
        [this](std::vector<std::string> removed) { UpdateDriveList(removed); });
}

namespace {

QString Described(const xDEV_INFO& drive) {
    const QString model = QString::fromLatin1(drive.szModelNum).trimmed();
    const QString serial = QString::fromStdString(drive.driveSerial);
    return QStringLiteral("Drive %1 (%2%3)")
        .arg(QString::fromLatin1(drive.szDevFilePath), model,
             serial.isEmpty() ? QString() : QStringLiteral(", serial ") + serial);
}

} // namespace

void ServiceHost::UpdateDriveList(const std::vector<std::string>& removed) {
    if (!started_ || registry_ == nullptr)
        return;
    const device::DriveListChanges changes = device::UpdateDriveList(*registry_, removed);
    // A drive that left is never read again; its history stays.
    for (const xDEV_INFO* r : changes.departed) {
        settings::StopTimerForDrive(r->nDevIndex);
        Journal(Priority::Warning, Described(*r) + QStringLiteral(" was removed."));
    }
    for (xDEV_INFO* r : changes.returned) {
        Journal(Priority::Notice, Described(*r) + QStringLiteral(" is back."));
        Watch(*r);
    }
    for (xDEV_INFO* r : changes.arrived) {
        Journal(Priority::Notice, Described(*r) + QStringLiteral(" arrived."));
        Watch(*r);
    }
    // A drive past the last slot, with start-up's reason.
    TellLeftOutDisks(Priority::Warning);
    WriteMetrics();
}

// A drive that arrived or came back, watched as start-up watches each: its
// cells, its log, its settings entry (its slot's own when that names it,
// else seeded from the configuration), its timer and one read now.
void ServiceHost::Watch(xDEV_INFO& drive) {
    const int k = drive.nDevIndex;
    if (k < 0 || k >= device::kMaxDrives)
        return;
    while (col2_.size() <= k)
        col2_.append(QVariant());
    while (col3_.size() <= k)
        col3_.append(QString());
    col2_[k] = drive.nTemperature == 0 ? QVariant(QStringLiteral("N/A"))
                                       : QVariant(QString::number(drive.nTemperature));
    col3_[k] = drive.bSmartEnabled != 0 ? QStringLiteral("OK") : QStringLiteral("Failed");
    unreadable_[k] = false;
    // Without its log the drive is still watched: the service goes on.
    const QString path = smart::LogFilePath(config_.dataDir, k);
    const smart::LogCreation created =
        smart::CreateLogFile(path, platform::CurrentDateTime(), LogLocale());
    if (created.result == smart::LogCreateResult::CreateFailed)
        Journal(Priority::Err, QString::fromUtf8(smart::LogCreateFailureLine(path, created)));
    const settings::DriveEntry seeded = SeededEntry(drive);
    settings::SettingsForDriveThatArrived(*this, drive, &seeded);
    dev.gpSelDevInfo = &drive;
    smart::PollSelDriveForSMARTAndFillAttributeTable(*this);
}

void ServiceHost::Reconfigure(const ServiceConfig& config) {
    const bool moved = config.textfileDir != config_.textfileDir;
    config_.textfileDir = config.textfileDir;
    if (moved)
        metricsFailureTold_ = false;
    if (config.dataDir != config_.dataDir || config.intervalMinutes != config_.intervalMinutes ||
        config.criticalTemperature != config_.criticalTemperature)
        Journal(Priority::Notice,
                QStringLiteral("data_dir, interval_minutes and critical_temperature apply from "
                               "the next start of the service."));
}

void ServiceHost::Stop() {
    if (!started_)
        return;
    started_ = false;
    follower_.reset();
    registry_.reset();
    for (int k = 0; k < 4; ++k)
        settings::StopTimerForDrive(k);
    history::CloseHistory();
    smart::FreeSmartPages();
    device::FreeDeviceList();
}

void ServiceHost::EditDriveCell(int column, int row) {
    if (column < 2 || column > 3 || row < 0 || row >= device::kMaxDrives)
        return;
    const smart::DriveCellUpdate u =
        smart::DriveTableValueSet(column == 2 ? "Temp" : "SMART", row, drvFailed_);
    if (u.setTemp && row < col2_.size())
        col2_[row] = u.temp;
    if (u.setSmart && row < col3_.size())
        col3_[row] = u.smartStatus;
}

void ServiceHost::SelectDriveRow(int row) {
    dev.gpSelDevInfo = nullptr;
    for (xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == row)
            dev.gpSelDevInfo = r;
    if (dev.gpSelDevInfo != nullptr)
        smart::ShowSelectedDriveReading(*this);
}

void ServiceHost::PollSelDriveForSMARTAndFillAttributeTable() {
    smart::PollSelDriveForSMARTAndFillAttributeTable(*this);
}

void ServiceHost::PollStarted(int drive) {
    if (drive >= 0 && drive < device::kMaxDrives) {
        toldThisPoll_[drive].clear();
        readSucceeded_[drive] = false;
    }
}

void ServiceHost::PollEnded(int drive) {
    if (drive < 0 || drive >= device::kMaxDrives)
        return;
    // A read that failed says nothing of the drive's events: they stand.
    if (readSucceeded_[drive])
        told_[drive] = toldThisPoll_[drive];
}

void ServiceHost::PollReadFinished(int drive, const std::uint8_t* dataPage,
                                   const std::uint8_t* thresholdsPage) {
    const bool read = dataPage != nullptr && thresholdsPage != nullptr;
    if (drive >= 0 && drive < device::kMaxDrives) {
        readSucceeded_[drive] = read;
        if (!read && !unreadable_[drive])
            Journal(Priority::Err,
                    QStringLiteral("%1: the drive could not be read.").arg(DriveName(drive)));
        unreadable_[drive] = !read;
    }
    metrics::MetricsRecordRead(drive, dataPage, thresholdsPage);
    if (read) {
        const history::Trouble trouble = history::RecordRead(drive, dataPage, thresholdsPage);
        const QString message = history::TroubleMessage(trouble);
        if (!message.isEmpty()) {
            Journal(Priority::Err, message);
        } else if (!trouble.error.empty()) {
            if (!historyFailureTold_)
                Journal(Priority::Err,
                        QStringLiteral("A reading could not be added to the history: %1")
                            .arg(QString::fromStdString(trouble.error)));
            historyFailureTold_ = true;
        } else {
            historyFailureTold_ = false;
        }
        JudgeWatch(drive, dataPage, thresholdsPage);
    }
    WriteMetrics();
}

void ServiceHost::JudgeWatch(int drive, const std::uint8_t* dataPage,
                             const std::uint8_t* thresholdsPage) {
    const std::int64_t now = history::NowMs();
    std::vector<watch::Change> changes;
    std::vector<metrics::WatchSample> samples;
    const watch::Verdict* verdict =
        watch::JudgeRead(drive, dataPage, thresholdsPage, now, &changes, &samples);
    if (verdict == nullptr)
        return;
    metrics::MetricsWatchJudged(drive, std::move(samples));
    for (const watch::Change& change : changes) {
        if (change.what == watch::Change::Ended || change.rule == nullptr)
            continue;
        const bool advice = change.what == watch::Change::AdviceGrew;
        Journal(advice ? Priority::Notice : Priority::Warning,
                QStringLiteral("%1: %2").arg(DriveName(drive),
                                             QString::fromStdString(change.sentence)));
    }
}

void ServiceHost::WriteMetrics() {
    QString error;
    if (metrics::WriteMetricsFile(config_.textfileDir, &error)) {
        metricsFailureTold_ = false;
        return;
    }
    if (!metricsFailureTold_)
        Journal(Priority::Err, QStringLiteral("The metrics file could not be written in %1: %2")
                                   .arg(config_.textfileDir, error));
    metricsFailureTold_ = true;
}

void ServiceHost::Told(const platform::DesktopNotice& notice) {
    noticeBeforePanel_ = true;
    const int kind = static_cast<int>(notice.kind);
    if (notice.drive >= 0 && notice.drive < device::kMaxDrives) {
        toldThisPoll_[notice.drive].insert(kind);
        if (told_[notice.drive].count(kind) != 0)
            return; // still the same event
        told_[notice.drive].insert(kind);
    }
    const QString who =
        notice.driveName.isEmpty() ? QString() : notice.driveName + QStringLiteral(": ");
    Journal(PriorityOf(notice.kind), who + notice.body);
}

int ServiceHost::Answer(const platform::AlertRequest& request) {
    if (!std::exchange(noticeBeforePanel_, false))
        Journal(Priority::Err, request.title + QStringLiteral(": ") + request.message);
    return platform::NSAlertDefaultReturn;
}

} // namespace zentrova::service
