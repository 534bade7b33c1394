#include "smart/log_lines.h"
#include "smart_fixture.h"

#include <sys/stat.h>

using namespace zentrova::smart;
using namespace zentrova::testing;

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

class LogFolder : public SmartTest {
  protected:
    QString path = LogFilePath(dir.path(), 0);
    LogLineIndex index;
    std::int64_t pos = 0;
};

TEST(EventLog, HeaderAndChangeEntryByteForByte) {
    EXPECT_EQ(LogHeader(kEvening, kEnglish),
              "Sat, Dec 05 2026, 09:43 PM :: INFO\r\nS.M.A.R.T. Monitoring started.\n\n\r\n");
    EXPECT_EQ(
        AttributeChangeEntry(kEvening, "HD 80G", "FW01", 197, "Pending", 100, 99, kEnglish),
        "Sat, Dec 05 2026, 09:43 PM :: ALERT\r\n[ HD 80G, S/N : FW01 ] - Attribute changed\r\n"
        "Attribute :  C5, Pending\r\nLast checked value :  100\r\nNew Value :  99\r\n\r\n");
    EXPECT_TRUE(LogHeader(QDateTime(QDate(2026, 3, 2), QTime(9, 0)), QLocale(QLocale::German))
                    .contains(QString::fromUtf8("März 02 2026").toUtf8()));
}

TEST_F(LogFolder, CreateLeavesWhatExistsAloneAndTheAppenderNeverCreates) {
    LogAppender appender;
    EXPECT_FALSE(appender.Open(path));
    EXPECT_EQ(CreateLogFile(path, kEvening, kEnglish), LogCreateResult::Created);
    EXPECT_EQ(CreateLogFile(path, kEvening.addDays(1), kEnglish), LogCreateResult::Existed);
    ASSERT_TRUE(appender.Open(path));
    EXPECT_TRUE(appender.Append("one\r\n"));
    ASSERT_TRUE(Append(path, "other\r\n")); // another writer's line is not overwritten
    EXPECT_TRUE(appender.Append("two\r\n"));
    EXPECT_EQ(ReadAll(path), LogHeader(kEvening, kEnglish) + "one\r\nother\r\ntwo\r\n");

    // Only regular files are logs; a FIFO must not block.
    ASSERT_TRUE(QDir(dir.path()).mkdir("SMARTLog3"));
    EXPECT_EQ(CreateLogFile(LogFilePath(dir.path(), 3), kEvening), LogCreateResult::Existed);
    EXPECT_FALSE(appender.Open(LogFilePath(dir.path(), 3)));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path() + "/fifo").constData(), 0600), 0);
    EXPECT_FALSE(appender.Open(dir.path() + "/fifo"));
    const QString missing = dir.path() + "/no/SMARTLog0";
    const LogCreation failed = CreateLogFile(missing, kEvening);
    EXPECT_EQ(failed, LogCreateResult::CreateFailed);
    EXPECT_EQ(LogCreateFailureLine(missing, failed),
              "zentrova: " + QFile::encodeName(missing) +
                  ": cannot create the log file: No such file or directory");
}

TEST_F(LogFolder, ReadsWhatWasAddedInLinesEndingAtLfAndKeepsSplitCharactersWhole) {
    EXPECT_FALSE(index.Refresh(path, &pos).ok);
    EXPECT_FALSE(QFile::exists(path));
    const struct {
        QByteArray added;
        std::int64_t pos;
        QString text;
    } steps[] = {
        {"a\r\nb\n\n\r\n", 8, "a\nb\n\n\n"}, // CR LF and the header's LFs
        {"x\xC3", 9, "a\nb\n\n\nx"},         // "ä" (C3 A4) and "€" (E2 82 AC) split
        {"\xA4\xE2\x82", 11, "a\nb\n\n\nxä"},
        {"\xAC!", 15, "a\nb\n\n\nxä€!"},                              // a last line without an end
        {"\r\n\xFF\xC3(\r\n", 22, "a\nb\n\n\nxä€!\n\uFFFD\uFFFD(\n"}, // not UTF-8
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(Append(path, s.added));
        EXPECT_EQ(index.Refresh(path, &pos).restarted, s.pos == 8);
        EXPECT_EQ(pos, s.pos);
        EXPECT_EQ(index.Text(0, 99), s.text);
    }
    EXPECT_EQ(index.LineCount(), 6);

    // Cut to a shorter log: read from the start. Deleted: what was
    // indexed stays readable. A folder is no log.
    ASSERT_TRUE(QFile::resize(path, 0) && Append(path, "new\r\n"));
    EXPECT_TRUE(index.Refresh(path, &pos).restarted);
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(index.Refresh(path, &pos).ok);
    EXPECT_EQ(index.Text(0, 9), "new\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir("SMARTLog1"));
    pos = 0;
    EXPECT_FALSE(index.Refresh(LogFilePath(dir.path(), 1), &pos).ok);
}

TEST_F(LogFolder, ScansInSlicesAndFindsLinesAcrossStrides) {
    QByteArray bytes;
    for (int i = 0; i < 100; ++i)
        bytes += "line " + QByteArray::number(i) + "\r\n";
    ASSERT_TRUE(Append(path, bytes));
    ASSERT_TRUE(index.Refresh(path, &pos, 100).ok);
    int slices = 1;
    for (; index.Scanning() && slices < 100; ++slices)
        ASSERT_TRUE(index.Continue(&pos, 100).ok);
    EXPECT_EQ(slices, (bytes.size() + 99) / 100);
    EXPECT_EQ(pos, bytes.size());
    ASSERT_EQ(index.LineCount(), 100);
    for (int i : {0, 31, 32, 33, 63, 64, 99})
        EXPECT_EQ(index.Line(i), "line " + QString::number(i));
    ASSERT_TRUE(Append(path, "last")); // lands in a block already read
    index.Refresh(path, &pos);
    EXPECT_EQ(index.Line(100), "last");
}
