// One poll of the selected drive, the failure warning, the drive table's
// value-set rule and what a selection of a drive row does with its readings.
#pragma once

#include "smart/evaluation.h"
#include "smart/table_rules.h"

#include <cstdint>

namespace zentrova::smart {

// The widget side of a poll, implemented by the controller.
class PollHost : public EvaluationHost {
  public:
    // The evaluation as the controller exposes it; the poll always goes
    // through here, so a controller may wrap it.
    virtual std::uint8_t FillAttributeListTable(const device::ATASMARTAttributeStruct* attributes,
                                                const device::ATASMARTThresholdsStruct* thresholds,
                                                int operation) {
        return zentrova::smart::FillAttributeListTable(*this, attributes, thresholds, operation);
    }
    // The same for an NVMe drive (see zentrova::smart::FillNvmeHealthTable).
    virtual std::uint8_t FillNvmeHealthTable(const std::uint8_t* healthPage,
                                             const std::uint8_t* identifyPage,
                                             const std::uint8_t* previousHealth, int operation) {
        return zentrova::smart::FillNvmeHealthTable(*this, healthPage, identifyPage, previousHealth,
                                                    operation);
    }
    // bDrvFailed := 1: from now on the drive table's value-set path acts.
    virtual void SetDrvFailed() = 0;
    // The drive table's value-set path for one cell, now, as if an edit of
    // it had been begun and committed (column 2 "Temp", 3 "SMART"); see
    // DriveTableValueSet.
    virtual void EditDriveCell(int column, int row) = 0;
    virtual void ReloadDriveTable() = 0;             // TheTable's reloadData
    virtual void RestoreMainWindowIfMinimised() = 0; // SMARTWindow's deminiaturize:
    virtual void FillLogEvents() = 0;                // the log page catches up
    // Every read of a poll, as soon as it is over and before anything is
    // judged or shown: the drive's two fresh pages, or null pages when the
    // read failed. Nothing a panel could hold up comes before it.
    virtual void PollReadFinished(int /*drive*/, const std::uint8_t* /*dataPage*/,
                                  const std::uint8_t* /*thresholdsPage*/) {}
    // Around every poll that reads (a skipped one neither starts nor ends):
    // a self-test's start waits for the end, so no command comes between a
    // poll's reads.
    virtual void PollStarted(int /*drive*/) {}
    virtual void PollEnded(int /*drive*/) {}
    // The drive's last self-test failed: the poll judges the drive failed, as
    // for a failed attribute.
    virtual bool SelfTestFailed(int /*drive*/) { return false; }
};

// Reads both pages of `device::dev.gpSelDevInfo`, judges them with operation
// 0, keeps them as the drive's previous reading and pushes the verdict into
// the drive table; on a failed attribute beeps, restores the window and shows
// the "WARNING" panel. A read that fails changes nothing the user sees except
// the attribute rows of another drive, which give way to this drive's last
// good reading (redisplayed with operation 1), or to empty rows if it has none.
void PollSelDriveForSMARTAndFillAttributeTable(PollHost& host);

// The end of a drive-table selection change: redisplays the selected drive's
// stored reading with operation 1, or polls it when it has none, when it is
// marked in `bPoll` or during start-up's first reload (then clears its mark).
void ShowSelectedDriveReading(PollHost& host);

} // namespace zentrova::smart
