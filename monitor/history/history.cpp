#include "history/history.h"

#include "device/device.h"
#include "history/history_reading.h"
#include "platform/ui/alert_panel.h"

#include <QDir>

namespace zentrova::history {

HistoryGlobals history;

void CloseHistory() {
    history.store.reset();
}

void ResetHistoryForTest() {
    history = HistoryGlobals{};
}

std::int64_t NowMs() {
    return platform::CurrentDateTime().toMSecsSinceEpoch();
}

Trouble OpenHistory(const QString& dataFolder) {
    history.store = std::make_unique<Store>(NowMs);
    const QString path = QDir(dataFolder).filePath(QLatin1String(kHistoryFileName));
    return history.store->Open(QFile::encodeName(path).toStdString());
}

Trouble RecordRead(int drive, const std::uint8_t* dataPage, const std::uint8_t* thresholdsPage) {
    if (dataPage == nullptr || thresholdsPage == nullptr || !history.store)
        return {};
    for (const device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext) {
        if (r->nDevIndex != drive)
            continue;
        const Reading reading = ReadingOf(*r, dataPage, thresholdsPage, NowMs());
        int listed = 0;
        for (const device::xDEV_INFO* o = device::dev.gpHeadDevInfo; o != nullptr; o = o->pNext) {
            const Identity other = IdentityOf(*o);
            listed += other.model == reading.identity.model &&
                      other.firmware == reading.identity.firmware;
        }
        return history.store->Add(reading, listed == 1);
    }
    return {};
}

Trouble RecordSelfTest(int drive, SelfTestRecord record) {
    if (!history.store)
        return {};
    record.takenMs = NowMs();
    for (const device::xDEV_INFO* r = device::dev.gpHeadDevInfo; r != nullptr; r = r->pNext)
        if (r->nDevIndex == drive)
            return history.store->AddSelfTest(IdentityOf(*r), record);
    return {};
}

QString TroubleMessage(const Trouble& trouble) {
    if (trouble.notOpened)
        return QStringLiteral("The drive history could not be opened (%1); Zentrova keeps running "
                              "without it and will try again at the next start.")
            .arg(QString::fromStdString(trouble.error));
    if (trouble.keptAside.empty() && !trouble.historyOff)
        return {};
    QString text = QStringLiteral("The drive history could not be read (%1).")
                       .arg(QString::fromStdString(trouble.error));
    if (!trouble.keptAside.empty())
        text +=
            QStringLiteral(" It was kept as %1.").arg(QString::fromStdString(trouble.keptAside));
    text +=
        trouble.historyOff
            ? QStringLiteral(" No history is kept until Zentrova starts again; monitoring goes on.")
            : QStringLiteral(" A new history was started; monitoring goes on.");
    return text;
}

} // namespace zentrova::history
