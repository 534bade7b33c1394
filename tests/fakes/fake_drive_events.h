// A drive event source over a pipe: Push() queues events and makes the
// descriptor readable, so the monitor's socket notifier really fires.
#pragma once

#include "platform/drive_events.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <utility>
#include <vector>

namespace zentrova::testing {

class FakeDriveEvents {
  public:
    FakeDriveEvents() {
        if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0)
            fds_[0] = fds_[1] = -1;
    }
    ~FakeDriveEvents() {
        for (int fd : fds_)
            if (fd >= 0)
                close(fd);
    }
    FakeDriveEvents(const FakeDriveEvents&) = delete;
    FakeDriveEvents& operator=(const FakeDriveEvents&) = delete;

    void Push(std::vector<platform::DriveEvent> events) {
        queued_.insert(queued_.end(), events.begin(), events.end());
        const char byte = 1;
        (void)!write(fds_[1], &byte, 1);
    }
    // The monitor's end; it must not outlive this object.
    std::unique_ptr<platform::DriveEventSource> Source() { return std::make_unique<End>(this); }
    int reads = 0; // ReadPending calls

  private:
    struct End final : platform::DriveEventSource {
        explicit End(FakeDriveEvents* f) : f_(f) {}
        int Descriptor() const override { return f_->fds_[0]; }
        std::vector<platform::DriveEvent> ReadPending() override {
            ++f_->reads;
            char buffer[64];
            while (read(f_->fds_[0], buffer, sizeof buffer) > 0) {
            }
            return std::exchange(f_->queued_, {});
        }
        FakeDriveEvents* f_;
    };
    int fds_[2] = {-1, -1};
    std::vector<platform::DriveEvent> queued_;
};

} // namespace zentrova::testing
