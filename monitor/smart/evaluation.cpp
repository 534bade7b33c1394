#include "evaluation.h"

#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "smart/attribute_catalogue.h"
#include "smart/event_log.h"

#include <optional>

namespace zentrova::smart {

namespace {

constexpr int kColumnCapacity = device::kSmartEntryCount;

} // namespace

void StartAttributeColumns(AttributeColumns& cols, int drive) {
    QStringList* all[] = {&cols.Attr_0_Array, &cols.Attr_1_Array, &cols.Attr_2_Array,
                          &cols.Attr_3_Array, &cols.Attr_4_Array, &cols.Attr_5_Array,
                          &cols.Attr_6_Array};
    for (QStringList* col : all) {
        col->clear();
        col->reserve(kColumnCapacity);
    }
    cols.exists = true;
    cols.drive = drive;
}

QString TemperatureAlertText(const QByteArray& model, const QByteArray& firmware) {
    // Taken literally: the drive's strings are never a format.
    return QStringLiteral("Drive: ") + QString::fromUtf8(model) + QStringLiteral("\nS/N: ") +
           QString::fromUtf8(firmware) +
           QStringLiteral("\nThe Current Temperature value exeeds than Critical Temperature");
}

bool AppendVerdict(AttributeColumns& cols, bool failed) {
    if (failed) {
        platform::NSBeep();
        cols.Attr_6_Array.append(QStringLiteral("Failed"));
        cols.Attr_2_Array.append(FailDateText(platform::CurrentDateTime().date()));
    } else {
        cols.Attr_6_Array.append(QStringLiteral("OK"));
        cols.Attr_2_Array.append(QString());
    }
    return failed;
}

ChangeLog::ChangeLog(EvaluationHost& host, int drive, QByteArray model, QByteArray firmware)
    : host_(host), drive_(drive), model_(std::move(model)), firmware_(std::move(firmware)) {}

void ChangeLog::Changed(std::uint8_t id, const QString& name, const QByteArray& last,
                        const QByteArray& now) {
    if (!opened_) {
        opened_ = true;
        log_.Open(LogFilePath(host_.DrvPath(), drive_)); // a missing log stays missing
        locale_ = host_.LogLocale();
    }
    if (log_.IsOpen())
        log_.Append(AttributeChangeEntry(platform::CurrentDateTime(), model_.constData(),
                                         firmware_.constData(), id, name, last, now, locale_));
}

void ShowTemperatureAlertIfDue(EvaluationHost& host, int d, const QString& text, int operation) {
    if (smart.bTempFailed == 1 && settings::settings.gbCriticalTempEnable[d] == 1 &&
        !host.FirstTime() && (operation == 0 || host.RedisplayAlerts())) {
        const device::xDEV_INFO* drive = device::dev.gpSelDevInfo;
        platform::AnnounceBeforePanel(
            {platform::NoticeKind::DriveOverCriticalTemp, d,
             drive != nullptr ? QString::fromUtf8(FieldBytes(drive->szDevFilePath)) : QString(),
             text});
        smart.gbMessagePoped[d] = 1;
        platform::NSRunAlertPanel(QStringLiteral("Zentrova"), text, QStringLiteral("OK"));
        smart.gbMessagePoped[d] = 0;
    }
}

QString FailDateText(const QDate& date) {
    return QString::asprintf("%02d/%02d/%04d", date.month(), date.day(), date.year());
}

std::uint8_t FillAttributeListTable(EvaluationHost& host,
                                    const device::ATASMARTAttributeStruct* attributes,
                                    const device::ATASMARTThresholdsStruct* thresholds,
                                    int operation) {
    const device::xDEV_INFO* drive = device::dev.gpSelDevInfo;
    if (drive == nullptr || attributes == nullptr || thresholds == nullptr)
        return 0;
    const int d = drive->nDevIndex;
    if (d < 0 || d >= kMaxDrives)
        return 0;
    auto& conf = settings::settings;

    smart.gbAttrFailed = 0;
    smart.bTempFailed = 0;
    smart.gnReadingTemp = 0;
    bool readingTempFound = false;
    std::uint8_t result = 0;
    QString alertText;

    AttributeColumns& cols = host.AttrColumns();
    StartAttributeColumns(cols, d);

    // A redisplay judges the stored reading against itself: nothing can have
    // changed.
    const bool fresh = operation == 0;
    const device::ATASMARTAttributeStruct* prev = smart.gpPrevSmartAttr[d];
    const bool comparable = smart.gbFlag[d] == 0;
    smart.gnTotAttr = 0;

    const QByteArray model = FieldBytes(drive->szModelNum);
    const QByteArray firmware = FieldBytes(drive->szFirmwareRev);
    ChangeLog log(host, d, model, firmware);

    for (int i = 0; i < device::kSmartEntryCount; ++i) {
        const device::ATASMARTAttributeStruct& e = attributes[i];
        const std::uint8_t threshold = thresholds[i].ThresholdValue;
        const std::uint8_t id = e.attributeId;
        // An empty slot is no row: it adds nothing to any column, so every
        // row holds one attribute's own values whatever the slot order.
        if (id == 0)
            continue;
        const std::int32_t option = VendorOptionFor(drive, id);
        const QString& name = AttributeName(id, option);

        cols.Attr_0_Array.append(AttributeIdText(id));
        cols.Attr_1_Array.append(name);
        ++smart.gnTotAttr;

        // A fall to 0 is not logged; a rise from 0 is.
        if (fresh && e.current != 0 && prev != nullptr && e.current != prev[i].current &&
            comparable)
            log.Changed(id, name, QByteArray::number(prev[i].current),
                        QByteArray::number(e.current));

        cols.Attr_3_Array.append(ByteText(threshold));
        cols.Attr_4_Array.append(ByteText(e.current));
        cols.Attr_5_Array.append(ByteText(e.worst));

        const std::uint8_t degrees = e.rawvalue[0];
        const bool temperature = device::IsTemperatureAttribute(id, option);
        if (temperature && !readingTempFound) {
            readingTempFound = true;
            smart.gnReadingTemp = degrees;
        }
        if (temperature && static_cast<std::int32_t>(degrees) > conf.gnCriticaltemp[d] &&
            comparable) {
            alertText = TemperatureAlertText(model, firmware);
            smart.gnCurrTemp = degrees;
            smart.bTempFailed = 1;
        }

        if (AppendVerdict(cols, e.current <= threshold))
            result = 1;
    }

    ShowTemperatureAlertIfDue(host, d, alertText, operation);

    host.ReloadAttrTable();
    return result;
}

} // namespace zentrova::smart
