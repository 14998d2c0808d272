#include "runtime/output.h"

#include <gtest/gtest.h>

#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

class ConsoleWriterTest : public ::testing::Test {
 protected:
  std::string Show(std::string_view text) {
    f.out.Write(Sink::kConsole, text);
    return f.console.output();
  }
  RuntimeFixture f{"x"};
};

TEST_F(ConsoleWriterTest, LineBreaksAreHeldUntilTheNextText) {
  EXPECT_EQ(Show("one\r\n"), "one");
  EXPECT_EQ(Show("two\r\n"), "one\r\ntwo");
  EXPECT_EQ(Show("."), "one\r\ntwo\r\n.");
}

TEST_F(ConsoleWriterTest, LoneBreaksCountOnceAndDoubleBreaksGiveOneEmptyLine) {
  EXPECT_EQ(Show("a\rb\nc\r\n\r\nd"), "a\r\nb\r\nc\r\n\r\nd");
}

TEST_F(ConsoleWriterTest, RepeatedFeedsOrReturnsEachGiveALine) {
  EXPECT_EQ(Show("a\n\n\nb"), "a\r\n\r\n\r\nb");
  f.console.ClearOutput();
  EXPECT_EQ(Show("\r\r\rc"), "\r\n\r\n\r\nc");
}

TEST_F(ConsoleWriterTest, PromptAfterTwoMessagesAndTextAfterTheAnswer) {
  f.out.Write(Sink::kInfo, "first\r\n");
  f.out.Write(Sink::kInfo, "second\r\n");
  f.out.Write(Sink::kConsole, "Continue? (y/n)");
  EXPECT_EQ(f.out.ReadPromptKey(), 'x');
  f.out.Write(Sink::kConsole, "\r\n");
  f.out.Write(Sink::kInfo, "next\r\n");
  EXPECT_EQ(f.console.output(), "first\r\nsecond\r\nContinue? (y/n)x\r\nnext");
}

TEST_F(ConsoleWriterTest, PromptSettlesAPendingBreakBeforeReading) {
  f.out.Write(Sink::kConsole, "dots...\r\n");
  f.out.SettlePrompt();
  EXPECT_EQ(f.console.output(), "dots...\r\n");
  // The break was spent: the next text follows on the same new line.
  f.out.Write(Sink::kConsole, "q");
  EXPECT_EQ(f.console.output(), "dots...\r\nq");
}

TEST_F(ConsoleWriterTest, FinishConsoleEndsAHeldLine) {
  f.out.Write(Sink::kConsole, "last\r\n");
  f.out.FinishConsole();
  f.out.FinishConsole();
  EXPECT_EQ(f.console.output(), "last\r\n");

  // A prompt's closing break is already out: no blank line at the end.
  f.console.ClearOutput();
  f.out.ReadPromptKey();
  f.out.Write(Sink::kConsole, "\r\n");
  f.out.FinishConsole();
  EXPECT_EQ(f.console.output(), "x\r\n");
}

TEST(OutputSinks, ConsoleShareFollowsTheOptions) {
  RuntimeFixture f;
  auto shown = [&](Sink sink) {
    f.console.ClearOutput();
    f.out.Write(sink, "t");
    return f.console.output() == "t";
  };
  EXPECT_TRUE(shown(Sink::kConsole));
  EXPECT_TRUE(shown(Sink::kInfo));
  EXPECT_FALSE(shown(Sink::kDebug));
  EXPECT_FALSE(shown(Sink::kDetail));
  EXPECT_TRUE(shown(Sink::kQuiet));

  f.options.debug = true;
  f.options.silent = true;
  EXPECT_TRUE(shown(Sink::kDebug));
  EXPECT_FALSE(shown(Sink::kDetail));
  EXPECT_FALSE(shown(Sink::kQuiet));
  f.options.detailedDebug = true;
  EXPECT_TRUE(shown(Sink::kDetail));
}

TEST(OutputSinks, PrintWritesNumbersInDecimal) {
  RuntimeFixture f;
  f.out.Print(Sink::kConsole, "n=", 42, " ", static_cast<uint8_t>(200), " ", -7, " ", 'c');
  EXPECT_EQ(f.console.output(), "n=42 200 -7 c");
}

class LogWriterTest : public ::testing::Test {
 protected:
  std::string path() { return folder.File("run.log"); }
  TemporaryFolder folder;
  RuntimeFixture f;
};

TEST_F(LogWriterTest, LinesAreStampedAndEveryButConsoleSinkIsLogged) {
  f.out.Write(Sink::kInfo, "before open\r\n");
  ASSERT_TRUE(f.OpenLog(path()));
  f.out.WriteLogRaw("prog -i ");
  f.out.WriteLog("\r\n");
  f.clock.Advance(42);
  f.out.Write(Sink::kConsole, "console only\r\n");
  f.out.Write(Sink::kInfo, "info\r\n");
  f.out.Write(Sink::kDebug, "debug\n");  // a lone LF is dropped from the log
  f.out.Write(Sink::kQuiet, "-quiet\r\n");
  f.clock.Advance(1234567);
  f.out.Write(Sink::kDetail, "detail\r\n");
  f.out.CloseLog();
  EXPECT_FALSE(f.out.logOpen());
  f.out.Write(Sink::kInfo, "after close\r\n");

  EXPECT_EQ(ReadTextFile(path()),
            "prog -i \r\n000000: info\r\n000042: debug-quiet\r\n000042: detail\r\n"
            "1234609: \r\n1234609: ");
}

TEST_F(LogWriterTest, ErrorHookActsOnlyDuringTheChipProbe) {
  ASSERT_TRUE(f.OpenLog(path()));
  f.out.ErrorHook("Error: dropped");
  f.out.chipProbeCounter = 1;
  f.out.ErrorHook("Error: logged only");
  f.options.debug = true;
  f.out.ErrorHook("Error: both");
  f.out.CloseLog();

  EXPECT_EQ(f.console.output(), "Error: both");
  EXPECT_EQ(ReadTextFile(path()),
            "Error: logged only\r\n000000: Error: both\r\n000000: \r\n000000: ");
}

TEST_F(LogWriterTest, OpenFailsInAMissingFolder) {
  EXPECT_FALSE(f.OpenLog(folder.File("missing/run.log")));
  EXPECT_FALSE(f.out.logOpen());
}

}  // namespace
}  // namespace kel
