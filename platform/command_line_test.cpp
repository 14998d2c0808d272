#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(CommandLineTest, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(QuoteWindowsArgument("COM3"), "COM3");
  EXPECT_EQ(QuoteWindowsArgument("C:\\dir\\file"), "C:\\dir\\file");  // no quote, no escape
  EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
  EXPECT_EQ(QuoteWindowsArgument("a b"), "\"a b\"");
  EXPECT_EQ(QuoteWindowsArgument("tab\there"), "\"tab\there\"");
}

TEST(CommandLineTest, EscapesQuotesAndBackslashesBeforeThem) {
  EXPECT_EQ(QuoteWindowsArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
  // A backslash before a quote is doubled, then the quote escaped.
  EXPECT_EQ(QuoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
  // Trailing backslashes are doubled so they do not escape the closing quote.
  EXPECT_EQ(QuoteWindowsArgument("C:\\Program Files\\"), "\"C:\\Program Files\\\\\"");
  // Backslashes elsewhere stay single.
  EXPECT_EQ(QuoteWindowsArgument("C:\\a b\\c"), "\"C:\\a b\\c\"");
}

TEST(CommandLineTest, JoinsProgramAndArguments) {
  EXPECT_EQ(BuildWindowsCommandLine("C:\\Kel Boot\\KelBoot.exe", {"COM3", "-l", "-s", ""}),
            "\"C:\\Kel Boot\\KelBoot.exe\" COM3 -l -s \"\"");
}

}  // namespace
}  // namespace kel
