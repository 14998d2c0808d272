#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/posix/child_process_posix_test.h"
#include "platform/signals.h"

namespace kel {
namespace {

// Each case runs in a child, because the system console reads the real
// standard input and remembers when it has ended.

// Puts `input` on standard input through a pipe (closed after it) and
// standard output into `echoFd`.
void FeedStdin(const std::string& input, int echoFd) {
  int in[2];
  if (pipe(in) != 0) _exit(90);
  WriteAll(in[1], input);
  close(in[1]);
  dup2(in[0], STDIN_FILENO);
  close(in[0]);
  dup2(echoFd, STDOUT_FILENO);
}

std::string Keys(Console& console, int count) {
  std::string seen;
  for (int i = 0; i < count; ++i) seen += std::to_string(console.ReadKey()) + " ";
  return seen;
}

TEST(ConsolePosixTest, PipedInputGivesOneKeyPerByteThenMinusOneAtOnce) {
  int echo[2];
  ASSERT_EQ(pipe(echo), 0);
  ChildResult child = RunForked([&](int report) {
    FeedStdin("y\x1b", echo[1]);
    Console& console = SystemConsole();
    std::string seen = console.KeyWaiting() ? "waiting " : "none ";
    seen += Keys(console, 2);
    seen += console.KeyWaiting() ? "waiting " : "none ";
    seen += Keys(console, 2);  // end of input: -1, and again -1
    console.PutChar('!');
    std::fflush(stdout);  // a pipe gets whole lines; _exit would drop the rest
    WriteAll(report, seen);
  });
  close(echo[1]);
  std::string echoed = ReadUntil(echo[0], "!", 1000);
  close(echo[0]);
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(child.report, "waiting 121 27 none -1 -1 ");
  EXPECT_EQ(echoed, "y\x1b!");  // keys are echoed when taken
}

TEST(ConsolePosixTest, NullOrClosedInputNeverBlocks) {
  ChildResult devNull = RunForked(
      [](int report) {
        int fd = open("/dev/null", O_RDONLY);
        dup2(fd, STDIN_FILENO);
        Console& console = SystemConsole();
        std::string seen = console.KeyWaiting() ? "waiting " : "none ";
        WriteAll(report, seen + Keys(console, 2));
      },
      3000);
  EXPECT_EQ(devNull.report, "none -1 -1 ");

  ChildResult closed = RunForked(
      [](int report) {
        close(STDIN_FILENO);
        Console& console = SystemConsole();
        std::string seen = console.KeyWaiting() ? "waiting " : "none ";
        WriteAll(report, seen + Keys(console, 1));
      },
      3000);
  EXPECT_EQ(closed.report, "none -1 ");
}

TEST(ConsolePosixTest, StopSignalEndsKeyWait) {
  int keys[2];
  ASSERT_EQ(pipe(keys), 0);
  ChildResult child = RunForked(
      [&](int report) {
        close(keys[1]);
        dup2(keys[0], STDIN_FILENO);  // open but silent: ReadKey would wait for ever
        InstallStopSignals();
        WriteAll(report, "ready\n");
        SystemConsole().ReadKey();
        WriteAll(report, "returned\n");
      },
      5000,
      [](int pid, int report) {
        ReadUntil(report, "ready\n", 3000);
        kill(pid, SIGINT);
      });
  close(keys[0]);
  close(keys[1]);
  EXPECT_EQ(child.exitCode, 1);
  EXPECT_EQ(child.report.find("returned"), std::string::npos);
}

}  // namespace
}  // namespace kel
