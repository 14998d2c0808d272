#include "platform/reparse_tags.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(ReparseTagsTest, OnlyNameSurrogatesAreLinks) {
  struct Case {
    uint32_t tag;
    bool link;
  } cases[] = {
      {0xA000000C, true},   // symbolic link
      {0xA0000003, true},   // junction (mount point)
      {0xA000001D, true},   // WSL symbolic link
      {0x9000001A, false},  // cloud placeholder (OneDrive Files On-Demand)
      {0x9000701A, false},  // cloud placeholder, another provider slot
      {0x80000021, false},  // OneDrive
      {0x80000013, false},  // deduplicated file
  };
  for (const Case& c : cases) EXPECT_EQ(ReparseTagIsLink(c.tag), c.link) << std::hex << c.tag;
}

}  // namespace
}  // namespace kel
