#include "run_program.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace zentrova::uninstaller {

ProgramRun RunProgram(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return {EINVAL, 0};
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
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
