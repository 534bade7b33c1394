// What the window and the tray make of a Watch verdict: the
// judgement itself lives in watch/, fed by the history; this is only how it
// is shown.
#pragma once

#include "history/history_store.h"
#include "smart/smart_state.h"
#include "watch/watch.h"

#include <QString>

#include <vector>

namespace zentrova::shell {

// The banner above the attribute table (rich text): each reason on its own
// line, then an NVMe drive's wear projection in grey. Empty: nothing to say.
QString WatchBannerText(const watch::Verdict* verdict);
// The drive table's tooltip of a drive on Watch: its reasons, one a line;
// empty when the drive is not on Watch.
QString WatchToolTip(const watch::Verdict* verdict);
// A few words on why the drive is on Watch, for the tray: its first Watch
// reason's. Empty when it is not on Watch.
QString WatchShortReason(const watch::Verdict* verdict);

// The Raw column's cell of attribute row `row` of `columns`, from the stored
// reading of the drive they show: an ATA row is the page's row-th non-empty
// slot, an NVMe row the health field at the row's id as byte offset.
QString RawCellText(const smart::AttributeColumns& columns, int row);

} // namespace zentrova::shell
