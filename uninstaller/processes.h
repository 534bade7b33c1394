// Quitting the other running applications before their files go. The walk
// and the exclusions are ours; listing processes and delivering the quit
// request belong to a ProcessLayer, so that tests can run it on a fake list
// and the real program on the X server's window manager.
#pragma once

#include <cstdint>

namespace zentrova::uninstaller {

using OSErr = std::int16_t;
using OSType = std::uint32_t;

inline constexpr OSErr noErr = 0;
inline constexpr OSErr procNotFound = -600;
inline constexpr OSErr connectionInvalid = -609;
inline constexpr OSErr gestaltUndefSelectorErr = -5551;

constexpr OSType FourCharCode(const char (&code)[5]) {
    return (OSType(std::uint8_t(code[0])) << 24) | (OSType(std::uint8_t(code[1])) << 16) |
           (OSType(std::uint8_t(code[2])) << 8) | OSType(std::uint8_t(code[3]));
}

struct ProcessSerialNumber {
    std::uint32_t highLongOfPSN = 0;
    std::uint32_t lowLongOfPSN = 0;
};

struct ProcessInfoRec {
    std::uint32_t processInfoLength = 0;
    unsigned char* processName = nullptr; // length-prefixed, up to 31 characters
    OSType processType = 0;
    OSType processSignature = 0;
};

class ProcessLayer {
  public:
    virtual ~ProcessLayer() = default;
    virtual OSErr GetCurrentProcess(ProcessSerialNumber* psn) = 0;
    // Advances `psn` to the next running process; {0, 0} starts the walk.
    // An error at the end of the list.
    virtual OSErr GetNextProcess(ProcessSerialNumber* psn) = 0;
    virtual OSErr SameProcess(const ProcessSerialNumber& a, const ProcessSerialNumber& b,
                              bool* result) = 0;
    virtual OSErr GetProcessInformation(const ProcessSerialNumber& psn, ProcessInfoRec* info) = 0;
    virtual OSErr Gestalt(OSType selector, std::int32_t* response) = 0;
    // Delivers the quit request, which lets the application ask its user
    // first; never waits for it to quit.
    virtual OSErr SendQuitRequest(const ProcessSerialNumber& psn) = 0;
};

// The layer in use; null restores the real one (the X window manager's
// client list).
void SetProcessLayer(ProcessLayer* layer);
ProcessLayer& Processes();

OSErr SendQuitAppleEventToApplication(ProcessSerialNumber psn);
// Asks every other application to quit, except the desktop ("Finder") and
// the protected system process. The argument changes nothing.
void KillBrevant(bool KillFinderToo);

} // namespace zentrova::uninstaller
