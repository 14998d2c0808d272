// The fatal way out against a real stop signal: the signal comes while the
// clean-ups run, which wait as the real ones do.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/clock.h"
#include "platform/posix/child_process_posix_test.h"
#include "platform/signals.h"
#include "runtime/parameter_file.h"
#include "runtime/runtime.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

TEST(FatalErrorPosix, AStopDuringTheCleanUpsWaitsForThem) {
  TemporaryFolder folder;
  const std::string job = folder.File("job.ini");
  ASSERT_TRUE(WriteTextFile(job, "Message=stale\r\n"));
  ChildResult child = RunForked([&](int report) {
    InstallStopSignals();
    RuntimeFixture f{"k"};
    f.options.parameterFile = job;
    std::string done;
    f.runtime.onFatalError = [&](const std::string&) {
      raise(SIGTERM);
      SystemClock().Sleep(5);  // the unit's restart waits for its answer
      done += "restarted ";
    };
    f.runtime.restoreLink = [&] {
      SystemClock().Sleep(5);
      done += "speed ";
    };
    const int code = f.ExitCodeOf([&] { f.runtime.FatalError("Aborted"); });
    WriteAll(report, std::to_string(code) + "|" + done + "|" + f.console.output());
  });
  // The stop has answered the last key wait; the fatal end keeps its code.
  EXPECT_EQ(child.report, "2|restarted speed |Fatal Error: Aborted");
  EXPECT_EQ(ReadTextFile(job), "Message=Aborted\r\n");
}

}  // namespace
}  // namespace kel
