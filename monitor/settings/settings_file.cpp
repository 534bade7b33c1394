#include "settings/settings_file.h"

#include <QDir>
#include <QFileInfo>

#include <plist/plist.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrova::settings {

namespace {

QString SystemError(const char* what, const QString& path, int error) {
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(error)));
}

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

} // namespace

QString WriteFileAtomically(const QString& path, const QByteArray& bytes,
                            const QString& temporaryName) {
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    // A unique name, made by the open itself (O_EXCL, never through a link),
    // so that nothing planted in a shared folder is written through; a reader
    // that must skip the temporary file knows it by `temporaryName`.
    QByteArray pattern = QFile::encodeName(
        folder + '/' + (temporaryName.isEmpty() ? '.' + target.fileName() : temporaryName) +
        ".XXXXXX");
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return SystemError("cannot create a temporary file in", folder, errno);
    const QString temporary = QFile::decodeName(pattern);
    auto fail = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(pattern.constData());
        return SystemError(what, temporary, error);
    };
    if (::fchmod(fd, 0644) != 0)
        return fail("cannot set the permissions of", errno);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            atomicWriteCalls.write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot write", n < 0 ? errno : ENOSPC);
        written += n;
    }
    if (atomicWriteCalls.fsync(fd) != 0)
        return fail("cannot flush", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(pattern.constData());
        return SystemError("cannot close", temporary, error);
    }
    if (atomicWriteCalls.rename(pattern.constData(),
                                QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        const int error = errno;
        ::unlink(pattern.constData());
        return SystemError("cannot replace", path, error);
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        atomicWriteCalls.fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

int IntValue(const QString& text) {
    const QByteArray latin = text.toLatin1();
    const char* p = latin.constData();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return int(negative ? -value : value);
}

const QString* DriveEntry::Find(const QString& key) const {
    for (const auto& [k, v] : items) {
        if (k == key)
            return &v;
    }
    return nullptr;
}

void DriveEntry::Set(const QString& key, const QString& value) {
    for (auto& [k, v] : items) {
        if (k == key) {
            v = value;
            return;
        }
    }
    items.emplace_back(key, value);
}

const DriveEntry* SettingsDict::Find(const QString& key) const {
    for (const auto& [k, entry] : entries) {
        if (k == key)
            return &entry;
    }
    return nullptr;
}

void SettingsDict::Put(const QString& key, DriveEntry entry) {
    for (auto& [k, stored] : entries) {
        if (k == key) {
            stored = std::move(entry);
            return;
        }
    }
    entries.emplace_back(key, std::move(entry));
}

QString DiskKey(int index) {
    return QStringLiteral("disk%1").arg(index);
}

QByteArray SerializeSettings(const SettingsDict& dict) {
    PlistPtr root(plist_new_dict());
    for (const auto& [key, entry] : dict.entries) {
        plist_t node = plist_new_dict();
        for (const auto& [k, v] : entry.items)
            plist_dict_set_item(node, k.toUtf8().constData(),
                                plist_new_string(v.toUtf8().constData()));
        plist_dict_set_item(root.get(), key.toUtf8().constData(), node);
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    const QByteArray bytes(xml, xml != nullptr ? qsizetype(length) : 0);
    plist_to_xml_free(xml);
    return bytes;
}

std::optional<SettingsDict> ParseSettings(const QByteArray& bytes) {
    // Only the XML form the monitor writes: libplist aborts on a binary list
    // whose keys hold a NUL byte, where XML cannot even express one.
    if (bytes.isEmpty() || plist_is_binary(bytes.constData(), uint32_t(bytes.size())))
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &parsed);
    PlistPtr root(parsed);
    if (parsed == nullptr || plist_get_node_type(parsed) != PLIST_DICT)
        return std::nullopt;
    SettingsDict dict;
    auto eachItem = [](plist_t node, auto&& visit) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (key == nullptr)
                break;
            visit(QString::fromUtf8(key), value);
            std::free(key);
        }
        std::free(it);
    };
    eachItem(parsed, [&](const QString& diskKey, plist_t value) {
        if (plist_get_node_type(value) != PLIST_DICT)
            return;
        DriveEntry entry;
        eachItem(value, [&](const QString& key, plist_t item) {
            if (plist_get_node_type(item) != PLIST_STRING)
                return;
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(item, &length);
            entry.items.emplace_back(key, QString::fromUtf8(text, qsizetype(length)));
        });
        dict.entries.emplace_back(diskKey, std::move(entry));
    });
    return dict;
}

} // namespace zentrova::settings
