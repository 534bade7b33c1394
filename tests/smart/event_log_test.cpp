#include "fakes/log_files.h"
#include "smart/event_log.h"
#include "smart/log_lines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace zentrova::smart;
using namespace zentrova::testing;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

} // namespace

TEST(EventLog, HeaderAndChangeEntryByteForByte) {
    EXPECT_EQ(LogHeader(kEvening, kEnglish),
              "Sat, Dec 05 2026, 09:43 PM :: INFO\r\nS.M.A.R.T. Monitoring started.\n\n\r\n");
    EXPECT_EQ(AttributeChangeEntry(kEvening, "HD-EXAMPLE 80G", "FW01", 5,
                                   "Reallocated Sector Count", 100, 99, kEnglish),
              "Sat, Dec 05 2026, 09:43 PM :: ALERT\r\n"
              "[ HD-EXAMPLE 80G, S/N : FW01 ] - Attribute changed\r\n"
              "Attribute :  5, Reallocated Sector Count\r\n"
              "Last checked value :  100\r\n"
              "New Value :  99\r\n\r\n");
    // A non-English locale's names are written as UTF-8.
    const QByteArray german = LogHeader(QDateTime(QDate(2026, 3, 2), QTime(9, 0)),
                                        QLocale(QLocale::German, QLocale::Germany));
    EXPECT_TRUE(german.contains(QString::fromUtf8("März 02 2026").toUtf8())) << german.constData();
}

TEST(EventLog, CreateLeavesExistingFilesAloneAndAppenderNeverCreates) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = LogFilePath(dir.path(), 2);

    LogAppender appender;
    EXPECT_FALSE(appender.Open(path));
    EXPECT_FALSE(appender.Append("x"));
    EXPECT_FALSE(QFile::exists(path)) << "the appender must never create a log";

    EXPECT_EQ(CreateLogFile(path, kEvening, kEnglish), LogCreateResult::Created);
    const QByteArray header = LogHeader(kEvening, kEnglish);
    EXPECT_EQ(ReadAll(path), header);
    EXPECT_EQ(CreateLogFile(path, kEvening.addDays(1), kEnglish), LogCreateResult::Existed);
    EXPECT_EQ(ReadAll(path), header);

    ASSERT_TRUE(appender.Open(path));
    EXPECT_TRUE(appender.Append("one\r\n"));
    ASSERT_TRUE(
        Append(path, "other\r\n")); // someone else appends meanwhile: nothing is overwritten
    EXPECT_TRUE(appender.Append("two\r\n"));
    appender.Close();
    EXPECT_EQ(ReadAll(path), header + "one\r\nother\r\ntwo\r\n");

    // Something that isn't a log file is never written to.
    ASSERT_TRUE(QDir(dir.path()).mkdir("SMARTLog3"));
    EXPECT_EQ(CreateLogFile(LogFilePath(dir.path(), 3), kEvening, kEnglish),
              LogCreateResult::Existed);
    EXPECT_FALSE(appender.Open(LogFilePath(dir.path(), 3)));
    const QByteArray fifo = QFile::encodeName(dir.path() + "/fifo");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    EXPECT_FALSE(appender.Open(dir.path() + "/fifo")) << "must not block on a FIFO";

    const QString missing = dir.path() + "/no/such/dir/SMARTLog0";
    const LogCreation failed = CreateLogFile(missing, kEvening, kEnglish);
    EXPECT_EQ(failed, LogCreateResult::CreateFailed);
    EXPECT_EQ(LogCreateFailureLine(missing, failed),
              "zentrova: " + QFile::encodeName(missing) +
                  ": cannot create the log file: No such file or directory");
}

TEST(LogLineIndex, LinesEndAtLfWithOrWithoutCr) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/log";
    struct Case {
        QByteArray bytes;
        QStringList lines;
        QString text;
    };
    const Case cases[] = {
        {"", {}, ""},
        {"a\r\nb\n\n\r\n", {"a", "b", "", ""}, "a\nb\n\n\n"},    // CR LF and the header's LFs
        {"a\r\nend", {"a", "end"}, "a\nend"},                    // a last line without an end
        {"\xFF\xC3(\r\n", {"\uFFFD\uFFFD("}, "\uFFFD\uFFFD(\n"}, // not UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.constData());
        QFile::remove(path);
        ASSERT_TRUE(Append(path, c.bytes));
        LogLineIndex index;
        std::int64_t pos = 0;
        EXPECT_TRUE(index.Refresh(path, &pos).ok);
        EXPECT_EQ(pos, c.bytes.size());
        ASSERT_EQ(index.LineCount(), c.lines.size());
        for (int i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(index.Line(i), c.lines[i]);
        EXPECT_EQ(index.Text(0, index.LineCount()), c.text);
    }
}

TEST(LogLineIndex, ReadsOnlyWhatWasAddedAndKeepsSplitCharactersWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = LogFilePath(dir.path(), 0);
    LogLineIndex index;
    std::int64_t pos = 0;
    EXPECT_FALSE(index.Refresh(path, &pos).ok);
    EXPECT_FALSE(QFile::exists(path));

    // "ä" (C3 A4) and "€" (E2 82 AC) split across writes.
    ASSERT_TRUE(Append(path, "abc\r\nx\xC3"));
    EXPECT_TRUE(index.Refresh(path, &pos).restarted);
    EXPECT_EQ(pos, 6);
    EXPECT_EQ(index.Text(0, 9), "abc\nx");
    ASSERT_TRUE(Append(path, "\xA4\xE2\x82"));
    const LogRefreshResult more = index.Refresh(path, &pos);
    EXPECT_TRUE(more.ok);
    EXPECT_FALSE(more.restarted);
    EXPECT_EQ(pos, 8);
    EXPECT_EQ(index.Line(1), QString::fromUtf8("xä"));
    ASSERT_TRUE(Append(path, "\xAC!\r\n"));
    index.Refresh(path, &pos);
    EXPECT_EQ(pos, 14);
    EXPECT_EQ(index.Text(0, 9), QString::fromUtf8("abc\nxä€!\n"));

    // Replaced by a shorter log: read from the start. Deleted: what was
    // indexed stays readable.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(Append(path, "new\r\n"));
    EXPECT_TRUE(index.Refresh(path, &pos).restarted);
    EXPECT_EQ(index.Text(0, 9), "new\n");
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(index.Refresh(path, &pos).ok);
    EXPECT_EQ(index.Text(0, 9), "new\n");

    // Something that is not a log file.
    ASSERT_TRUE(QDir(dir.path()).mkdir("SMARTLog1"));
    pos = 0;
    EXPECT_FALSE(index.Refresh(LogFilePath(dir.path(), 1), &pos).ok);
}

TEST(LogLineIndex, ScansInSlicesAndFindsLinesAcrossStrides) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/log";
    QByteArray bytes;
    for (int i = 0; i < 100; ++i)
        bytes += "line " + QByteArray::number(i) + "\r\n";
    ASSERT_TRUE(Append(path, bytes));
    LogLineIndex index;
    std::int64_t pos = 0;
    ASSERT_TRUE(index.Refresh(path, &pos, 100).ok);
    EXPECT_TRUE(index.Scanning());
    EXPECT_EQ(pos, 100);
    int slices = 1;
    while (index.Scanning() && slices < 100) {
        ASSERT_TRUE(index.Continue(&pos, 100).ok);
        ++slices;
    }
    EXPECT_EQ(slices, (bytes.size() + 99) / 100);
    EXPECT_EQ(pos, bytes.size());
    ASSERT_EQ(index.LineCount(), 100);
    for (int i : {0, 31, 32, 33, 63, 64, 99})
        EXPECT_EQ(index.Line(i), "line " + QString::number(i));
    // An appended line lands in a block already read.
    ASSERT_TRUE(Append(path, "last"));
    index.Refresh(path, &pos);
    EXPECT_EQ(index.Line(100), "last");
}
