// End to end: the real program meets stop signals, a reader that goes
// away and a terminal as its console (POSIX only).
#if !defined(_WIN32)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/e2e_fixture.h"
#include "tests/sample_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

// A unit that never answers: the run stays in its search until stopped.
constexpr char kMuteUnit[] = R"(
[port]
number = 3
fault = unplug
[unit mute]
place = connected
card = 659
software = 6.10r57
)";

class SignalRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
    UsePrivateCopy();
  }
};

// Every stop signal, a closed terminal or session (SIGHUP) among them, ends
// the run the same way: exit code 1, "-- stopped", the lock file gone and
// the log closed with the stop in it.
TEST_F(SignalRun, StopSignalsReleasePortLockFileAndLog) {
  StartSim(kMuteUnit, 3);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    const size_t logsBefore = Logs().size();
    EXPECT_EQ(RunAndSignal("-i -y 3", 800, signal), 1) << "signal " << signal << ": " << output;
    EXPECT_TRUE(Has("COM3 opened\r\n")) << output;
    EXPECT_TRUE(Has("\r\n-- stopped\r\n")) << output;
    EXPECT_TRUE(fs::is_empty(lockDir())) << "signal " << signal;
    const std::vector<std::string> logs = Logs();
    ASSERT_EQ(logs.size(), logsBefore + 1);
    const std::string log = ReadTextFile(logs.back());
    EXPECT_NE(log.find(": -- stopped\r\n"), std::string::npos) << log;
  }
}

// A reader that goes away (| head -c 1) changes nothing: the run goes on,
// logs everything and ends as it would have.
TEST_F(SignalRun, AClosedOutputPipeDoesNotEndTheRun) {
  StartSim(std::string("\n[port]\nnumber = 3") + kKt3WithTwoRemotes, 3);
  const std::string code = home.File("code.txt");
  const std::string command = "cd " + Quoted(home.path()) + " && (" + Command("-i -y 3") +
                              " </dev/null 2>&1; echo $? >" + Quoted(code) +
                              ") | head -c 1 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(std::atoi(ReadTextFile(code).c_str()), 0);
  EXPECT_TRUE(fs::is_empty(lockDir()));
  const std::vector<std::string> logs = Logs();
  ASSERT_FALSE(logs.empty());
  const std::string log = ReadTextFile(logs.back());
  EXPECT_NE(log.find(": Ponderix Unit(s) found: 7 9\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("-- stopped"), std::string::npos);
}

// Ctrl-C at the very first prompt (that of the usage text) on a terminal:
// the terminal gets its echo and line mode back.
TEST(ConsoleRun, CtrlCAtTheFirstPromptLeavesTheTerminalAsItWas) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  termios before{};
  ASSERT_EQ(tcgetattr(master, &before), 0);
  before.c_lflag |= ECHO | ICANON | ISIG;
  before.c_iflag |= ICRNL;
  ASSERT_EQ(tcsetattr(master, TCSANOW, &before), 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A session of its own with the terminal as its controlling terminal,
    // so Ctrl-C there reaches it as an operator's would.
    setsid();
    const int fd = open(slave.c_str(), O_RDWR);
    if (fd < 0) _exit(90);
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    execl(KEL_BINARY_PATH, KEL_BINARY_PATH, "-z", static_cast<char*>(nullptr));
    _exit(91);
  }

  std::string seen;
  for (int waited = 0;
       seen.find("Press Enter key to continue") == std::string::npos && waited < 5000;
       waited += 10) {
    pollfd fd = {master, POLLIN, 0};
    if (poll(&fd, 1, 10) == 1) {
      char buffer[512];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, static_cast<size_t>(n));
    }
  }
  ASSERT_NE(seen.find("Press Enter key to continue"), std::string::npos) << seen;
  // The prompt text is out just before the key read switches the terminal
  // to one key at a time; the Ctrl-C must come while it waits in that mode.
  termios waiting{};
  for (int waited = 0; waited < 5000; waited += 10) {
    ASSERT_EQ(tcgetattr(master, &waiting), 0);
    if ((waiting.c_lflag & (ECHO | ICANON)) == 0) break;
    usleep(10000);
  }
  EXPECT_EQ(waiting.c_lflag & (ECHO | ICANON), 0u);

  ASSERT_EQ(write(master, "\x03", 1), 1);
  int status = 0;
  for (int waited = 0; waitpid(child, &status, WNOHANG) == 0 && waited < 5000; waited += 10) {
    usleep(10000);
  }
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  termios after{};
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG), static_cast<tcflag_t>(ECHO | ICANON | ISIG));
  EXPECT_EQ(after.c_iflag & ICRNL, static_cast<tcflag_t>(ICRNL));
  kill(child, SIGKILL);
  waitpid(child, &status, WNOHANG);
  close(master);
}

}  // namespace
}  // namespace kel

#endif
