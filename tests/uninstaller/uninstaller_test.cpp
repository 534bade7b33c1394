// The uninstall flow on an installation under a scratch root, with panels,
// beeps, pauses and the process list scripted. Run as "uninstaller_tests
// --uninstall", it is the flow for the system tests: the installation under
// ZENTROVA_TEST_ROOT, "Yes" to every panel, each printed, short pauses.
#include "AppController.h"
#include "processes.h"

#include "platform/install_layout.h"
#include "platform/ui/alert_panel.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

namespace layout = zentrova::platform;
namespace u = zentrova::uninstaller;
constexpr auto Code = &u::FourCharCode;
// Each panel as "title|message|buttons".
const QString kConfirm = "Uninistall Zentrova|Are you sure you want to uninstall Zentrova ?|YesNo";
const QString kSuccess = "Uninstall Zentrova|Uninstall process completed successfully|Ok";
const QString kNotInstalled =
    "Uninstall Zentrova|Uninstall is not required since Zentrova is not installed|Ok";
const QString kPackaged = "Uninstall Zentrova|Zentrova was installed with the package manager. "
                          "Remove it with: sudo apt remove zentrova|Ok";

// A running-process list for the uninstaller's walk: each process with its
// signature and type, the uninstaller's own entry, and every quit request
// recorded instead of sent.
struct FakeProcess {
    std::uint32_t pid;
    u::OSType signature;
    u::OSType type = Code("APPL");
    bool infoFails = false;
};

class FakeProcessLayer : public u::ProcessLayer {
  public:
    std::vector<FakeProcess> processes;
    std::uint32_t self = 1;
    std::vector<std::uint32_t> quitSent;

    u::OSErr GetCurrentProcess(u::ProcessSerialNumber* psn) override {
        *psn = {0, self};
        return u::noErr;
    }
    u::OSErr GetNextProcess(u::ProcessSerialNumber* psn) override {
        // {0, 0} starts the walk; otherwise the process after psn's.
        const auto at = std::find_if(processes.begin(), processes.end(), [&](const FakeProcess& p) {
            return p.pid == psn->lowLongOfPSN;
        });
        const std::size_t next = psn->lowLongOfPSN == 0 ? 0 : at - processes.begin() + 1;
        if (next >= processes.size())
            return u::procNotFound;
        *psn = {0, processes[next].pid};
        return u::noErr;
    }
    u::OSErr SameProcess(const u::ProcessSerialNumber& a, const u::ProcessSerialNumber& b,
                         bool* result) override {
        *result = a.lowLongOfPSN == b.lowLongOfPSN && a.highLongOfPSN == b.highLongOfPSN;
        return u::noErr;
    }
    u::OSErr GetProcessInformation(const u::ProcessSerialNumber& psn,
                                   u::ProcessInfoRec* info) override {
        for (const FakeProcess& p : processes)
            if (p.pid == psn.lowLongOfPSN && !p.infoFails) {
                info->processSignature = p.signature;
                info->processType = p.type;
                return u::noErr;
            }
        return u::procNotFound;
    }
    u::OSErr Gestalt(u::OSType selector, std::int32_t* response) override {
        *response = 2; // the menu manager's Aqua layout bit
        return selector == Code("menu") ? u::noErr : u::gestaltUndefSelectorErr;
    }
    u::OSErr SendQuitRequest(const u::ProcessSerialNumber& psn) override {
        quitSent.push_back(psn.lowLongOfPSN);
        return u::noErr;
    }
};

template <typename K> auto Lookup(std::map<K, std::string> table) {
    return [table](const K& key) {
        return table.count(key) ? std::optional(table.at(key)) : std::optional<std::string>();
    };
}

class Uninstall : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        layout::installLayout.rootPrefix = root;
        layout::installLayout.homeOf = Lookup<std::string>({{"root", "/root"},
                                                            {"staff", "/home/staff"},
                                                            {"grooted", "/home/grooted"},
                                                            {"al", "/home/al"},
                                                            {"climber", "/home/climber"},
                                                            {"lodger", "/home/lodger"}});
        layout::installLayout.nameOf = Lookup<unsigned>({{0, "root"},
                                                         {1000, "staff"},
                                                         {1001, "grooted"},
                                                         {1002, "Root"},
                                                         {1003, "al"},
                                                         {1004, "climber"},
                                                         {1005, "lodger"}});
        // Everyone is the test itself, but the lodger, whom only root can become.
        layout::installLayout.identityOf = [](const std::string& name) {
            return std::optional(name == "lodger" ? layout::UserIdentity{kLodger, kLodger, {}}
                                                  : layout::UserIdentity{getuid(), getgid(), {}});
        };
        unsetenv("PKEXEC_UID");
        setenv("SUDO_UID", "1000", 1);
        processes.processes = {{1, Code("ZNUI")}, {7, Code("ZNTR")}};
        u::SetProcessLayer(&processes);
        layout::SetAlertHandler([this](const layout::AlertRequest& r) {
            panels.push_back(r.title + '|' + r.message + '|' + r.defaultButton + r.alternateButton +
                             r.otherButton);
            return answer;
        });
        layout::SetBeepHandler([this] { ++beeps; });
        Install();
    }
    void Install(const QByteArray& receipt = {}) {
        auto paths = layout::SystemIntegrationPaths();
        paths.insert(paths.end(),
                     {layout::MonitorProgramPath(), home + "/Desktop/Zentrova/Zentrova.desktop",
                      home + "/Zentrodat/SMARTLog0"});
        for (const std::string& path : paths)
            Write(path);
        Write(layout::ReceiptPath(), receipt);
    }
    void TearDown() override {
        u::SetProcessLayer(nullptr);
        layout::ResetInstallLayoutForTest();
    }
    void Run() {
        const auto wait = [this](int) {
            pausedAt.push_back(controller->ProgressIndicator()->value());
            duringPause ? duringPause() : void();
        };
        const auto run = [this](const std::vector<std::string>& arguments) {
            ran.push_back(arguments);
            return programs.count(arguments[0]) ? programs.at(arguments[0]) : u::ProgramRun{};
        };
        controller = std::make_unique<AppController>(
            UninstallEnvironment{wait, [this] { ++terminated; }, 1000, remove, run});
        controller->applicationWillBecomeActive();
    }
    static bool Exists(const std::string& path) { return QFileInfo::exists(path.c_str()); }
    static void Write(const std::string& path, const QByteArray& bytes = {}) {
        QDir().mkpath(QFileInfo(path.c_str()).path());
        QFile file(path.c_str());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    // Gives `path` and everything in it to `uid`, links as links.
    static void Own(const std::string& path, unsigned uid) {
        ASSERT_EQ(lchown(path.c_str(), uid, uid), 0) << path;
        if (!std::filesystem::is_directory(std::filesystem::symlink_status(path)))
            return;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            ASSERT_EQ(lchown(entry.path().c_str(), uid, uid), 0) << entry.path();
    }

    static constexpr unsigned kLodger = 65534, kNeighbour = 65533;
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString(), home = root + "/home/staff";
    FakeProcessLayer processes;
    std::vector<QString> panels;
    int answer = layout::NSAlertDefaultReturn, beeps = 0, terminated = 0;
    std::vector<int> pausedAt;
    std::function<void()> duringPause;
    std::function<u::RemovalResult(const std::string&)> remove; // empty: the real one
    std::map<std::string, u::ProgramRun> programs;              // by name; others succeed
    std::vector<std::vector<std::string>> ran;
    std::unique_ptr<AppController> controller;
};

// "No", "Yes" (the others asked to quit, the items removed, no ending
// meanwhile; removal never follows a link out of an item), not installed, and
// a receipt left over with the items gone.
TEST_F(Uninstall, FlowFromNoToYesToNotInstalledToMissingItems) {
    answer = layout::NSAlertAlternateReturn;
    Run();
    EXPECT_TRUE(Exists(layout::BundlePath()) && processes.quitSent.empty());
    answer = layout::NSAlertDefaultReturn;
    Write(root + "/outside/precious");
    ASSERT_TRUE(QDir((home + "/Zentrodat").c_str()).removeRecursively());
    for (const std::string& link : {home + "/Desktop/Zentrova/link", home + "/Zentrodat"})
        ASSERT_TRUE(QFile::link((root + "/outside").c_str(), link.c_str()));
    duringPause = [&] {
        EXPECT_FALSE(controller->windowShouldClose() || controller->applicationShouldTerminate());
        controller->Window()->close();
        EXPECT_TRUE(controller->Window()->isVisible());
    };
    Run();
    EXPECT_EQ(processes.quitSent, std::vector<std::uint32_t>{7});
    for (const std::string& gone : {layout::ReceiptPath(), layout::BundlePath(),
                                    home + "/Desktop/Zentrova", home + "/Zentrodat"})
        EXPECT_FALSE(Exists(gone)) << gone;
    EXPECT_TRUE(Exists(root + "/outside/precious"));
    EXPECT_EQ(pausedAt, (std::vector<int>{26, 51, 101}));
    EXPECT_TRUE(controller->windowShouldClose() && controller->applicationShouldTerminate());
    EXPECT_EQ(beeps, 9);
    duringPause = {};
    Run();
    EXPECT_EQ(panels, (std::vector<QString>{kConfirm, kConfirm, kSuccess, kNotInstalled}));
    Write(layout::ReceiptPath());
    Run(); // the later removals still run; a missing data folder is no failure
    EXPECT_TRUE(
        panels.back().contains((layout::BundlePath() + ": No such file or directory").c_str()));
    EXPECT_FALSE(Exists(layout::ReceiptPath()) || panels.back().contains("Zentrodat"));
    EXPECT_EQ(terminated, 4);
}

// The package's files are the package manager's: with its marker in the
// bundle nothing is asked, removed or run, even beside a stray receipt.
TEST_F(Uninstall, LeavesAPackageInstallToThePackageManager) {
    Write(layout::PackageMarkerPath());
    Run();
    EXPECT_EQ(panels, std::vector<QString>{kPackaged});
    for (const std::string& kept :
         {layout::ReceiptPath(), layout::MonitorProgramPath(), home + "/Zentrodat/SMARTLog0"})
        EXPECT_TRUE(Exists(kept)) << kept;
    EXPECT_TRUE(ran.empty() && processes.quitSent.empty());
    EXPECT_EQ(terminated, 1);
}

TEST_F(Uninstall, DesktopFolderOfTheInvokingUser) {
    Write(root + "/home/grooted/.config/user-dirs.dirs",
          "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    Write(root + "/home/al/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/home/alice/Desktop\"\n");
    Write(root + "/home/climber/.config/user-dirs.dirs",
          "XDG_DESKTOP_DIR=\"$HOME/../staff/Desktop\"\n");
    const char* cases[][3] = {
        // SUDO_UID, PKEXEC_UID, the folder under the root (empty: none)
        {"0", nullptr, "/root/Desktop/Zentrova"},
        {"1002", nullptr, "/root/Desktop/Zentrova"}, // "Root"
        {"1001", nullptr, "/home/grooted/Schreibtisch/Zentrova"},
        {"0", "1000", "/home/staff/Desktop/Zentrova"}, // pkexec names the asking user
        // Never another user's files: a home that is a name prefix, a way out by "..".
        {"1003", nullptr, "/home/al/Desktop/Zentrova"},
        {"1004", nullptr, "/home/climber/Desktop/Zentrova"},
        {"4242", nullptr, ""},
    };
    for (const auto& c : cases) {
        setenv("SUDO_UID", c[0], 1);
        c[1] ? setenv("PKEXEC_UID", c[1], 1) : unsetenv("PKEXEC_UID");
        const auto user = layout::InvokingUserName();
        EXPECT_EQ(root + c[2], user ? layout::DesktopFolderFor(*user).value_or(root) : root);
    }
}

// What the receipt says the install made besides its items: the group only
// when it made it, the folders it leaves empty, deepest first (one holding
// anything else stays and is no failure), and the caches that are there.
TEST_F(Uninstall, UndoesTheGroupFoldersAndCachesTheReceiptNames) {
    const std::string icons = layout::IconThemeFolder(), menu = layout::ApplicationsFolder();
    Write(menu + "/other.desktop");
    const QByteArray folders = "Folder: /home/staff/Desktop\nFolder: /usr/share/applications\n"
                               "Folder: /usr/share/icons/hicolor/256x256\n"
                               "Folder: /usr/share/icons/hicolor/256x256/apps\n"
                               "Folder: /var/lib/zentrova\n";
    Install(folders);
    Run();
    EXPECT_EQ(panels.back(), kSuccess);
    EXPECT_TRUE(ran.empty()); // no group of its own, no caches
    for (const std::string& gone :
         {home + "/Desktop", icons + "/256x256", root + "/var/lib/zentrova"})
        EXPECT_FALSE(Exists(gone)) << gone;
    EXPECT_TRUE(Exists(menu + "/other.desktop"));

    Install("Group: zentrova\n" + folders);
    Write(icons + "/icon-theme.cache");
    Write(menu + "/mimeinfo.cache");
    Run();
    EXPECT_EQ(ran, (std::vector<std::vector<std::string>>{
                       {"groupdel", "zentrova"},
                       {"gtk-update-icon-cache", "-q", "-t", "-f", icons},
                       {"update-desktop-database", "-q", menu}}));
}

// Every item it could not remove is listed, also after an earlier failure; a
// cache builder that is not there is no failure.
TEST_F(Uninstall, ListsEveryItemItCouldNotRemove) {
    Install("Group: zentrova\n");
    Write(layout::IconThemeFolder() + "/icon-theme.cache");
    Write(layout::ApplicationsFolder() + "/mimeinfo.cache");
    const std::string desktop = home + "/Desktop/Zentrova";
    remove = [&](const std::string& path) {
        return path == desktop || path == layout::BundlePath()
                   ? u::RemovalResult{false, EBUSY, path}
                   : u::RemoveItemAtPath(path);
    };
    programs = {{"groupdel", {0, 8}},
                {"gtk-update-icon-cache", {ENOENT, 0}},
                {"update-desktop-database", {0, 2}}};
    // A file in place of the folder of two icons, the 256-pixel one early in the list.
    const std::vector<std::string> copies = layout::SystemIntegrationPaths();
    const std::string blocked[] = {copies[1], copies.back()};
    for (const std::string& path : blocked) {
        const std::string folder = QFileInfo(path.c_str()).path().toStdString();
        ASSERT_TRUE(QDir(folder.c_str()).removeRecursively());
        Write(folder);
    }
    Run();
    for (const std::string& path : copies)
        EXPECT_EQ(Exists(path), false) << path;
    const QString busy = ": " + QString::fromLocal8Bit(std::strerror(EBUSY));
    const QString notFolder = ": " + QString::fromLocal8Bit(std::strerror(ENOTDIR));
    const QStringList listed = {QString::fromStdString(desktop) + busy,
                                QString::fromStdString(blocked[0]) + notFolder,
                                QString::fromStdString(blocked[1]) + notFolder,
                                QString::fromStdString(layout::BundlePath()) + busy,
                                "group zentrova: groupdel ended with status 8",
                                QString::fromStdString(layout::ApplicationsFolder()) +
                                    "/mimeinfo.cache: update-desktop-database ended with status 2"};
    const QString report = "Uninstall Zentrova|These items could not be removed:\n\n";
    EXPECT_EQ(panels, (std::vector<QString>{kConfirm, report + listed.join('\n') + "|Ok"}));
}

// The user's folders go with the user's rights: a link on the way to the
// desktop folder (or to a folder made for it) into a neighbour's folder, and
// a neighbour's folder inside the data folder, leave the neighbour's files
// where they are, listed.
TEST_F(Uninstall, RemovesTheUsersFoldersWithTheUsersRights) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can act as another user";
    setenv("SUDO_UID", "1005", 1);
    const std::string lodger = root + "/home/lodger", neighbour = root + "/home/neighbour/.config";
    Write(lodger + "/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desk\"\n");
    Write(lodger + "/Zentrodat/SMARTLog0");
    Write(lodger + "/Zentrodat/shared/theirs");
    Write(neighbour + "/Zentrova/theirs");
    ASSERT_TRUE(QDir().mkpath((neighbour + "/Empty").c_str()));
    Write(layout::ReceiptPath(), "Folder: /home/lodger/Desk/Empty\n");
    ASSERT_TRUE(QFile::link(neighbour.c_str(), (lodger + "/Desk").c_str()));
    Own(lodger, kLodger);
    Own(lodger + "/Zentrodat/shared", kNeighbour);
    Own(root + "/home/neighbour", kNeighbour);
    // Shared with root's group, which the lodger is not in.
    for (const std::string& shared : {neighbour, neighbour + "/Zentrova"})
        ASSERT_TRUE(chown(shared.c_str(), kNeighbour, 0) == 0 && chmod(shared.c_str(), 0775) == 0);
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    // Root's group among the uninstaller's own, as pkexec leaves it.
    std::vector<gid_t> groups(static_cast<std::size_t>(getgroups(0, nullptr)));
    ASSERT_EQ(getgroups(static_cast<int>(groups.size()), groups.data()),
              static_cast<int>(groups.size()));
    const gid_t rootGroup = 0;
    ASSERT_EQ(setgroups(1, &rootGroup), 0);
    Run();
    ASSERT_EQ(setgroups(groups.size(), groups.data()), 0);
    EXPECT_TRUE(Exists(neighbour + "/Zentrova/theirs") && Exists(neighbour + "/Empty") &&
                Exists(lodger + "/Zentrodat/shared/theirs"));
    EXPECT_FALSE(Exists(lodger + "/Zentrodat/SMARTLog0"));
    const QString denied = ": " + QString::fromLocal8Bit(std::strerror(EACCES));
    for (const std::string& stays : {lodger + "/Desk/Zentrova/theirs",
                                     lodger + "/Zentrodat/shared/theirs", lodger + "/Desk/Empty"})
        EXPECT_TRUE(panels.back().contains(QString::fromStdString(stays) + denied)) << stays;
}

// Run as root, the system's tools come from its own folders, never from a
// PATH the caller set.
TEST(RunProgram, NeverTakesAToolFromTheCallersPath) {
    QTemporaryDir fakes;
    const QString called = fakes.filePath("called");
    for (const char* tool : {"groupdel", "gtk-update-icon-cache", "update-desktop-database"}) {
        QFile script(fakes.filePath(tool));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$0\" >>'" + called.toLocal8Bit() + "'\n");
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        script.close();
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", fakes.path().toLocal8Bit());
        (void)u::RunProgram({tool, "--help"});
        qputenv("PATH", path);
    }
    EXPECT_FALSE(QFile::exists(called));
}

TEST_F(Uninstall, KillBrevantAsksAllButItselfTheFirstDesktopAndTheDock) {
    processes.self = 3;
    processes.processes = {{2, Code("MACS"), Code("FNDR")},
                           {3, Code("ZNUI")},
                           {4, Code("cads")},
                           {5, Code("MACS"), Code("FNDR")},
                           {6, Code("ZNTR")},
                           {8, Code("ZNTR"), Code("APPL"), true},
                           {9, Code("????")}};
    u::KillBrevant(true);
    EXPECT_EQ(processes.quitSent, (std::vector<std::uint32_t>{5, 6, 9}));
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2 || std::strcmp(argv[1], "--uninstall") != 0) {
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    const char* root = std::getenv("ZENTROVA_TEST_ROOT");
    if (root == nullptr || *root != '/')
        return std::fprintf(stderr, "ZENTROVA_TEST_ROOT must name a scratch folder\n"), 2;
    layout::installLayout.rootPrefix = root;
    layout::SetAlertHandler([](const layout::AlertRequest& request) {
        std::printf("panel: %s\n", qPrintable(request.message));
        return std::fflush(stdout), layout::NSAlertDefaultReturn;
    });
    AppController({.wait = {}, .terminate = {}, .pauseMilliseconds = 200, .remove = {}, .run = {}})
        .applicationWillBecomeActive();
    return 0;
}
