#include "selftest_tab.h"

#include "AppController.h"
#include "history/history.h"
#include "history_page.h"
#include "metrics/metrics.h"
#include "platform/ui/alert_panel.h"
#include "selftest_page.h"
#include "settings/settings_state.h"
#include "settings/timers.h"
#include "smart/event_log.h"
#include "smart/smart_state.h"
#include "ui_MainWindow.h"

#include <QTabWidget>
#include <QTimer>

#include <cstdio>

#include <array>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;

namespace zentrova::shell {

namespace {

// The timer only looks at the clock; SelfTests reads a drive when its
// thirty seconds are up.
constexpr int kTimerMs = 5000;

metrics::SelfTestResult ResultOf(const std::optional<selftest::LogEntry>& entry) {
    if (!entry)
        return metrics::kSelfTestUnknown;
    switch (entry->verdict) {
    case selftest::Verdict::Passed:
        return metrics::kSelfTestPassed;
    case selftest::Verdict::Failed:
        return metrics::kSelfTestFailed;
    case selftest::Verdict::Aborted:
        return metrics::kSelfTestAborted;
    default:
        return metrics::kSelfTestUnknown;
    }
}

} // namespace

QByteArray TypeKey(selftest::TestType type) {
    return QByteArray(selftest::TypeName(type)).toLower();
}

SelfTestTab::SelfTestTab(AppController& controller, SelfTestPage* page)
    : QObject(page), controller_(controller), page_(page), timer_(new QTimer(this)),
      tests_(*this, history::NowMs) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, [this] { tests_.Tick(); });
    page_->onStart = [this](selftest::TestType type) { Start(type); };
    page_->onAbort = [this] { tests_.Abort(shown_); };
}

const xDEV_INFO* SelfTestTab::Record(int drive) const {
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            return r;
    return nullptr;
}

bool SelfTestTab::IsNvme(int drive) const {
    const xDEV_INFO* r = Record(drive);
    return r != nullptr && r->driveKind == platform::DriveKind::Nvme;
}

bool SelfTestTab::Execute(int drive, platform::SelfTestCommand command) {
    return device::ExecuteSelfTestOnTheDrive(Record(drive), command) == 1;
}

bool SelfTestTab::ReadLog(int drive, std::uint8_t* page) {
    return device::ReadSelfTestLogOfTheDrive(Record(drive), page) == 1;
}

void SelfTestTab::PollDrive(int drive) {
    settings::StartTimerForPollingDrive(controller_, QStringLiteral("Disk%1").arg(drive));
}

void SelfTestTab::Start(selftest::TestType type) {
    if (tests_.Start(shown_, type) == selftest::StartResult::Refused)
        platform::NSRunAlertPanel(QStringLiteral("Zentrova"),
                                  QStringLiteral("The drive did not start the self-test."),
                                  QString());
    if (tests_.AnyRunning())
        timer_->start();
}

void SelfTestTab::PollEnded() {
    pollDepth_ = std::max(0, pollDepth_ - 1);
    if (pollDepth_ == 0)
        tests_.PollEnded();
}

void SelfTestTab::DataRead(int drive, const std::uint8_t* dataPage) {
    tests_.DataRead(drive, dataPage);
}

void SelfTestTab::TestEnded(int drive, selftest::TestType type,
                            const std::optional<selftest::LogEntry>& entry) {
    if (!tests_.AnyRunning())
        timer_->stop();
    const xDEV_INFO* record = Record(drive);
    if (record == nullptr)
        return;
    const bool nvme = record->driveKind == platform::DriveKind::Nvme;
    smart::SelfTestOutcome outcome;
    outcome.type = QString::fromLatin1(selftest::TypeName(type));
    outcome.result = entry ? QString::fromStdString(nvme ? selftest::NvmeResultText(entry->status)
                                                         : selftest::AtaStatusText(entry->status))
                           : QStringLiteral("Unknown: the self-test log could not be read");
    outcome.failed = entry && entry->failed();
    outcome.hours = entry ? entry->powerOnHours : 0;
    outcome.failingLba = entry ? entry->failingLba : std::nullopt;
    smart::LogAppender log;
    if (log.Open(smart::LogFilePath(controller_.DrvPath(), drive)))
        log.Append(smart::SelfTestEntry(QDateTime::currentDateTime(), record->szModelNum,
                                        record->szFirmwareRev, outcome));
    log.Close();
    // Inside a poll the poll refreshes the log page itself; an abort is not.
    if (!PollRunning() && record == dev.gpSelDevInfo && settings::settings.gbCheckLog[drive] != 0)
        controller_.FillLogEvents();

    const metrics::SelfTestResult result = ResultOf(entry);
    metrics::MetricsSelfTestEnded(drive, TypeKey(type), result, outcome.hours);
    metrics::UpdateMetricsFile();
    const history::Trouble trouble = history::RecordSelfTest(
        drive, {0, TypeKey(type).toStdString(), result, outcome.hours, outcome.failingLba});
    if (!trouble.error.empty())
        std::fprintf(stderr, "zentrova: a self-test could not be added to the history: %s\n",
                     trouble.error.c_str());
}

void SelfTestTab::Changed(int drive) {
    if (drive == shown_)
        Refresh();
}

void SelfTestTab::ShowDrive(const xDEV_INFO* record) {
    shown_ = record != nullptr ? record->nDevIndex : -1;
    Refresh();
}

void SelfTestTab::Refresh() {
    SelfTestView view;
    const xDEV_INFO* record = Record(shown_);
    if (record == nullptr || shown_ < 0 || shown_ >= device::kMaxDrives) {
        page_->Show(view);
        return;
    }
    view.haveDrive = true;
    view.nvme = record->driveKind == platform::DriveKind::Nvme;
    view.slot = tests_.At(shown_);
    // What the drive can do is in the pages of its last poll.
    if (smart::smart.gpPrevThreshold[shown_] != nullptr)
        view.capability =
            view.nvme ? selftest::DecodeNvmeCapability(smart::smart.gTempThreshStruct[shown_])
                      : selftest::DecodeCapability(smart::smart.gTempDataStruct[shown_]);
    std::array<std::uint8_t, selftest::kPageSize> log{};
    if (view.capability.supported && ReadLog(shown_, log.data()))
        view.entries = view.nvme ? selftest::DecodeNvmeSelfTestLog(log.data(), log.size()).entries
                                 : selftest::DecodeAtaSelfTestLog(log.data());
    page_->Show(view);
}

} // namespace zentrova::shell

void AppController::SetUpSelfTestPage() {
    auto* page = new zentrova::shell::SelfTestPage;
    selfTestTab_ = new zentrova::shell::SelfTestTab(*this, page);
    QTabWidget* tabs = mainUi_->TheTab;
    tabs->insertTab(tabs->indexOf(historyPage_) + 1, page, QStringLiteral("Self-test"));
}

void AppController::PollStarted(int) {
    selfTestTab_->PollStarted();
}

void AppController::PollEnded(int drive) {
    selfTestTab_->PollEnded();
    if (dev.gpSelDevInfo != nullptr && dev.gpSelDevInfo->nDevIndex == drive)
        selfTestTab_->Refresh();
}

bool AppController::SelfTestFailed(int drive) {
    return selfTestTab_->Tests().LastFailed(drive);
}
