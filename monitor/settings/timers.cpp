#include "settings/timers.h"

#include "device/device.h"
#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "settings/store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

using zentrova::device::dev;

namespace zentrova::settings {

namespace {

// A single QTimer waits at most this long (its interval is a signed 32-bit
// number of milliseconds); longer intervals wait in steps towards a deadline.
constexpr std::int64_t kLongestWaitMs = 24LL * 24 * 3600 * 1000;

class QtRepeatingTimer final : public RepeatingTimer {
  public:
    QtRepeatingTimer(std::int64_t intervalMs, std::function<void()> tick)
        : timer_(new QTimer), intervalMs_(intervalMs), dueMs_(intervalMs_), tick_(std::move(tick)) {
        clock_.start();
        timer_->setSingleShot(true);
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_, &QTimer::timeout, [this] { OnTimeout(); });
        Arm();
    }
    ~QtRepeatingTimer() override {
        timer_->stop();
        timer_->disconnect();
        // It may be the sender of the tick that stopped it.
        timer_->deleteLater();
    }

  private:
    void Arm() { Apply(StepRepeatingTimer(dueMs_, clock_.elapsed(), intervalMs_)); }
    void Apply(const TimerStep& step) {
        dueMs_ = step.dueMs;
        timer_->start(int(step.waitMs));
    }
    void OnTimeout() {
        const TimerStep step = StepRepeatingTimer(dueMs_, clock_.elapsed(), intervalMs_);
        Apply(step);
        if (step.fire) {
            std::function<void()> tick = tick_;
            tick(); // may destroy this timer
        }
    }

    QTimer* timer_;
    QElapsedTimer clock_;
    std::int64_t intervalMs_;
    std::int64_t dueMs_;
    std::function<void()> tick_;
};

class QtBackend final : public TimerBackend {
  public:
    std::unique_ptr<RepeatingTimer> Schedule(std::int64_t intervalSeconds,
                                             std::function<void()> tick) override {
        return MakeQtRepeatingTimer(intervalSeconds * 1000, std::move(tick));
    }
    void Post(std::function<void()> task) override {
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(task));
    }
};

TimerBackend*& CurrentBackend() {
    static TimerBackend* backend = nullptr;
    return backend;
}

TimerBackend& Backend() {
    return CurrentBackend() != nullptr ? *CurrentBackend() : QtTimerBackend();
}

QString UserInfo(int k) {
    return QStringLiteral("Disk%1").arg(k);
}

void DeliverOverdueTicks() {
    timers.deliveryPosted = false;
    for (int k = 0; k < 4; ++k) {
        if (platform::OpenPanelCount() > 0)
            return; // the tick before opened a panel; the rest wait for it
        if (!timers.overdue[k])
            continue;
        timers.overdue[k] = false;
        if (*TimerSlot(k) != nullptr && timers.host != nullptr)
            StartTimerForPollingDrive(*timers.host, UserInfo(k));
    }
}

void PanelsClosed() {
    const bool anyOverdue = std::any_of(std::begin(timers.overdue), std::end(timers.overdue),
                                        [](bool overdue) { return overdue; });
    if (!anyOverdue || timers.deliveryPosted)
        return;
    timers.deliveryPosted = true;
    Backend().Post(DeliverOverdueTicks);
}

void OnTimerFired(int k) {
    if (platform::OpenPanelCount() > 0) {
        timers.overdue[k] = true;
        return;
    }
    if (timers.host != nullptr)
        StartTimerForPollingDrive(*timers.host, UserInfo(k));
}

} // namespace

TimerStep StepRepeatingTimer(std::int64_t dueMs, std::int64_t nowMs, std::int64_t intervalMs) {
    TimerStep step;
    step.dueMs = dueMs;
    if (nowMs >= dueMs) {
        step.fire = true;
        step.dueMs = dueMs + ((nowMs - dueMs) / intervalMs + 1) * intervalMs;
    }
    step.waitMs = std::clamp<std::int64_t>(step.dueMs - nowMs, 0, kLongestWaitMs);
    return step;
}

std::unique_ptr<RepeatingTimer> MakeQtRepeatingTimer(std::int64_t intervalMs,
                                                     std::function<void()> tick) {
    return std::make_unique<QtRepeatingTimer>(intervalMs, std::move(tick));
}

TimerBackend& QtTimerBackend() {
    static QtBackend backend;
    return backend;
}

void SetTimerBackend(TimerBackend* backend) {
    CurrentBackend() = backend;
}

void ResetTimersForTest() {
    timers = TimerGlobals{};
    platform::SetPanelsClosedHandler({});
}

std::unique_ptr<RepeatingTimer>* TimerSlot(int k) {
    switch (k) {
    case 0:
        return &timers.DISK0;
    case 1:
        return &timers.DISK1;
    case 2:
        return &timers.DISK2;
    case 3:
        return &timers.DISK3;
    default:
        return nullptr;
    }
}

std::optional<std::int32_t> PollingIntervalSeconds(int hours, int minutes) {
    const std::int64_t seconds = std::int64_t(hours) * 3600 + std::int64_t(minutes) * 60;
    if (seconds <= 0 || seconds > INT32_MAX)
        return std::nullopt;
    return std::int32_t(seconds);
}

void FireTimerForSelDevice(SettingsHost& host, int k) {
    std::unique_ptr<RepeatingTimer>* slot = TimerSlot(k);
    if (slot == nullptr || *slot != nullptr)
        return;
    // A drive that left is not polled, whatever its settings say.
    for (const device::xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == k && r->removed)
            return;
    bool polling = true;
    int hours = 1;
    int minutes = 0;
    const SettingsRead read = ReadSettingsFile(host.DrvPath());
    // A file that does not parse (edited while the monitor runs) keeps the
    // drive polled hourly rather than silently unmonitored.
    if (read.exists && read.dict) {
        const DriveEntry* entry = read.dict->Find(DiskKey(k));
        const DriveEntry none;
        const DriveEntry& e = entry != nullptr ? *entry : none;
        polling = e.IsOn(QStringLiteral("DrvPoll"));
        hours = e.Number(QStringLiteral("Hour"));
        minutes = e.Number(QStringLiteral("Min"));
    }
    if (!polling)
        return;
    // A zero, negative or overflowing interval would fire without pause.
    const std::optional<std::int32_t> seconds = PollingIntervalSeconds(hours, minutes);
    if (!seconds)
        return;
    timers.host = &host;
    platform::SetPanelsClosedHandler(PanelsClosed);
    *slot = Backend().Schedule(*seconds, [k] { OnTimerFired(k); });
}

void StopTimerForDrive(int k) {
    if (std::unique_ptr<RepeatingTimer>* slot = TimerSlot(k)) {
        slot->reset();
        timers.overdue[k] = false;
    }
}

void StartTimerForPollingDrive(SettingsHost& host, const QString& userInfo) {
    int k = -1;
    for (int i = 0; i < 4 && k < 0; ++i) {
        if (userInfo == UserInfo(i))
            k = i;
    }
    if (k < 0)
        return;
    if (dev.gpSelDevInfo != nullptr && dev.gpSelDevInfo->nDevIndex == k) {
        host.PollSelDriveForSMARTAndFillAttributeTable();
        return;
    }
    // The selection handler polls the drive because of its mark.
    bool listed = false;
    for (const device::xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        listed = listed || r->nDevIndex == k;
    if (!listed)
        return;
    settings.bPoll[k] = 1;
    host.SelectDriveRow(k);
}

} // namespace zentrova::settings
