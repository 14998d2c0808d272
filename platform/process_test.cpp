#include "platform/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process_exit.h"
#include "platform/signals.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

// The test binary doubles as the child program: started with this variable
// set, it acts before any test runs and exits. "exit:N" exits with N;
// "args:FILE" writes its arguments to FILE, one per line, then exits 0;
// "stop:FILE" raises SIGTERM on itself and sleeps, and its exit handler
// writes "handler" to FILE.
constexpr char kChildVariable[] = "KEL_PLATFORM_TEST_CHILD";

std::string gHandlerFile;
void WriteHandlerMark() { WriteTextFile(gHandlerFile, "handler"); }

struct ChildMode {
  ChildMode() {
    const char* mode = std::getenv(kChildVariable);
    if (mode == nullptr || mode[0] == '\0') return;
    std::string text = mode;
    if (text.rfind("exit:", 0) == 0) std::exit(std::atoi(text.c_str() + 5));
    if (text.rfind("args:", 0) == 0) {
      std::string lines;
      std::vector<std::string> args = OwnArguments();
      for (size_t i = 1; i < args.size(); ++i) lines += args[i] + "\n";
      std::exit(WriteTextFile(text.substr(5), lines) ? 0 : 99);
    }
    if (text.rfind("stop:", 0) == 0) {
      gHandlerFile = text.substr(5);
      RegisterExitHandler(WriteHandlerMark);
      InstallStopSignals();
      std::raise(SIGTERM);
      try {
        SystemClock().Sleep(20000);  // must end the process at once
      } catch (const ExitRequested& end) {
        std::_Exit(end.code);  // as main returns it; the handler has run
      }
      std::exit(97);
    }
    std::exit(98);
  }
};
const ChildMode gChildMode;

// Runs this test binary as a child in `mode`; its exit code, or -100 when
// it did not end by exiting.
int RunSelf(const std::string& mode, const std::vector<std::string>& args) {
  SetProcessEnvironment(kChildVariable, mode.c_str());
  const ProcessResult result = RunProcess(ExecutablePath(), args);
  SetProcessEnvironment(kChildVariable, nullptr);
  return result.end == ProcessEnd::kExited ? result.exitCode : -100;
}

TEST(ProcessTest, ExecutablePathNamesThisProgram) {
  std::string self = ExecutablePath();
  EXPECT_TRUE(IsAbsolutePath(self));
  EXPECT_TRUE(FileExists(self));
  EXPECT_NE(self.find("kel_tests"), std::string::npos);
}

// Every exit code is the child's own, also those that look like markers:
// a Windows child's -1 and -2 (0xFFFFFFFF, 0xFFFFFFFE) are exit codes like
// any other (POSIX keeps their low eight bits).
TEST(ProcessTest, ReturnsChildExitCode) {
  EXPECT_EQ(RunSelf("exit:0", {}), 0);
  EXPECT_EQ(RunSelf("exit:3", {}), 3);
  EXPECT_EQ(RunSelf("exit:200", {}), 200);
#if defined(_WIN32)
  EXPECT_EQ(RunSelf("exit:-1", {}), -1);
  EXPECT_EQ(RunSelf("exit:-2", {}), -2);
#else
  EXPECT_EQ(RunSelf("exit:-1", {}), 255);
  EXPECT_EQ(RunSelf("exit:-2", {}), 254);
#endif
}

TEST(ProcessTest, PassesArgumentsIntactWithoutShell) {
  TemporaryFolder dir;
  std::string out = dir.File("args.txt");
  std::vector<std::string> args = {"COM3",  "-l", "with space", "",  "quote\"inside",
                                   "trail\\", "$HOME", "a;b|c", "*"};
  ASSERT_EQ(RunSelf("args:" + out, args), 0);
  std::string expected;
  for (const std::string& a : args) expected += a + "\n";
  EXPECT_EQ(ReadTextFile(out), expected);
}

TEST(ProcessTest, AMissingProgramIsNotStarted) {
  TemporaryFolder dir;
  EXPECT_EQ(RunProcess(dir.File("KelBoot.exe"), {"COM1"}).end, ProcessEnd::kNotStarted);
  EXPECT_EQ(RunProcess(dir.path(), {}).end, ProcessEnd::kNotStarted);  // a folder cannot be run
}

TEST(ProcessTest, StopSignalEndsNextWaitWithCodeOneThroughExitHandler) {
  TemporaryFolder dir;
  std::string mark = dir.File("handler.txt");
  EXPECT_EQ(RunSelf("stop:" + mark, {}), 1);
  EXPECT_EQ(ReadTextFile(mark), "handler");
}

TEST(ProcessTest, ThreadIdIsStable) {
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
  EXPECT_NE(CurrentThreadId(), 0u);
}

}  // namespace
}  // namespace kel
