// What the two tables of the main window show, as pure rules over the
// state, so that the controller's table models only ask: the drive table's
// value-set path and status colour, and the attribute table's rows, cells and
// colours. Every colour comes from its own row's data.
#pragma once

#include "smart/smart_state.h"

#include <QString>
#include <QVariant>

#include <cstdint>

namespace zentrova::smart {

// Column matching of both tables: the key occurs in the identifier,
// compared without regard to case.
bool ColumnMatches(const QString& columnIdentifier, const QString& key);

// What the drive table's value-set path does for a committed edit of the cell
// (columnIdentifier, row): only the selected drive's row, only once a poll
// has pushed a status (bDrvFailed), and only the program's own values; the
// edited object itself is never stored.
struct DriveCellUpdate {
    bool setTemp = false; // Col_2_Array[row] := temp (a number)
    std::int32_t temp = 0;
    bool setSmart = false; // Col_3_Array[row] := smartStatus
    QString smartStatus;
    bool reloadDriveTable = false;
    bool restoreMinimisedWindow = false;
};
DriveCellUpdate DriveTableValueSet(const QString& columnIdentifier, int row, bool bDrvFailed);

enum class CellColour { Default, Red, Black, Blue };

// The text colour of a drive-table cell holding `value`: the "SMART" column
// red for "Failed" (any case), blue otherwise; the other columns default.
CellColour DriveCellColour(const QString& columnIdentifier, const QString& value);

// The attribute table's row count: gnTotAttr, or 30 empty rows before any.
int AttributeRowCount();
// A cell's text; a null QVariant for a row without an entry, before the first
// fill, or for a column no key matches.
QVariant AttributeCellValue(const AttributeColumns& columns, const QString& columnIdentifier,
                            int row);
// A failed row (one with a fail date) shows its fail date, threshold, value,
// worst value and status red; a good row those in black with the status
// blue; identifier and name keep the default colour.
CellColour AttributeCellColour(const AttributeColumns& columns, const QString& columnIdentifier,
                               int row);

} // namespace zentrova::smart
