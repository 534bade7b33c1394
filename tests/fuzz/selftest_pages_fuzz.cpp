// The self-test pages on arbitrary bytes: the SMART data page's status and
// ability, Identify Controller's, and both kinds' self-test logs with the
// words a user reads of each entry. Each page is a heap copy of exactly its
// length, so that a read past it is caught; the NVMe log takes any length.
#include "selftest/selftest_pages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace zentrova::selftest;

namespace {

void Words(const std::vector<LogEntry>& entries, bool nvme) {
    for (const LogEntry& entry : entries) {
        if (TypeName(entry.type) == nullptr || VerdictName(entry.verdict) == nullptr ||
            (nvme ? NvmeResultText(entry.status) : AtaStatusText(entry.status)).empty())
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The fixed pages: the input, cut or padded with zeros to 512 bytes.
    const auto page = std::make_unique<std::uint8_t[]>(kPageSize);
    std::memset(page.get(), 0, kPageSize);
    std::memcpy(page.get(), data, std::min(size, kPageSize));
    const ExecutionStatus status = DecodeExecutionStatus(page.get());
    if (status.code > 15 || status.percentRemaining < 0 || status.percentRemaining > 150 ||
        VerdictName(status.verdict) == nullptr)
        __builtin_trap();
    DecodeCapability(page.get());
    DecodeNvmeCapability(page.get());
    Words(DecodeAtaSelfTestLog(page.get()), false);

    // The NVMe log as far as the input reaches.
    const auto log = std::make_unique<std::uint8_t[]>(size);
    if (size > 0)
        std::memcpy(log.get(), data, size);
    const NvmeSelfTestLog nvme = DecodeNvmeSelfTestLog(log.get(), size);
    if (nvme.running && TypeName(*nvme.running) == nullptr)
        __builtin_trap();
    Words(nvme.entries, true);
    return 0;
}
