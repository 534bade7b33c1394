// The uninstall flow on an installation under a temporary root, with panels,
// beeps, pauses and the process list scripted.
#include "AppController.h"
#include "fakes/fake_processes.h"
#include "processes.h"

#include "platform/install_layout.h"
#include "platform/ui/alert_panel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

namespace layout = zentrova::platform;
using zentrova::testing::FakeProcessLayer;
constexpr auto Code = &zentrova::uninstaller::FourCharCode;

namespace {

const char* const kNotInstalled = "Uninstall is not required since Zentrova is not installed";
const char* const kConfirm = "Are you sure you want to uninstall Zentrova ?";
const char* const kSuccess = "Uninstall process completed successfully";

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void Touch(const std::string& path) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

class UninstallFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        layout::installLayout.rootPrefix = root;
        layout::installLayout.homeOf = [](const std::string& name) -> std::optional<std::string> {
            static const std::map<std::string, std::string> homes = {
                {"root", "/root"}, {"staff", "/home/staff"}, {"grooted", "/home/grooted"}};
            const auto found = homes.find(name);
            return found == homes.end() ? std::nullopt : std::optional(found->second);
        };
        layout::installLayout.nameOf = [](unsigned uid) -> std::optional<std::string> {
            static const std::map<unsigned, std::string> names = {
                {0, "root"}, {1000, "staff"}, {1001, "grooted"}, {1002, "Root"}};
            const auto found = names.find(uid);
            return found == names.end() ? std::nullopt : std::optional(found->second);
        };
        unsetenv("PKEXEC_UID");
        setenv("SUDO_UID", "1000", 1);
        processes.processes = {{1, Code("ZNUI")}, {7, Code("ZNTR")}};
        zentrova::uninstaller::SetProcessLayer(&processes);
        layout::SetAlertHandler([this](const layout::AlertRequest& request) {
            panels.push_back(request);
            return answer;
        });
        layout::SetBeepHandler([this] { ++beeps; });
    }
    void TearDown() override {
        controller.reset();
        zentrova::uninstaller::SetProcessLayer(nullptr);
        layout::ResetInstallLayoutForTest();
        layout::SetAlertHandler({});
        layout::SetBeepHandler({});
        unsetenv("SUDO_UID");
    }

    std::string Home() const { return root + "/home/staff"; }
    void Install() {
        Touch(layout::ReceiptPath());
        Touch(layout::MonitorProgramPath());
        for (const std::string& path : layout::SystemIntegrationPaths())
            Touch(path);
        Touch(Home() + "/Desktop/Zentrova/Zentrova.desktop");
        Touch(Home() + "/Zentrodat/SMARTLog0");
    }
    void Run() {
        UninstallEnvironment environment;
        environment.wait = [this](int) {
            pausedAt.push_back(controller->ProgressIndicator()->value());
            if (duringPause)
                duringPause();
        };
        environment.terminate = [this] { ++terminated; };
        controller = std::make_unique<AppController>(environment);
        QObject::connect(controller->ProgressIndicator(), &QProgressBar::valueChanged,
                         [this](int value) { progress.push_back(value); });
        controller->applicationWillBecomeActive();
    }
    std::vector<QString> Messages() const {
        std::vector<QString> messages;
        for (const auto& panel : panels)
            messages.push_back(panel.message);
        return messages;
    }

    QTemporaryDir dir;
    std::string root;
    FakeProcessLayer processes;
    std::vector<layout::AlertRequest> panels;
    int answer = layout::NSAlertDefaultReturn;
    int beeps = 0;
    int terminated = 0;
    std::vector<int> pausedAt;
    std::vector<int> progress;
    std::function<void()> duringPause;
    std::unique_ptr<AppController> controller;
};

TEST_F(UninstallFixture, WithoutReceiptSaysNotInstalledAndRemovesNothing) {
    Install();
    ASSERT_EQ(unlink(layout::ReceiptPath().c_str()), 0);
    Run();
    ASSERT_EQ(panels.size(), 1u);
    EXPECT_EQ(panels[0].title, "Uninstall Zentrova");
    EXPECT_EQ(panels[0].message, kNotInstalled);
    EXPECT_EQ(panels[0].defaultButton, "Ok");
    EXPECT_TRUE(Exists(layout::BundlePath()));
    EXPECT_TRUE(processes.quitSent.empty());
    EXPECT_EQ(terminated, 1);
}

TEST_F(UninstallFixture, AnswerNoRemovesNothingAndQuitsNothing) {
    Install();
    answer = layout::NSAlertAlternateReturn;
    Run();
    ASSERT_EQ(panels.size(), 1u);
    EXPECT_EQ(panels[0].title, "Uninistall Zentrova");
    EXPECT_EQ(panels[0].message, kConfirm);
    EXPECT_EQ(panels[0].defaultButton, "Yes");
    EXPECT_EQ(panels[0].alternateButton, "No");
    EXPECT_TRUE(Exists(layout::ReceiptPath()));
    EXPECT_TRUE(Exists(Home() + "/Zentrodat/SMARTLog0"));
    EXPECT_TRUE(processes.quitSent.empty());
    EXPECT_EQ(terminated, 1);
}

TEST_F(UninstallFixture, AnswerYesQuitsOthersRemovesTheMappedItemsOnly) {
    Install();
    const std::vector<std::string> others = {
        root + "/opt/other/bin/tool", root + "/usr/share/applications/other.desktop",
        Home() + "/Desktop/notes.txt", root + "/var/lib/zentrova/keep"};
    for (const std::string& path : others)
        Touch(path);
    Run();
    EXPECT_EQ(Messages(), (std::vector<QString>{kConfirm, kSuccess}));
    EXPECT_EQ(processes.quitSent, std::vector<std::uint32_t>{7});
    for (const std::string& gone :
         {layout::ReceiptPath(), layout::BundlePath(), Home() + "/Desktop/Zentrova",
          Home() + "/Zentrodat", layout::SystemIntegrationPaths()[0]})
        EXPECT_FALSE(Exists(gone)) << gone;
    for (const std::string& kept : others)
        EXPECT_TRUE(Exists(kept)) << kept;
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(controller->ProcessRunning());
}

TEST_F(UninstallFixture, ProgressRunsOneToTwentySixThenToFiftyOneThenToHundredAndOne) {
    Install();
    Run();
    std::vector<int> expected(101);
    for (int i = 0; i < 101; ++i)
        expected[i] = i + 1;
    EXPECT_EQ(progress, expected);
    EXPECT_EQ(pausedAt, (std::vector<int>{26, 51, 101}));
    EXPECT_EQ(controller->ProgressIndicator()->value(), controller->ProgressIndicator()->maximum());
}

TEST_F(UninstallFixture, ClosingAndQuittingAreRefusedWithABeepWhileRunning) {
    Install();
    std::vector<bool> answers;
    duringPause = [&] {
        answers.push_back(controller->windowShouldClose());
        answers.push_back(controller->applicationShouldTerminate());
        controller->Window()->close();
        answers.push_back(controller->Window()->isVisible());
    };
    Run();
    EXPECT_EQ(answers[0], false);
    EXPECT_EQ(answers[1], false);
    EXPECT_EQ(answers[2], true);
    EXPECT_EQ(beeps, 3 * 3);
    EXPECT_TRUE(controller->windowShouldClose());
    EXPECT_TRUE(controller->applicationShouldTerminate());
    EXPECT_EQ(beeps, 9);
}

TEST_F(UninstallFixture, MissingDataFolderIsNoFailure) {
    Install();
    ASSERT_TRUE(QDir(QString::fromStdString(Home() + "/Zentrodat")).removeRecursively());
    Run();
    EXPECT_EQ(Messages(), (std::vector<QString>{kConfirm, kSuccess}));
}

TEST_F(UninstallFixture, FailedRemovalIsReportedInsteadOfSuccess) {
    Install();
    ASSERT_TRUE(QDir(QString::fromStdString(layout::BundlePath())).removeRecursively());
    Run();
    ASSERT_EQ(panels.size(), 2u);
    EXPECT_EQ(panels[0].message, kConfirm);
    EXPECT_TRUE(panels[1].message.contains(QString::fromStdString(layout::BundlePath()) +
                                           ": No such file or directory"))
        << panels[1].message.toStdString();
    EXPECT_FALSE(Exists(layout::ReceiptPath())); // the later removals still ran
}

TEST_F(UninstallFixture, RemovalNeverFollowsALinkOutOfTheItem) {
    Install();
    Touch(root + "/outside/precious");
    ASSERT_EQ(symlink((root + "/outside").c_str(), (Home() + "/Desktop/Zentrova/link").c_str()), 0);
    ASSERT_TRUE(QDir(QString::fromStdString(Home() + "/Zentrodat")).removeRecursively());
    ASSERT_EQ(symlink((root + "/outside").c_str(), (Home() + "/Zentrodat").c_str()), 0);
    Run();
    EXPECT_FALSE(Exists(Home() + "/Desktop/Zentrova"));
    EXPECT_FALSE(Exists(Home() + "/Zentrodat"));
    EXPECT_TRUE(Exists(root + "/outside/precious"));
}

struct FolderCase {
    const char* sudoUid;
    const char* pkexecUid;
    const char* folder; // under the root; empty: none
};

TEST_F(UninstallFixture, DesktopFolderOfTheInvokingUser) {
    Touch(root + "/home/grooted/.config/user-dirs.dirs");
    QFile dirs(QString::fromStdString(root + "/home/grooted/.config/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    dirs.close();
    const FolderCase cases[] = {
        {"0", nullptr, "/root/Desktop/Zentrova"},
        {"1002", nullptr, "/root/Desktop/Zentrova"}, // "Root"
        {"1001", nullptr, "/home/grooted/Schreibtisch/Zentrova"},
        {"1000", nullptr, "/home/staff/Desktop/Zentrova"},
        {"0", "1000", "/home/staff/Desktop/Zentrova"}, // pkexec names the asking user
        {"4242", nullptr, ""},
    };
    for (const FolderCase& c : cases) {
        setenv("SUDO_UID", c.sudoUid, 1);
        if (c.pkexecUid != nullptr)
            setenv("PKEXEC_UID", c.pkexecUid, 1);
        else
            unsetenv("PKEXEC_UID");
        const std::optional<std::string> user = layout::InvokingUserName();
        const std::optional<std::string> folder =
            user ? layout::DesktopFolderFor(*user) : std::nullopt;
        EXPECT_EQ(folder.value_or(root), root + c.folder) << c.sudoUid;
    }
    unsetenv("PKEXEC_UID");
}

TEST(KillBrevant, AsksEveryOtherApplicationButItselfTheFirstDesktopAndTheDock) {
    FakeProcessLayer processes;
    processes.self = 3;
    const auto finder = Code("MACS");
    processes.processes = {{2, finder, Code("FNDR")}, {3, Code("ZNUI")},
                           {4, Code("cads")},         {5, finder, Code("FNDR")},
                           {6, Code("ZNTR")},         {8, Code("ZNTR"), Code("APPL"), true},
                           {9, Code("????")}};
    zentrova::uninstaller::SetProcessLayer(&processes);
    zentrova::uninstaller::KillBrevant(true);
    EXPECT_EQ(processes.quitSent, (std::vector<std::uint32_t>{5, 6, 9}));

    processes.processes.clear();
    processes.quitSent.clear();
    zentrova::uninstaller::KillBrevant(true);
    EXPECT_TRUE(processes.quitSent.empty());
    zentrova::uninstaller::SetProcessLayer(nullptr);
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
