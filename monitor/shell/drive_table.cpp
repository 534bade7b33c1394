// The callbacks that both tables share, and what choosing a drive sets off.
#include "AppController.h"

#include "table_model.h"
#include "ui_MainWindow.h"

#include <QColor>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;
using zentrova::shell::ColumnMatches;
using zentrova::shell::TableId;
using zentrova::smart::smart;

namespace {

QVariant Entry(const QStringList& column, int row) {
    if (row < 0 || row >= column.size())
        return {};
    return column[row];
}

const QString kDrive = QStringLiteral("Drive");
const QString kDrvSize = QStringLiteral("DrvSize");
const QString kTemp = QStringLiteral("Temp");
const QString kSmart = QStringLiteral("SMART");
const QString kAttrId = QStringLiteral("AttrID");
const QString kAttrName = QStringLiteral("AttrName");
const QString kAttrFailDate = QStringLiteral("AttrFailDate");
const QString kAttrThreshold = QStringLiteral("AttrThreshold");
const QString kAttrValue = QStringLiteral("AttrValue");
const QString kAttrWorst = QStringLiteral("AttrWorst");
const QString kAttrStatus = QStringLiteral("AttrStatus");

} // namespace

int AppController::numberOfRowsInTableView(TableId table) const {
    switch (table) {
    case TableId::Drives:
        return FindNoOfDevices();
    case TableId::Attributes:
        return smart.gnTotAttr != 0 ? smart.gnTotAttr : 30;
    }
    return 0;
}

QVariant AppController::objectValueForTableColumn(const QString& identifier, int row) {
    QVariant value;
    if (driveColumns_.exists) {
        if (ColumnMatches(identifier, kDrive)) {
            smart.gbChangeColor = 0;
            value = Entry(driveColumns_.Col_0_Array, row);
        }
        if (ColumnMatches(identifier, kDrvSize))
            value = Entry(driveColumns_.Col_1_Array, row);
        if (ColumnMatches(identifier, kTemp))
            value = Entry(driveColumns_.Col_2_Array, row);
        if (ColumnMatches(identifier, kSmart)) {
            value = Entry(driveColumns_.Col_3_Array, row);
            smart.gbChangeColor =
                value.toString().compare(QStringLiteral("Failed"), Qt::CaseInsensitive) == 0;
        }
    }
    if (attrColumns_.exists) {
        if (ColumnMatches(identifier, kAttrId))
            value = Entry(attrColumns_.Attr_0_Array, row);
        if (ColumnMatches(identifier, kAttrName))
            value = Entry(attrColumns_.Attr_1_Array, row);
        if (ColumnMatches(identifier, kAttrFailDate)) {
            value = Entry(attrColumns_.Attr_2_Array, row);
            smart.gbChangeColor = value.toString().isEmpty() ? 0 : 1;
        }
        if (ColumnMatches(identifier, kAttrThreshold))
            value = Entry(attrColumns_.Attr_3_Array, row);
        if (ColumnMatches(identifier, kAttrValue))
            value = Entry(attrColumns_.Attr_4_Array, row);
        if (ColumnMatches(identifier, kAttrWorst))
            value = Entry(attrColumns_.Attr_5_Array, row);
        if (ColumnMatches(identifier, kAttrStatus))
            value = Entry(attrColumns_.Attr_6_Array, row);
    }
    return value;
}

// A cell's colour is decided by its own row's data (the drive's status, the
// attribute's fail date), never by whichever cell the view happened to ask
// for last: views ask for cells in any order they like.
CellLook AppController::willDisplayCell(const QString& identifier, int row) const {
    CellLook look;
    if (ColumnMatches(identifier, kSmart)) {
        const bool failed = Entry(driveColumns_.Col_3_Array, row)
                                .toString()
                                .compare(QStringLiteral("Failed"), Qt::CaseInsensitive) == 0;
        look.textColor = QColor(failed ? Qt::red : Qt::blue);
    }
    const bool attrFailed =
        attrColumns_.exists && !Entry(attrColumns_.Attr_2_Array, row).toString().isEmpty();
    for (const QString& key : {kAttrFailDate, kAttrThreshold, kAttrValue, kAttrWorst}) {
        if (ColumnMatches(identifier, key))
            look.textColor = QColor(attrFailed ? Qt::red : Qt::black);
    }
    if (ColumnMatches(identifier, kAttrStatus))
        look.textColor = QColor(attrFailed ? Qt::red : Qt::blue);

    if (dev.gbRunningOS == 'R') {
        look.background = row % 2 == 0 ? QVariant(QColor::fromRgbF(0.929f, 0.953f, 0.996f, 1.0f))
                                       : QVariant(QColor(Qt::white));
    }
    return look;
}

void AppController::setObjectValueForTableColumn(const QString& identifier, int row) {
    if (!bDrvFailed || dev.gpSelDevInfo == nullptr || !driveColumns_.exists)
        return;
    if (row != dev.gpSelDevInfo->nDevIndex || row < 0)
        return;
    if (ColumnMatches(identifier, kTemp) && row < driveColumns_.Col_2_Array.size()) {
        driveColumns_.Col_2_Array[row] = QString::number(smart.gnCurrTemp);
        ReloadDriveTable();
    }
    if (ColumnMatches(identifier, kSmart) && row < driveColumns_.Col_3_Array.size()) {
        driveColumns_.Col_3_Array[row] =
            smart.gbAttrFailed != 0 ? QStringLiteral("Failed") : QStringLiteral("OK");
        ReloadDriveTable();
        RestoreMainWindowIfMinimized();
    }
}

void AppController::tableViewSelectionDidChange(QTableView* table) {
    auto* model = qobject_cast<zentrova::shell::ControllerTableModel*>(table->model());
    if (model == nullptr || model->ColumnWithIdentifier(kDrive) < 0)
        return;

    dev.gpSelDevInfo = nullptr;
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    if (row == -1 || dev.gpHeadDevInfo == nullptr)
        return;
    for (xDEV_INFO* record = dev.gpHeadDevInfo; record != nullptr; record = record->pNext) {
        if (record->nDevIndex == row) {
            dev.gpSelDevInfo = record;
            break;
        }
    }
    if (dev.gpSelDevInfo == nullptr)
        return;

    // The log page shows the chosen drive's log from its first byte.
    for (std::int64_t& position : dwLogPrevRead)
        position = 0;
    // The settings page follows the chosen drive once settings exist.
    FillLogEvents();
    // The attribute table follows here: the drive's last reading is shown
    // again, or the drive is read now when it never was, its timer chose it,
    // or the first load of the table is under way.
}

void AppController::ReloadDriveTable() {
    driveModel_->Reload();
}

void AppController::ReloadAttrTable() {
    attrModel_->Reload();
}
