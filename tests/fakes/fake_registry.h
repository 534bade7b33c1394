// In-memory registry and SMART handles for tests of the drive-access layer.
#pragma once

#include "device/smart_pages.h"
#include "platform/device_registry.h"

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace zentrova::testing {

using Page = std::array<std::uint8_t, 512>;

// Page builder: entries in page order, from byte 2.
struct EntrySpec {
    std::uint8_t id;
    std::uint8_t value = 100;
    std::uint8_t worst = 100;
    std::uint8_t raw0 = 0;
    std::uint8_t threshold = 0;
};

inline Page DataPage(const std::vector<EntrySpec>& entries) {
    Page page{};
    for (std::size_t i = 0; i < entries.size() && i < 40; ++i) {
        std::uint8_t* e = page.data() + 2 + 12 * i;
        if (2 + 12 * i + 12 > page.size())
            break;
        e[0] = entries[i].id;
        e[3] = entries[i].value;
        e[4] = entries[i].worst;
        e[5] = entries[i].raw0;
    }
    return page;
}

inline Page ThresholdsPage(const std::vector<EntrySpec>& entries) {
    Page page{};
    for (std::size_t i = 0; i < entries.size() && 2 + 12 * i + 12 <= page.size(); ++i) {
        page[2 + 12 * i] = entries[i].id;
        page[2 + 12 * i + 1] = entries[i].threshold;
    }
    return page;
}

struct FakeDriveState {
    int enableStatus = 0;
    int readDataStatus = 0;
    int readThresholdsStatus = 0;
    Page data{};
    Page thresholds{};
    int enableCalls = 0;
    int readDataCalls = 0;
    int readThresholdsCalls = 0;
    // Bytes a failed read leaves in the caller's page.
    std::uint8_t failureFill = 0;
};

class FakeSmart final : public platform::AtaSmartInterface {
  public:
    explicit FakeSmart(FakeDriveState* state) : state_(state) {}
    int SMARTEnableDisableOperations(bool) override {
        ++state_->enableCalls;
        return state_->enableStatus;
    }
    int SMARTReadData(std::uint8_t* page) override {
        ++state_->readDataCalls;
        return Fill(page, state_->data, state_->readDataStatus);
    }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        ++state_->readThresholdsCalls;
        return Fill(page, state_->thresholds, state_->readThresholdsStatus);
    }

  private:
    int Fill(std::uint8_t* out, const Page& page, int status) {
        if (status != 0) {
            if (state_->failureFill != 0)
                std::memset(out, state_->failureFill, page.size());
            return status;
        }
        std::memcpy(out, page.data(), page.size());
        return 0;
    }
    FakeDriveState* state_;
};

struct FakeService {
    bool smart = true;
    std::optional<std::string> bsdName;
    std::optional<std::int64_t> sizeBytes;
    std::optional<std::string> model;
    std::optional<std::string> firmware;
    FakeDriveState* drive = nullptr; // required when smart is true
};

class FakeRegistry final : public platform::DeviceRegistry {
  public:
    std::vector<FakeService> services;
    std::vector<std::string> leftOut;
    std::vector<std::string> LeftOutDisks() const override { return leftOut; }
    std::vector<platform::BlockStorageService> BlockStorageServices() override {
        std::vector<platform::BlockStorageService> out;
        for (const FakeService& s : services) {
            platform::BlockStorageService svc;
            if (s.smart)
                svc.smartInterface = std::make_unique<FakeSmart>(s.drive);
            svc.bsdName = s.bsdName;
            svc.sizeBytes = s.sizeBytes;
            svc.deviceModel = s.model;
            svc.deviceRevision = s.firmware;
            out.push_back(std::move(svc));
        }
        return out;
    }
};

class FakeVersion final : public platform::SystemVersionSource {
  public:
    FakeVersion(int status, std::uint32_t value) : status_(status), value_(value) {}
    int SystemVersion(std::uint32_t* value) override {
        *value = value_;
        return status_;
    }

  private:
    int status_;
    std::uint32_t value_;
};

} // namespace zentrova::testing
