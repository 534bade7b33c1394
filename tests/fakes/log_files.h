// The fixed evening of the log and shell tests, and their file helpers.
#pragma once

#include <QDateTime>
#include <QFile>

namespace zentrova::testing {

// Every alert, log timestamp and fail date of the tests happens now.
inline const QDateTime kEvening(QDate(2026, 12, 5), QTime(21, 43));

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Appends as another writer of the file would.
inline bool Append(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::Append) && f.write(bytes) == bytes.size();
}

} // namespace zentrova::testing
