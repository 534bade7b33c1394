#include "knowndrives.h"

#include <cstring>

namespace zentrova::device {

const VendorOption vendoropts_9_minutes[] = {{9, 1}, {0, 0}};
const VendorOption vendoropts_9_seconds[] = {{9, 3}, {0, 0}};
const VendorOption vendoropts_9_halfminutes[] = {{9, 4}, {0, 0}};
const VendorOption vendoropts_Maxtor_4D080H4[] = {{9, 1}, {194, 2}, {0, 0}};
const VendorOption vendoropts_Fujitsu_MHS2020AT[] = {{9, 3},   {192, 1}, {198, 1},
                                                     {200, 1}, {201, 1}, {0, 0}};
const VendorOption vendoropts_Fujitsu_MHR2040AT[] = {{9, 3}, {192, 1}, {198, 1}, {200, 1}, {0, 0}};
const VendorOption vendoropts_Samsung_SV4012H[] = {{9, 4}, {0, 0}};
const VendorOption vendoropts_Samsung_SV1204H[] = {{9, 4}, {194, 1}, {0, 0}};
const VendorOption vendoropts_Hitachi_DK23XX[] = {{9, 1}, {193, 1}, {0, 0}};

const KnownDrive Knowndrives[] = {
    {"FUJITSU MP", nullptr, vendoropts_9_seconds},
    {"FUJITSU MPF3", nullptr, vendoropts_9_seconds},
    {"FUJITSU MPC3", nullptr, vendoropts_9_seconds},
    {"FUJITSU MHN2300AT", nullptr, vendoropts_9_seconds},
    {"FUJITSU MHR2040AT", nullptr, vendoropts_Fujitsu_MHR2040AT},
    {"FUJITSU MHS2020AT", nullptr, vendoropts_Fujitsu_MHS2020AT},
    {"FUJITSU MH", nullptr, vendoropts_9_seconds},
    {"FUJITSU MHT20", nullptr, vendoropts_9_seconds},
    {"SAMSUNG SV4012H", "RM100-08", vendoropts_Samsung_SV4012H},
    {"SAMSUNG SV4012H", nullptr, vendoropts_Samsung_SV4012H},
    {"SAMSUNG SV0412H", "SK100-01", vendoropts_Samsung_SV1204H},
    {"SAMSUNG SV0412H", nullptr, vendoropts_Samsung_SV1204H},
    {"SAMSUNG SV1204H", "RK100-1", vendoropts_Samsung_SV1204H},
    {"SAMSUNG SV1204H", nullptr, vendoropts_Samsung_SV1204H},
    {"SAMSUNG SP40A2H", "RR100-07", vendoropts_9_halfminutes},
    {"SAMSUNG .*$", ".*-2$", vendoropts_Samsung_SV4012H},
    {"SAMSUNG.*", ".*-25$", vendoropts_Samsung_SV4012H},
    {"SAMSUNG.*", ".*-$", vendoropts_Samsung_SV4012H},
    {"SAMSUNG.*", nullptr, nullptr},
    {"Maxtor 2B0", nullptr, vendoropts_Maxtor_4D080H4},
    {"Maxtor 9$", nullptr, vendoropts_9_minutes},
    {"Maxtor 4D080H4", nullptr, vendoropts_Maxtor_4D080H4},
    {"Maxtor 4G120J6", nullptr, vendoropts_Maxtor_4D080H4},
    {"Maxtor 4R", nullptr, vendoropts_9_minutes},
    {"Maxtor 3", nullptr, vendoropts_9_minutes},
    {"Maxtor 5", nullptr, vendoropts_9_minutes},
    {"Maxtor 4W", nullptr, vendoropts_9_minutes},
    {"Maxtor 6E0", nullptr, vendoropts_9_minutes},
    {"Maxtor 6Y", nullptr, vendoropts_9_minutes},
    {"Maxtor 7Y250", nullptr, vendoropts_9_minutes},
    {"HITACHI_DK23", nullptr, vendoropts_Hitachi_DK23XX},
    {nullptr, nullptr, nullptr},
};

std::int32_t lookupdrive(const char* model, const char* firmware, std::int32_t attributeId) {
    (void)firmware; // the firmware patterns were never part of the match
    if (model == nullptr)
        model = "";
    for (const KnownDrive* row = Knowndrives; row->modelPattern != nullptr; ++row) {
        if (std::strstr(model, row->modelPattern) == nullptr || row->options == nullptr)
            continue;
        for (const VendorOption* opt = row->options; opt->attributeId != 0; ++opt) {
            if (opt->attributeId == attributeId)
                return opt->option;
        }
    }
    return 0;
}

} // namespace zentrova::device
