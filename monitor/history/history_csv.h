// A drive's history as CSV: a header row, then one row per reading and
// entry, times in ISO 8601 UTC, written as it is read so memory stays flat.
#pragma once

#include "history/history_store.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace zentrova::history {

extern const char kCsvHeader[];

// One row, ending in CR LF as spreadsheets expect.
QByteArray CsvRow(const Reading& reading, const Entry& entry);

// False with the reason in `error` when the store or the device failed.
bool WriteCsv(const Store& store, const Identity& drive, QIODevice& out, QString* error);

} // namespace zentrova::history
