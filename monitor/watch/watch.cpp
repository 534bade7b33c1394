#include "watch/watch.h"

#include "device/device.h"
#include "history/history.h"
#include "history/history_reading.h"
#include "watch/watch_history.h"
#include "watch/watch_metrics.h"

namespace zentrova::watch {

WatchGlobals watch;

void ResetWatchForTest() {
    watch = WatchGlobals{};
}

const Verdict* JudgeRead(int drive, const std::uint8_t* dataPage,
                         const std::uint8_t* thresholdsPage, std::int64_t nowMs,
                         std::vector<Change>* changes, std::vector<metrics::WatchSample>* samples) {
    const device::xDEV_INFO* record = device::dev.gpHeadDevInfo;
    while (record != nullptr && record->nDevIndex != drive)
        record = record->pNext;
    if (record == nullptr)
        return nullptr;
    // A failed read judges nothing: the last verdict stands.
    if (dataPage == nullptr || thresholdsPage == nullptr)
        return watch.watcher.Last(history::IdentityOf(*record));
    const history::Reading reading = history::ReadingOf(*record, dataPage, thresholdsPage, nowMs);
    history::Store* store = history::history.store.get();
    if (store != nullptr && store->IsOpen()) {
        StorePast past(*store);
        watch.watcher.Judge(reading, past, nowMs, changes);
    } else {
        RunPast past(watch.firstOfRun);
        past.Remember(reading);
        watch.watcher.Judge(reading, past, nowMs, changes);
    }
    const Verdict* verdict = watch.watcher.Last(reading.identity);
    if (samples != nullptr && verdict != nullptr)
        *samples = MetricsSamples(reading, *verdict);
    return verdict;
}

} // namespace zentrova::watch
