#include "event_log.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrova::smart {

static_assert(sizeof(off_t) == 8, "log positions are 64-bit");

namespace {

// Opens `path` without blocking on a FIFO or device and answers -1 unless it
// is a regular file. O_NONBLOCK stays set: it has no effect on regular files.
int OpenRegularFile(const QString& path, int flags) {
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

QString LogFilePath(const QString& strDrvPath, int index) {
    return strDrvPath + QStringLiteral("/SMARTLog") + QString::number(index);
}

QString FormatLogTimestamp(const QDateTime& when, const QLocale& locale) {
    return locale.toString(when, QStringLiteral("ddd, MMM dd yyyy, hh:mm AP"));
}

QByteArray LogHeader(const QDateTime& when, const QLocale& locale) {
    QByteArray out = FormatLogTimestamp(when, locale).toUtf8();
    out += " :: INFO\r\n";
    out += "S.M.A.R.T. Monitoring started.\n\n\r\n";
    return out;
}

QByteArray EntryHead(const QDateTime& when, const char* level, const char* model,
                     const char* firmware, const char* title, const QLocale& locale) {
    // The drive's strings pass through the decoder so that the file stays
    // valid UTF-8 whatever bytes the drive reported.
    QByteArray out = FormatLogTimestamp(when, locale).toUtf8();
    out.reserve(out.size() + 160);
    out += " :: ";
    out += level;
    out += "\r\n[ ";
    out += QString::fromUtf8(model != nullptr ? model : "").toUtf8();
    out += ", S/N : ";
    out += QString::fromUtf8(firmware != nullptr ? firmware : "").toUtf8();
    out += " ] - ";
    out += title;
    out += "\r\n";
    return out;
}

QByteArray AttributeChangeEntry(const QDateTime& when, const char* model, const char* firmware,
                                std::uint8_t attributeId, const QString& name, int lastValue,
                                int newValue, const QLocale& locale) {
    return AttributeChangeEntry(when, model, firmware, attributeId, name,
                                QByteArray::number(lastValue), QByteArray::number(newValue),
                                locale);
}

QByteArray AttributeChangeEntry(const QDateTime& when, const char* model, const char* firmware,
                                std::uint8_t attributeId, const QString& name,
                                const QByteArray& lastValue, const QByteArray& newValue,
                                const QLocale& locale) {
    QByteArray out = EntryHead(when, "ALERT", model, firmware, "Attribute changed", locale);
    out += "Attribute :  ";
    out += QByteArray::number(attributeId, 16).toUpper();
    out += ", ";
    out += name.toUtf8();
    out += "\r\nLast checked value :  ";
    out += lastValue;
    out += "\r\nNew Value :  ";
    out += newValue;
    out += "\r\n\r\n";
    return out;
}

QByteArray SelfTestEntry(const QDateTime& when, const char* model, const char* firmware,
                         const SelfTestOutcome& outcome, const QLocale& locale) {
    QByteArray out = EntryHead(when, outcome.failed ? "ALERT" : "INFO", model, firmware,
                               "Self-test finished", locale);
    out += "Type :  " + outcome.type.toUtf8();
    out += "\r\nResult :  " + outcome.result.toUtf8();
    out += "\r\nHours :  " + QByteArray::number(static_cast<qulonglong>(outcome.hours));
    if (outcome.failingLba)
        out += "\r\nFirst failing LBA :  " +
               QByteArray::number(static_cast<qulonglong>(*outcome.failingLba));
    out += "\r\n\r\n";
    return out;
}

LogCreation CreateLogFile(const QString& path, const QDateTime& now, const QLocale& locale) {
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        // O_EXCL: whatever already has this name (a log of an earlier run, or
        // anything else) is left exactly as it is.
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EEXIST)
            return {LogCreateResult::Existed, 0};
        return {LogCreateResult::CreateFailed, errno};
    }
    const QByteArray header = LogHeader(now, locale);
    int error = 0;
    if (!WriteAll(fd, header.constData(), static_cast<std::size_t>(header.size())))
        error = errno != 0 ? errno : EIO;
    if (::fsync(fd) != 0 && error == 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return {error == 0 ? LogCreateResult::Created : LogCreateResult::HeaderFailed, error};
}

QByteArray LogCreateFailureLine(const QString& path, const LogCreation& creation) {
    return "zentrova: " + QFile::encodeName(path) +
           ": cannot create the log file: " + QByteArray(std::strerror(creation.error));
}

LogAppender::~LogAppender() {
    Close();
}

bool LogAppender::Open(const QString& path) {
    Close();
    // Never O_CREAT: a log removed while the monitor runs stays removed.
    fd_ = OpenRegularFile(path, O_WRONLY | O_APPEND);
    return fd_ >= 0;
}

bool LogAppender::Append(const QByteArray& bytes) {
    if (fd_ < 0)
        return false;
    return WriteAll(fd_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void LogAppender::Close() {
    if (fd_ >= 0)
        ::close(fd_); // nothing useful to do on failure: every write has been made
    fd_ = -1;
}

int OpenLogForReading(const QString& path) {
    return OpenRegularFile(path, O_RDONLY);
}

} // namespace zentrova::smart
