// The per-drive event logs "SMARTLog0" to "SMARTLog3" in the data folder:
// plain text, CR LF line ends, only ever appended to.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

namespace zentrova::smart {

// strDrvPath + "/SMARTLog<index>".
QString LogFilePath(const QString& strDrvPath, int index);

// "Sat, Dec 05 2026, 09:43 PM" in the given locale.
QString FormatLogTimestamp(const QDateTime& when, const QLocale& locale = QLocale::system());

// The first two lines of every entry: the timestamp with " :: " and the level
// ("ALERT", "INFO"), then "[ model, S/N : firmware ] - " and the title.
QByteArray EntryHead(const QDateTime& when, const char* level, const char* model,
                     const char* firmware, const char* title,
                     const QLocale& locale = QLocale::system());

// The bytes of a new log's header and of one attribute-change entry.
QByteArray LogHeader(const QDateTime& when, const QLocale& locale = QLocale::system());
QByteArray AttributeChangeEntry(const QDateTime& when, const char* model, const char* firmware,
                                std::uint8_t attributeId, const QString& name, int lastValue,
                                int newValue, const QLocale& locale = QLocale::system());
// The same entry with values given as their digits: an NVMe drive's counters
// do not fit an int.
QByteArray AttributeChangeEntry(const QDateTime& when, const char* model, const char* firmware,
                                std::uint8_t attributeId, const QString& name,
                                const QByteArray& lastValue, const QByteArray& newValue,
                                const QLocale& locale = QLocale::system());

// A self-test that ended: "Self-test finished" with its type, result and the
// power-on hours it ended at (and its first failing LBA when it has one);
// an ALERT when it failed, INFO otherwise.
struct SelfTestOutcome {
    QString type;
    QString result;
    bool failed = false;
    std::uint64_t hours = 0;
    std::optional<std::uint64_t> failingLba;
};
QByteArray SelfTestEntry(const QDateTime& when, const char* model, const char* firmware,
                         const SelfTestOutcome& outcome, const QLocale& locale = QLocale::system());

enum class LogCreateResult {
    Existed,      // left as it was
    Created,      // new file with its header
    CreateFailed, // no file could be made
    HeaderFailed, // made, but the header could not be written
};
// What creating a log came to, and the errno of the step that failed (0 when
// none did), so that the user can be told what to fix.
struct LogCreation {
    LogCreateResult result = LogCreateResult::CreateFailed;
    int error = 0;
    bool operator==(LogCreateResult other) const { return result == other; }
};
// Creates the log with its header unless a file already exists there.
LogCreation CreateLogFile(const QString& path, const QDateTime& now,
                          const QLocale& locale = QLocale::system());
// "zentrova: <path>: cannot create the log file: <errno text>", one line.
QByteArray LogCreateFailureLine(const QString& path, const LogCreation& creation);

// Appends to an existing log; never creates one, never truncates.
class LogAppender {
  public:
    LogAppender() = default;
    ~LogAppender();
    LogAppender(const LogAppender&) = delete;
    LogAppender& operator=(const LogAppender&) = delete;

    bool Open(const QString& path); // false when the file does not exist or can't be opened
    bool IsOpen() const { return fd_ >= 0; }
    bool Append(const QByteArray& bytes); // the whole buffer at the end, or false
    void Close();

  private:
    int fd_ = -1;
};

// A read-only descriptor of the log at `path`, or -1 when there is none or it
// is not a regular file (a directory, a FIFO); never blocks.
int OpenLogForReading(const QString& path);

} // namespace zentrova::smart
