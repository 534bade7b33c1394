// Prints the installed layout as name=value lines, so that the install step
// puts things exactly where the programs will look for them. The one
// argument, when given, is the root everything is installed under (DESTDIR).
#include "platform/install_layout.h"

#include <cstdio>
#include <optional>
#include <string>

namespace layout = zentrova::platform;

int main(int argc, char* argv[]) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [root]\n", argv[0]);
        return 2;
    }
    if (argc == 2)
        layout::installLayout.rootPrefix = argv[1];
    const std::optional<std::string> user = layout::InvokingUserName();
    const std::optional<std::string> desktop =
        user ? layout::DesktopFolderFor(*user) : std::nullopt;
    if (!desktop) {
        std::fprintf(stderr, "zentrova: cannot tell whose desktop to use\n");
        return 1;
    }
    std::printf("version=%s\n", ZENTROVA_VERSION);
    std::printf("user=%s\n", user->c_str());
    std::printf("bundle=%s\n", layout::BundlePath().c_str());
    std::printf("receipt=%s\n", layout::ReceiptPath().c_str());
    std::printf("package_marker=%s\n", layout::PackageMarkerPath().c_str());
    std::printf("helper=%s\n", layout::AtaHelperProgramPath().c_str());
    std::printf("guide=%s\n", layout::GuidePagesPath().c_str());
    std::printf("group=%s\n", layout::kHelperGroupName);
    std::printf("applications=%s\n", layout::ApplicationsFolder().c_str());
    std::printf("icon_theme=%s\n", layout::IconThemeFolder().c_str());
    std::printf("desktop=%s\n", desktop->c_str());
    std::printf("data=%s\n", layout::DataFolderFor(*user).value_or("").c_str());
    // Every size of the icon, the theme's folder left out, space-separated.
    std::string icons;
    for (const std::string& icon : layout::IconThemePaths())
        icons += (icons.empty() ? "" : " ") + icon.substr(layout::IconThemeFolder().size() + 1);
    std::printf("icons=%s\n", icons.c_str());
    const char* keys[] = {"menu_entry", "icon", "policy"};
    const std::vector<std::string> copies = layout::SystemIntegrationPaths();
    for (std::size_t i = 0; i < copies.size() && i < 3; ++i)
        std::printf("%s=%s\n", keys[i], copies[i].c_str());
    return 0;
}
