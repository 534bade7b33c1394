#include "watch/watch_metrics.h"

namespace zentrova::watch {

std::vector<metrics::WatchSample> MetricsSamples(const history::Reading& reading,
                                                 const Verdict& verdict) {
    std::vector<metrics::WatchSample> samples;
    for (const Rule& rule : Rules()) {
        if (rule.kind != reading.kind)
            continue;
        const history::Entry* entry = nullptr;
        for (const history::Entry& e : reading.entries)
            if (e.id == rule.entryId)
                entry = &e;
        const auto count =
            entry != nullptr ? RawCount(reading.identity, reading.kind, *entry) : std::nullopt;
        if (!count)
            continue; // the drive keeps no such counter
        metrics::WatchSample s;
        s.reason = QByteArray(rule.reason);
        s.count = *count;
        s.advice = !PutsOnWatch(rule);
        for (const Finding& f : verdict.findings)
            if (f.rule == &rule && f.active && !s.advice)
                s.watched = true;
        samples.push_back(std::move(s));
    }
    return samples;
}

} // namespace zentrova::watch
