// What the metrics file says of a Watch verdict: one sample per rule whose
// counter the drive keeps. Both hosts of the poll (the window and the
// service) hand these to the metrics after each judgement.
#pragma once

#include "history/history_store.h"
#include "metrics/metrics.h"
#include "watch/watch.h"

#include <vector>

namespace zentrova::watch {

// One sample per rule of the reading's kind whose entry the reading holds:
// its count, whether it puts the drive on Watch now, whether it is advice.
std::vector<metrics::WatchSample> MetricsSamples(const history::Reading& reading,
                                                 const Verdict& verdict);

} // namespace zentrova::watch
