#include "files/extracted_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/platform_test_support.h"

namespace kel {
namespace {

// Two stations copying logs of units with the same name into one folder at
// once: neither takes the other's half-written copy, and each file is
// complete when it is moved to the name.
TEST(ExtractedFile, TwoRunsWritingTheSameNameKeepTheirOwnCopies) {
  TemporaryFolder folder;
  const std::string path = folder.File("ConfigurationLog_05 PX0 KT5 4711.txt");
  ExtractedFile first;
  ExtractedFile second;
  ASSERT_TRUE(first.Create(path));
  const uint8_t a[] = {'a', 'a'};
  ASSERT_TRUE(first.Write(a, sizeof a));
  ASSERT_TRUE(second.Create(path));
  const uint8_t b[] = {'b'};
  ASSERT_TRUE(second.Write(b, sizeof b));

  ASSERT_TRUE(first.Close());
  EXPECT_EQ(ReadTextFile(path), "aa");
  ASSERT_TRUE(second.Close());
  EXPECT_EQ(ReadTextFile(path), "b");
}

// A companion left by a run that was killed a day ago is removed and its
// name taken; one still being written (fresh) is left alone.
TEST(ExtractedFile, ACompanionLeftByAKilledRunIsReused) {
  TemporaryFolder folder;
  const std::string path = folder.File("CrashLog_07 PX0 KT5 77.txt");
  ASSERT_TRUE(WriteTextFile(path + ".000", "stale"));
  std::filesystem::last_write_time(path + ".000", std::filesystem::file_time_type::clock::now() -
                                                      std::chrono::hours(25));
  ASSERT_TRUE(WriteTextFile(path + ".001", "fresh"));
  ExtractedFile file;
  ASSERT_TRUE(file.Create(path));
  const uint8_t c[] = {'c'};
  ASSERT_TRUE(file.Write(c, sizeof c));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(ReadTextFile(path), "c");
  EXPECT_FALSE(std::filesystem::exists(path + ".000"));
  EXPECT_EQ(ReadTextFile(path + ".001"), "fresh");
}

}  // namespace
}  // namespace kel
