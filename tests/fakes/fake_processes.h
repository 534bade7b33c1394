// A running-process list for the uninstaller's walk: each process with its
// signature and type, the uninstaller's own entry, and every quit request
// recorded instead of sent.
#pragma once

#include "processes.h"

#include <vector>

namespace zentrova::testing {

namespace u = uninstaller;

struct FakeProcess {
    std::uint32_t pid;
    u::OSType signature;
    u::OSType type = u::FourCharCode("APPL");
    bool infoFails = false;
};

class FakeProcessLayer : public u::ProcessLayer {
  public:
    std::vector<FakeProcess> processes;
    std::uint32_t self = 1;
    std::vector<std::uint32_t> quitSent;

    u::OSErr GetCurrentProcess(u::ProcessSerialNumber* psn) override {
        *psn = {0, self};
        return u::noErr;
    }
    u::OSErr GetNextProcess(u::ProcessSerialNumber* psn) override {
        // {0, 0} starts the walk; otherwise the process after psn's.
        std::size_t next = 0;
        while (psn->lowLongOfPSN != 0 && next < processes.size() &&
               processes[next++].pid != psn->lowLongOfPSN) {
        }
        if (next >= processes.size())
            return u::procNotFound;
        *psn = {0, processes[next].pid};
        return u::noErr;
    }
    u::OSErr SameProcess(const u::ProcessSerialNumber& a, const u::ProcessSerialNumber& b,
                         bool* result) override {
        *result = a.lowLongOfPSN == b.lowLongOfPSN && a.highLongOfPSN == b.highLongOfPSN;
        return u::noErr;
    }
    u::OSErr GetProcessInformation(const u::ProcessSerialNumber& psn,
                                   u::ProcessInfoRec* info) override {
        for (const FakeProcess& p : processes)
            if (p.pid == psn.lowLongOfPSN && !p.infoFails) {
                info->processSignature = p.signature;
                info->processType = p.type;
                return u::noErr;
            }
        return u::procNotFound;
    }
    u::OSErr Gestalt(u::OSType selector, std::int32_t* response) override {
        *response = 2; // the menu manager's Aqua layout bit
        return selector == u::FourCharCode("menu") ? u::noErr : u::gestaltUndefSelectorErr;
    }
    u::OSErr SendQuitRequest(const u::ProcessSerialNumber& psn) override {
        quitSent.push_back(psn.lowLongOfPSN);
        return u::noErr;
    }
};

} // namespace zentrova::testing
