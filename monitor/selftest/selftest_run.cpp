#include "selftest_run.h"

#include <algorithm>

namespace zentrova::selftest {

namespace {

platform::SelfTestCommand CommandFor(TestType type) {
    return type == TestType::Extended ? platform::SelfTestCommand::Extended
                                      : platform::SelfTestCommand::Short;
}

} // namespace

SelfTests::SelfTests(SelfTestHost& host, std::function<std::int64_t()> nowMs)
    : host_(host), now_(std::move(nowMs)) {}

std::size_t SelfTests::Index(int drive) {
    return static_cast<std::size_t>(std::clamp(drive, 0, kSlots - 1));
}

bool SelfTests::AnyRunning() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) {
        return s.state == State::Running || s.state == State::Waiting;
    });
}

bool SelfTests::LastFailed(int drive) const {
    const Slot& slot = At(drive);
    return slot.state == State::Finished && slot.result && slot.result->failed();
}

StartResult SelfTests::Start(int drive, TestType type) {
    if (drive < 0 || drive >= kSlots)
        return StartResult::Refused;
    Slot& slot = slots_[Index(drive)];
    if (slot.state == State::Running || slot.state == State::Waiting)
        return StartResult::AlreadyRunning;
    slot.type = type;
    slot.percentDone = 0;
    // A poll holds the drive: the command would come between its reads.
    if (host_.PollRunning()) {
        slot.state = State::Waiting;
        host_.Changed(drive);
        return StartResult::Waiting;
    }
    return Send(drive) ? StartResult::Started : StartResult::Refused;
}

bool SelfTests::Send(int drive) {
    Slot& slot = slots_[Index(drive)];
    if (!host_.Execute(drive, CommandFor(slot.type))) {
        slot.state = State::Idle;
        host_.Changed(drive);
        return false;
    }
    slot.state = State::Running;
    slot.nextCheckMs = now_() + kCheckIntervalMs;
    host_.Changed(drive);
    return true;
}

bool SelfTests::Abort(int drive) {
    if (drive < 0 || drive >= kSlots)
        return false;
    Slot& slot = slots_[Index(drive)];
    if (slot.state == State::Waiting) {
        slot.state = State::Idle;
        host_.Changed(drive);
        return true;
    }
    if (slot.state != State::Running || !host_.Execute(drive, platform::SelfTestCommand::Abort))
        return false;
    End(drive, State::Aborted);
    return true;
}

void SelfTests::PollEnded() {
    for (int d = 0; d < kSlots; ++d)
        if (slots_[Index(d)].state == State::Waiting)
            Send(d);
}

void SelfTests::DataRead(int drive, const std::uint8_t* dataPage) {
    if (drive < 0 || drive >= kSlots || dataPage == nullptr)
        return;
    Slot& slot = slots_[Index(drive)];
    if (slot.state != State::Running)
        return;
    slot.nextCheckMs = now_() + kCheckIntervalMs;
    // An NVMe drive tells its running test in its self-test log, an ATA
    // drive in its data page.
    bool running = false;
    if (host_.IsNvme(drive)) {
        std::array<std::uint8_t, kPageSize> log{};
        if (!host_.ReadLog(drive, log.data()))
            return;
        const NvmeSelfTestLog decoded = DecodeNvmeSelfTestLog(log.data(), log.size());
        running = decoded.running.has_value();
        slot.percentDone = decoded.percentComplete;
    } else {
        const ExecutionStatus status = DecodeExecutionStatus(dataPage);
        running = status.running();
        slot.percentDone = 100 - status.percentRemaining;
    }
    if (!running) {
        End(drive, State::Finished);
        return;
    }
    host_.Changed(drive);
}

void SelfTests::End(int drive, State state) {
    Slot& slot = slots_[Index(drive)];
    std::array<std::uint8_t, kPageSize> log{};
    slot.result.reset();
    if (host_.ReadLog(drive, log.data())) {
        const std::vector<LogEntry> entries =
            host_.IsNvme(drive) ? DecodeNvmeSelfTestLog(log.data(), log.size()).entries
                                : DecodeAtaSelfTestLog(log.data());
        if (!entries.empty())
            slot.result = entries.front();
    }
    slot.state = state;
    slot.percentDone = state == State::Finished ? 100 : slot.percentDone;
    host_.TestEnded(drive, slot.type, slot.result);
    host_.Changed(drive);
}

void SelfTests::Tick() {
    const std::int64_t now = now_();
    for (int d = 0; d < kSlots; ++d) {
        Slot& slot = slots_[Index(d)];
        if (slot.state == State::Running && now >= slot.nextCheckMs) {
            slot.nextCheckMs = now + kCheckIntervalMs;
            host_.PollDrive(d);
        }
    }
}

void SelfTests::Reset() {
    slots_ = {};
}

} // namespace zentrova::selftest
