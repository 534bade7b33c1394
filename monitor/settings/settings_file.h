// The settings file's format and the one way files that matter are written:
// whole, into a temporary file beside the target, synced, then renamed over it.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace zentrova::settings {

// The system calls whose order makes a write survive a crash: the data
// reaches the disk before the rename that publishes it, and the rename before
// the write counts as done. Real by default; a test records the order.
struct AtomicWriteCalls {
    std::function<ssize_t(int, const void*, size_t)> write = ::write;
    std::function<int(int)> fsync = ::fsync;
    std::function<int(const char*, const char*)> rename = ::rename;
};
inline AtomicWriteCalls atomicWriteCalls;

// Writes `bytes` to `path` so that a crash at any moment leaves either the old
// file or the new one, whole. Answers an empty string on success, otherwise
// what failed and why. The temporary file beside it gets a unique hidden name,
// or, when a reader of the folder must know what to skip, a unique name that
// begins with `temporaryName` and a dot. It is created anew (never opened
// through a link or over a file already there) and removed on any failure.
QString WriteFileAtomically(const QString& path, const QByteArray& bytes,
                            const QString& temporaryName = {});

// The integer value of a text: optional leading white space, an optional
// sign and decimal digits; 0 when it does not begin with a number. Values
// beyond 32 bits saturate.
int IntValue(const QString& text);

// One drive entry: string values under keys, in the order they were set.
struct DriveEntry {
    std::vector<std::pair<QString, QString>> items;

    const QString* Find(const QString& key) const;
    QString Value(const QString& key) const { return Find(key) ? *Find(key) : QString(); }
    // A flag is on only when its text is "True" exactly.
    bool IsOn(const QString& key) const { return Value(key) == QLatin1String("True"); }
    int Number(const QString& key) const { return IntValue(Value(key)); }
    void Set(const QString& key, const QString& value);
    bool Empty() const { return items.empty(); }
};

// The whole settings file: drive entries under "disk0", "disk1", ...
struct SettingsDict {
    std::vector<std::pair<QString, DriveEntry>> entries;

    const DriveEntry* Find(const QString& key) const;
    void Put(const QString& key, DriveEntry entry);
};

QString DiskKey(int index);

// An XML property list whose root is a dictionary of dictionaries of strings.
QByteArray SerializeSettings(const SettingsDict& dict);
// Nothing when the bytes are not an XML property list with a dictionary at
// its root. Values that are not dictionaries, and entry values that are not
// strings, count as absent.
std::optional<SettingsDict> ParseSettings(const QByteArray& bytes);

} // namespace zentrova::settings
