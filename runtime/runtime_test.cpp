#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/parameter_file.h"
#include "runtime/stop_handler.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

TEST(Prompts, PressEnterWaitsForOneKeyUnlessTold) {
  RuntimeFixture f{"q"};
  f.out.Print(Sink::kInfo, "done\r\n");
  f.runtime.PressEnter();
  f.out.Print(Sink::kInfo, "after\r\n");
  EXPECT_EQ(f.console.output(), "done\r\nPress Enter key to continueq\r\nafter");
}

TEST(Prompts, PressEnterIsSilentUnderYesOrManufacturing) {
  RuntimeFixture yes{"q"};
  yes.options.yesToPrompts = true;
  yes.runtime.PressEnter();
  EXPECT_EQ(yes.console.output(), "");

  RuntimeFixture manufacturing{"q"};
  manufacturing.options.manufacturingMode = true;
  manufacturing.runtime.PressEnter();
  EXPECT_EQ(manufacturing.console.output(), "");
}

TEST(Prompts, PressEnterReturnsAtEndOfInput) {
  RuntimeFixture f;  // no keys: input closed
  f.runtime.PressEnter();
  EXPECT_EQ(f.console.output(), "Press Enter key to continue\r\n");
}

TEST(Prompts, AskYesNoAcceptsOnlyY) {
  RuntimeFixture f{"yYnx"};
  EXPECT_TRUE(f.runtime.AskYesNo("Upgrade?"));
  EXPECT_TRUE(f.runtime.AskYesNo("Upgrade?"));
  EXPECT_FALSE(f.runtime.AskYesNo("Upgrade?"));
  EXPECT_FALSE(f.runtime.AskYesNo("Upgrade?"));
  EXPECT_FALSE(f.runtime.AskYesNo("Upgrade?"));  // end of input is no
  EXPECT_EQ(f.console.output().substr(0, 34), "Upgrade? (y/n)y\r\nUpgrade? (y/n)Y\r\n");

  RuntimeFixture yes;
  yes.options.yesToPrompts = true;
  EXPECT_TRUE(yes.runtime.AskYesNo("Upgrade?"));
  EXPECT_EQ(yes.console.output(), "");
}

class FatalErrorTest : public ::testing::Test {
 protected:
  int Fatal(const std::string& message) {
    return f.ExitCodeOf([&] { f.runtime.FatalError(message); });
  }
  TemporaryFolder folder;
  RuntimeFixture f{"k"};
  int portCloses = 0;
};

TEST_F(FatalErrorTest, WithoutParameterFileExitsOneAfterClosingEverything) {
  f.runtime.closePort = [&] { ++portCloses; };
  std::string log = folder.File("run.log");
  ASSERT_TRUE(f.OpenLog(log));
  EXPECT_EQ(Fatal("Unable to connect to Ponderix unit"), 1);
  EXPECT_EQ(portCloses, 1);
  EXPECT_FALSE(f.out.logOpen());
  EXPECT_EQ(f.console.output(),
            "Fatal Error: Unable to connect to Ponderix unit\r\nPress Enter key to continuek\r\n");
  EXPECT_EQ(ReadTextFile(log),
            "Fatal Error: Unable to connect to Ponderix unit\r\n000000: \r\n000000: ");
}

TEST_F(FatalErrorTest, WithParameterFileStoresTheMessageAndExitsTwo) {
  f.options.parameterFile = folder.File("job.ini");
  ASSERT_TRUE(WriteTextFile(f.options.parameterFile, "KelManufacture=0\r\nMessage=stale\r\n"));
  f.options.yesToPrompts = true;
  EXPECT_EQ(Fatal("Aborted"), 2);
  EXPECT_EQ(ReadTextFile(f.options.parameterFile), "KelManufacture=0\r\nMessage=Aborted\r\n");
  EXPECT_EQ(f.console.output(), "Fatal Error: Aborted");
  // A message with its own line end is stored as the one line it is.
  EXPECT_EQ(Fatal("Unable to update unit\r\n"), 2);
  EXPECT_EQ(ReadTextFile(f.options.parameterFile),
            "KelManufacture=0\r\nMessage=Unable to update unit\r\n");
}

// After progress dots (console only, no line end) the message starts a line
// of its own; after a line that ended, no empty line comes between.
TEST_F(FatalErrorTest, StartsOnALineOfItsOwn) {
  f.options.yesToPrompts = true;
  f.out.Print(Sink::kConsole, "........");
  EXPECT_EQ(Fatal("Unable to program flash"), 1);
  EXPECT_EQ(f.console.output(), "........\r\nFatal Error: Unable to program flash");
  RuntimeFixture ended;
  ended.options.yesToPrompts = true;
  ended.out.Print(Sink::kInfo, "-- erasing\r\n");
  EXPECT_EQ(ended.ExitCodeOf([&] { ended.runtime.FatalError("Aborted"); }), 1);
  EXPECT_EQ(ended.console.output(), "-- erasing\r\nFatal Error: Aborted");
}

TEST_F(FatalErrorTest, ParameterFileNamedButMissingIsCreated) {
  f.options.parameterFile = folder.File("new.ini");
  f.options.yesToPrompts = true;
  EXPECT_EQ(Fatal("Aborted"), 2);
  EXPECT_EQ(GetParam(f.runtime, f.options.parameterFile, "Message"), "Aborted");
}

TEST(AssertReport, PrintsSourceAndLineThenWaitsAndExitsOne) {
  RuntimeFixture f{"z"};
  f.out.Print(Sink::kInfo, "working\r\n");
  int code = f.ExitCodeOf([&] { f.runtime.AssertFailed("remote_file.cpp", 120); });
  EXPECT_EQ(code, 1);
  EXPECT_EQ(f.console.output(), "working\r\n\r\nAssert Failed:remote_file.cpp:120\r\nz");
}

TEST(StopHandlerTest, ActsOnlyWhileArmedAndOnlyOnce) {
  TemporaryFolder folder;
  RuntimeFixture f;
  int portCloses = 0;
  f.runtime.closePort = [&] { ++portCloses; };
  // The update history's hook: the unit the stop cut short is recorded once.
  std::vector<std::string> recorded;
  f.runtime.onFatalError = [&](const std::string& why) { recorded.push_back(why); };
  StopHandler handler(f.runtime);

  handler.Run();
  EXPECT_EQ(f.console.output(), "");
  EXPECT_EQ(portCloses, 0);

  std::string log = folder.File("run.log");
  ASSERT_TRUE(f.OpenLog(log));
  handler.Arm();
  f.out.Print(Sink::kInfo, "Searching\r\n");
  handler.Run();
  handler.Run();
  EXPECT_EQ(portCloses, 1);
  EXPECT_EQ(recorded, std::vector<std::string>{"stopped"});
  EXPECT_FALSE(f.out.logOpen());
  EXPECT_EQ(f.console.output(), "Searching\r\n\r\n-- stopped\r\n");
  EXPECT_EQ(ReadTextFile(log),
            "Searching\r\n000000: \r\n000000: -- stopped\r\n000000: \r\n000000: ");
}

TEST(StopHandlerTest, ProcessHandlerRunsTheOneSet) {
  RuntimeFixture f;
  StopHandler handler(f.runtime);
  handler.Arm();
  SetProcessStopHandler(&handler);
  RunProcessStopHandler();
  SetProcessStopHandler(nullptr);
  RunProcessStopHandler();
  EXPECT_EQ(f.console.output(), "\r\n-- stopped\r\n");
}

}  // namespace
}  // namespace kel
