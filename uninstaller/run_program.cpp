#include "run_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace zentrova::uninstaller {

ProgramRun RunProgram(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return {EINVAL, 0};
    // The uninstaller runs as root: its tools come from the system's own
    // folders, never from a PATH its caller could have set.
    std::string program;
    for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
        const std::string candidate = std::string(folder) + "/" + arguments[0];
        if (access(candidate.c_str(), X_OK) == 0) {
            program = candidate;
            break;
        }
    }
    if (program.empty())
        return {ENOENT, 0};
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0)
        return {error, 0};
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return {errno, 0};
    }
    return {0, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

} // namespace zentrova::uninstaller
