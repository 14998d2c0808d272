#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/platform_test_support.h"

namespace kel {
namespace {

std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const FolderEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FilesTest, ListFolderMatchesPatternAndMarksFolders) {
  TemporaryFolder dir;
  for (const char* name : {"2026-11-01 10-00-00.log", "2026-12-06 18-11-26.log", "2026.txt",
                           "1999-01-01 00-00-00.log", "Cleanup.lck"}) {
    ASSERT_TRUE(WriteTextFile(dir.File(name), "x"));
  }
  ASSERT_TRUE(CreateFolders(dir.File("2030 folder.log")));

  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(dir.path(), "20*.log", entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"2026-11-01 10-00-00.log",
                                                      "2026-12-06 18-11-26.log", "2030 folder.log"}));
  for (const FolderEntry& e : entries) EXPECT_EQ(e.isFolder, e.name == "2030 folder.log");

  // "." and ".." are never listed, even for "*".
  entries.clear();
  ASSERT_TRUE(ListFolder(dir.path(), "*", entries));
  EXPECT_EQ(entries.size(), 6u);
  for (const FolderEntry& e : entries) EXPECT_TRUE(e.name != "." && e.name != "..");

  entries.clear();
  ASSERT_TRUE(ListFolder(dir.path(), "20??.txt", entries));
  EXPECT_EQ(Names(entries), std::vector<std::string>{"2026.txt"});
}

TEST(FilesTest, ListFolderNoMatchIsSuccessMissingFolderIsNot) {
  TemporaryFolder dir;
  std::vector<FolderEntry> entries;
  EXPECT_TRUE(ListFolder(dir.path(), "20*.log", entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(ListFolder(dir.File("missing"), "*", entries));
}

TEST(FilesTest, ExclusiveCreateFailsWhileFileExists) {
  TemporaryFolder dir;
  std::string lock = dir.File("Cleanup.lck");
  int first = CreateExclusiveFile(lock);
  ASSERT_GE(first, 0);
  EXPECT_EQ(CreateExclusiveFile(lock), -1);  // another run holds it
  CloseExclusiveFile(first);
  EXPECT_EQ(CreateExclusiveFile(lock), -1);  // a leftover file still blocks
  ASSERT_TRUE(DeleteFileAt(lock));
  int again = CreateExclusiveFile(lock);
  EXPECT_GE(again, 0);
  CloseExclusiveFile(again);
  EXPECT_FALSE(DeleteFileAt(dir.File("never there")));
}

TEST(FilesTest, ReplaceFileOverwritesExistingTarget) {
  TemporaryFolder dir;
  ASSERT_TRUE(WriteTextFile(dir.File("cfg.ini.000"), "Message=new\r\n"));
  ASSERT_TRUE(WriteTextFile(dir.File("cfg.ini"), "Message=old\r\n"));
  ASSERT_TRUE(ReplaceFile(dir.File("cfg.ini.000"), dir.File("cfg.ini")));
  EXPECT_EQ(ReadTextFile(dir.File("cfg.ini")), "Message=new\r\n");
  EXPECT_FALSE(FileExists(dir.File("cfg.ini.000")));
  EXPECT_FALSE(ReplaceFile(dir.File("cfg.ini.000"), dir.File("cfg.ini")));
}

TEST(FilesTest, CreateFoldersMakesParentsAndTellsFilesFromFolders) {
  TemporaryFolder dir;
  std::string sep(1, PathSeparator());
  std::string deep = dir.path() + sep + "a" + sep + "b" + sep + "LogFiles";
  ASSERT_TRUE(CreateFolders(deep));
  EXPECT_TRUE(CreateFolders(deep));  // already there is fine
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_FALSE(FileExists(deep));
  ASSERT_TRUE(WriteTextFile(dir.File("plain"), "x"));
  EXPECT_TRUE(FileExists(dir.File("plain")));
  EXPECT_FALSE(FolderExists(dir.File("plain")));
  EXPECT_FALSE(CreateFolders(dir.File("plain") + sep + "below"));  // a file is in the way
  EXPECT_TRUE(IsAbsolutePath(dir.path()));
  EXPECT_FALSE(IsAbsolutePath("LogFiles"));
  EXPECT_FALSE(CurrentDirectory().empty());
}

TEST(FilesTest, MakeWritableClearsReadOnly) {
  namespace fs = std::filesystem;
  TemporaryFolder dir;
  std::string file = dir.File("old.log");
  ASSERT_TRUE(WriteTextFile(file, "x"));
  fs::permissions(file, fs::perms::owner_read, fs::perm_options::replace);
  ASSERT_EQ(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
  ASSERT_TRUE(MakeWritable(file));
  EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(DeleteFileAt(file));
  EXPECT_FALSE(MakeWritable(file));  // gone
}

}  // namespace
}  // namespace kel
