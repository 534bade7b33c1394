#include "history/history_csv.h"

#include "history/history_reading.h"
#include "smart/attribute_catalogue.h"

#include <QDateTime>
#include <QIODevice>

namespace zentrova::history {

const char kCsvHeader[] = "time_utc,model,firmware,serial,temperature_c,id,name,value,worst,"
                          "threshold,raw,raw_bytes\r\n";

namespace {

// A text cell: one that starts like a formula gets a leading apostrophe, since
// a spreadsheet reads it as one, quoted or not; drive-supplied text is no
// formula of the user's. Numbers never come here.
QByteArray Field(QByteArray text) {
    if (!text.isEmpty() && QByteArray("=+-@\t\r").contains(text.front()))
        text.prepend('\'');
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    return '"' + text.replace('"', "\"\"") + '"';
}
QByteArray Field(const std::string& text) {
    return Field(QByteArray::fromStdString(text));
}
template <typename T> QByteArray Number(const std::optional<T>& v) {
    return v ? QByteArray::number(static_cast<qlonglong>(*v)) : QByteArray();
}

} // namespace

QByteArray CsvRow(const Reading& reading, const Entry& entry) {
    const QByteArray time =
        QDateTime::fromMSecsSinceEpoch(reading.takenMs, Qt::UTC).toString(Qt::ISODate).toLatin1();
    QByteArray bytes;
    for (auto b = entry.raw.rbegin(); b != entry.raw.rend(); ++b)
        bytes += QByteArray::number(*b, 16).rightJustified(2, '0').toUpper();
    QList<QByteArray> fields{time,
                             Field(reading.identity.model),
                             Field(reading.identity.firmware),
                             Field(reading.identity.serial),
                             Number(reading.temperature),
                             smart::AttributeIdText(entry.id).toLatin1(),
                             Field(EntryName(reading.kind, reading.identity, entry.id).toUtf8()),
                             Number(entry.value),
                             Number(entry.worst),
                             Number(entry.threshold),
                             QByteArray::fromStdString(RawDecimal(entry.raw)),
                             bytes};
    return fields.join(',') + "\r\n";
}

bool WriteCsv(const Store& store, const Identity& drive, QIODevice& out, QString* error) {
    bool written = out.write(kCsvHeader) >= 0;
    const bool read = store.ForEachRow(drive, [&](const Reading& r, const Entry& e) {
        written = written && out.write(CsvRow(r, e)) >= 0;
    });
    if (!read)
        *error = QStringLiteral("the history could not be read");
    else if (!written)
        *error = out.errorString();
    return read && written;
}

} // namespace zentrova::history
