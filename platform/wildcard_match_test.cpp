#include "platform/wildcard_match.h"

#include <gtest/gtest.h>

#include <string>

namespace kel {
namespace {

TEST(WildcardMatchTest, StarAndQuestionMark) {
  EXPECT_TRUE(WildcardMatch("20*.log", "2026-12-06 18-11-26.log", true));
  EXPECT_TRUE(WildcardMatch("20*.log", "20.log", true));  // '*' may take nothing
  EXPECT_FALSE(WildcardMatch("20*.log", "2026.log.bak", true));
  EXPECT_FALSE(WildcardMatch("20*.log", "1999.log", true));
  EXPECT_TRUE(WildcardMatch("com?", "com3", true));
  EXPECT_FALSE(WildcardMatch("com?", "com", true));
  EXPECT_FALSE(WildcardMatch("com?", "com12", true));
  EXPECT_TRUE(WildcardMatch("*", "", true));
  EXPECT_TRUE(WildcardMatch("*", ".hidden", true));
  EXPECT_FALSE(WildcardMatch("", "a", true));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc", true));  // needs backtracking
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ", true));
}

TEST(WildcardMatchTest, CaseRule) {
  EXPECT_FALSE(WildcardMatch("*.LOG", "x.log", true));
  EXPECT_TRUE(WildcardMatch("*.LOG", "x.log", false));
  // Only ASCII letters fold; other bytes must be equal.
  EXPECT_FALSE(WildcardMatch("\xC4", "\xE4", false));
}

TEST(WildcardMatchTest, ManyStarsOnLongNameStayFast) {
  // A pattern that makes naive recursion exponential must still finish.
  std::string name(5000, 'a');
  EXPECT_FALSE(WildcardMatch("*a*a*a*a*a*a*a*a*a*b", name, true));
  EXPECT_TRUE(WildcardMatch("*a*a*a*a*a*a*a*a*a*", name, true));
}

}  // namespace
}  // namespace kel
