#include "poll_cycle.h"

#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "smart/attribute_catalogue.h"

#include <cstring>
#include <new>

namespace zentrova::smart {

namespace {

constexpr int kTempColumn = 2;
constexpr int kSmartColumn = 3;

// A page buffer that lives until shutdown, allocated on the drive's first poll.
bool EnsurePage(std::uint8_t*& page) {
    if (page == nullptr)
        page = new (std::nothrow) std::uint8_t[kSmartPageSize]();
    return page != nullptr;
}

int SelectedIndex() {
    const device::xDEV_INFO* drive = device::dev.gpSelDevInfo;
    if (drive == nullptr || drive->nDevIndex < 0 || drive->nDevIndex >= kMaxDrives)
        return -1;
    return drive->nDevIndex;
}

bool SelectedIsNvme() {
    return device::dev.gpSelDevInfo->driveKind == platform::DriveKind::Nvme;
}

// The drive's stored reading, judged again by its kind's evaluation.
void Redisplay(PollHost& host, int d) {
    if (SelectedIsNvme())
        host.FillNvmeHealthTable(smart.gTempDataStruct[d], smart.gTempThreshStruct[d], nullptr, 1);
    else
        host.FillAttributeListTable(smart.gpPrevSmartAttr[d], smart.gpPrevThreshold[d], 1);
}

// No fresh reading: the attribute rows stay those of the drive's last good
// reading, and never show another drive's attributes under this one. Coming
// from another drive, its last good reading is redisplayed as a click on it
// would; only a drive never read shows empty rows.
void KeepRowsAfterFailedRead(PollHost& host, int d) {
    AttributeColumns& cols = host.AttrColumns();
    if (cols.exists && cols.drive == d) {
        smart.gnTotAttr = static_cast<std::int32_t>(cols.Attr_0_Array.size());
    } else if (smart.gpPrevSmartAttr[d] != nullptr && smart.gpPrevThreshold[d] != nullptr) {
        Redisplay(host, d);
        return; // the evaluation reloads the table itself
    } else {
        cols = AttributeColumns{};
        cols.exists = true;
        cols.drive = d;
        smart.gnTotAttr = 0;
    }
    host.ReloadAttrTable();
}

QString FailureWarningText(const device::xDEV_INFO& drive) {
    return QString::fromUtf8(FieldBytes(drive.szModelNum)) + QStringLiteral(",\n") +
           QString::fromUtf8(FieldBytes(drive.szFirmwareRev)) +
           QStringLiteral(",\nis about to fail.\nMake sure to take backup of your data before it "
                          "is lost.");
}

// The desktop hears of a failing drive at every failed poll, also when the
// temperature alert stands in for the "WARNING" panel.
void AnnounceFailure(int d, const device::xDEV_INFO& drive) {
    platform::AnnounceBeforePanel({platform::NoticeKind::DriveFailing, d,
                                   QString::fromUtf8(FieldBytes(drive.szDevFilePath)),
                                   FailureWarningText(drive)});
}

void ShowFailureWarning(int d, const device::xDEV_INFO& drive) {
    const QString text = FailureWarningText(drive);
    smart.gbMessagePoped[d] = 1;
    platform::NSRunAlertPanel(QStringLiteral("WARNING"), text, QString());
    smart.gbMessagePoped[d] = 0;
}

} // namespace

void PollSelDriveForSMARTAndFillAttributeTable(PollHost& host) {
    // gnTotAttr is not cleared up front: it always counts the rows the
    // columns hold, also when this poll is skipped.
    const int d = SelectedIndex();
    if (d < 0 || smart.gbMessagePoped[d] != 0)
        return;
    const device::xDEV_INFO& drive = *device::dev.gpSelDevInfo;
    // A drive that left the computer is not read again: its rows stay those
    // of its last good reading, and no failed read is counted against it.
    if (drive.removed) {
        KeepRowsAfterFailedRead(host, d);
        return;
    }
    host.PollStarted(d);
    struct EndOfPoll {
        PollHost& host;
        int d;
        ~EndOfPoll() { host.PollEnded(d); }
    } endOfPoll{host, d};

    if (!EnsurePage(smart.gpSmartDataStruct[d]) || !EnsurePage(smart.gpSmartThreshStruct[d]) ||
        device::GetSMARTAttributeAndThreshold(smart.gpSmartDataStruct[d],
                                              smart.gpSmartThreshStruct[d]) != 1) {
        // A failed read is no verdict: the drive's "SMART" cell keeps what it
        // showed, and whatever the attempt left in the pages never becomes the
        // previous reading, so the next good read is compared with the last
        // good one. The drive also stays "not yet compared" if it was.
        host.PollReadFinished(d, nullptr, nullptr);
        KeepRowsAfterFailedRead(host, d);
        return;
    }

    host.PollReadFinished(d, smart.gpSmartDataStruct[d], smart.gpSmartThreshStruct[d]);
    std::uint8_t failed = 0;
    if (SelectedIsNvme()) {
        // Its previous reading is the copy the last good poll left.
        const std::uint8_t* previous =
            smart.gpPrevSmartAttr[d] != nullptr ? smart.gTempDataStruct[d] : nullptr;
        failed = host.FillNvmeHealthTable(smart.gpSmartDataStruct[d], smart.gpSmartThreshStruct[d],
                                          previous, 0);
    } else {
        const auto* attributes = device::AttributeEntries(smart.gpSmartDataStruct[d]);
        const auto* thresholds = device::ThresholdEntries(smart.gpSmartThreshStruct[d]);
        if (smart.gbFlag[d] != 0)
            smart.gpPrevSmartAttr[d] = attributes; // nothing compares as changed
        failed = host.FillAttributeListTable(attributes, thresholds, 0);
    }

    if (host.SelfTestFailed(d))
        failed = 1;

    std::memcpy(smart.gTempDataStruct[d], smart.gpSmartDataStruct[d], kSmartPageSize);
    smart.gpPrevSmartAttr[d] = device::AttributeEntries(smart.gTempDataStruct[d]);
    smart.gbFlag[d] = 0;
    std::memcpy(smart.gTempThreshStruct[d], smart.gpSmartThreshStruct[d], kSmartPageSize);
    smart.gpPrevThreshold[d] = device::ThresholdEntries(smart.gTempThreshStruct[d]);

    // bDrvFailed goes first: the cells are set at once, not when the table
    // later commits an edit, so the value-set path must already be open.
    host.SetDrvFailed();
    if (failed == 1) {
        platform::NSBeep();
        smart.gbAttrFailed = 1;
        if (drive.nTemperature != 0)
            host.EditDriveCell(kTempColumn, d);
        host.EditDriveCell(kSmartColumn, d);
        host.ReloadDriveTable();
        host.RestoreMainWindowIfMinimised();
        AnnounceFailure(d, drive);
        if (smart.bTempFailed == 0)
            ShowFailureWarning(d, drive);
    } else {
        smart.gbAttrFailed = 0;
        host.EditDriveCell(kSmartColumn, d);
        host.ReloadDriveTable();
    }
    host.ReloadAttrTable();
    if (settings::settings.gbCheckLog[d] != 0)
        host.FillLogEvents();
}

void ShowSelectedDriveReading(PollHost& host) {
    const int d = SelectedIndex();
    if (d < 0)
        return;
    if (!host.FirstTime() && smart.gpPrevThreshold[d] != nullptr &&
        settings::settings.bPoll[d] != 1) {
        Redisplay(host, d);
        return;
    }
    PollSelDriveForSMARTAndFillAttributeTable(host);
    settings::settings.bPoll[d] = 0;
}

} // namespace zentrova::smart
