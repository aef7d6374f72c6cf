// The run's log: its name, its lines, and a file that is always a new one.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ZoLog.h"

namespace {
const TCalendarTime kTime{2026, 3, 4, 5, 6, 7, 8};

std::string ReadLog(const TTempFolder& dir, const TZoLog& log)
{
    return ReadFileBytes(dir.Path() / std::filesystem::u8path(ToUtf8(NamePart(log.Path()))));
}
}  // namespace

TEST(RunLog, NameCarriesProductRoleAndTimeWithoutCharactersAFileNameCannotHold)
{
    EXPECT_EQ(TZoLog::FileName(u"示例软件", u"Setup", kTime), u"示例软件 Setup 20260304-050607.log");
    EXPECT_EQ(TZoLog::FileName(u"A/B:C*?\"<>|\\\t", u"Uninstall", kTime), u"A_B_C________ Uninstall 20260304-050607.log");
    EXPECT_EQ(TZoLog::FileName(u"", u"Setup", kTime), u"zosetup Setup 20260304-050607.log");
}

TEST(RunLog, EveryEntryIsOneTimeStampedLine)
{
    EXPECT_EQ(TZoLog::Line(TLogEntry::File, u"C:\\P\\a.txt", kTime), u"2026-03-04 05:06:07.008 FILE  C:\\P\\a.txt");
    EXPECT_EQ(TZoLog::Line(TLogEntry::Error, u"one\r\ntwo\nthree", kTime),
              u"2026-03-04 05:06:07.008 ERROR one  two three");
}

TEST(RunLog, WritesUtf8WithAMarkAndNeverReusesAFile)
{
    TTempFolder dir;
    TZoLog first, second;
    ASSERT_TRUE(first.Open(dir.Wide(), u"示例软件", u"Setup"));
    ASSERT_TRUE(second.Open(dir.Wide(), u"示例软件", u"Setup"));
    EXPECT_NE(first.Path(), second.Path());
    first.Add(TLogEntry::Step, u"正在安装");
    first.Add(TLogEntry::Exit, u"0");
    // Written through: readable before the log is closed.
    std::string text = ReadLog(dir, first);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(text.find(" STEP  正在安装\r\n"), std::string::npos);
    EXPECT_NE(text.find(" EXIT  0\r\n"), std::string::npos);
    EXPECT_EQ(ReadLog(dir, second), "\xEF\xBB\xBF");
}

TEST(RunLog, AFolderThatCannotHoldTheLogCostsNothing)
{
    TTempFolder dir;
    TZoLog log;
    EXPECT_FALSE(log.Open(dir.Wide("missing/deeper"), u"P", u"Setup"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(log.Path().empty());
    log.Add(TLogEntry::Error, u"nowhere to go");  // does nothing, raises nothing
}

#ifndef _WIN32
TEST(RunLog, ALinkPlantedUnderTheNameIsNeverWrittenThrough)
{
    // Dangling links named like the next logs, leading where an elevated
    // program must not create a file.
    TTempFolder dir;
    const std::filesystem::path victim = dir.Path() / "victim.txt";
    const WideString name = TZoLog::FileName(u"P", u"Setup", DecodeDateTime(NowLocal()));
    const std::string stem = ToUtf8(name.substr(0, name.size() - 4));
    std::filesystem::create_symlink(victim, dir.Path() / (stem + ".log"));
    std::filesystem::create_symlink(victim, dir.Path() / (stem + " (2).log"));
    TZoLog log;
    ASSERT_TRUE(log.Open(dir.Wide(), u"P", u"Setup"));
    log.Add(TLogEntry::Step, u"x");
    EXPECT_FALSE(std::filesystem::exists(victim));
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::u8path(ToUtf8(log.Path()))));
}
#endif
