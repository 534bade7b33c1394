// Drive models whose attributes mean something other than the common meaning.
#pragma once

#include <cstdint>

namespace zentrova::device {

struct VendorOption {
    std::int32_t attributeId; // {0, 0} ends a list
    std::int32_t option;
};

struct KnownDrive {
    const char* modelPattern;    // a plain substring, compared byte by byte
    const char* firmwarePattern; // kept for reference; never consulted
    const VendorOption* options; // may be null
};

extern const VendorOption vendoropts_9_minutes[];
extern const VendorOption vendoropts_9_seconds[];
extern const VendorOption vendoropts_9_halfminutes[];
extern const VendorOption vendoropts_Maxtor_4D080H4[];
extern const VendorOption vendoropts_Fujitsu_MHS2020AT[];
extern const VendorOption vendoropts_Fujitsu_MHR2040AT[];
extern const VendorOption vendoropts_Samsung_SV4012H[];
extern const VendorOption vendoropts_Samsung_SV1204H[];
extern const VendorOption vendoropts_Hitachi_DK23XX[];

// Ends with a row whose three fields are null.
extern const KnownDrive Knowndrives[];

// The option of the first row that both contains its pattern in `model` and
// names `attributeId`; 0 when none does. Null strings count as empty.
std::int32_t lookupdrive(const char* model, const char* firmware, std::int32_t attributeId);

} // namespace zentrova::device
