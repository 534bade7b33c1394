// Named string tables shipped with the monitor, in the familiar
// `"KEY" = "text";` form with /* */ and // comments.
#pragma once

#include <QHash>
#include <QString>

namespace zentrova::shell {

// Parses the text of one table; malformed entries are skipped.
QHash<QString, QString> ParseStringTable(const QString& text);

// The text under `key` in the table `table` (":/<table>.strings"), or
// `fallback` when the table or the key is missing.
QString LocalizedString(const QString& key, const QString& fallback, const QString& table);

} // namespace zentrova::shell
