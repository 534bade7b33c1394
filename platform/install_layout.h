// Where an installed Zentrova lives on this system: the bundle, the receipt,
// the menu entries and the per-user folders. Plain C++, so that every program
// and the install step's helpers can share the one table. Tests move the whole
// layout under a temporary root and supply their own password database.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zentrova::platform {

// Answers a user's home folder from the password database, or nothing when
// there is no such user.
using HomeLookup = std::function<std::optional<std::string>(const std::string& shortName)>;
// Answers the short name of a user id, or nothing when there is no such user.
using NameLookup = std::function<std::optional<std::string>(unsigned uid)>;
// Who a step for one user acts as: the ids and groups that user logs in with.
struct UserIdentity {
    unsigned uid = 0;
    unsigned gid = 0;
    std::vector<unsigned> groups; // supplementary, the primary group among them or not
};
// Answers a user's identity, or nothing when there is no such user.
using IdentityLookup = std::function<std::optional<UserIdentity>(const std::string& shortName)>;

struct InstallLayoutState {
    // Prepended to every path below; empty on a real system.
    std::string rootPrefix;
    HomeLookup homeOf;         // empty: getpwnam
    NameLookup nameOf;         // empty: getpwuid
    IdentityLookup identityOf; // empty: getpwnam and getgrouplist
};
extern InstallLayoutState installLayout;
void ResetInstallLayoutForTest();

// The folder that holds everything installed of both programs.
std::string BundlePath();
// Written by the install step; its presence means "installed".
std::string ReceiptPath();
// Shipped by the Debian package alone: its presence means the package manager
// owns the bundle, so neither the uninstaller nor the install step touch it.
std::string PackageMarkerPath();
// The installed programs, for launchers and the log-in item's autostart entry.
std::string MonitorProgramPath();
std::string UninstallerProgramPath();
// The drive helper, which only root and the members of kHelperGroupName may run.
std::string AtaHelperProgramPath();
// A constant, so that the drive access can name it without linking the layout.
inline constexpr const char* kHelperGroupName = "zentrova";
// The welcome window's pages, as the install step puts them in the bundle.
inline constexpr const char* kGuidePagesInBundle = "share/guide";
std::string GuidePagesPath();
// Where a program built from a source tree finds that tree's pages: the build
// folder its build recorded and the source tree's pages. Empty for none.
struct BuildTreePages {
    std::string buildFolder;
    std::string pages;
};
// The pages that go with the program at `programPath`: its bundle's
// (kGuidePagesInBundle beside its `bin` folder, wherever the bundle was
// installed or staged) when that folder is there; else the source tree's when
// the program itself lies inside `buildTree.buildFolder` (it runs from its
// build tree) and the pages are there; else its bundle's again, whose pages
// are then missing. An installed program never reaches into the checkout of
// whoever built it.
std::string FindGuidePagesFor(const std::string& programPath, const BuildTreePages& buildTree);
// `path`, an absolute path as the receipt names it, under the root of the layout.
std::string UnderRoot(const std::string& path);
// Copies of files from the bundle that the desktop only finds in its own
// places (menu entry, icon, the uninstaller's polkit policy). They belong to
// the installation as much as the bundle does.
// The menu entry, the 256-pixel icon and the policy first, the service's
// unit and its sysusers.d entry, then the icon's other sizes.
std::vector<std::string> SystemIntegrationPaths();
// The icon in each size of the theme, the 256-pixel one first.
std::vector<std::string> IconThemePaths();
// The folders those copies go to, whose caches name what is in them.
std::string ApplicationsFolder();
std::string IconThemeFolder();

// The super-user's desktop folder, whatever the super-user's home.
std::string SuperUserDesktopFolder();
// The "Zentrova" folder in the user's XDG desktop folder; nothing when the
// user is unknown.
std::optional<std::string> UserDesktopFolder(const std::string& shortName);
// The desktop folder the installation made for `shortName`: the super-user's
// when the name is "root" in any case, otherwise the user's own.
std::optional<std::string> DesktopFolderFor(const std::string& shortName);
// The user's home folder, under the root of the layout; nothing when the user
// is unknown.
std::optional<std::string> HomeFolderOf(const std::string& shortName);
// A monitor started from the desktop runs in the home folder and keeps its
// data folder there.
std::optional<std::string> DataFolderFor(const std::string& shortName);

// The user a privileged run acts for: PKEXEC_UID, then SUDO_UID, then the
// real user. Nothing when that id has no name.
std::optional<std::string> InvokingUserName();

// The ids and groups of `shortName`; nothing when the user is unknown.
std::optional<UserIdentity> IdentityOf(const std::string& shortName);
// Who owns the desktop folder of DesktopFolderFor(shortName): the super-user
// for the super-user's folder, otherwise the user.
std::optional<UserIdentity> DesktopFolderOwner(const std::string& shortName);

// Whether `name` is the super-user's short name, without regard to case.
bool IsSuperUserName(const std::string& name);

} // namespace zentrova::platform
