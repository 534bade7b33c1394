// State of the evaluation and the poll: the last evaluation's verdicts, the
// per-drive page buffers and previous readings, and the attribute table's
// column arrays.
#pragma once

#include "device/device.h"
#include "device/smart_pages.h"

#include <QStringList>

#include <cstdint>

namespace zentrova::smart {

using device::kMaxDrives;
using device::kSmartPageSize;

// The seven columns of the attribute table, rebuilt by every evaluation.
// `exists` is false until the first evaluation.
struct AttributeColumns {
    bool exists = false;
    int drive = -1; // nDevIndex of the drive whose reading they show; -1 before the first fill
    QStringList Attr_0_Array; // "AttrID"
    QStringList Attr_1_Array; // "AttrName"
    QStringList Attr_2_Array; // "AttrFailDate"
    QStringList Attr_3_Array; // "AttrThreshold"
    QStringList Attr_4_Array; // "AttrValue"
    QStringList Attr_5_Array; // "AttrWorst"
    QStringList Attr_6_Array; // "AttrStatus"
};

struct SmartGlobals {
    std::int32_t gnTotAttr = 0;
    std::uint8_t gbAttrFailed = 0;
    std::uint8_t bTempFailed = 0;
    std::int32_t gnCurrTemp = 0;
    // The temperature the last evaluated reading reports (its first temperature
    // attribute, as detection finds it); 0 when it has none.
    std::int32_t gnReadingTemp = 0;
    std::uint8_t gbFlag[kMaxDrives] = {};
    std::uint8_t gbMessagePoped[kMaxDrives] = {};

    // Latest pages read from each drive, allocated on its first poll.
    std::uint8_t* gpSmartDataStruct[kMaxDrives] = {};
    std::uint8_t* gpSmartThreshStruct[kMaxDrives] = {};
    // Copies of the drive's last reading, the base of the next comparison.
    std::uint8_t gTempDataStruct[kMaxDrives][kSmartPageSize] = {};
    std::uint8_t gTempThreshStruct[kMaxDrives][kSmartPageSize] = {};
    const device::ATASMARTAttributeStruct* gpPrevSmartAttr[kMaxDrives] = {};
    const device::ATASMARTThresholdsStruct* gpPrevThreshold[kMaxDrives] = {};
};

extern SmartGlobals smart;

// Frees the page buffers (at shutdown) and, for tests, returns every field to
// its start value.
void FreeSmartPages();
void ResetSmartGlobalsForTest();

} // namespace zentrova::smart
