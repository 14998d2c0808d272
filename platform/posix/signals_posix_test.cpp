#include "platform/signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/posix/child_process_posix_test.h"

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
  for (int signal : {SIGTERM, SIGINT, SIGABRT}) {
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

TEST(SignalsPosixTest, AbortInsideProcessExitsWithCodeOne) {
  ChildResult child = RunForked([](int report) {
    InstallStopSignals();
    WriteAll(report, "aborting\n");
    std::abort();
  });
  EXPECT_EQ(child.signal, 0);
  EXPECT_EQ(child.exitCode, 1);
}

}  // namespace
}  // namespace kel
