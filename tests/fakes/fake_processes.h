// A running-process list for the uninstaller's walk: each process with its
// signature and type, the uninstaller's own entry, and every quit request
// recorded instead of sent.
#pragma once

#include "processes.h"

#include <vector>

namespace zentrova::testing {

struct FakeProcess {
    std::uint32_t pid;
    uninstaller::OSType signature;
    uninstaller::OSType type = uninstaller::FourCharCode("APPL");
    bool infoFails = false;
};

class FakeProcessLayer : public uninstaller::ProcessLayer {
  public:
    std::vector<FakeProcess> processes;
    std::uint32_t self = 1;
    std::vector<std::uint32_t> quitSent;

    uninstaller::OSErr GetCurrentProcess(uninstaller::ProcessSerialNumber* psn) override {
        *psn = {0, self};
        return uninstaller::noErr;
    }
    uninstaller::OSErr GetNextProcess(uninstaller::ProcessSerialNumber* psn) override {
        std::size_t next = 0;
        if (psn->lowLongOfPSN != 0) {
            while (next < processes.size() && processes[next].pid != psn->lowLongOfPSN)
                ++next;
            ++next;
        }
        if (next >= processes.size())
            return uninstaller::procNotFound;
        *psn = {0, processes[next].pid};
        return uninstaller::noErr;
    }
    uninstaller::OSErr SameProcess(const uninstaller::ProcessSerialNumber& a,
                                   const uninstaller::ProcessSerialNumber& b,
                                   bool* result) override {
        *result = a.lowLongOfPSN == b.lowLongOfPSN && a.highLongOfPSN == b.highLongOfPSN;
        return uninstaller::noErr;
    }
    uninstaller::OSErr GetProcessInformation(const uninstaller::ProcessSerialNumber& psn,
                                             uninstaller::ProcessInfoRec* info) override {
        for (const FakeProcess& p : processes) {
            if (p.pid != psn.lowLongOfPSN)
                continue;
            if (p.infoFails)
                return uninstaller::procNotFound;
            info->processSignature = p.signature;
            info->processType = p.type;
            return uninstaller::noErr;
        }
        return uninstaller::procNotFound;
    }
    uninstaller::OSErr Gestalt(uninstaller::OSType selector, std::int32_t* response) override {
        if (selector != uninstaller::FourCharCode("menu"))
            return uninstaller::gestaltUndefSelectorErr;
        *response = 2;
        return uninstaller::noErr;
    }
    uninstaller::OSErr SendQuitRequest(const uninstaller::ProcessSerialNumber& psn) override {
        quitSent.push_back(psn.lowLongOfPSN);
        return uninstaller::noErr;
    }
};

} // namespace zentrova::testing
