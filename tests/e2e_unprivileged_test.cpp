// End to end as an ordinary user: the test process is root (as in CI), so
// the program runs as "nobody" through setpriv, with a copy of it in a
// folder that user owns and the simulator's pseudo-terminal handed over.
// Root passes every permission check, which hid faults only users meet.
#if !defined(_WIN32)

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e_fixture.h"
#include "tests/sample_units.h"
#include "tests/update_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;


class UnprivilegedRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    if (geteuid() != 0) GTEST_SKIP() << "switching to an ordinary user needs root";
    const passwd* user = getpwnam("nobody");
    if (user == nullptr) GTEST_SKIP() << "no user \"nobody\" on this system";
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "setpriv (util-linux) is not installed";
    }
    uid_ = user->pw_uid;
    gid_ = user->pw_gid;
    ProgramRunFixture::SetUp();
    UsePrivateCopy();
    fs::create_directories(home.File("config"));
    for (const std::string& path : {home.File("bin"), lockDir(), home.File("config")}) {
      ASSERT_EQ(chown(path.c_str(), uid_, gid_), 0) << path;
    }
    runAs = "setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
            " --clear-groups ";
  }

  // The device behind COM`port`, given to the ordinary user.
  std::string HandOverPort(int port) {
    const std::string device = fs::canonical(comDir() + "/com" + std::to_string(port)).string();
    EXPECT_EQ(chown(device.c_str(), uid_, gid_), 0) << device;
    return device;
  }

  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

// Interrogation as an ordinary user, twice on the same port: the first run
// changes speed by reopening its port, and the second finds the port as
// the first one left it.
TEST_F(UnprivilegedRun, InterrogatesAUnitAndLeavesThePortForTheNextRun) {
  StartSim(std::string(kOnComThree) + kKt3WithTwoRemotes, 3);
  HandOverPort(3);
  for (int run = 1; run <= 2; ++run) {
    ASSERT_EQ(Run("-i -y 3"), 0) << "run " << run << ": " << output;
    EXPECT_TRUE(Has("Ponderix Unit(s) found: 7 9\r\n")) << output;
    EXPECT_TRUE(fs::is_empty(lockDir()));
  }
  ASSERT_EQ(Logs().size(), 2u);
  struct stat info {};
  ASSERT_EQ(stat(Logs().back().c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, uid_);
}

// A run killed while it holds the port leaves its exclusive mode on the
// device only until its last descriptor closes, as a serial device does:
// the next run, an ordinary user's too, opens the port (and takes over the
// lock marker the killed run left).
TEST_F(UnprivilegedRun, ARunAfterAKilledOneOpensThePort) {
  StartSim(std::string(kOnComThree) + kKt3WithTwoRemotes, 3);
  HandOverPort(3);
  RunAndSignal("-i -y 3", 300, SIGKILL, "", lockDir() + "/lockPonderixCommPort3");
  ASSERT_EQ(Run("-i -y 3"), 0) << output;
  EXPECT_FALSE(Has("is being used by another application")) << output;
  EXPECT_TRUE(Has("Ponderix Unit(s) found: 7 9\r\n")) << output;
}

// Log extraction as an ordinary user: the folder beside the program is
// created by that user, and the files are the user's.
TEST_F(UnprivilegedRun, ExtractsLogsIntoAFolderOfItsOwn) {
  StartSim(std::string(kOnComThree) + kKt3NetworkWithLogs, 3);
  HandOverPort(3);
  ASSERT_EQ(Run("-x -y 3"), 0) << output;
  EXPECT_EQ(ExtractedLogs(), Kt3NetworkLogFiles()) << output;
  const std::string folder = home.File("bin") + "/PonderixLogFiles";
  for (const auto& [name, text] : Kt3NetworkLogFiles()) {
    struct stat info {};
    ASSERT_EQ(stat((folder + "/" + name).c_str(), &info), 0) << name;
    EXPECT_EQ(info.st_uid, uid_) << name;
  }
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

// An installed copy in a folder the user may not write (as /usr/bin): the
// run's log and the extracted logs go into the user's state folder, made
// private to the user, and the log says so once.
TEST_F(UnprivilegedRun, KeepsLogsInTheUsersFolderWhenTheProgramsFolderIsNotTheirs) {
  StartSim(std::string(kOnComThree) + kKt3NetworkWithLogs, 3);
  HandOverPort(3);
  ASSERT_EQ(chown(home.File("bin").c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(home.File("bin").c_str(), 0755), 0);
  const std::string state = home.File("state");
  fs::create_directories(state);
  ASSERT_EQ(chown(state.c_str(), uid_, gid_), 0);
  ASSERT_EQ(Run("-x -y 3", "XDG_STATE_HOME=" + Quoted(state)), 0) << output;

  const std::string records = state + "/KelUpdater";
  struct stat info {};
  ASSERT_EQ(stat(records.c_str(), &info), 0) << output;
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(info.st_uid, uid_);
  std::vector<std::string> logs;
  for (const auto& entry : fs::directory_iterator(records + "/LogFiles")) {
    logs.push_back(entry.path().string());
  }
  ASSERT_EQ(logs.size(), 1u) << output;
  EXPECT_TRUE(Has("   LogFile         : " + records.substr(0, 58))) << output;
  const std::string log = ReadTextFile(logs[0]);
  EXPECT_NE(log.find("-- logs kept in " + records + ", not beside the program in " +
                     home.File("bin") + "\r\n"),
            std::string::npos)
      << log;
  program = records + "/KelUpdater";  // ExtractedLogs() looks beside `program`
  EXPECT_EQ(ExtractedLogs(), Kt3NetworkLogFiles()) << output;
  EXPECT_FALSE(fs::exists(home.File("bin") + "/LogFiles"));
  EXPECT_FALSE(fs::exists(home.File("bin") + "/PonderixLogFiles"));
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

// A device the user may not open is said at once, with the system's words,
// the device and the way to get access: no retries, no dots. The group to
// join is named only when its members may read and write the device and it
// is not root's; otherwise the device's owner is (a pseudo-terminal is
// root's, its group tty may only write to it).
TEST_F(UnprivilegedRun, APortWithoutPermissionIsNamedAtOnce) {
  StartSim(std::string(kOnComThree) + kKt3WithTwoRemotes, 3);
  const std::string device = fs::canonical(comDir() + "/com3").string();
  const std::string owner = "To use it, ask an administrator for access to it (it belongs to root)";
  const group* dialout = getgrnam("dialout");
  const struct {
    gid_t group;
    mode_t mode;
    std::string hint;
  } cases[] = {
      {static_cast<gid_t>(-1), 0, owner},
      {0, 0660, owner},
      {dialout ? dialout->gr_gid : 0, 0660,
       dialout ? "To use it, add the user to the group dialout that owns it" : owner},
  };
  for (const auto& c : cases) {
    if (c.mode != 0) {
      ASSERT_EQ(chown(device.c_str(), 0, c.group), 0);
      ASSERT_EQ(chmod(device.c_str(), c.mode), 0);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run("-i -y 3"), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(
        Has("Fatal Error: COM3 cannot be opened: Permission denied (" + device + "). " + c.hint))
        << output;
    EXPECT_FALSE(Has("the group root") || Has("the group tty")) << output;
    EXPECT_FALSE(Has("..")) << output;
    EXPECT_TRUE(fs::is_empty(lockDir()));
  }
}


// A direct update as an ordinary user reopens the port at the programming
// speed and again after the restart; the second run finds nothing to write.
TEST_F(UnprivilegedRun, UpdatesAUnitDirectlyThenFindsItUpToDate) {
  StartSim(std::string(kOnComThree) + kOldKt3, 3);
  HandOverPort(3);
  ASSERT_EQ(Run("-y 3"), 0) << output;
  EXPECT_TRUE(Has("-- ponderix software will be updated to 6.10r57\r\n")) << output;
  EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
  ASSERT_EQ(Run("-y 3"), 0) << output;
  EXPECT_TRUE(Has("-- ponderix software is already the correct version\r\n")) << output;
  EXPECT_FALSE(Has("Sending")) << output;
  EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

}  // namespace
}  // namespace kel

#endif
