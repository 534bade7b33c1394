#include "watch_view.h"

#include "device/device.h"
#include "device/smart_pages.h"
#include "history/history_reading.h"

#include <QStringList>

#include <cstring>

namespace zentrova::shell {

namespace {

// The tray's few words per rule; a rule missing here falls back to its key.
struct ShortReason {
    const char* reason;
    const char* words;
};
constexpr ShortReason kShortReasons[] = {
    {"pending_sectors", "unreadable sectors waiting"},
    {"offline_uncorrectable", "unreadable sectors found by its scan"},
    {"reported_uncorrectable", "uncorrectable read errors"},
    {"reallocated_sectors", "more sectors reallocated"},
    {"reallocation_events", "more reallocation events"},
    {"end_to_end_errors", "more internal data errors"},
    {"spin_up_retries", "more spin-up retries"},
    {"media_errors", "more media errors"},
    {"spare_low", "spare flash running out"},
    {"worn_out", "flash nearly worn out"},
};

const watch::Finding* FirstWatchFinding(const watch::Verdict* verdict) {
    if (verdict == nullptr || !verdict->onWatch)
        return nullptr;
    for (const watch::Finding& f : verdict->findings)
        if (f.active && watch::PutsOnWatch(*f.rule))
            return &f;
    return nullptr;
}

const device::xDEV_INFO* RecordOf(int drive) {
    for (const device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            return r;
    return nullptr;
}

} // namespace

QString WatchBannerText(const watch::Verdict* verdict) {
    if (verdict == nullptr)
        return {};
    QStringList lines;
    for (const std::string& reason : verdict->Reasons())
        lines.append(QString::fromStdString(reason).toHtmlEscaped());
    if (verdict->projection && !verdict->projection->text.empty())
        lines.append(QStringLiteral("<span style=\"color:#666666\">Wear: %1</span>")
                         .arg(QString::fromStdString(verdict->projection->text).toHtmlEscaped()));
    return lines.join(QStringLiteral("<br>"));
}

QString WatchToolTip(const watch::Verdict* verdict) {
    if (verdict == nullptr || !verdict->onWatch)
        return {};
    QStringList lines;
    for (const std::string& reason : verdict->Reasons())
        lines.append(QString::fromStdString(reason));
    return lines.join(QLatin1Char('\n'));
}

QString WatchShortReason(const watch::Verdict* verdict) {
    const watch::Finding* f = FirstWatchFinding(verdict);
    if (f == nullptr)
        return {};
    for (const ShortReason& s : kShortReasons)
        if (std::strcmp(s.reason, f->rule->reason) == 0)
            return QString::fromLatin1(s.words);
    return QString::fromLatin1(f->rule->reason);
}

QString RawCellText(const smart::AttributeColumns& columns, int row) {
    const int d = columns.drive;
    if (!columns.exists || row < 0 || row >= columns.Attr_0_Array.size() || d < 0 ||
        d >= device::kMaxDrives || smart::smart.gpPrevThreshold[d] == nullptr)
        return {};
    const device::xDEV_INFO* record = RecordOf(d);
    if (record == nullptr)
        return {};
    const std::uint8_t* page = smart::smart.gTempDataStruct[d];
    const history::Identity identity = history::IdentityOf(*record);
    history::Entry entry;
    history::Kind kind = history::Kind::Ata;
    if (record->driveKind == platform::DriveKind::Nvme) {
        kind = history::Kind::Nvme;
        bool ok = false;
        const unsigned id = columns.Attr_0_Array[row].toUInt(&ok, 16);
        const history::Reading reading =
            history::ReadingOf(*record, page, smart::smart.gTempThreshStruct[d], 0);
        const history::Entry* found = nullptr;
        for (const history::Entry& e : reading.entries)
            if (ok && e.id == id)
                found = &e;
        if (found == nullptr)
            return {};
        entry = *found;
    } else {
        const device::ATASMARTAttributeStruct* attrs = device::AttributeEntries(page);
        int seen = -1;
        for (int i = 0; i < device::kSmartEntryCount && seen < row; ++i) {
            if (attrs[i].attributeId == 0 || ++seen != row)
                continue;
            entry.id = attrs[i].attributeId;
            entry.value = attrs[i].current;
            entry.worst = attrs[i].worst;
            entry.raw.assign(attrs[i].rawvalue, attrs[i].rawvalue + sizeof attrs[i].rawvalue);
        }
        if (seen != row)
            return {};
    }
    return QString::fromStdString(watch::watch.watcher.RawText(identity, kind, entry));
}

} // namespace zentrova::shell
