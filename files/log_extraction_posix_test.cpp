// The extracted logs go only into a folder of their own and only ever
// replace a regular file: a link, device or FIFO planted at their names is
// refused by name, and what it points to is left as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>

#include "files/log_extraction.h"
#include "link/comm_port.h"
#include "platform/files.h"
#include "tests/files_fixture.h"
#include "tests/planted_paths.h"
#include "unit/rpc_identification.h"
#include "unit/speed_scope.h"

namespace kel {
namespace {

constexpr char kLoggingUnit[] =
    "card = 659\nsoftware = 6.10r57\nmodbus = 5\naddress = 5\nserial = 4711\n";
constexpr char kName[] = "ConfigurationLog_05 PX0 KT5 4711.txt";

struct PlantedRun {
  int code = -1;
  std::string console;
  int32_t speedAfter = 0;
  int32_t speedBefore = 0;
};

// Extracts the unit's configuration log with `kind` planted at `path`
// (inside `folder`, or the folder itself).
PlantedRun ExtractWith(Planted kind, const std::string& folder, const std::string& path,
                       const std::string& victim) {
  FilesFixture f;
  f.Start(kLoggingUnit);
  f.target->files.Put(1, kConfigurationLogFile, {'n', 'e', 'w'});
  if (path != folder) mkdir(folder.c_str(), 0777);
  EXPECT_TRUE(Plant(kind, path, victim)) << PlantedName(kind);
  PlantedRun run;
  run.speedBefore = f.port.settings().baudRate;
  SpeedScope speedScope(f.link, f.unit);  // as the job sets it up
  run.code = f.ExitCodeOf([&] { ExtractLogs(f.files, f.unit, folder); });
  run.console = f.Console();
  run.speedAfter = f.port.settings().baudRate;
  return run;
}

TEST(ExtractLogsPosix, OnlyARegularFileIsReplaced) {
  for (Planted kind : {Planted::kNothing, Planted::kRegular, Planted::kLinkToRegular,
                       Planted::kLinkToDevice, Planted::kFifo, Planted::kFolder}) {
    TemporaryFolder home;
    const std::string folder = home.File("PonderixLogFiles");
    const std::string path = folder + "/" + kName;
    const PlantedRun run = ExtractWith(kind, folder, path, home.File("victim"));
    const bool replaced = kind == Planted::kNothing || kind == Planted::kRegular;
    EXPECT_EQ(run.code, replaced ? -1 : 1) << PlantedName(kind) << run.console;  // -1: no exit
    if (replaced) {
      EXPECT_EQ(ReadTextFile(path), "new") << PlantedName(kind);
    } else {
      EXPECT_NE(run.console.find("Fatal Error: Unable to create: " + path), std::string::npos)
          << PlantedName(kind) << run.console;
    }
    EXPECT_EQ(ReadTextFile(home.File("victim")), "victim") << PlantedName(kind);
    EXPECT_FALSE(FileExists(path + ".000")) << PlantedName(kind);
    // The unit is not left at the programming speed, whatever happened.
    EXPECT_EQ(run.speedAfter, run.speedBefore) << PlantedName(kind);
  }
}

TEST(ExtractLogsPosix, AFolderThatIsALinkIsNotFollowed) {
  TemporaryFolder home;
  const std::string folder = home.File("PonderixLogFiles");
  const std::string elsewhere = home.File("elsewhere");
  mkdir(elsewhere.c_str(), 0777);
  FilesFixture f;
  f.Start(kLoggingUnit);
  f.target->files.Put(1, kConfigurationLogFile, {'n', 'e', 'w'});
  ASSERT_EQ(symlink(elsewhere.c_str(), folder.c_str()), 0);
  EXPECT_EQ(f.ExitCodeOf([&] { ExtractLogs(f.files, f.unit, folder); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: Unable to create: " + folder), std::string::npos);
  EXPECT_FALSE(FileExists(elsewhere + "/" + kName));
}

// A disk that fills (here a file size limit of `bytes`, which fails writes
// the same way) while the object lives.
class FullDisk {
 public:
  explicit FullDisk(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &before_);
    rlimit small = before_;
    small.rlim_cur = bytes;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous_);
    set_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &before_);
    sigaction(SIGXFSZ, &previous_, nullptr);
  }
  bool set() const { return set_; }

 private:
  rlimit before_ = {};
  struct sigaction previous_ = {};
  bool set_ = false;
};

// A disk that fills while a log is saved: the complete copy of an earlier run stays,
// the console names the file and the system's reason, the job goes on with
// the next file and the run ends with exit code 1. Files are created for
// the owner only, whatever the umask.
TEST(ExtractLogsPosix, ALogThatCannotBeSavedWholeNeverReplacesAWholeOne) {
  TemporaryFolder home;
  const std::string folder = home.File("PonderixLogFiles");
  const std::string config = folder + "/" + kName;
  const std::string crash = folder + "/CrashLog_05 PX0 KT5 4711.txt";
  FilesFixture f;
  f.Start(kLoggingUnit);
  const std::string whole(20000, 'w');
  f.target->files.Put(1, kConfigurationLogFile, std::vector<uint8_t>(whole.begin(), whole.end()));
  const mode_t mask = umask(0);
  ExtractLogs(f.files, f.unit, folder);
  umask(mask);
  ASSERT_EQ(ReadTextFile(config), whole);
  struct stat info = {};
  ASSERT_EQ(stat(config.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  const std::string longer(30000, 'n');
  f.target->files.Put(1, kConfigurationLogFile, std::vector<uint8_t>(longer.begin(), longer.end()));
  f.target->files.Put(1, kCrashLogFile, {'c', 'r', 'a', 's', 'h'});
  int code = 0;
  {
    FullDisk full(10000);
    ASSERT_TRUE(full.set());
    code = f.ExitCodeOf([&] { ExtractLogs(f.files, f.unit, folder); });
  }

  const std::string console = f.Console();
  EXPECT_EQ(code, -1) << console;  // the job ends normally
  EXPECT_EQ(ReadTextFile(config), whole);
  EXPECT_FALSE(FileExists(config + ".000"));
  EXPECT_NE(console.find("Cannot save " + config + ": File too large\r\n"), std::string::npos)
      << console;
  EXPECT_EQ(ReadTextFile(crash), "crash");
  EXPECT_NE(console.find("Incomplete: some logs could not be saved\r\n"), std::string::npos);
  EXPECT_EQ(f.runtime.endExitCode, Runtime::kExitIncomplete);
}

// The debug logs are copied under a row of dots; the file that could not be
// saved is named on a line of its own below it.
TEST(ExtractLogsPosix, ADebugLogThatCannotBeSavedIsNamedBelowItsDots) {
  TemporaryFolder home;
  const std::string folder = home.File("PonderixLogFiles");
  FilesFixture f;
  f.Start(std::string(kLoggingUnit) + "debug-logs = 0x200 0x201\n");
  f.target->files.Put(1, 0x200, {'e'});
  f.target->files.Put(1, 0x201, std::vector<uint8_t>(30000, 'd'));
  f.options.debug = false;
  {
    FullDisk full(10000);
    ASSERT_TRUE(full.set());
    ExtractLogs(f.files, f.unit, folder);
  }
  const std::string console = f.Console();
  const std::string debugLog = folder + "/DebugLog_05 PX0 KT5 4711.txt";
  EXPECT_NE(console.find(".\r\nCannot save " + debugLog + ": File too large\r\n"),
            std::string::npos)
      << console;
  EXPECT_FALSE(FileExists(debugLog));
}

}  // namespace
}  // namespace kel
