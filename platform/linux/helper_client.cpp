#include "helper_client.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zentrova::platform {

namespace {

namespace fs = std::filesystem;
using helper::Bytes;

bool SendAll(int fd, const std::uint8_t* bytes, std::size_t n) {
    // A helper that died must not take the monitor with it (SIGPIPE).
    return helper::MoveExactly(bytes, n, [fd](const std::uint8_t* at, std::size_t k) {
        return ::send(fd, at, k, MSG_NOSIGNAL);
    });
}

bool ReceiveAll(int fd, std::uint8_t* out, std::size_t n) {
    return helper::MoveExactly(
        out, n, [fd](std::uint8_t* at, std::size_t k) { return ::recv(fd, at, k, 0); });
}

DiskAnswer Broken(const std::string& error) {
    DiskAnswer answer;
    answer.outcome = ata::Outcome::SystemError;
    answer.detail = "drive helper: " + error;
    return answer;
}

} // namespace

std::shared_ptr<HelperDiskAccess> HelperDiskAccess::Start(const std::string& path,
                                                          std::string* error) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("socketpair: ") + std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copies, so the helper keeps exactly its
    // standard input and output (and error, shared with the monitor).
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        *error = "cannot start " + path + ": " + std::strerror(rc);
        return nullptr;
    }
    return std::shared_ptr<HelperDiskAccess>(new HelperDiskAccess(fds[0], pid));
}

HelperDiskAccess::~HelperDiskAccess() {
    Stop();
}

void HelperDiskAccess::Stop() {
    if (socket_ >= 0) {
        ::close(socket_); // the helper sees the end of its input and exits
        socket_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

bool HelperDiskAccess::Exchange(const Bytes& request, std::uint8_t* kind, Bytes* payload,
                                std::string* error) {
    if (socket_ < 0) {
        *error = "not running";
        return false;
    }
    std::uint8_t raw[helper::kHeaderSize];
    if (!SendAll(socket_, request.data(), request.size()) ||
        !ReceiveAll(socket_, raw, sizeof raw)) {
        *error = "ended unexpectedly";
        Stop();
        return false;
    }
    const std::optional<helper::Header> header = helper::ParseHeader(raw);
    if (!header || header->version != helper::kProtocolVersion ||
        header->length > helper::kMaxAnswerPayload) {
        *error = "answered in an unknown protocol";
        Stop();
        return false;
    }
    payload->resize(header->length);
    if (!ReceiveAll(socket_, payload->data(), payload->size())) {
        *error = "ended in the middle of an answer";
        Stop();
        return false;
    }
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
    if (ec)
        return "/opt/zentrova/libexec/zentrova-ata";
    const fs::path installed = (exe.parent_path().parent_path() / "libexec" / "zentrova-ata");
    const fs::path beside = exe.parent_path() / "zentrova-ata";
    if (!fs::exists(installed, ec) && fs::exists(beside, ec))
        return beside.string();
    return installed.lexically_normal().string();
}

} // namespace zentrova::platform
