// The evaluation of an NVMe drive's reading: the same columns, verdicts, log
// entries and alert as an ATA drive's, from its health log's fields.
#include "evaluation.h"

#include "nvme/nvme_health.h"
#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "smart/attribute_catalogue.h"
#include "smart/event_log.h"

#include <optional>
#include <vector>

namespace zentrova::smart {

std::uint8_t FillNvmeHealthTable(EvaluationHost& host, const std::uint8_t* healthPage,
                                 const std::uint8_t* identifyPage,
                                 const std::uint8_t* previousHealth, int operation) {
    const device::xDEV_INFO* drive = device::dev.gpSelDevInfo;
    if (drive == nullptr || healthPage == nullptr || identifyPage == nullptr)
        return 0;
    const int d = drive->nDevIndex;
    if (d < 0 || d >= kMaxDrives)
        return 0;

    smart.gbAttrFailed = 0;
    smart.bTempFailed = 0;
    smart.gnReadingTemp = 0;
    AttributeColumns& cols = host.AttrColumns();
    StartAttributeColumns(cols, d);

    const nvme::HealthLog health = nvme::DecodeHealthLog(healthPage);
    const nvme::ControllerLimits limits = nvme::DecodeIdentifyController(identifyPage);
    const std::vector<nvme::HealthRow> rows = nvme::HealthRows(health, limits);
    const bool comparable = smart.gbFlag[d] == 0;
    std::vector<nvme::HealthRow> before;
    if (operation == 0 && previousHealth != nullptr && comparable)
        before = nvme::HealthRows(nvme::DecodeHealthLog(previousHealth), limits);

    const QByteArray model = FieldBytes(drive->szModelNum);
    const QByteArray firmware = FieldBytes(drive->szFirmwareRev);
    ChangeLog log(host, d, model, firmware);
    std::uint8_t result = 0;

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const nvme::HealthRow& row = rows[i];
        const QString name = QString::fromUtf8(row.name);
        cols.Attr_0_Array.append(AttributeIdText(row.id));
        cols.Attr_1_Array.append(name);
        cols.Attr_3_Array.append(QString::fromStdString(row.threshold));
        cols.Attr_4_Array.append(QString::fromStdString(row.value));
        cols.Attr_5_Array.append(QString()); // an NVMe drive keeps no worst value
        if (AppendVerdict(cols, row.failed))
            result = 1;
        if (i < before.size() && row.logged && before[i].logValue != row.logValue)
            log.Changed(row.id, name, QByteArray::fromStdString(before[i].logValue),
                        QByteArray::fromStdString(row.logValue));
    }
    smart.gnTotAttr = static_cast<std::int32_t>(rows.size());

    const std::optional<int> degrees = nvme::Celsius(health.compositeKelvin);
    if (degrees && *degrees > 0)
        smart.gnReadingTemp = *degrees;
    if (degrees && *degrees > settings::settings.gnCriticaltemp[d] && comparable) {
        smart.gnCurrTemp = *degrees;
        smart.bTempFailed = 1;
    }
    ShowTemperatureAlertIfDue(host, d, TemperatureAlertText(model, firmware), operation);

    host.ReloadAttrTable();
    return result;
}

} // namespace zentrova::smart
