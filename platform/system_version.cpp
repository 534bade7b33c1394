#include "device_registry.h"

namespace zentrova::platform {

namespace {

class LinuxSystemVersion final : public SystemVersionSource {
  public:
    int SystemVersion(std::uint32_t* value) override {
        if (value == nullptr)
            return -1;
        // Linux desktops draw alternating table rows, which the monitor ties
        // to 10.3 and later.
        *value = 0x1039;
        return 0;
    }
};

} // namespace

SystemVersionSource& SystemVersion() {
    static LinuxSystemVersion source;
    return source;
}

} // namespace zentrova::platform
