// End to end: the real program extracts the logs of a simulated unit and
// the units behind it, served on a pseudo-terminal by the simulator program
// (POSIX only).
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/e2e_fixture.h"
#include "tests/sample_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;


class ExtractRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
    // The logs go beside the program: a copy of its own keeps them apart.
    UsePrivateCopy();
  }
};

// Twice: the second run replaces each file whole, here planted longer and
// different in between. The jig is neither listed nor asked; the unit at
// 6.00 is listed but keeps no logs to copy.
TEST_F(ExtractRun, SavesTheLogsOfEachUnitAndReplacesThemOnTheNextRun) {
  StartSim(std::string(kOnComThree) + kKt3NetworkWithLogs, 3);
  const std::string folder = home.File("bin") + "/PonderixLogFiles";
  for (int run = 1; run <= 2; ++run) {
    ASSERT_EQ(Run("-x -y -u4 3"), 0) << "run " << run << ": " << output;
    // Found at once where the previous run left it: back at its own speed.
    const std::string log = ReadTextFile(Logs().back());
    EXPECT_NE(log.find("-- found unit ID = 04\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Searching for unit ID"), std::string::npos) << log;
    EXPECT_TRUE(
        Has("Address  Information\r\n      4  Mixer\r\n      7  Left silo\r\n"
            "      9  Right silo\r\n     11  Old silo\r\n"))
        << output;
    EXPECT_FALSE(Has("Jig")) << output;
    EXPECT_TRUE(Has("Saving to \"" + folder + "/CrashLog_07 PX0 KT5 77.txt\"\r\n")) << output;
    EXPECT_FALSE(Has("Fatal Error")) << output;
    EXPECT_EQ(ExtractedLogs(), Kt3NetworkLogFiles()) << "run " << run;
    EXPECT_TRUE(fs::is_empty(lockDir()));
    for (const auto& [name, text] : Kt3NetworkLogFiles()) {
      ASSERT_TRUE(WriteTextFile(folder + "/" + name, "stale " + text + text + " stale"));
    }
  }
}

// A KT5 at address 5 (serial 4711) keeping the configuration log in `file`,
// on COM3 with the line's own time, so that a long log takes a while.
std::string Kt5WithLog(const std::string& file) {
  return std::string(kOnComThree) +
         "\nline-model = yes\n[unit kt5]\nplace = connected\ncard = 659\nsoftware = 6.10r57\n"
         "modbus = 5\naddress = 5\nserial = 4711\nfile-bin = 1 0x131 " +
         file + "\n";
}

// A stop in the middle of a copy ends the run as any stop does; the
// half-written copy goes with it and the copy saved before stays.
TEST_F(ExtractRun, AStopDuringACopyLeavesNoHalfWrittenCopy) {
  const std::string log = home.File("long.log");
  ASSERT_TRUE(WriteTextFile(log, std::string(200000, 'L')));
  StartSim(Kt5WithLog(log), 3);
  const std::string folder = home.File("bin") + "/PonderixLogFiles";
  const std::string saved = folder + "/ConfigurationLog_05 PX0 KT5 4711.txt";
  fs::create_directories(folder);
  ASSERT_TRUE(WriteTextFile(saved, "saved before"));
  EXPECT_EQ(RunAndSignal("-x -y 3", 300, SIGTERM, "", saved + ".000"), 1) << output;
  EXPECT_TRUE(Has("\r\n-- stopped\r\n")) << output;
  EXPECT_EQ(ExtractedLogs(), (std::map<std::string, std::string>{
                                 {"ConfigurationLog_05 PX0 KT5 4711.txt", "saved before"}}));
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

}  // namespace
}  // namespace kel

#endif
