// Running one of the system's own tools (groupdel, the desktop's cache
// builders) and waiting for it to end.
#pragma once

#include <string>
#include <vector>

namespace zentrova::uninstaller {

struct ProgramRun {
    int startError = 0; // errno of a failed start; ENOENT: no such program in PATH
    int exitStatus = 0; // once started: its exit status, or 128 + the signal that ended it
};

// Runs arguments[0], looked up in PATH, with the uninstaller's environment.
ProgramRun RunProgram(const std::vector<std::string>& arguments);

} // namespace zentrova::uninstaller
