#include "helper_client.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <utility>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zentrova::platform {

namespace {

namespace fs = std::filesystem;
using helper::Bytes;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

DiskAnswer Broken(const std::string& error) {
    DiskAnswer answer;
    answer.outcome = ata::Outcome::SystemError;
    answer.detail = "drive helper: " + error;
    return answer;
}

// Helpers that were killed but had not yet ended (a process inside a disk
// command ends only when the kernel returns from it); reaped later.
std::vector<pid_t>& Unreaped() {
    static std::vector<pid_t> pids;
    return pids;
}

bool Reaped(pid_t pid) {
    int status = 0;
    const pid_t result = ::waitpid(pid, &status, WNOHANG);
    return result == pid || (result < 0 && errno == ECHILD);
}

void ReapUnreaped() {
    std::erase_if(Unreaped(), Reaped);
}

// Waits at most `wait` for the process to end and reaps it; the monitor never
// blocks on a helper for longer than that.
bool WaitForExit(pid_t pid, milliseconds wait) {
    if (Reaped(pid))
        return true;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd ended{fd, POLLIN, 0};
        while (::poll(&ended, 1, static_cast<int>(wait.count())) < 0 && errno == EINTR) {
        }
        ::close(fd);
    }
    return Reaped(pid);
}

enum class Io { Done, Ended, TimedOut };

// Moves exactly n bytes to or from the helper before `until`. A peer that is
// gone ends a send with EPIPE, never with SIGPIPE.
template <typename Byte>
Io MoveBefore(int fd, Byte* bytes, std::size_t n, Clock::time_point until) {
    constexpr bool sending = std::is_const_v<Byte>;
    while (n > 0) {
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return Io::TimedOut;
        pollfd ready{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (polled < 0 && errno != EINTR)
            return Io::Ended;
        if (polled <= 0)
            continue;
        ssize_t moved = 0;
        if constexpr (sending)
            moved = ::send(fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        else
            moved = ::recv(fd, bytes, n, MSG_DONTWAIT);
        if (moved < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (moved <= 0)
            return Io::Ended;
        bytes += moved;
        n -= static_cast<std::size_t>(moved);
    }
    return Io::Done;
}

std::string Seconds(milliseconds wait) {
    return wait.count() % 1000 == 0 ? std::to_string(wait.count() / 1000) + " s"
                                    : std::to_string(wait.count()) + " ms";
}

} // namespace

std::shared_ptr<HelperDiskAccess> HelperDiskAccess::Start(HelperLaunch launch, std::string* error) {
    std::shared_ptr<HelperDiskAccess> helper(new HelperDiskAccess(std::move(launch)));
    if (!helper->Launch(error))
        return nullptr;
    return helper;
}

bool HelperDiskAccess::Launch(std::string* error) {
    ReapUnreaped();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copies, so the helper keeps exactly its
    // standard input and output (and error, shared with the monitor).
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> argv{launch_.path.data()};
    for (std::string& argument : launch_.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : launch_.environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, launch_.path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        *error = "cannot start " + launch_.path + ": " + std::strerror(rc);
        return false;
    }
    socket_ = fds[0];
    pid_ = pid;
    return true;
}

HelperDiskAccess::~HelperDiskAccess() {
    Stop();
}

void HelperDiskAccess::Kill() {
    if (socket_ >= 0)
        ::close(std::exchange(socket_, -1));
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        if (!WaitForExit(pid_, milliseconds(100)))
            Unreaped().push_back(pid_);
        pid_ = -1;
    }
}

void HelperDiskAccess::Stop() {
    if (socket_ >= 0)
        ::close(std::exchange(socket_, -1)); // the helper sees the end of its input and exits
    if (pid_ > 0 && WaitForExit(pid_, milliseconds(2000)))
        pid_ = -1;
    Kill(); // one that did not end
}

bool HelperDiskAccess::Exchange(const Bytes& request, std::uint8_t* kind, Bytes* payload,
                                std::string* error) {
    if (socket_ < 0 && !Launch(error))
        return false;
    const Clock::time_point until = Clock::now() + launch_.deadline;
    const auto broken = [&](const std::string& why) {
        *error = why;
        Kill(); // the next request starts a new helper
        return false;
    };
    const auto failed = [&](Io io, const char* ended) {
        return io == Io::TimedOut ? "did not answer within " + Seconds(launch_.deadline)
                                  : std::string(ended);
    };
    std::uint8_t raw[helper::kHeaderSize];
    Io io = MoveBefore(socket_, request.data(), request.size(), until);
    if (io == Io::Done)
        io = MoveBefore(socket_, raw, sizeof raw, until);
    if (io != Io::Done)
        return broken(failed(io, "ended unexpectedly"));
    const std::optional<helper::Header> header = helper::ParseHeader(raw);
    if (!header || header->version != helper::kProtocolVersion ||
        header->length > helper::kMaxAnswerPayload)
        return broken("answered in an unknown protocol");
    payload->resize(header->length);
    if (io = MoveBefore(socket_, payload->data(), payload->size(), until); io != Io::Done)
        return broken(failed(io, "ended in the middle of an answer"));
    *kind = header->kind;
    if (*kind == helper::kErrorAnswer) {
        *error = "refused the request (error " +
                 std::to_string(payload->empty() ? 0 : (*payload)[0]) + ")";
        return false;
    }
    return true;
}

std::vector<DiskFacts> HelperDiskAccess::ListDisks(std::string* error) {
    std::uint8_t kind = 0;
    Bytes payload;
    std::string why;
    std::vector<DiskFacts> disks;
    if (!Exchange(helper::EncodeListRequest(), &kind, &payload, &why)) {
        *error = "drive helper: " + why;
        return {};
    }
    if (!helper::DecodeListAnswer(kind, payload, &disks, error)) {
        *error = "drive helper: malformed disk list";
        return {};
    }
    return disks;
}

DiskAnswer HelperDiskAccess::Run(const std::string& name, DiskCommand command, ata::CdbForm form) {
    std::uint8_t kind = 0;
    Bytes payload;
    std::string why;
    if (!IsPlainDiskName(name))
        return Broken("not a disk name: \"" + name + "\"");
    if (!Exchange(helper::EncodeCommandRequest(name, command, form), &kind, &payload, &why))
        return Broken(why);
    DiskAnswer answer;
    if (!helper::DecodeCommandAnswer(kind, payload, command, &answer))
        return Broken("malformed answer");
    return answer;
}

std::string FindAtaHelper() {
    if (const char* path = std::getenv("ZENTROVA_ATA_HELPER"); path != nullptr && path[0] != '\0')
        return path;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return FindAtaHelperFor(ec ? "/opt/zentrova/bin/zentrova" : exe.string());
}

std::string FindAtaHelperFor(const std::string& programPath) {
    std::error_code ec;
    const fs::path folder = fs::path(programPath).parent_path();
    const fs::path installed = folder.parent_path() / "libexec" / "zentrova-ata";
    const fs::path beside = folder / "zentrova-ata";
    if (!fs::exists(installed, ec) && fs::exists(beside, ec))
        return beside.string();
    return installed.lexically_normal().string();
}

} // namespace zentrova::platform
