// The controller side of the evaluation and the poll with no windows: the
// drive table's "Temp" and "SMART" cells are kept as plain lists and refreshed
// through the value-set rule, everything else does nothing.
#pragma once

#include "smart/poll_cycle.h"

#include <QStringList>
#include <QVariantList>

#include <cstdlib>

namespace zentrova::testing {

class QuietHost : public smart::PollHost {
  public:
    smart::AttributeColumns columns;
    QString drvPath;
    bool firstTime = false;
    bool drvFailed = false;
    bool minimised = false;
    QVariantList col2; // "Temp"
    QStringList col3;  // "SMART"

    smart::AttributeColumns& AttrColumns() override { return columns; }
    QString DrvPath() const override { return drvPath; }
    bool FirstTime() const override { return firstTime; }
    QLocale LogLocale() const override { return QLocale(QLocale::English, QLocale::UnitedStates); }
    void ReloadAttrTable() override {}
    void SetDrvFailed() override { drvFailed = true; }
    void EditDriveCell(int column, int row) override {
        static const char* const ids[] = {"Drive", "DrvSize", "Temp", "SMART"};
        if (column < 2 || column > 3 || row < 0 || row >= device::kMaxDrives)
            std::abort(); // the poll only ever edits its own drive's two cells
        const smart::DriveCellUpdate u =
            smart::DriveTableValueSet(QString::fromLatin1(ids[column]), row, drvFailed);
        if (u.setTemp && row < col2.size())
            col2[row] = u.temp;
        if (u.setSmart && row < col3.size())
            col3[row] = u.smartStatus;
        if (u.restoreMinimisedWindow)
            minimised = false;
    }
    void ReloadDriveTable() override {}
    void RestoreMainWindowIfMinimised() override { minimised = false; }
    void FillLogEvents() override {}
};

} // namespace zentrova::testing
