#include "install_layout.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zentrova::platform {

InstallLayoutState installLayout;

void ResetInstallLayoutForTest() {
    installLayout = InstallLayoutState{};
}

namespace {

std::string Rooted(const std::string& path) {
    return installLayout.rootPrefix + path;
}

std::optional<std::string> SystemHomeOf(const std::string& shortName) {
    errno = 0;
    const passwd* entry = getpwnam(shortName.c_str());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/')
        return std::nullopt;
    return std::string(entry->pw_dir);
}

std::optional<std::string> SystemNameOf(unsigned uid) {
    errno = 0;
    const passwd* entry = getpwuid(static_cast<uid_t>(uid));
    if (entry == nullptr || entry->pw_name == nullptr)
        return std::nullopt;
    return std::string(entry->pw_name);
}

std::optional<UserIdentity> SystemIdentityOf(const std::string& shortName) {
    errno = 0;
    const passwd* entry = getpwnam(shortName.c_str());
    if (entry == nullptr)
        return std::nullopt;
    UserIdentity identity{entry->pw_uid, entry->pw_gid, {}};
    // The list may grow between the two calls; ask until it fits.
    std::vector<gid_t> groups(16);
    for (int attempt = 0; attempt < 8; ++attempt) {
        int count = static_cast<int>(groups.size());
        if (getgrouplist(shortName.c_str(), entry->pw_gid, groups.data(), &count) >= 0) {
            identity.groups.assign(groups.begin(), groups.begin() + count);
            return identity;
        }
        groups.resize(static_cast<std::size_t>(count) > groups.size()
                          ? static_cast<std::size_t>(count)
                          : groups.size() * 2);
    }
    return std::nullopt;
}

std::optional<std::string> HomeOf(const std::string& shortName) {
    if (shortName.empty())
        return std::nullopt;
    return installLayout.homeOf ? installLayout.homeOf(shortName) : SystemHomeOf(shortName);
}

// The desktop folder from the user's user-dirs.dirs ("$HOME/..." or an
// absolute path, as that file allows), else ~/Desktop. `home` is unprefixed.
std::string XdgDesktopOf(const std::string& home) {
    std::ifstream file(Rooted(home) + "/.config/user-dirs.dirs");
    std::string line;
    std::string found;
    while (std::getline(file, line)) {
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
            found = home + value.substr(5);
        else if (!value.empty() && value[0] == '/')
            found = value;
    }
    // A desktop folder elsewhere than inside or at the home would let one
    // user's settings point the super-user at another's files.
    if (found.empty() || found.find("/..") != std::string::npos ||
        (found != home && found.rfind(home + "/", 0) != 0))
        return home + "/Desktop";
    while (found.size() > 1 && found.back() == '/')
        found.pop_back();
    return found;
}

std::optional<unsigned> UidFromEnvironment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    unsigned value = 0;
    const char* end = text + std::char_traits<char>::length(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

} // namespace

std::string BundlePath() {
    return Rooted("/opt/zentrova");
}
std::string ReceiptPath() {
    return Rooted("/var/lib/zentrova/Install Zentrova.pkg");
}
std::string PackageMarkerPath() {
    return BundlePath() + "/share/zentrova/installed-by-package";
}
std::string MonitorProgramPath() {
    return BundlePath() + "/bin/zentrova";
}
std::string UninstallerProgramPath() {
    return BundlePath() + "/bin/zentrova-uninstall";
}
std::string AtaHelperProgramPath() {
    return BundlePath() + "/libexec/zentrova-ata";
}
std::string GuidePagesPath() {
    return BundlePath() + "/" + kGuidePagesInBundle;
}

namespace {

// Whether the program lies inside the build folder, both as the file system
// resolves them now: the running program's own path is the fact, so that a
// copy installed anywhere else (or a bundle staged from the same build) never
// counts as the build tree. Anything that cannot be resolved does not count.
bool RunsFromBuildFolder(const std::string& programPath, const std::string& buildFolder) {
    namespace fs = std::filesystem;
    if (programPath.empty() || buildFolder.empty())
        return false;
    std::error_code ec;
    const fs::path program = fs::canonical(programPath, ec);
    if (ec)
        return false;
    const fs::path folder = fs::canonical(buildFolder, ec);
    if (ec)
        return false;
    const auto [end, inside] =
        std::mismatch(folder.begin(), folder.end(), program.begin(), program.end());
    return end == folder.end() && inside != program.end();
}

} // namespace

std::string FindGuidePagesFor(const std::string& programPath, const BuildTreePages& buildTree) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path bundle = fs::path(programPath).parent_path().parent_path();
    const fs::path installed = (bundle / kGuidePagesInBundle).lexically_normal();
    if (!fs::is_directory(installed, ec) && !buildTree.pages.empty() &&
        RunsFromBuildFolder(programPath, buildTree.buildFolder) &&
        fs::is_directory(buildTree.pages, ec))
        return buildTree.pages;
    return installed.string();
}
std::string UnderRoot(const std::string& path) {
    return Rooted(path);
}

std::string ApplicationsFolder() {
    return Rooted("/usr/share/applications");
}
std::string IconThemeFolder() {
    return Rooted("/usr/share/icons/hicolor");
}

std::vector<std::string> IconThemePaths() {
    std::vector<std::string> paths;
    for (const char* size :
         {"256x256", "16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128"})
        paths.push_back(IconThemeFolder() + "/" + size + "/apps/zentrova.png");
    paths.push_back(IconThemeFolder() + "/scalable/apps/zentrova.svg");
    return paths;
}

std::vector<std::string> SystemIntegrationPaths() {
    const std::vector<std::string> icons = IconThemePaths();
    std::vector<std::string> paths{
        ApplicationsFolder() + "/zentrova.desktop", icons.front(),
        Rooted("/usr/share/polkit-1/actions/org.zentrova.uninstall.policy")};
    // The headless service's unit and its system user's entry (never enabled
    // by the install; the user itself stays, as system users do).
    paths.push_back(Rooted("/lib/systemd/system/zentrova.service"));
    paths.push_back(Rooted("/usr/lib/sysusers.d/zentrova-service.conf"));
    paths.insert(paths.end(), icons.begin() + 1, icons.end());
    return paths;
}

std::string SuperUserDesktopFolder() {
    return Rooted("/root/Desktop/Zentrova");
}

std::optional<std::string> UserDesktopFolder(const std::string& shortName) {
    const std::optional<std::string> home = HomeOf(shortName);
    if (!home)
        return std::nullopt;
    return Rooted(XdgDesktopOf(*home)) + "/Zentrova";
}

bool IsSuperUserName(const std::string& name) {
    const std::string root = "root";
    if (name.size() != root.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != root[i])
            return false;
    }
    return true;
}

std::optional<std::string> DesktopFolderFor(const std::string& shortName) {
    if (IsSuperUserName(shortName))
        return SuperUserDesktopFolder();
    return UserDesktopFolder(shortName);
}

std::optional<std::string> HomeFolderOf(const std::string& shortName) {
    const std::optional<std::string> home = HomeOf(shortName);
    if (!home)
        return std::nullopt;
    return Rooted(*home);
}

std::optional<std::string> DataFolderFor(const std::string& shortName) {
    const std::optional<std::string> home = HomeFolderOf(shortName);
    if (!home)
        return std::nullopt;
    return *home + "/Zentrodat";
}

std::optional<UserIdentity> IdentityOf(const std::string& shortName) {
    if (shortName.empty())
        return std::nullopt;
    return installLayout.identityOf ? installLayout.identityOf(shortName)
                                    : SystemIdentityOf(shortName);
}

std::optional<UserIdentity> DesktopFolderOwner(const std::string& shortName) {
    return IdentityOf(IsSuperUserName(shortName) ? "root" : shortName);
}

std::optional<std::string> InvokingUserName() {
    std::optional<unsigned> uid = UidFromEnvironment("PKEXEC_UID");
    if (!uid)
        uid = UidFromEnvironment("SUDO_UID");
    if (!uid)
        uid = static_cast<unsigned>(getuid());
    return installLayout.nameOf ? installLayout.nameOf(*uid) : SystemNameOf(*uid);
}

} // namespace zentrova::platform
