#include "files/extracted_file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kel
