// The service's voice: one line on standard error with systemd's "<N>"
// priority prefix, which the journal files under that priority. Never waits
// for anybody.
#pragma once

#include <QString>

#include <functional>

namespace zentrova::service {

enum class Priority { Crit = 2, Err = 3, Warning = 4, Notice = 5, Info = 6 };

// One journal line: the text's line breaks become spaces, so a message
// never splits into lines without their prefix.
QByteArray JournalLine(Priority priority, const QString& text);

// Writes JournalLine to standard error (a test may replace the writer).
void Journal(Priority priority, const QString& text);
using JournalWriter = std::function<void(const QByteArray& line)>;
void SetJournalWriter(JournalWriter writer);

} // namespace zentrova::service
