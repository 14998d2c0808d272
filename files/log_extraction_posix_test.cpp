// The extracted logs go only into a folder of their own and only ever
// replace a regular file: a link, device or FIFO planted at their names is
// refused by name, and what it points to is left as it was.
#include <gtest/gtest.h>
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

}  // namespace
}  // namespace kel
