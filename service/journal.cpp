#include "journal.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zentrova::service {

namespace {

JournalWriter& Writer() {
    static JournalWriter writer;
    return writer;
}

void WriteToStandardError(const QByteArray& line) {
    const char* p = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nobody to tell: the service goes on
        p += n;
        left -= n;
    }
}

} // namespace

QByteArray JournalLine(Priority priority, const QString& text) {
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return "<" + QByteArray::number(static_cast<int>(priority)) + ">" + flat.trimmed().toUtf8() +
           "\n";
}

void Journal(Priority priority, const QString& text) {
    const QByteArray line = JournalLine(priority, text);
    if (Writer())
        Writer()(line);
    else
        WriteToStandardError(line);
}

void SetJournalWriter(JournalWriter writer) {
    Writer() = std::move(writer);
}

} // namespace zentrova::service
