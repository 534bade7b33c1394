#include "settings/settings_page.h"

#include "device/device.h"
#include "platform/ui/alert_panel.h"
#include "settings/login_item.h"
#include "settings/settings_state.h"
#include "settings/store.h"
#include "settings/timers.h"

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;

namespace zentrova::settings {

namespace {

// An event the user did not ask for is also told to the desktop.
void Alert(const QString& message, std::optional<platform::NoticeKind> notice = std::nullopt) {
    if (notice)
        platform::AnnounceBeforePanel({*notice, -1, {}, message});
    platform::NSRunAlertPanel(QStringLiteral("Zentrova"), message, QStringLiteral("OK"));
}

QString Flag(bool on) {
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

PageValues SettingsForSelectedDrive(SettingsHost& host) {
    PageValues page;
    const xDEV_INFO* d = dev.gpSelDevInfo;
    if (d == nullptr)
        return page;
    page.temperature = d->nDefaultCriticalTemp;
    const SettingsRead read = ReadSettingsFile(host.DrvPath());
    if (read.exists) {
        const DriveEntry* entry = read.dict ? read.dict->Find(DiskKey(d->nDevIndex)) : nullptr;
        const QString* model = entry ? entry->Find(QStringLiteral("DrvModel")) : nullptr;
        const QString* firmware = entry ? entry->Find(QStringLiteral("DrvFwrev")) : nullptr;
        const bool own = model != nullptr && firmware != nullptr &&
                         *model == QString::fromLatin1(d->szModelNum) &&
                         *firmware == QString::fromLatin1(d->szFirmwareRev);
        if (own) {
            page.poll = entry->IsOn(QStringLiteral("DrvPoll"));
            page.criticalTemp = entry->IsOn(QStringLiteral("Temp"));
            page.logEvent = entry->IsOn(QStringLiteral("LogEvent"));
            page.hours = entry->Number(QStringLiteral("Hour"));
            page.minutes = entry->Number(QStringLiteral("Min"));
            page.temperature = entry->Number(QStringLiteral("Temperature"));
        } else {
            UpdateDictionaryWithDefaultSettings(host);
        }
    }
    page.hasTemperature = d->nTemperature != 0;
    const int k = d->nDevIndex;
    if (k >= 0 && k < device::kMaxDrives) {
        if (page.hasTemperature && page.criticalTemp) {
            settings.gnCriticaltemp[k] = page.temperature;
            settings.gbCriticalTempEnable[k] = 1;
        } else {
            settings.gbCriticalTempEnable[k] = 0;
        }
        settings.gbCheckLog[k] = page.logEvent ? 1 : 0;
    }
    page.startsUp = CheckForStartUpFlagInList();
    page.keepInTray = KeepRunningInTray();
    return page;
}

void ApplySettings(SettingsHost& host, const PageInput& input) {
    const xDEV_INFO* d = dev.gpSelDevInfo;
    if (d == nullptr)
        return;
    const int k = d->nDevIndex;
    const bool hasSlots = k >= 0 && k < device::kMaxDrives;

    // The interval is checked before anything changes, so a rejected Apply
    // leaves the drive's timer running.
    DriveEntry entry;
    entry.Set(QStringLiteral("DrvModel"), QString::fromLatin1(d->szModelNum));
    entry.Set(QStringLiteral("DrvFwrev"), QString::fromLatin1(d->szFirmwareRev));
    entry.Set(QStringLiteral("DrvPoll"), Flag(input.poll));
    if (input.poll) {
        const int h = IntValue(input.hours);
        const int m = IntValue(input.minutes);
        if (h == 0 && m == 0) {
            Alert(QStringLiteral("You have entered Zero value for both hour(s) and minute(s). "
                                 "Please eneter non-zero value for atleast one, either hour(s) "
                                 "(or) minute(s)."));
            return;
        }
        if (!PollingIntervalSeconds(h, m)) {
            Alert(QStringLiteral("The polling interval must be longer than zero and shorter than "
                                 "68 years. Please enter other hour(s) or minute(s)."));
            return;
        }
        entry.Set(QStringLiteral("Hour"), QString::number(h));
        entry.Set(QStringLiteral("Min"), QString::number(m));
    } else {
        entry.Set(QStringLiteral("Hour"), QStringLiteral("1"));
        entry.Set(QStringLiteral("Min"), QStringLiteral("0"));
    }
    StopTimerForDrive(k);

    QString temperature = QStringLiteral("50");
    if (input.criticalTemp) {
        const int degrees = IntValue(input.temperature);
        temperature = QString::number(degrees);
        if (hasSlots) {
            settings.gnCriticaltemp[k] = degrees;
            settings.gbCriticalTempEnable[k] = 1;
        }
    } else if (hasSlots) {
        settings.gbCriticalTempEnable[k] = 0;
    }
    entry.Set(QStringLiteral("Temp"), Flag(input.criticalTemp));
    entry.Set(QStringLiteral("LogEvent"), Flag(input.logEvent));
    if (hasSlots)
        settings.gbCheckLog[k] = input.logEvent ? 1 : 0;
    host.SetLogViewSelectable(input.logEvent);

    // The entry's keys in the file's order.
    DriveEntry ordered;
    for (const char* key : {"DrvModel", "DrvFwrev", "DrvPoll", "Temp", "LogEvent", "Hour", "Min"})
        ordered.Set(QLatin1String(key), entry.Value(QLatin1String(key)));
    ordered.Set(QStringLiteral("Temperature"), temperature);

    const QString loginError = UpdateStartUpDictionary(input.startsUp);
    store.devDict = ordered;
    store.mutDict.Put(DiskKey(k), ordered);
    const QString saveError = SaveSettings(host.DrvPath());
    SetStartUpFlagForAllDrivesInList(input.startsUp);
    if (input.keepInTray)
        SetKeepRunningInTray(*input.keepInTray);
    FireTimerForSelDevice(host, k);

    if (!saveError.isEmpty()) {
        Alert(QStringLiteral("The settings could not be saved (%1). The previous settings stay "
                             "in the settings file.")
                  .arg(saveError),
              platform::NoticeKind::SettingsUnsaved);
    } else if (!loginError.isEmpty()) {
        Alert(QStringLiteral("The settings were saved, but the start at log-in could not be "
                             "changed (%1).")
                  .arg(loginError));
    } else {
        Alert(QStringLiteral("Zentrova settings updated successfully."));
    }
}

} // namespace zentrova::settings
