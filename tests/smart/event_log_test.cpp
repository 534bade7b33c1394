#include "fakes/log_files.h"
#include "smart/event_log.h"

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

TEST(EventLog, ReadsOnlyWhatWasAddedAndKeepsSplitCharactersWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = LogFilePath(dir.path(), 0);
    std::int64_t pos = 0;
    EXPECT_FALSE(ReadLogSince(path, &pos).ok);
    EXPECT_FALSE(QFile::exists(path));

    ASSERT_TRUE(Append(path, "abc\r\n"));
    LogReadResult r = ReadLogSince(path, &pos);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "abc\r\n");
    EXPECT_EQ(pos, 5);
    r = ReadLogSince(path, &pos);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.text.isEmpty());

    // "ä" (C3 A4) and "€" (E2 82 AC) split across writes.
    ASSERT_TRUE(Append(path, "x\xC3"));
    r = ReadLogSince(path, &pos);
    EXPECT_EQ(r.text, "x");
    EXPECT_EQ(pos, 6);
    ASSERT_TRUE(Append(path, "\xA4\xE2\x82"));
    r = ReadLogSince(path, &pos);
    EXPECT_EQ(r.text, QString::fromUtf8("ä"));
    EXPECT_EQ(pos, 8);
    ASSERT_TRUE(Append(path, "\xAC!"));
    r = ReadLogSince(path, &pos);
    EXPECT_EQ(r.text, QString::fromUtf8("€!"));
    EXPECT_EQ(pos, 12);

    // Positions past 4 GiB are carried whole.
    std::int64_t far = (std::int64_t{1} << 32) + 3;
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), far + 2), 0);
    r = ReadLogSince(path, &far);
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.restarted);
    EXPECT_EQ(r.text, QString(2, QChar(0)));
    EXPECT_EQ(far, (std::int64_t{1} << 32) + 5);
}
