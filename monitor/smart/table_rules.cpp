#include "table_rules.h"

#include "device/device.h"

namespace zentrova::smart {

namespace {

struct AttrKey {
    const char* key;
    QStringList AttributeColumns::*column;
};
// In the order the keys are tested; the last match wins.
const AttrKey kAttrKeys[] = {
    {"AttrID", &AttributeColumns::Attr_0_Array},
    {"AttrName", &AttributeColumns::Attr_1_Array},
    {"AttrFailDate", &AttributeColumns::Attr_2_Array},
    {"AttrThreshold", &AttributeColumns::Attr_3_Array},
    {"AttrValue", &AttributeColumns::Attr_4_Array},
    {"AttrWorst", &AttributeColumns::Attr_5_Array},
    {"AttrStatus", &AttributeColumns::Attr_6_Array},
};

} // namespace

bool ColumnMatches(const QString& columnIdentifier, const QString& key) {
    return !key.isEmpty() && columnIdentifier.contains(key, Qt::CaseInsensitive);
}

DriveCellUpdate DriveTableValueSet(const QString& columnIdentifier, int row, bool bDrvFailed) {
    DriveCellUpdate update;
    const device::xDEV_INFO* drive = device::dev.gpSelDevInfo;
    if (!bDrvFailed || drive == nullptr || row != drive->nDevIndex)
        return update;
    if (ColumnMatches(columnIdentifier, QStringLiteral("Temp"))) {
        // The drive's own temperature in the reading just judged. The last
        // over-limit temperature of any drive (0 when none ever was) would put
        // another drive's or no temperature in this drive's row.
        if (smart.gnReadingTemp != 0) {
            update.setTemp = true;
            update.temp = smart.gnReadingTemp;
        }
        update.reloadDriveTable = true;
    }
    if (ColumnMatches(columnIdentifier, QStringLiteral("SMART"))) {
        update.setSmart = true;
        update.smartStatus =
            smart.gbAttrFailed != 0 ? QStringLiteral("Failed") : QStringLiteral("OK");
        update.reloadDriveTable = true;
        update.restoreMinimisedWindow = true;
    }
    return update;
}

CellColour DriveCellColour(const QString& columnIdentifier, const QString& value) {
    if (!ColumnMatches(columnIdentifier, QStringLiteral("SMART")))
        return CellColour::Default;
    return value.compare(QLatin1String("Failed"), Qt::CaseInsensitive) == 0 ? CellColour::Red
                                                                            : CellColour::Blue;
}

int AttributeRowCount() {
    return smart.gnTotAttr != 0 ? smart.gnTotAttr : device::kSmartEntryCount;
}

QVariant AttributeCellValue(const AttributeColumns& columns, const QString& columnIdentifier,
                            int row) {
    QVariant value;
    if (!columns.exists)
        return value;
    for (const AttrKey& k : kAttrKeys) {
        if (!ColumnMatches(columnIdentifier, QLatin1String(k.key)))
            continue;
        const QStringList& column = columns.*k.column;
        value = row >= 0 && row < column.size() ? QVariant(column[row]) : QVariant();
    }
    return value;
}

CellColour AttributeCellColour(const AttributeColumns& columns, const QString& columnIdentifier,
                               int row) {
    const bool failed = columns.exists && row >= 0 && row < columns.Attr_2_Array.size() &&
                        !columns.Attr_2_Array[row].isEmpty();
    CellColour colour = CellColour::Default;
    for (const char* key : {"AttrFailDate", "AttrThreshold", "AttrValue", "AttrWorst"})
        if (ColumnMatches(columnIdentifier, QLatin1String(key)))
            colour = failed ? CellColour::Red : CellColour::Black;
    if (ColumnMatches(columnIdentifier, QStringLiteral("AttrStatus")))
        colour = failed ? CellColour::Red : CellColour::Blue;
    return colour;
}

} // namespace zentrova::smart
