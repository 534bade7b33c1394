// The monitor's one history store, fed by every read of a poll as the
// metrics are, and what the window says when the file had to be replaced.
#pragma once

#include "history/history_store.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace zentrova::history {

struct HistoryGlobals {
    std::unique_ptr<Store> store;
};

extern HistoryGlobals history;

// Closes the store; reads are then not kept.
void CloseHistory();
void ResetHistoryForTest();

// Now, from the panels' clock (tests fix it there), in ms since the epoch.
std::int64_t NowMs();

// Opens `dataFolder`/history.sqlite3 (its trouble, if any, for the alert).
Trouble OpenHistory(const QString& dataFolder);

// A successful read of drive slot `drive` becomes one reading; failed reads
// (null pages) and a closed store add nothing.
Trouble RecordRead(int drive, const std::uint8_t* dataPage, const std::uint8_t* thresholdsPage);

// A self-test of drive slot `drive` that ended, at NowMs().
Trouble RecordSelfTest(int drive, SelfTestRecord record);

// The alert's text for a store kept aside, given up, or left unopened for this
// run; empty when there is nothing to tell.
QString TroubleMessage(const Trouble& trouble);

} // namespace zentrova::history
