#include "processes.h"

#include "x11_processes.h"

#include <memory>

namespace zentrova::uninstaller {

namespace {

ProcessLayer* gInjectedLayer = nullptr;

// Mac OS X menu layout: the first system test.
constexpr std::int32_t gestaltMenuMgrAquaLayoutMask = 2;

bool SystemTestSucceeds(OSType selector, bool wantsZero) {
    std::int32_t response = 0;
    if (Processes().Gestalt(selector, &response) != noErr)
        return false;
    return wantsZero ? response == 0 : (response & gestaltMenuMgrAquaLayoutMask) != 0;
}

} // namespace

void SetProcessLayer(ProcessLayer* layer) {
    gInjectedLayer = layer;
}

ProcessLayer& Processes() {
    if (gInjectedLayer != nullptr)
        return *gInjectedLayer;
    static X11ProcessLayer real;
    return real;
}

OSErr SendQuitAppleEventToApplication(ProcessSerialNumber psn) {
    return Processes().SendQuitRequest(psn);
}

void KillBrevant(bool KillFinderToo) {
    (void)KillFinderToo;
    ProcessLayer& layer = Processes();
    ProcessSerialNumber myProc;
    if (layer.GetCurrentProcess(&myProc) != noErr)
        return; // without knowing ourselves we could ask ourselves to quit
    const bool isMacOSX = SystemTestSucceeds(FourCharCode("menu"), false);
    const bool isClassic = SystemTestSucceeds(FourCharCode("bbox"), true);

    bool finderFound = false;
    ProcessSerialNumber psn{0, 0};
    unsigned char name[32] = {};
    while (layer.GetNextProcess(&psn) == noErr) {
        bool isMe = false;
        if (layer.SameProcess(psn, myProc, &isMe) != noErr || isMe)
            continue;
        ProcessInfoRec info;
        info.processInfoLength = 60;
        info.processName = name;
        if (layer.GetProcessInformation(psn, &info) != noErr)
            continue;
        if (!finderFound && info.processSignature == FourCharCode("MACS") &&
            info.processType == FourCharCode("FNDR")) {
            finderFound = true;
            continue;
        }
        const bool isProtected =
            (isMacOSX || isClassic) && info.processSignature == FourCharCode("cads");
        if (!isProtected)
            (void)SendQuitAppleEventToApplication(psn);
    }
}

} // namespace zentrova::uninstaller
