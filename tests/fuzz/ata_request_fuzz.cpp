// The drive helper's request loop, and the monitor's reading of its answers,
// on arbitrary bytes. The disks are canned: a fuzzer must never reach a real
// one. Every answer the loop writes must be a frame the monitor accepts.
#include "platform/linux/ata_helper_protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace zentrova::platform;

namespace {

class CannedDisks final : public DiskAccess {
  public:
    std::vector<DiskFacts> ListDisks(std::string*) override {
        DiskFacts controller{.name = "nvme0", .sizeBytes = 512, .hasDevice = true};
        controller.kind = DriveKind::Nvme;
        controller.model = "canned";
        controller.sensorCelsius = 40;
        return {DiskFacts{"sda", 512, true, 0, "scsi"}, DiskFacts{"loop0", {}, false, {}, ""},
                controller};
    }
    DiskAnswer Run(const std::string& name, DiskCommand, ata::CdbForm) override {
        DiskAnswer answer;
        answer.outcome =
            name == "sda" || name == "nvme0" ? ata::Outcome::Ok : ata::Outcome::SystemError;
        answer.refused = !answer.ok();
        answer.detail = answer.ok() ? "" : "no disk " + name;
        answer.page.fill(0xa5);
        return answer;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CannedDisks disks;
    FuzzedDataProvider in(data, size);
    helper::Serve([&](std::uint8_t* out, std::size_t n) { return in.ConsumeData(out, n) == n; },
                  [&](const std::uint8_t* bytes, std::size_t n) {
                      const auto header = helper::ParseHeader(bytes);
                      if (n < helper::kHeaderSize || !header ||
                          header->length != n - helper::kHeaderSize ||
                          header->length > helper::kMaxAnswerPayload)
                          __builtin_trap();
                      return true;
                  },
                  disks);

    // The same bytes as an answer payload the monitor might be sent.
    if (size > 0) {
        const helper::Bytes payload(data + 1, data + size);
        std::vector<DiskFacts> facts;
        std::string error;
        helper::DecodeListAnswer(helper::kListAnswer, payload, &facts, &error);
        DiskAnswer answer;
        // Every code of the table: the reading ones carry a page, the
        // self-tests' starts none.
        helper::DecodeCommandAnswer(
            helper::kCommandAnswer, payload,
            static_cast<DiskCommand>(1 + data[0] % static_cast<int>(kLastDiskCommand)), &answer);
    }
    return 0;
}
