#include "AppController.h"

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;

AppController::AppController(QObject* parent) : QObject(parent) {}

AppController::~AppController() = default;

int AppController::FindNoOfDevices() const {
    int count = 0;
    for (const xDEV_INFO* record = dev.gpHeadDevInfo; record != nullptr; record = record->pNext)
        ++count;
    return count;
}

xDEV_INFO* AppController::GetCurrentDevice(int index) const {
    xDEV_INFO* record = dev.gpHeadDevInfo;
    if (record == nullptr)
        return nullptr;
    while (record->nDevIndex != index && record->pNext != nullptr)
        record = record->pNext;
    return record;
}
