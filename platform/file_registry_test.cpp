#include "platform/file_registry.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

constexpr char kCommPort[] = "SOFTWARE\\Arkwend\\Ponderix\\CommPort";

TEST(FileRegistryTest, ValueLivesInFileBelowBaseWithoutSoftwareLevel) {
  TemporaryFolder dir;
  FileRegistry registry(dir.path());
  std::string sep(1, PathSeparator());
  std::string file = dir.path() + sep + "Arkwend" + sep + "Ponderix" + sep + "CommPort";
  EXPECT_EQ(registry.ValueFile(kCommPort), file);

  EXPECT_EQ(registry.ReadString(kCommPort), "");  // nothing remembered yet
  registry.WriteString(kCommPort, "12");
  EXPECT_EQ(ReadTextFile(file), "12");  // just the string, folders made
  EXPECT_EQ(registry.ReadString(kCommPort), "12");
  registry.WriteString(kCommPort, "3");
  EXPECT_EQ(registry.ReadString(kCommPort), "3");

  registry.WriteString(kCommPort, "");  // empty deletes
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(registry.ReadString(kCommPort), "");
  registry.WriteString(kCommPort, "");  // deleting a missing value is silent
}

TEST(FileRegistryTest, ReadToleratesEditedAndOversizedFiles) {
  TemporaryFolder dir;
  FileRegistry registry(dir.path());
  registry.WriteString(kCommPort, "7");
  std::string file = registry.ValueFile(kCommPort);
  ASSERT_TRUE(WriteTextFile(file, "5\r\n"));  // saved by an editor
  EXPECT_EQ(registry.ReadString(kCommPort), "5");
  ASSERT_TRUE(WriteTextFile(file, std::string(10000, '9')));  // not a string we wrote
  EXPECT_EQ(registry.ReadString(kCommPort), "");
}

TEST(FileRegistryTest, PathsCannotLeaveTheBaseFolder) {
  TemporaryFolder dir;
  FileRegistry registry(dir.path());
  std::string escaped = registry.ValueFile("SOFTWARE\\..\\..\\..\\etc/passwd");
  EXPECT_EQ(escaped.rfind(dir.path(), 0), 0u);
  EXPECT_EQ(escaped.find(".."), std::string::npos);
  EXPECT_EQ(registry.ValueFile("SOFTWARE\\Arkwend\\"), "");  // no value name
  EXPECT_EQ(registry.ValueFile("SOFTWARE\\.."), "");
  EXPECT_EQ(FileRegistry("").ReadString(kCommPort), "");  // no settings folder
}

}  // namespace
}  // namespace kel
