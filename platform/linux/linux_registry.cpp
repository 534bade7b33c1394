#include "linux_registry.h"

#include "helper_client.h"
#include "nvme_admin.h"
#include "platform/install_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace zentrova::platform {

namespace {

// A drive's channel through whichever road found it. The road stays alive
// (the helper keeps running) for as long as a handle holds it. Once the
// drive has gone, every command fails, and so does the handle.
class RoadChannel : public AtaSmartInterface {
  protected:
    RoadChannel(std::shared_ptr<DiskAccess> disks, std::string name)
        : disks_(std::move(disks)), name_(std::move(name)) {}

    int Send(DiskCommand command, std::uint8_t* page, ata::CdbForm form = ata::CdbForm::Sixteen) {
        const DiskAnswer answer = disks_->Run(name_, command, form);
        if (answer.ok() && page != nullptr)
            std::memcpy(page, answer.page.data(), answer.page.size());
        return static_cast<int>(answer.outcome);
    }
    static DiskCommand Pick(SelfTestCommand command, DiskCommand shortTest,
                            DiskCommand extendedTest, DiskCommand abort) {
        if (command == SelfTestCommand::Short)
            return shortTest;
        return command == SelfTestCommand::Extended ? extendedTest : abort;
    }

  private:
    std::shared_ptr<DiskAccess> disks_;
    std::string name_;
};

// The SMART channel of one ATA disk.
class AccessAtaSmart final : public RoadChannel {
  public:
    AccessAtaSmart(std::shared_ptr<DiskAccess> disks, std::string name, ata::CdbForm form)
        : RoadChannel(std::move(disks), std::move(name)), form_(form) {}

    // Nothing ever switches SMART off: that command is not on either road.
    int SMARTEnableDisableOperations(bool enable) override {
        return enable ? Send(DiskCommand::SmartEnableOperations, nullptr, form_) : -1;
    }
    int SMARTReadData(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(DiskCommand::SmartReadData, page, form_);
    }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(DiskCommand::SmartReadThresholds, page, form_);
    }
    int SMARTExecuteSelfTest(SelfTestCommand command) override {
        return Send(Pick(command, DiskCommand::SmartShortSelfTest,
                         DiskCommand::SmartExtendedSelfTest, DiskCommand::SmartAbortSelfTest),
                    nullptr, form_);
    }
    int SMARTReadSelfTestLog(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(DiskCommand::SmartReadSelfTestLog, page, form_);
    }

  private:
    ata::CdbForm form_;
};

// An NVMe controller's health log and Identify Controller in the places of
// the two SMART pages (device_registry.h).
class AccessNvme final : public RoadChannel {
  public:
    AccessNvme(std::shared_ptr<DiskAccess> disks, std::string name)
        : RoadChannel(std::move(disks), std::move(name)) {}

    // The health log cannot be switched off: there is nothing to send.
    int SMARTEnableDisableOperations(bool) override { return 0; }
    int SMARTReadData(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(DiskCommand::NvmeReadHealthLog, page);
    }
    int SMARTReadDataThresholds(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(DiskCommand::NvmeIdentifyController, page);
    }
    int SMARTExecuteSelfTest(SelfTestCommand command) override {
        return Send(Pick(command, DiskCommand::NvmeShortSelfTest, DiskCommand::NvmeExtendedSelfTest,
                         DiskCommand::NvmeAbortSelfTest),
                    nullptr);
    }
    int SMARTReadSelfTestLog(std::uint8_t* page) override {
        return page == nullptr ? -1 : Send(DiskCommand::NvmeReadSelfTestLog, page);
    }
};

const char* FormName(ata::CdbForm form) {
    return form == ata::CdbForm::Sixteen ? "ATA PASS-THROUGH (16)" : "ATA PASS-THROUGH (12)";
}

enum class Fate { Listed, Virtual, Screened, NotAta, Denied, Unopened };

struct Probe {
    std::optional<BlockStorageService> service;
    Fate fate = Fate::Listed;
    std::string note; // why it was skipped, or what was listed
};

std::string SizeText(const DiskFacts& facts) {
    return (facts.sizeBytes ? std::to_string(*facts.sizeBytes) : std::string("unknown")) + " bytes";
}

// A controller is a drive whatever its health read says: sysfs has told
// what the window shows of it. Only one that cannot be opened for another
// reason than a privilege (its node gone, or not the device sysfs names)
// is left out.
Probe ProbeController(const std::shared_ptr<DiskAccess>& disks, const DiskFacts& facts) {
    const DiskAnswer health =
        disks->Run(facts.name, DiskCommand::NvmeReadHealthLog, ata::CdbForm::Sixteen);
    if (health.refused && !health.denied)
        return {std::nullopt, Fate::Unopened, health.detail};
    Probe probe;
    probe.fate = health.denied ? Fate::Denied : Fate::Listed;
    probe.service.emplace();
    BlockStorageService& service = *probe.service;
    service.kind = DriveKind::Nvme;
    service.bsdName = facts.name;
    service.sizeBytes = facts.sizeBytes;
    service.deviceModel = facts.model;
    service.deviceRevision = facts.firmware;
    // sysfs names no serial: the controller's own Identify page does, read
    // through the same road as its health.
    if (health.ok())
        if (const DiskAnswer identify =
                disks->Run(facts.name, DiskCommand::NvmeIdentifyController, ata::CdbForm::Sixteen);
            identify.ok())
            service.deviceSerial = nvme::ControllerSerial(identify.page.data());
    service.sensorCelsius = facts.sensorCelsius;
    service.smartInterface = std::make_unique<AccessNvme>(disks, facts.name);
    probe.note = "NVMe controller \"" + facts.model + "\" firmware \"" + facts.firmware + "\", " +
                 SizeText(facts) + ", sensor " +
                 (facts.sensorCelsius ? std::to_string(*facts.sensorCelsius) + " C" : "none") +
                 (health.ok() ? std::string() : "; health log: " + health.detail);
    return probe;
}

Probe ProbeDisk(const std::shared_ptr<DiskAccess>& disks, const DiskFacts& facts) {
    if (facts.kind == DriveKind::Nvme)
        return ProbeController(disks, facts);
    if (const auto why = ScreenDisk(facts))
        return {std::nullopt, facts.hasDevice ? Fate::Screened : Fate::Virtual, *why};

    ata::CdbForm form = ata::CdbForm::Sixteen;
    DiskAnswer identify = disks->Run(facts.name, DiskCommand::IdentifyDevice, form);
    std::string failures = identify.detail;
    if (ata::WorthTwelveByteRetry(ata::Verdict{identify.outcome, identify.detail})) {
        form = ata::CdbForm::Twelve;
        identify = disks->Run(facts.name, DiskCommand::IdentifyDevice, form);
        failures = "16-byte: " + failures + "; 12-byte: " + identify.detail;
    }
    if (identify.denied)
        return {std::nullopt, Fate::Denied,
                identify.refused ? identify.detail : "ATA IDENTIFY DEVICE failed: " + failures};
    if (identify.refused)
        return {std::nullopt, Fate::Unopened, identify.detail};
    if (!identify.ok())
        return {std::nullopt, Fate::NotAta, "ATA IDENTIFY DEVICE failed: " + failures};
    if (const auto problem = ata::IdentifyPageProblem(identify.page.data()))
        return {std::nullopt, Fate::NotAta, *problem};

    Probe probe;
    probe.service.emplace();
    BlockStorageService& service = *probe.service;
    service.bsdName = facts.name;
    service.sizeBytes = facts.sizeBytes;
    service.deviceModel = ata::IdentifyModel(identify.page.data());
    service.deviceRevision = ata::IdentifyRevision(identify.page.data());
    service.deviceSerial = ata::IdentifySerial(identify.page.data());
    service.smartInterface = std::make_unique<AccessAtaSmart>(disks, facts.name, form);
    probe.note = "\"" + *service.deviceModel + "\" firmware \"" + *service.deviceRevision + "\", " +
                 SizeText(facts) + ", " + FormName(form);
    return probe;
}

std::vector<Probe> ProbeAll(const std::shared_ptr<DiskAccess>& disks,
                            const std::vector<DiskFacts>& list) {
    std::vector<Probe> probes;
    probes.reserve(list.size());
    for (const DiskFacts& facts : list)
        probes.push_back(ProbeDisk(disks, facts));
    return probes;
}

// The line the window shows for a disk left out; empty for one not worth a
// word (a loop or RAM disk is no drive to the user).
std::string PlainLine(const DiskFacts& facts, const Probe& probe, bool helperUsed,
                      const HelperTrouble& helperTrouble, const std::string& helperPath) {
    const std::string& name = facts.name;
    switch (probe.fate) {
    case Fate::Listed:
    case Fate::Virtual:
        return {};
    case Fate::Screened:
        if (facts.parentSubsystem.starts_with("nvme"))
            return name + ": an NVMe namespace whose controller Zentrova could not find in "
                          "sysfs, so it cannot read the drive's health.";
        if (facts.parentSubsystem == "virtio")
            return name + ": virtio disks (the disks of a virtual machine) are not ATA drives "
                          "and have no S.M.A.R.T. data.";
        return name + ": not a hard disk (SCSI device type " +
               std::to_string(facts.scsiType.value_or(-1)) + ", for example an optical drive).";
    case Fate::NotAta:
        return name + ": did not answer the ATA IDENTIFY DEVICE command, so it is not an ATA "
                      "drive Zentrova can read (for example a SCSI disk, or a USB enclosure "
                      "that does not pass ATA commands through).";
    case Fate::Denied:
        if (helperUsed)
            return name + ": the drive helper " + helperPath +
                   " lacks its capabilities; give them with: " +
                   HelperCapabilityCommand(helperPath);
        return name +
               (facts.kind == DriveKind::Nvme ? ": reading its health needs the Zentrova drive "
                                                "helper, which "
                                              : ": reading disks needs the Zentrova drive "
                                                "helper, which ") +
               helperTrouble.why + "; " + helperTrouble.remedy;
    case Fate::Unopened:
        return name + ": could not be opened (" + probe.note + ").";
    }
    return {};
}

// Whether only a group may run the helper: its group may execute it and
// others may not, as the install step leaves it.
bool OnlyForItsGroup(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXGRP) != 0 &&
           (st.st_mode & S_IXOTH) == 0;
}

// The helper gets an empty environment: whatever the monitor's caller put
// there is no business of a privileged program. The debug switch goes as its
// argument.
std::shared_ptr<DiskAccess> StartInstalledHelper(HelperTrouble* trouble) {
    const std::string path = FindAtaHelper();
    if (::access(path.c_str(), X_OK) != 0) {
        const int error = errno;
        *trouble = ExplainUnrunnableHelper(path, error, OnlyForItsGroup(path));
        return nullptr;
    }
    HelperLaunch launch{path, {}, {}};
    if (DebugStreamFromEnvironment() != nullptr)
        launch.arguments.push_back("--debug");
    std::string error;
    std::shared_ptr<DiskAccess> helper = HelperDiskAccess::Start(std::move(launch), &error);
    if (helper == nullptr)
        trouble->why = "could not be started: " + error;
    return helper;
}

} // namespace

std::string HelperCapabilityCommand(const std::string& helperPath) {
    return "sudo setcap cap_sys_rawio,cap_dac_read_search,cap_sys_admin+ep " + helperPath;
}

HelperTrouble ExplainUnrunnableHelper(const std::string& path, int error, bool onlyForItsGroup) {
    HelperTrouble trouble;
    if (error == ENOENT || error == ENOTDIR)
        trouble.why = "is not installed (" + path + ")";
    else if (error == EACCES && onlyForItsGroup) {
        trouble.why = std::string("only members of the group ") + kHelperGroupName + " may run (" +
                      path + ")";
        // A new group counts from the next log-in on.
        trouble.remedy = std::string("join the group with: sudo usermod -aG ") + kHelperGroupName +
                         " $USER, then log out and log in again";
    } else
        trouble.why = "cannot be run (" + path + ": " + std::strerror(error) + ")";
    return trouble;
}

LinuxRegistry::LinuxRegistry()
    : LinuxRegistry(std::make_shared<DirectDiskAccess>(), StartInstalledHelper, FindAtaHelper(),
                    DebugStreamFromEnvironment()) {}

LinuxRegistry::LinuxRegistry(std::string sysBlockDir, std::string devDir, std::ostream* debugLog)
    : LinuxRegistry(std::make_shared<DirectDiskAccess>(std::move(sysBlockDir), std::move(devDir)),
                    nullptr, std::string(), debugLog) {}

LinuxRegistry::LinuxRegistry(std::shared_ptr<DiskAccess> direct, HelperStarter helper,
                             std::string helperPath, std::ostream* debugLog)
    : direct_(std::move(direct)), helper_(std::move(helper)), helperPath_(std::move(helperPath)),
      debugLog_(debugLog) {}

std::vector<BlockStorageService> LinuxRegistry::BlockStorageServices() {
    const auto debug = [this](const std::string& line) {
        if (debugLog_ != nullptr)
            *debugLog_ << "zentrova: " << line << '\n';
    };
    leftOut_.clear();

    std::string error;
    std::vector<DiskFacts> disks = direct_->ListDisks(&error);
    if (!error.empty())
        debug(error);
    std::vector<Probe> probes = ProbeAll(direct_, disks);

    // Without the privilege to read the disks, the helper reads them all:
    // one road for the whole list, so that both roads list alike.
    bool helperUsed = false;
    HelperTrouble helperTrouble;
    const bool denied = std::any_of(probes.begin(), probes.end(),
                                    [](const Probe& p) { return p.fate == Fate::Denied; });
    if (denied && helper_) {
        std::shared_ptr<DiskAccess> helper = helper_(&helperTrouble);
        std::vector<DiskFacts> helperDisks;
        std::string helperError;
        if (helper != nullptr)
            helperDisks = helper->ListDisks(&helperError);
        if (helper != nullptr && helperError.empty()) {
            debug("cannot read the disks directly; reading them through " + helperPath_);
            disks = std::move(helperDisks);
            probes = ProbeAll(helper, disks);
            helperUsed = true;
        } else if (helper != nullptr) {
            helperTrouble.why = "failed: " + helperError;
        }
    }

    std::vector<BlockStorageService> services;
    for (std::size_t i = 0; i < probes.size(); ++i) {
        Probe& probe = probes[i];
        debug(disks[i].name + (probe.service ? " listed: " : " skipped: ") + probe.note);
        if (std::string line = PlainLine(disks[i], probe, helperUsed, helperTrouble, helperPath_);
            !line.empty())
            leftOut_.push_back(std::move(line));
        if (probe.service)
            services.push_back(std::move(*probe.service));
    }
    return services;
}

} // namespace zentrova::platform
