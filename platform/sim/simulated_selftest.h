// A simulated drive's self-tests: a test that starts, moves on ten percent
// with every read of the data page, and ends in the drive's self-test log,
// passed, or failed at a given LBA for a drive meant to fail. An ATA drive
// shows the running test and its ability in its data page, an NVMe drive in
// its self-test log, as real ones do.
#pragma once

#include "platform/device_registry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zentrova::platform {

class SimulatedSelfTest {
  public:
    SimulatedSelfTest(DriveKind kind, int shortMinutes, int extendedMinutes,
                      std::optional<std::uint32_t> failingLba);

    // The running test's state and the drive's ability written into the data
    // page about to be answered; then the test moves on.
    void Read(std::uint8_t* dataPage);
    int Execute(SelfTestCommand command);
    void LogPage(std::uint8_t* page) const;

  private:
    struct Entry {
        SelfTestCommand type;
        std::uint8_t status; // the ATA status nibble
        std::uint64_t hours;
        std::optional<std::uint32_t> lba;
    };
    void Finish(std::uint8_t status, std::optional<std::uint32_t> lba);
    void AtaLog(std::uint8_t* page) const;
    void NvmeLog(std::uint8_t* page) const;

    DriveKind kind_;
    int shortMinutes_;
    int extendedMinutes_;
    std::optional<std::uint32_t> failingLba_;
    std::optional<SelfTestCommand> running_;
    int remaining_ = 0; // percent
    std::uint8_t lastStatus_ = 0;
    std::uint64_t hours_ = 0;
    std::vector<Entry> log_; // oldest first
};

} // namespace zentrova::platform
