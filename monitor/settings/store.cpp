#include "settings/store.h"

#include "device/device.h"
#include "platform/ui/alert_panel.h"
#include "settings/settings_state.h"
#include "settings/timers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

using zentrova::device::dev;
using zentrova::device::xDEV_INFO;

namespace zentrova::settings {

namespace {

// The keys a drive entry carries over from one run to the next, in order.
const char* const kCarriedKeys[] = {"DrvModel", "DrvFwrev", "DrvPoll", "Temp",
                                    "LogEvent", "Hour",     "Min",     "Temperature"};

int DriveCount() {
    int count = 0;
    for (const xDEV_INFO* record = dev.gpHeadDevInfo; record != nullptr; record = record->pNext)
        ++count;
    return count;
}

bool HasMirrorSlot(int index) {
    return index >= 0 && index < device::kMaxDrives;
}

// Each of these panels is also told to the desktop.
void Alert(const QString& message, platform::NoticeKind notice) {
    platform::AnnounceBeforePanel({notice, -1, {}, message});
    platform::NSRunAlertPanel(QStringLiteral("Zentrova"), message, QStringLiteral("OK"));
}

// Moves an unreadable settings file to a name of its own beside it; answers
// that name, or an empty one when it could not be moved.
QString KeepAside(const QString& path) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
        return {};
    return aside;
}

// Start-up writes once; its failure is reported once.
void SaveAtStartUp(const QString& drvPath) {
    const QString error = SaveSettings(drvPath);
    if (!error.isEmpty())
        Alert(QStringLiteral("The settings could not be saved (%1). Zentrova monitors the drives "
                             "with them until it quits.")
                  .arg(error),
              platform::NoticeKind::SettingsUnsaved);
}

void FirstRun(SettingsHost& host) {
    for (const xDEV_INFO* record = dev.gpHeadDevInfo; record != nullptr; record = record->pNext) {
        const int i = record->nDevIndex;
        store.mutDict.Put(DiskKey(i), DefaultEntry(QString::fromLatin1(record->szModelNum),
                                                   QString::fromLatin1(record->szFirmwareRev),
                                                   false, record->nDefaultCriticalTemp));
        if (HasMirrorSlot(i)) {
            settings.gnCriticaltemp[i] = record->nDefaultCriticalTemp;
            settings.gbCriticalTempEnable[i] = 1;
        }
        FireTimerForSelDevice(host, i);
    }
}

} // namespace

void ResetSettingsForTest() {
    ResetSettingsGlobalsForTest();
    store = StoreGlobals{};
    ResetTimersForTest();
}

void RemoveLeftoverTemporaryFiles(const QString& drvPath) {
    const QDir folder(drvPath);
    const QStringList leftovers =
        folder.entryList({QStringLiteral(".Zentroset.??????")}, QDir::Files | QDir::Hidden);
    for (const QString& name : leftovers)
        QFile::remove(folder.filePath(name));
}

QString SettingsFilePath(const QString& drvPath) {
    return drvPath + QStringLiteral("/Zentroset");
}

SettingsRead ReadSettingsFile(const QString& drvPath) {
    SettingsRead read;
    QFile file(SettingsFilePath(drvPath));
    read.exists = file.exists();
    if (read.exists && file.open(QIODevice::ReadOnly))
        read.dict = ParseSettings(file.readAll());
    return read;
}

QString SaveSettings(const QString& drvPath) {
    const QString path = SettingsFilePath(drvPath);
    // A file spoilt by hand while the monitor runs is kept, not overwritten.
    const SettingsRead read = ReadSettingsFile(drvPath);
    if (read.exists && !read.dict && KeepAside(path).isEmpty())
        return QStringLiteral("cannot move the unreadable %1 aside").arg(path);
    return WriteFileAtomically(path, SerializeSettings(store.mutDict));
}

DriveEntry DefaultEntry(const QString& model, const QString& firmware, bool withStartUp,
                        int criticalTemp) {
    DriveEntry entry;
    entry.Set(QStringLiteral("DrvModel"), model);
    entry.Set(QStringLiteral("DrvFwrev"), firmware);
    entry.Set(QStringLiteral("DrvPoll"), QStringLiteral("True"));
    entry.Set(QStringLiteral("Temp"), QStringLiteral("True"));
    if (withStartUp)
        entry.Set(QStringLiteral("StartUp"), QStringLiteral("True"));
    entry.Set(QStringLiteral("LogEvent"), QStringLiteral("True"));
    entry.Set(QStringLiteral("Hour"), QStringLiteral("1"));
    entry.Set(QStringLiteral("Min"), QStringLiteral("0"));
    entry.Set(QStringLiteral("Temperature"), QString::number(criticalTemp));
    return entry;
}

void ReadAndSavePreviousSettings(SettingsHost& host) {
    const QString drvPath = host.DrvPath();
    RemoveLeftoverTemporaryFiles(drvPath);
    const SettingsRead read = ReadSettingsFile(drvPath);
    if (read.exists && !read.dict) {
        // Somebody's hand-edited file stays theirs; monitoring starts afresh.
        const QString path = SettingsFilePath(drvPath);
        const QString aside = KeepAside(path);
        if (aside.isEmpty()) {
            Alert(QStringLiteral("The settings file %1 could not be read, nor moved aside. "
                                 "Zentrova uses the default settings and leaves the file as "
                                 "it is until it is moved or removed.")
                      .arg(path),
                  platform::NoticeKind::SettingsUnreadable);
            FirstRun(host);
            return;
        }
        Alert(QStringLiteral("The settings file %1 could not be read. It was kept as %2, and "
                             "every drive starts with the default settings.")
                  .arg(path, aside),
              platform::NoticeKind::SettingsUnreadable);
        FirstRun(host);
        SaveAtStartUp(drvPath);
        return;
    }
    if (!read.exists) {
        FirstRun(host);
        SaveAtStartUp(drvPath);
        return;
    }
    const int count = DriveCount();
    for (int i = 0; i < count; ++i) {
        const DriveEntry* stored = read.dict->Find(DiskKey(i));
        DriveEntry carried;
        if (stored != nullptr) {
            for (const char* key : kCarriedKeys) {
                const QString* value = stored->Find(QLatin1String(key));
                if (value == nullptr)
                    break;
                carried.Set(QLatin1String(key), *value);
            }
        }
        store.mutDict.Put(DiskKey(i), std::move(carried));
        if (!HasMirrorSlot(i))
            continue;
        const DriveEntry none;
        const DriveEntry& from = stored != nullptr ? *stored : none;
        settings.gnCriticaltemp[i] = from.Number(QStringLiteral("Temperature"));
        settings.gbCriticalTempEnable[i] = from.IsOn(QStringLiteral("Temp")) ? 1 : 0;
        if (from.IsOn(QStringLiteral("DrvPoll")))
            FireTimerForSelDevice(host, i);
    }
    SaveAtStartUp(drvPath);
}

void SettingsForDriveThatArrived(SettingsHost& host, const device::xDEV_INFO& drive,
                                 const DriveEntry* newEntry) {
    const int i = drive.nDevIndex;
    if (!HasMirrorSlot(i))
        return;
    const QString model = QString::fromLatin1(drive.szModelNum);
    const QString firmware = QString::fromLatin1(drive.szFirmwareRev);
    const DriveEntry* own = store.mutDict.Find(DiskKey(i));
    if (own == nullptr || own->Value(QStringLiteral("DrvModel")) != model ||
        own->Value(QStringLiteral("DrvFwrev")) != firmware) {
        store.mutDict.Put(DiskKey(i),
                          newEntry != nullptr
                              ? *newEntry
                              : DefaultEntry(model, firmware, false, drive.nDefaultCriticalTemp));
        own = store.mutDict.Find(DiskKey(i));
    }
    settings.gnCriticaltemp[i] = own->Number(QStringLiteral("Temperature"));
    settings.gbCriticalTempEnable[i] = own->IsOn(QStringLiteral("Temp")) ? 1 : 0;
    // The timer reads its interval from the file, so the file goes first.
    SaveAtStartUp(host.DrvPath());
    FireTimerForSelDevice(host, i);
}

QString UpdateDictionaryWithDefaultSettings(SettingsHost& host) {
    const xDEV_INFO* d = dev.gpSelDevInfo;
    if (d == nullptr)
        return {};
    store.mutDict.Put(DiskKey(d->nDevIndex), DefaultEntry(QString::fromLatin1(d->szModelNum),
                                                          QString::fromLatin1(d->szFirmwareRev),
                                                          true, d->nDefaultCriticalTemp));
    return SaveSettings(host.DrvPath());
}

} // namespace zentrova::settings
