#include "simulated_selftest.h"

#include "platform/nvme_pages.h"
#include "platform/selftest_layout.h"

#include <algorithm>
#include <cstring>

namespace zentrova::platform {

namespace {

// ATA status nibbles and the NVMe results they stand for.
constexpr std::uint8_t kPassed = 0x0;
constexpr std::uint8_t kAborted = 0x1;
constexpr std::uint8_t kReadFailure = 0x7;
constexpr std::uint8_t kInProgress = 0xf;
// A failing drive's test stops with this much left.
constexpr int kFailsAtRemaining = 60;

using namespace selftest;
// Of the log's 20 results, what 512 bytes hold.
constexpr std::size_t kNvmeEntriesKept = (kSmartPageSize - kNvmeFirstEntry) / kNvmeEntrySize;

std::uint64_t LittleEndian(const std::uint8_t* bytes, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

void Put(std::uint8_t* at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The power-on hours of a data page: attribute 9's raw count, or the health
// log's field.
std::uint64_t PowerOnHours(DriveKind kind, const std::uint8_t* data) {
    if (kind == DriveKind::Nvme)
        return LittleEndian(data + nvme::kPowerOnHours.offset, 8);
    for (std::size_t entry = 2; entry + 12 <= 362; entry += 12)
        if (data[entry] == 9)
            return LittleEndian(data + entry + 5, 4);
    return 0;
}

std::uint8_t Subcommand(SelfTestCommand type) {
    return type == SelfTestCommand::Short ? 0x01 : 0x02;
}

std::uint8_t NvmeResult(std::uint8_t ataStatus) {
    if (ataStatus == kAborted)
        return 0x1;
    return ataStatus == kPassed ? 0x0 : 0x7;
}

} // namespace

SimulatedSelfTest::SimulatedSelfTest(DriveKind kind, int shortMinutes, int extendedMinutes,
                                     std::optional<std::uint32_t> failingLba)
    : kind_(kind), shortMinutes_(shortMinutes), extendedMinutes_(extendedMinutes),
      failingLba_(failingLba) {}

void SimulatedSelfTest::Read(std::uint8_t* dataPage) {
    hours_ = PowerOnHours(kind_, dataPage);
    if (kind_ == DriveKind::Ata) {
        dataPage[kExecutionStatusByte] =
            running_ ? static_cast<std::uint8_t>(kInProgress << 4 | remaining_ / 10)
                     : static_cast<std::uint8_t>(lastStatus_ << 4);
        dataPage[kOfflineCapabilityByte] |= kOfflineImmediateBit | kSelfTestSupportedBit;
        dataPage[kShortMinutesByte] = static_cast<std::uint8_t>(shortMinutes_);
        dataPage[kExtendedMinutesByte] =
            static_cast<std::uint8_t>(std::min(extendedMinutes_, 0xff));
        Put(dataPage + kExtendedMinutesWord, static_cast<std::uint64_t>(extendedMinutes_), 2);
    }
    if (!running_)
        return;
    remaining_ -= 10;
    if (failingLba_ && remaining_ <= kFailsAtRemaining)
        Finish(kReadFailure, failingLba_);
    else if (remaining_ <= 0)
        Finish(kPassed, std::nullopt);
}

int SimulatedSelfTest::Execute(SelfTestCommand command) {
    if (command == SelfTestCommand::Abort) {
        if (running_)
            Finish(kAborted, std::nullopt);
        return 0;
    }
    // A drive takes no second test while one runs (ATA aborts the command,
    // NVMe answers Device Self-test in Progress).
    if (running_)
        return 1;
    running_ = command;
    remaining_ = 90;
    return 0;
}

void SimulatedSelfTest::Finish(std::uint8_t status, std::optional<std::uint32_t> lba) {
    log_.push_back(Entry{*running_, status, hours_, lba});
    lastStatus_ = status;
    running_.reset();
    remaining_ = 0;
}

void SimulatedSelfTest::LogPage(std::uint8_t* page) const {
    std::memset(page, 0, kSmartPageSize);
    if (kind_ == DriveKind::Nvme)
        NvmeLog(page);
    else
        AtaLog(page);
}

void SimulatedSelfTest::AtaLog(std::uint8_t* page) const {
    page[0] = 1;
    for (std::size_t i = 0; i < log_.size(); ++i) {
        const Entry& e = log_[i];
        std::uint8_t* d =
            page + kAtaFirstDescriptor + (i % kAtaDescriptorCount) * kAtaDescriptorSize;
        d[0] = Subcommand(e.type);
        d[1] = static_cast<std::uint8_t>(e.status << 4 | (e.lba ? kFailsAtRemaining / 10 : 0));
        Put(d + kAtaHoursOffset, e.hours, 2);
        Put(d + kAtaLbaOffset, e.lba.value_or(kAtaNoLba), 4);
    }
    page[kAtaIndexByte] =
        static_cast<std::uint8_t>(log_.empty() ? 0 : (log_.size() - 1) % kAtaDescriptorCount + 1);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kSmartPageSize - 1; ++i)
        sum = static_cast<std::uint8_t>(sum + page[i]);
    page[kSmartPageSize - 1] = static_cast<std::uint8_t>(-sum);
}

void SimulatedSelfTest::NvmeLog(std::uint8_t* page) const {
    if (running_) {
        page[0] = Subcommand(*running_);
        page[1] = static_cast<std::uint8_t>(100 - remaining_);
    }
    for (std::size_t i = 0; i < kNvmeEntriesKept; ++i) {
        std::uint8_t* e = page + kNvmeFirstEntry + i * kNvmeEntrySize;
        if (i >= log_.size()) {
            e[0] = kNvmeUnusedEntry;
            continue;
        }
        const Entry& entry = log_[log_.size() - 1 - i];
        e[0] = static_cast<std::uint8_t>(Subcommand(entry.type) << 4 | NvmeResult(entry.status));
        Put(e + kNvmeHoursOffset, entry.hours, 8);
        if (entry.lba) {
            e[2] = kNvmeFailingLbaValid;
            Put(e + kNvmeLbaOffset, *entry.lba, 8);
        }
    }
}

} // namespace zentrova::platform
