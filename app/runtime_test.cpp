#include "app/runtime.h"

#include <gtest/gtest.h>

#include "app/parameter_file.h"
#include "app/stop_handler.h"
#include "tests/app_fixture.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

TEST(Prompts, PressEnterWaitsForOneKeyUnlessTold) {
  AppFixture f{"q"};
  f.out.Print(Sink::kInfo, "done\r\n");
  f.rt.PressEnter();
  f.out.Print(Sink::kInfo, "after\r\n");
  EXPECT_EQ(f.console.output(), "done\r\nPress Enter key to continueq\r\nafter");
}

TEST(Prompts, PressEnterIsSilentUnderYesOrManufacturing) {
  AppFixture yes{"q"};
  yes.options.yesToPrompts = true;
  yes.rt.PressEnter();
  EXPECT_EQ(yes.console.output(), "");

  AppFixture manufacturing{"q"};
  manufacturing.options.manufacturingMode = true;
  manufacturing.rt.PressEnter();
  EXPECT_EQ(manufacturing.console.output(), "");
}

TEST(Prompts, PressEnterReturnsAtEndOfInput) {
  AppFixture f;  // no keys: input closed
  f.rt.PressEnter();
  EXPECT_EQ(f.console.output(), "Press Enter key to continue\r\n");
}

TEST(Prompts, AskYesNoAcceptsOnlyY) {
  AppFixture f{"yYnx"};
  EXPECT_TRUE(f.rt.AskYesNo("Upgrade?"));
  EXPECT_TRUE(f.rt.AskYesNo("Upgrade?"));
  EXPECT_FALSE(f.rt.AskYesNo("Upgrade?"));
  EXPECT_FALSE(f.rt.AskYesNo("Upgrade?"));
  EXPECT_FALSE(f.rt.AskYesNo("Upgrade?"));  // end of input is no
  EXPECT_EQ(f.console.output().substr(0, 34), "Upgrade? (y/n)y\r\nUpgrade? (y/n)Y\r\n");

  AppFixture yes;
  yes.options.yesToPrompts = true;
  EXPECT_TRUE(yes.rt.AskYesNo("Upgrade?"));
  EXPECT_EQ(yes.console.output(), "");
}

class FatalErrorTest : public ::testing::Test {
 protected:
  int Fatal(const std::string& message) {
    return f.ExitCodeOf([&] { f.rt.FatalError(message); });
  }
  TemporaryFolder folder;
  AppFixture f{"k"};
  int portCloses = 0;
};

TEST_F(FatalErrorTest, WithoutParameterFileExitsOneAfterClosingEverything) {
  f.rt.closePort = [&] { ++portCloses; };
  std::string log = folder.File("run.log");
  ASSERT_TRUE(f.out.OpenLogFile(log));
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
}

TEST_F(FatalErrorTest, ParameterFileNamedButMissingIsCreated) {
  f.options.parameterFile = folder.File("new.ini");
  f.options.yesToPrompts = true;
  EXPECT_EQ(Fatal("Aborted"), 2);
  EXPECT_EQ(GetParam(f.rt, f.options.parameterFile, "Message"), "Aborted");
}

TEST(AssertReport, PrintsSourceAndLineThenWaitsAndExitsOne) {
  AppFixture f{"z"};
  f.out.Print(Sink::kInfo, "working\r\n");
  int code = f.ExitCodeOf([&] { f.rt.AssertFailed("remote_file.cpp", 120); });
  EXPECT_EQ(code, 1);
  EXPECT_EQ(f.console.output(), "working\r\n\r\nAssert Failed:remote_file.cpp:120\r\nz");
}

TEST(StopHandlerTest, ActsOnlyWhileArmedAndOnlyOnce) {
  TemporaryFolder folder;
  AppFixture f;
  int portCloses = 0;
  f.rt.closePort = [&] { ++portCloses; };
  StopHandler handler(f.rt);

  handler.Run();
  EXPECT_EQ(f.console.output(), "");
  EXPECT_EQ(portCloses, 0);

  std::string log = folder.File("run.log");
  ASSERT_TRUE(f.out.OpenLogFile(log));
  handler.Arm();
  f.out.Print(Sink::kInfo, "Searching\r\n");
  handler.Run();
  handler.Run();
  EXPECT_EQ(portCloses, 1);
  EXPECT_FALSE(f.out.logOpen());
  EXPECT_EQ(f.console.output(), "Searching\r\n\r\n-- stopped\r\n");
  EXPECT_EQ(ReadTextFile(log),
            "Searching\r\n000000: \r\n000000: -- stopped\r\n000000: \r\n000000: ");
}

TEST(StopHandlerTest, ProcessHandlerRunsTheOneSet) {
  AppFixture f;
  StopHandler handler(f.rt);
  handler.Arm();
  SetProcessStopHandler(&handler);
  RunProcessStopHandler();
  SetProcessStopHandler(nullptr);
  RunProcessStopHandler();
  EXPECT_EQ(f.console.output(), "\r\n-- stopped\r\n");
}

}  // namespace
}  // namespace kel
