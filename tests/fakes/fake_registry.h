// In-memory registry and SMART handles for tests of the drive-access layer.
#pragma once

#include "device/smart_pages.h"
#include "platform/device_registry.h"

#include <array>
#include <cstring>

namespace zentrova::testing {

using Page = std::array<std::uint8_t, 512>;

// Page builder: entries in page order, from byte 2.
struct EntrySpec {
    std::uint8_t id, value = 100, worst = 100, raw0 = 0, threshold = 0;
};

inline Page DataPage(const std::vector<EntrySpec>& entries) {
    Page page{};
    for (std::size_t i = 0; i < entries.size() && i < 40; ++i) {
        const EntrySpec& e = entries[i];
        std::uint8_t* at = &page[2 + 12 * i];
        at[0] = e.id, at[3] = e.value, at[4] = e.worst, at[5] = e.raw0;
    }
    return page;
}

inline Page ThresholdsPage(const std::vector<EntrySpec>& entries) {
    Page page{};
    for (std::size_t i = 0; i < entries.size() && i < 42; ++i)
        page[2 + 12 * i] = entries[i].id, page[3 + 12 * i] = entries[i].threshold;
    return page;
}

struct FakeDriveState {
    int enableStatus = 0, readDataStatus = 0, readThresholdsStatus = 0;
    Page data{}, thresholds{};
    int enableCalls = 0, readDataCalls = 0, readThresholdsCalls = 0;
    std::uint8_t failureFill = 0; // what a failed read leaves in the caller's page, unless 0
};

struct FakeSmart final : platform::AtaSmartInterface {
    explicit FakeSmart(FakeDriveState* state) : s_(state) {}
    int SMARTEnableDisableOperations(bool) override {
        return Count(nullptr, s_->data, s_->enableStatus, s_->enableCalls);
    }
    int SMARTReadData(std::uint8_t* page) override {
        return Count(page, s_->data, s_->readDataStatus, s_->readDataCalls);
    }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        return Count(page, s_->thresholds, s_->readThresholdsStatus, s_->readThresholdsCalls);
    }
    int Count(std::uint8_t* out, const Page& page, int status, int& calls) {
        ++calls;
        if (out != nullptr && status == 0)
            std::memcpy(out, page.data(), page.size());
        else if (out != nullptr && s_->failureFill != 0)
            std::memset(out, s_->failureFill, page.size());
        return status;
    }
    FakeDriveState* s_;
};

struct FakeService {
    bool smart = true;
    std::optional<std::string> bsdName{};
    std::optional<std::int64_t> sizeBytes{};
    std::optional<std::string> model{}, firmware{};
    FakeDriveState* drive = nullptr; // required when smart is true
    platform::DriveKind kind = platform::DriveKind::Ata;
    std::optional<int> sensorCelsius{};
    std::optional<std::string> serial{};
};

struct FakeRegistry final : platform::DeviceRegistry {
    std::vector<FakeService> services;
    std::vector<std::string> leftOut;
    std::vector<std::string> LeftOutDisks() const override { return leftOut; }
    std::vector<platform::BlockStorageService> BlockStorageServices() override {
        std::vector<platform::BlockStorageService> out;
        for (const FakeService& s : services)
            out.push_back({s.smart ? std::make_unique<FakeSmart>(s.drive) : nullptr, s.bsdName,
                           s.sizeBytes, s.model, s.firmware, s.serial, s.kind, s.sensorCelsius});
        return out;
    }
};

// The registry a monitor keeps while drives come and go: it lists what the
// test's world holds now, and counts the listings.
struct LiveRegistry final : platform::DeviceRegistry {
    LiveRegistry(FakeRegistry* world, int* listings) : world(world), listings(listings) {}
    std::vector<platform::BlockStorageService> BlockStorageServices() override {
        ++*listings;
        return world->BlockStorageServices();
    }
    std::vector<std::string> LeftOutDisks() const override { return world->LeftOutDisks(); }
    FakeRegistry* world;
    int* listings;
};

} // namespace zentrova::testing
