// The controller's side of the Self-test page: the self-tests of the drive
// list, what the page is shown for the selected drive, and what an ended test
// leaves behind (the event log's entry, the metrics and the history; a failed
// one counts against the drive at the poll it ended in, through the poll's
// own failure path).
#pragma once

#include "device/device.h"
#include "selftest/selftest_run.h"

#include <QObject>

#include <memory>

class AppController;
class QTimer;

namespace zentrova::shell {

class SelfTestPage;

class SelfTestTab final : public QObject, public selftest::SelfTestHost {
  public:
    SelfTestTab(AppController& controller, SelfTestPage* page);

    selftest::SelfTests& Tests() { return tests_; }
    SelfTestPage* Page() const { return page_; }
    QTimer* CheckTimer() const { return timer_; }

    // The selected drive changed, or what the page shows of it did.
    void ShowDrive(const device::xDEV_INFO* record);
    void Refresh();

    // From the controller's PollHost.
    void PollStarted() { ++pollDepth_; }
    void PollEnded();
    void DataRead(int drive, const std::uint8_t* dataPage);

    // SelfTestHost.
    bool PollRunning() const override { return pollDepth_ > 0; }
    bool IsNvme(int drive) const override;
    bool Execute(int drive, platform::SelfTestCommand command) override;
    bool ReadLog(int drive, std::uint8_t* page) override;
    void PollDrive(int drive) override;
    void TestEnded(int drive, selftest::TestType type,
                   const std::optional<selftest::LogEntry>& entry) override;
    void Changed(int drive) override;

  private:
    const device::xDEV_INFO* Record(int drive) const;
    void Start(selftest::TestType type);

    AppController& controller_;
    SelfTestPage* page_;
    QTimer* timer_;
    selftest::SelfTests tests_;
    int pollDepth_ = 0;
    int shown_ = -1;
};

// "Short", "Extended": the metrics' and history's word for a type.
QByteArray TypeKey(selftest::TestType type);

} // namespace zentrova::shell
