// Running one of the system's own tools (groupdel, the desktop's cache
// builders) and waiting for it to end.
#pragma once

#include <string>
#include <vector>

namespace zentrova::uninstaller {

struct ProgramRun {
    int startError = 0; // errno of a failed start; ENOENT: no such program
    int exitStatus = 0; // once started: its exit status, or 128 + the signal that ended it
};

// Runs arguments[0], found in /usr/sbin, /usr/bin, /sbin or /bin, with the
// uninstaller's environment.
ProgramRun RunProgram(const std::vector<std::string>& arguments);

} // namespace zentrova::uninstaller
