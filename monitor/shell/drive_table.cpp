// The callbacks that both tables share, and what choosing a drive sets off.
// What a cell holds and how it is coloured follows the table rules of the
// evaluation layer; this side only owns the drive table's column arrays.
#include "AppController.h"

#include "selftest_tab.h"
#include "shell/history_page.h"
#include "smart/table_rules.h"
#include "table_model.h"
#include "ui_MainWindow.h"
#include "watch_view.h"

#include "desktop/tray.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;
using zentrova::shell::TableId;
using zentrova::smart::CellColour;
using zentrova::smart::ColumnMatches;

namespace {

QVariant Entry(const QStringList& column, int row) {
    if (row < 0 || row >= column.size())
        return {};
    return column[row];
}

QVariant ToColor(CellColour colour) {
    switch (colour) {
    case CellColour::Red:
        return QColor(Qt::red);
    case CellColour::Black:
        return QColor(Qt::black);
    case CellColour::Blue:
        return QColor(Qt::blue);
    case CellColour::Default:
        break;
    }
    return {};
}

const QString kDrive = QStringLiteral("Drive");
const QString kDriveKeys[] = {kDrive, QStringLiteral("DrvSize"), QStringLiteral("Temp"),
                              QStringLiteral("SMART")};
const QString kRaw = QStringLiteral("AttrRaw");

// The Watch marker: a small amber dot before the drive's name.
QIcon WatchMarker() {
    static const QIcon marker = [] {
        QPixmap dot(12, 12);
        dot.fill(Qt::transparent);
        QPainter p(&dot);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x80, 0x60, 0x00), 1));
        p.setBrush(zentrova::desktop::kWatchAmber);
        p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
        p.end();
        return QIcon(dot);
    }();
    return marker;
}

} // namespace

int AppController::numberOfRowsInTableView(TableId table) const {
    switch (table) {
    case TableId::Drives:
        return FindNoOfDevices();
    case TableId::Attributes:
        return zentrova::smart::AttributeRowCount();
    }
    return 0;
}

QVariant AppController::objectValueForTableColumn(const QString& identifier, int row) {
    QVariant value;
    if (driveColumns_.exists) {
        const QStringList* columns[] = {&driveColumns_.Col_0_Array, &driveColumns_.Col_1_Array,
                                        &driveColumns_.Col_2_Array, &driveColumns_.Col_3_Array};
        const QString keys[] = {kDrive, QStringLiteral("DrvSize"), QStringLiteral("Temp"),
                                QStringLiteral("SMART")};
        for (int i = 0; i < 4; ++i) {
            if (ColumnMatches(identifier, keys[i]))
                value = Entry(*columns[i], row);
        }
    }
    const QVariant attribute = zentrova::smart::AttributeCellValue(attrColumns_, identifier, row);
    if (attribute.isValid())
        value = attribute;
    if (identifier == kRaw)
        value = zentrova::shell::RawCellText(attrColumns_, row);
    return value;
}

// Views ask for cells in any order they like, so a cell's colour comes from
// its own row's data (the drive's status, the attribute's fail date), never
// from whichever cell was asked for last.
CellLook AppController::willDisplayCell(const QString& identifier, int row) const {
    CellLook look;
    look.textColor = ToColor(zentrova::smart::DriveCellColour(
        identifier, Entry(driveColumns_.Col_3_Array, row).toString()));
    const CellColour attribute =
        zentrova::smart::AttributeCellColour(attrColumns_, identifier, row);
    if (attribute != CellColour::Default)
        look.textColor = ToColor(attribute);

    // A drive that left the computer: its row stays, greyed, with its last values.
    const bool driveColumn =
        std::any_of(std::begin(kDriveKeys), std::end(kDriveKeys), [&](const QString& key) {
            return zentrova::smart::ColumnMatches(identifier, key);
        });
    for (const xDEV_INFO* r = dev.gpHeadDevInfo; r != nullptr && driveColumn; r = r->pNext)
        if (r->nDevIndex == row && r->removed)
            look.textColor = QColor(Qt::gray);

    if (identifier == kDrive) {
        const zentrova::watch::Verdict* verdict = WatchVerdictOf(row);
        if (verdict != nullptr && verdict->onWatch) {
            look.decoration = WatchMarker();
            look.toolTip = zentrova::shell::WatchToolTip(verdict);
        }
    }

    if (dev.gbRunningOS == 'R') {
        look.background = row % 2 == 0 ? QVariant(QColor::fromRgbF(0.929f, 0.953f, 0.996f, 1.0f))
                                       : QVariant(QColor(Qt::white));
    }
    return look;
}

void AppController::setObjectValueForTableColumn(const QString& identifier, int row) {
    const zentrova::smart::DriveCellUpdate update =
        zentrova::smart::DriveTableValueSet(identifier, row, bDrvFailed);
    if (!driveColumns_.exists || row < 0)
        return;
    if (update.setTemp && row < driveColumns_.Col_2_Array.size())
        driveColumns_.Col_2_Array[row] = QString::number(update.temp);
    if (update.setSmart && row < driveColumns_.Col_3_Array.size())
        driveColumns_.Col_3_Array[row] = update.smartStatus;
    if (update.reloadDriveTable)
        ReloadDriveTable();
    if (update.restoreMinimisedWindow)
        RestoreMainWindowIfMinimised();
}

void AppController::EditDriveCell(int column, int row) {
    const QVariant identifier =
        driveModel_->headerData(column, Qt::Horizontal, zentrova::shell::ColumnIdentifierRole);
    if (identifier.isValid())
        setObjectValueForTableColumn(identifier.toString(), row);
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
    LoadSMARTSettingsPage();
    FillLogEvents();
    // The drive's last reading is shown again, or the drive is read now when
    // it never was, its timer chose it, or the first load of the table is
    // under way.
    // The Self-test page follows first: a click on it while this poll's
    // panel is up must be for this drive.
    selfTestTab_->ShowDrive(dev.gpSelDevInfo);
    zentrova::smart::ShowSelectedDriveReading(*this);
    ShowWatchOfSelectedDrive();
    historyPage_->ShowDrive(dev.gpSelDevInfo);
}

void AppController::PollSelDriveForSMARTAndFillAttributeTable() {
    zentrova::smart::PollSelDriveForSMARTAndFillAttributeTable(*this);
}

void AppController::ReloadDriveTable() {
    driveModel_->Reload();
    UpdateTray();
}

void AppController::ReloadAttrTable() {
    attrModel_->Reload();
}
