// Runs killed with SIGKILL at random moments of a parameter-file rewrite
// and of the log clean-up: a child process repeats the operation without
// end, the test kills it after a random delay and looks at what is left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "platform/files.h"
#include "runtime/log_file.h"
#include "runtime/parameter_file.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

// Starts `work` in a child that repeats it until killed, kills it with
// SIGKILL after a random delay of up to `maxDelayUs`, and reaps it.
void KillDuring(const std::function<void()>& work, std::mt19937& random, int maxDelayUs) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (;;) work();
  }
  std::this_thread::sleep_for(
      std::chrono::microseconds(std::uniform_int_distribution<int>(0, maxDelayUs)(random)));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
      << "the child ended by itself: its work failed";
}

TEST(InterruptedRuns, ParameterFileIsAlwaysTheOldOrTheNewWhole) {
  TemporaryFolder folder;
  const std::string path = folder.File("job.ini");
  // Large enough that one rewrite takes a while, so kills land inside it.
  std::string body = "KelManufacture=1\r\nProgram=KT3\r\n";
  for (int i = 0; i < 4000; ++i) body += "Line" + std::to_string(i) + "=padding padding\r\n";
  const std::string old = body + "Message=old\r\n";
  const std::string fresh = body + "Message=new\r\n";
  ASSERT_TRUE(WriteTextFile(path, old));

  std::mt19937 random(15);
  for (int round = 0; round < 150; ++round) {
    KillDuring(
        [&] {
          RuntimeFixture f;
          WriteParam(f.runtime, path, kParamMessage, "new");
          WriteParam(f.runtime, path, kParamMessage, "old");
        },
        random, 8000);
    const std::string left = ReadTextFile(path);
    ASSERT_TRUE(left == old || left == fresh)
        << "round " << round << ": " << left.size() << " bytes, neither file";
  }
  // A companion left by a kill does not stop the next rewrite.
  RuntimeFixture f;
  WriteParam(f.runtime, path, kParamMessage, "new");
  EXPECT_EQ(ReadTextFile(path), fresh);
}

TEST(InterruptedRuns, LogCleanUpOnlyEverDeletesOldLogs) {
  TemporaryFolder folder;
  const LocalTime now{2026, 8, 22, 12, 0, 0};
  const std::vector<std::string> kept = {"2026-08-01 00-00-00.log", "2026-07-31 10-00-00.log",
                                         "2026-06-15 09-00-00_2.log", "notes.txt"};
  for (const std::string& name : kept) ASSERT_TRUE(WriteTextFile(folder.File(name), name));

  std::mt19937 random(15);
  for (int round = 0; round < 150; ++round) {
    KillDuring(
        [&] {
          for (int day = 10; day < 30; ++day) {
            for (int hour = 10; hour < 20; ++hour) {
              const std::string name =
                  "2025-01-" + std::to_string(day) + " " + std::to_string(hour) + "-00-00.log";
              WriteTextFile(folder.File(name), "old");
            }
          }
          // A lock left by the previous kill would skip the clean-up.
          DeleteFileAt(folder.File(kCleanupLockName));
          RuntimeFixture f;
          CleanUpOldLogs(f.runtime, folder.path(), now);
        },
        random, 8000);
    for (const std::string& name : kept) {
      ASSERT_EQ(ReadTextFile(folder.File(name)), name) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace kel
