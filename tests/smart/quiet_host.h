// The controller side of the evaluation and the poll with no windows: the
// drive table's "Temp" and "SMART" cells are plain lists refreshed through
// the value-set rule; everything else does nothing.
#pragma once

#include "smart/poll_cycle.h"

namespace zentrova::testing {

class QuietHost : public smart::PollHost {
  public:
    smart::AttributeColumns columns;
    QString drvPath;
    bool firstTime = false;
    bool drvFailed = false;
    QVariantList col2; // "Temp"
    QStringList col3;  // "SMART"

    smart::AttributeColumns& AttrColumns() override { return columns; }
    QString DrvPath() const override { return drvPath; }
    bool FirstTime() const override { return firstTime; }
    QLocale LogLocale() const override { return QLocale(QLocale::English, QLocale::UnitedStates); }
    void SetDrvFailed() override { drvFailed = true; }
    void EditDriveCell(int column, int row) override {
        if (column < 2 || column > 3 || row < 0 || row >= device::kMaxDrives)
            std::abort(); // the poll only ever edits its own drive's two cells
        const smart::DriveCellUpdate u =
            smart::DriveTableValueSet(column == 2 ? "Temp" : "SMART", row, drvFailed);
        if (u.setTemp && row < col2.size())
            col2[row] = u.temp;
        if (u.setSmart && row < col3.size())
            col3[row] = u.smartStatus;
    }
    void ReloadAttrTable() override {}
    void ReloadDriveTable() override {}
    void RestoreMainWindowIfMinimised() override {}
    void FillLogEvents() override {}
};

} // namespace zentrova::testing
