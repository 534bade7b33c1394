#include "device.h"

namespace zentrova::device {

int ExecuteSelfTestOnTheDrive(const xDEV_INFO* record, platform::SelfTestCommand command) {
    if (record == nullptr || record->ppSmartInterface == nullptr)
        return 0;
    return record->ppSmartInterface->SMARTExecuteSelfTest(command) == 0 ? 1 : 0;
}

int ReadSelfTestLogOfTheDrive(const xDEV_INFO* record, std::uint8_t* page) {
    if (record == nullptr || record->ppSmartInterface == nullptr || page == nullptr)
        return 0;
    return record->ppSmartInterface->SMARTReadSelfTestLog(page) == 0 ? 1 : 0;
}

} // namespace zentrova::device
