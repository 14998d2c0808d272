#include "runtime/log_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/files.h"
#include "platform/system_error.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

LocalTime Day(int year, int month, int day) { return LocalTime{year, month, day, 18, 11, 26}; }

TEST(LogFileName, IsTheStartTimeWithTwoDigitFields) {
  std::string sep(1, PathSeparator());
  EXPECT_EQ(LogFileName("LogFiles", LocalTime{2026, 12, 6, 18, 11, 26}),
            "LogFiles" + sep + "2026-12-06 18-11-26.log");
  EXPECT_EQ(LogFileName("L", LocalTime{2031, 1, 2, 3, 4, 5}),
            "L" + sep + "2031-01-02 03-04-05.log");
  // A later run of the same second; the clean-up judges it by the same date.
  EXPECT_EQ(LogFileName("L", LocalTime{2031, 1, 2, 3, 4, 5}, 2),
            "L" + sep + "2031-01-02 03-04-05_2.log");
  EXPECT_TRUE(IsOldLog("2030-06-02 03-04-05_2.log", LocalTime{2031, 3, 22, 0, 0, 0}));
  EXPECT_FALSE(IsOldLog("2031-03-02 03-04-05_2.log", LocalTime{2031, 3, 22, 0, 0, 0}));
}

TEST(LogFolder, SitsBesideTheProgram) {
  std::string sep(1, PathSeparator());
  std::string bin = sep + "opt" + sep + "kel" + sep;
  EXPECT_EQ(LogFolderFor(bin + "KelUpdater"), bin + "LogFiles");
  EXPECT_EQ(LogFolderFor("KelUpdater"), CurrentDirectory() + sep + "LogFiles");
  EXPECT_EQ(LogFolderFor("sub/KelUpdater"), CurrentDirectory() + sep + "sub/LogFiles");
}

TEST(OldLogRule, NothingGoesBeforeThe22nd) {
  EXPECT_FALSE(IsOldLog("2026-01-05 10-00-00.log", Day(2026, 8, 21)));
  EXPECT_FALSE(IsOldLog("2019-01-05 10-00-00.log", Day(2026, 8, 21)));
  EXPECT_TRUE(IsOldLog("2026-01-05 10-00-00.log", Day(2026, 8, 22)));
}

TEST(OldLogRule, KeepsThisMonthAndTheTwoBefore) {
  LocalTime now = Day(2026, 8, 25);
  EXPECT_FALSE(IsOldLog("2026-08-01 00-00-00.log", now));
  EXPECT_FALSE(IsOldLog("2026-07-01 00-00-00.log", now));
  EXPECT_FALSE(IsOldLog("2026-06-30 00-00-00.log", now));
  EXPECT_TRUE(IsOldLog("2026-05-31 00-00-00.log", now));
  // A later month of this year is deleted too.
  EXPECT_TRUE(IsOldLog("2026-09-01 00-00-00.log", now));
  EXPECT_TRUE(IsOldLog("2026x.log", now));
}

TEST(OldLogRule, OtherYearsSurviveJanuaryAndFebruary) {
  EXPECT_FALSE(IsOldLog("2025-12-01 00-00-00.log", Day(2026, 1, 30)));
  EXPECT_FALSE(IsOldLog("2025-11-01 00-00-00.log", Day(2026, 2, 28)));
  EXPECT_TRUE(IsOldLog("2025-12-01 00-00-00.log", Day(2026, 3, 22)));
  EXPECT_TRUE(IsOldLog("2027-01-01 00-00-00.log", Day(2026, 3, 22)));
  // In January, a log of a later month of this year is still deleted.
  EXPECT_TRUE(IsOldLog("2026-11-01 00-00-00.log", Day(2026, 1, 22)));
}

class CleanUpTest : public ::testing::Test {
 protected:
  void Make(const std::string& name) { ASSERT_TRUE(WriteTextFile(folder.File(name), "x")); }
  bool Exists(const std::string& name) { return FileExists(folder.File(name)); }
  TemporaryFolder folder;
  RuntimeFixture f;
};

TEST_F(CleanUpTest, DeletesOldLogsAndKeepsEverythingElse) {
  Make("2026-08-01 00-00-00.log");
  Make("2026-05-01 00-00-00.log");
  Make("2025-12-01 00-00-00.log");
  Make("notes.txt");
  Make("2026-01-01 00-00-00.txt");
  ASSERT_TRUE(CreateFolders(folder.File("2020-01-01 x.log")));

  CleanUpOldLogs(f.runtime, folder.path(), Day(2026, 8, 22));

  EXPECT_TRUE(Exists("2026-08-01 00-00-00.log"));
  EXPECT_FALSE(Exists("2026-05-01 00-00-00.log"));
  EXPECT_FALSE(Exists("2025-12-01 00-00-00.log"));
  EXPECT_TRUE(Exists("notes.txt"));
  EXPECT_TRUE(Exists("2026-01-01 00-00-00.txt"));
  EXPECT_TRUE(FolderExists(folder.File("2020-01-01 x.log")));
  EXPECT_FALSE(Exists(kCleanupLockName));
  EXPECT_NE(
      f.console.output().find("Deleting old log file: " + folder.File("2026-05-01 00-00-00.log")),
      std::string::npos);
}

TEST_F(CleanUpTest, LeftoverLockDisablesTheCleanUp) {
  Make("2020-01-01 00-00-00.log");
  Make(kCleanupLockName);
  CleanUpOldLogs(f.runtime, folder.path(), Day(2026, 8, 22));
  EXPECT_TRUE(Exists("2020-01-01 00-00-00.log"));
  EXPECT_TRUE(Exists(kCleanupLockName));
  EXPECT_FALSE(f.out.lastErrorText.empty());
  EXPECT_EQ(f.console.output(), "");
}

TEST_F(CleanUpTest, EmptyFolderIsNoError) {
  CleanUpOldLogs(f.runtime, folder.path(), Day(2026, 8, 22));
  EXPECT_FALSE(Exists(kCleanupLockName));
}

TEST_F(CleanUpTest, MissingFolderSkipsTheCleanUp) {
  // The lock cannot be created in a missing folder, so nothing is listed.
  CleanUpOldLogs(f.runtime, folder.File("missing"), Day(2026, 8, 22));
  EXPECT_EQ(f.console.output(), "");
}

TEST_F(CleanUpTest, UnlistableFolderIsFatalAndReleasesTheLock) {
  namespace fs = std::filesystem;
  // Write and search permission without read: the lock can be made, the
  // listing cannot.
  fs::permissions(folder.path(), fs::perms::owner_write | fs::perms::owner_exec);
  std::vector<FolderEntry> entries;
  if (ListFolder(folder.path(), "*", entries)) {
    fs::permissions(folder.path(), fs::perms::owner_all);
    GTEST_SKIP() << "permissions are not enforced for this user";
  }
  int code = f.ExitCodeOf([&] { CleanUpOldLogs(f.runtime, folder.path(), Day(2026, 8, 22)); });
  fs::permissions(folder.path(), fs::perms::owner_all);
  EXPECT_EQ(code, 1);
  EXPECT_NE(f.console.output().find("Fatal Error: Cannot open directory: " + folder.path()),
            std::string::npos);
  EXPECT_FALSE(Exists(kCleanupLockName));
}

class OpenRunLogTest : public ::testing::Test {
 protected:
  std::string LogFolder() { return folder.File("LogFiles"); }
  TemporaryFolder folder;
  RuntimeFixture f;
};

TEST_F(OpenRunLogTest, CreatesFolderLogAndHeader) {
  f.env.Set("COMPUTERNAME", "BENCH7");
  f.clock.SetNow(LocalTime{2026, 12, 6, 18, 11, 26});
  OpenRunLog(f.runtime, LogFolder(), {"/opt/KelUpdater", "-i", "cfg.ini"});
  ASSERT_TRUE(f.out.logOpen());
  f.out.CloseLog();

  std::string path = LogFileName(LogFolder(), f.clock.Now());
  EXPECT_EQ(ReadTextFile(path),
            "/opt/KelUpdater -i cfg.ini \r\n000000: COMPUTERNAME=BENCH7\r\n000000: USERNAME=\r\n"
            "000000: \r\n000000: ");
  std::string line = "   LogFile         : " + path;
  if (path.size() <= 58) {
    EXPECT_EQ(f.console.output(), line);
  }
}

// Runs started in the same second never share or replace a log: each takes
// the next free name, and whatever stands at a name (even a link) is passed by.
TEST_F(OpenRunLogTest, RunsOfTheSameSecondEachGetTheirOwnLog) {
  ASSERT_TRUE(CreateFolders(LogFolder()));
  const std::string first = LogFileName(LogFolder(), f.clock.Now());
  ASSERT_TRUE(WriteTextFile(first, "earlier run"));
  const std::string target = folder.File("elsewhere.txt");
  ASSERT_TRUE(WriteTextFile(target, "kept"));
  const std::string second = LogFileName(LogFolder(), f.clock.Now(), 2);
  std::error_code noLinks;  // where links cannot be made, a file stands there instead
  std::filesystem::create_symlink(target, second, noLinks);
  if (noLinks) {
    ASSERT_TRUE(WriteTextFile(second, "another run"));
  }

  OpenRunLog(f.runtime, LogFolder(), {"prog"});
  f.out.CloseLog();
  EXPECT_EQ(ReadTextFile(first), "earlier run");
  EXPECT_EQ(ReadTextFile(target), "kept");
  const std::string third = LogFileName(LogFolder(), f.clock.Now(), 3);
  EXPECT_EQ(ReadTextFile(third).rfind("prog \r\n", 0), 0u);
  EXPECT_NE(f.console.output().find("   LogFile         : " + third.substr(0, 58)),
            std::string::npos);
}

TEST_F(OpenRunLogTest, LongPathContinuesOnASecondLine) {
  std::string deep = LogFolder() + PathSeparator() + std::string(60, 'd');
  OpenRunLog(f.runtime, deep, {"prog"});
  std::string path = LogFileName(deep, f.clock.Now());
  ASSERT_GT(path.size(), 58u);
  EXPECT_EQ(f.console.output(), "   LogFile         : " + path.substr(0, 58) + "\r\n" +
                                    std::string(21, ' ') + path.substr(58));
}

TEST_F(OpenRunLogTest, UncreatableLogEndsTheRunWithCode1) {
  // A plain file where the folder should be: neither folder nor log can exist.
  ASSERT_TRUE(WriteTextFile(LogFolder(), "in the way"));
  int code = f.ExitCodeOf([&] { OpenRunLog(f.runtime, LogFolder(), {"prog"}); });
  EXPECT_EQ(code, 1);
  EXPECT_NE(f.console.output().find("Fatal error: "), std::string::npos);
  EXPECT_FALSE(f.out.logOpen());
}

// A log folder that cannot be made is the cause named, not the log file's
// own failure that follows from it, in the system's words for what the
// folder's creation met (on Windows from GetLastError, not errno).
TEST_F(OpenRunLogTest, UncreatableFolderIsTheReportedCause) {
  ASSERT_TRUE(WriteTextFile(folder.File("file"), "in the way"));
  const std::string inner = folder.File("file") + PathSeparator() + "LogFiles";
  int code = f.ExitCodeOf([&] { OpenRunLog(f.runtime, inner, {"prog"}); });
  EXPECT_EQ(code, 1);
#if defined(_WIN32)
  const unsigned long notAFolder = 3;  // ERROR_PATH_NOT_FOUND
#else
  const unsigned long notAFolder = ENOTDIR;
#endif
  EXPECT_NE(f.console.output().find("Fatal error: Cannot create the log folder " + inner + ": " +
                                    SystemErrorText(notAFolder)),
            std::string::npos)
      << f.console.output();
}

}  // namespace
}  // namespace kel
