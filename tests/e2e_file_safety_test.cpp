// End to end: the real program against whatever a user or an attacker puts
// at the paths it opens: the parameter file and its ".000" companion, and
// its logs (POSIX only). Each run must end within seconds, name the path it
// refuses, and leave what stands there (and what that points to) as it was
// or correctly updated. The lock marker and the remembered port have their
// groups beside their code (link/comm_port_posix_test.cpp,
// platform/posix/registry_posix_test.cpp).
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>

#include "tests/e2e_fixture.h"
#include "tests/planted_paths.h"
#include "tests/sample_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

constexpr char kStored[] = "Message=Unable to connect to Ponderix unit\r\n";

class FileSafetyRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    ProgramRunFixture::SetUp();
    UsePrivateCopy();
  }

  // Runs against a port that does not exist, so a run that gets as far
  // stores its fatal message in the parameter file; returns the exit code
  // and checks the run ended within seconds.
  int RunWithParameterFile(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    const int code = Run("-i -y '" + file + "' 3");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << file;
    return code;
  }
};

TEST_F(FileSafetyRun, TheParameterFileIsOnlyEverARegularFile) {
  struct Case {
    Planted kind;
    int code;
    const char* refusal;  // what the message says after the file's name ("": no message)
  };
  const Case cases[] = {
      {Planted::kRegular, 2, nullptr},
      {Planted::kLinkToRegular, 2, nullptr},
      {Planted::kOtherUsersFile, 2, nullptr},
      // A character device is a port, not a parameter file (the 3 after it
      // then names the port instead): it is neither read nor written.
      {Planted::kLinkToDevice, 1, ""},
      {Planted::kDeviceNode, 1, ""},
      {Planted::kFifo, 1, " is a FIFO, not a regular file"},
      {Planted::kFolder, 1, " is a folder, not a regular file"},
      {Planted::kEndlessDevice, 1, ""},
  };
  for (const Case& c : cases) {
    const std::string file = home.File(std::string("job-") + std::to_string(int(c.kind)) + ".ini");
    const std::string victim = home.File("victim");
    if (!Plant(c.kind, file, victim)) {
      std::cout << "not run without root: " << PlantedName(c.kind) << "\n";
      continue;
    }
    if (c.kind == Planted::kOtherUsersFile) chmod(file.c_str(), 0640);
    const std::string before = Snapshot(file, victim);
    EXPECT_EQ(RunWithParameterFile(file), c.code) << PlantedName(c.kind) << ": " << output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(file + ".000"))) << PlantedName(c.kind);
    EXPECT_FALSE(fs::exists(victim + ".000")) << PlantedName(c.kind);
    if (c.refusal != nullptr) {
      if (*c.refusal == '\0') {
        EXPECT_FALSE(Has("Parameter file")) << output;
      } else {
        EXPECT_TRUE(Has("Fatal error: Parameter file " + file + c.refusal)) << output;
      }
      EXPECT_EQ(Snapshot(file, victim), before) << PlantedName(c.kind);
      continue;
    }
    // The message goes into the file a link names (the link stays), and
    // the rewritten file keeps its owner, group and permissions.
    const std::string written = c.kind == Planted::kLinkToRegular ? victim : file;
    const std::string old = c.kind == Planted::kLinkToRegular ? "victim" : "original";
    EXPECT_EQ(ReadTextFile(written), old + "\r\n" + kStored) << PlantedName(c.kind);
    struct stat now {};
    lstat(file.c_str(), &now);
    if (c.kind == Planted::kLinkToRegular) {
      EXPECT_TRUE(S_ISLNK(now.st_mode));
    } else if (c.kind == Planted::kOtherUsersFile) {
      ASSERT_NE(getpwnam("nobody"), nullptr);
      EXPECT_EQ(now.st_uid, getpwnam("nobody")->pw_uid);
      EXPECT_EQ(now.st_mode & 07777, 0640u);
    }
  }
}

// What the parameter file's rewrite creates (its ".000" companion) is made
// new, never through a link planted at its name: with the name taken the
// file is written where it stands, and the link and what it names are left
// alone. A file too large for a job file is refused unread.
TEST_F(FileSafetyRun, TheCompanionIsNeverWrittenThroughALinkAndHugeFilesAreRefused) {
  const std::string file = home.File("job.ini");
  const std::string victim = home.File("victim");
  ASSERT_TRUE(WriteTextFile(file, "Program=0\r\n"));
  ASSERT_TRUE(Plant(Planted::kLinkToRegular, file + ".000", victim));
  EXPECT_EQ(RunWithParameterFile(file), 2) << output;
  EXPECT_EQ(ReadTextFile(file), "Program=0\r\nMessage=Unable to connect to Ponderix unit\r\n");
  EXPECT_EQ(Snapshot(file + ".000", victim), "link to " + victim + " | victim: victim");

  const std::string huge = home.File("huge.ini");
  ASSERT_TRUE(WriteTextFile(huge, std::string(2 << 20, 'x')));
  EXPECT_EQ(RunWithParameterFile(huge), 1) << output;
  EXPECT_TRUE(Has("Fatal error: Parameter file " + huge + " is larger than 1048576 bytes"))
      << output;
  EXPECT_EQ(fs::file_size(huge), 2u << 20);
}

// A parameter file the user may not read is named (as an ordinary user:
// root reads everything).
TEST_F(FileSafetyRun, AnUnreadableParameterFileIsNamed) {
  const passwd* user = getpwnam("nobody");
  if (geteuid() != 0 || user == nullptr || std::system("command -v setpriv >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs root, the user \"nobody\" and setpriv";
  }
  const std::string file = home.File("secret.ini");
  ASSERT_TRUE(WriteTextFile(file, "KelManufacture=0\r\n"));
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  runAs = "setpriv --reuid=" + std::to_string(user->pw_uid) +
          " --regid=" + std::to_string(user->pw_gid) + " --clear-groups ";
  EXPECT_EQ(RunWithParameterFile(file), 1) << output;
  EXPECT_TRUE(Has("Fatal error: Parameter file " + file + ": Permission denied")) << output;
  EXPECT_EQ(ReadTextFile(file), "KelManufacture=0\r\n");
}

// Links planted at the log names of the coming seconds are passed by: the
// run logs to the next free name and what they point to stays as it was.
TEST_F(FileSafetyRun, LinksPlantedAtLogNamesAreNotFollowed) {
  const std::string folder = home.File("bin") + "/LogFiles";
  fs::create_directories(folder);
  const std::string victim = home.File("victim");
  ASSERT_TRUE(WriteTextFile(victim, "victim"));
  const time_t now = time(nullptr);
  for (time_t t = now; t < now + 5; ++t) {
    struct tm local {};
    localtime_r(&t, &local);
    char name[64];
    strftime(name, sizeof name, "%Y-%m-%d %H-%M-%S.log", &local);
    ASSERT_EQ(symlink(victim.c_str(), (folder + "/" + name).c_str()), 0);
  }
  EXPECT_EQ(Run("-i -y 3"), 1) << output;
  EXPECT_EQ(ReadTextFile(victim), "victim");
  int logs = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!fs::is_symlink(entry.symlink_status())) {
      ++logs;
      EXPECT_NE(entry.path().filename().string().find("_2.log"), std::string::npos);
      EXPECT_NE(ReadTextFile(entry.path().string()).find("COM3 is not present"), std::string::npos);
    }
  }
  EXPECT_EQ(logs, 1);
}

// A log that cannot be written (here beyond the file size limit) is said
// once, with the system's words; the run itself goes on and succeeds.
TEST_F(FileSafetyRun, ALogThatCannotBeWrittenIsSaidOnceAndTheRunGoesOn) {
  if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
  StartSim(std::string("\n[port]\nnumber = 3") + kKt3WithTwoRemotes, 3);
  runAs = "ulimit -f 2 && ";  // 1 KiB
  EXPECT_EQ(Run("-i -y 3"), 0) << output;
  EXPECT_TRUE(Has("Ponderix Unit(s) found: 7 9\r\n")) << output;
  const std::string said = "Cannot write to log file ";
  const size_t at = output.find(said);
  ASSERT_NE(at, std::string::npos) << output;
  EXPECT_NE(output.find(": File too large\r\n", at), std::string::npos) << output;
  EXPECT_EQ(output.find(said, at + 1), std::string::npos);
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

}  // namespace
}  // namespace kel

#endif
