#include "smart_state.h"

namespace zentrova::smart {

SmartGlobals smart;

void FreeSmartPages() {
    // Between polls the previous-reading pointers point into the copies, never
    // into these pages, so nothing is left dangling.
    for (int d = 0; d < kMaxDrives; ++d) {
        delete[] smart.gpSmartDataStruct[d];
        delete[] smart.gpSmartThreshStruct[d];
        smart.gpSmartDataStruct[d] = nullptr;
        smart.gpSmartThreshStruct[d] = nullptr;
    }
}

void ResetSmartGlobalsForTest() {
    FreeSmartPages();
    smart = SmartGlobals{};
}

} // namespace zentrova::smart
