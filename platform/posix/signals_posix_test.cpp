#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/posix/child_process_posix_test.h"
#include "platform/serial_device.h"
#include "platform/signals.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

// The exit handler's proof of having run.
int gHandlerReport = -1;
void ReportExitHandler() { WriteAll(gHandlerReport, "handler\n"); }

// A child that arms the handlers, says "ready", then sleeps long; the
// parent sends it `signal` once ready.
ChildResult SleepUntilSignalled(int signal) {
  return RunForked(
      [](int report) {
        gHandlerReport = report;
        RegisterExitHandler(ReportExitHandler);
        InstallStopSignals();
        WriteAll(report, StopRequested() ? "early\n" : "ready\n");
        SystemClock().Sleep(20000);
        WriteAll(report, "slept\n");
      },
      10000,
      [signal](int pid, int report) {
        ReadUntil(report, "ready\n", 3000);
        kill(pid, signal);
      });
}

TEST(SignalsPosixTest, StopSignalsEndSleepWithCodeOneThroughExitHandler) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGABRT}) {
    auto start = std::chrono::steady_clock::now();
    ChildResult child = SleepUntilSignalled(signal);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(child.exitCode, 1) << "signal " << signal;
    EXPECT_EQ(child.report, "handler\n") << "signal " << signal;
    // Woken at once rather than after the 20 s sleep.
    EXPECT_LT(took, std::chrono::seconds(8)) << "signal " << signal;
  }
}

TEST(SignalsPosixTest, StopDescriptorBecomesReadable) {
  ChildResult child = RunForked([](int report) {
    InstallStopSignals();
    struct pollfd before = {StopSignalFd(), POLLIN, 0};
    std::string seen = poll(&before, 1, 0) == 0 ? "quiet " : "busy ";
    raise(SIGTERM);
    struct pollfd after = {StopSignalFd(), POLLIN, 0};
    seen += poll(&after, 1, 0) == 1 ? "readable " : "silent ";
    seen += StopRequested() ? "stop" : "run";
    WriteAll(report, seen);
  });
  EXPECT_EQ(child.report, "quiet readable stop");
  EXPECT_EQ(child.exitCode, 0);  // nothing ended it: only a wait does
}

// An abort the process raises itself cannot wait for the orderly stop, yet
// it still lets the port go as it was found and deletes the lock marker.
TEST(SignalsPosixTest, AbortInsideProcessReleasesPortAndMarkerAndExitsWithCodeOne) {
  TemporaryFolder dir;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ASSERT_EQ(symlink(ptsname(master), dir.File("com5").c_str()), 0);
  termios before{};
  ASSERT_EQ(tcgetattr(master, &before), 0);
  before.c_lflag |= ECHO | ICANON;
  ASSERT_EQ(tcsetattr(master, TCSANOW, &before), 0);
  const std::string marker = dir.File("lockPonderixCommPort5");
  ASSERT_TRUE(WriteTextFile(marker, ""));

  ChildResult child = RunForked([&](int report) {
    setenv("PONDERIXCOMDIR", dir.path().c_str(), 1);
    InstallStopSignals();
    RemoveFileOnAbort(marker);
    SerialOpenError error;
    auto port = SystemSerialPorts().Open(5, SerialConfig{}, error);
    WriteAll(report, port ? "open\n" : "not open\n");
    std::abort();
  });
  EXPECT_EQ(child.report, "open\n");
  EXPECT_EQ(child.signal, 0);
  EXPECT_EQ(child.exitCode, 1);
  EXPECT_FALSE(FileExists(marker));
  termios after{};
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave, 0);
  int exclusive = 1;
  ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(slave);
  close(master);
}

}  // namespace
}  // namespace kel
