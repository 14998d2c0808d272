// End to end: the real program interrogates simulated units served on
// pseudo-terminals by the simulator program (POSIX only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e_fixture.h"
#include "tests/sample_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

// Put before a shared scenario to serve it on COM3.

// A third transmitter behind the KT3 that never answers.
constexpr char kSilentRemote[] = R"(
[unit gone]
place = network
card = 659
software = 6.10r57
modbus = 11
address = 11
[port]
fault = drop-request unit=gone times=0
)";

class InterrogateRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
  }
};

TEST_F(InterrogateRun, ReportsAUnitAndTheUnitsBehindIt) {
  StartSim(std::string(kOnComThree) + kKt3WithTwoRemotes + kSilentRemote, 3);
  ASSERT_EQ(Run("-i -y 3"), 0) << output;
  EXPECT_TRUE(Has("COM3 opened\r\n")) << output;
  EXPECT_TRUE(Has("-- interrogating unit\r\n")) << output;
  EXPECT_TRUE(Has("Ponderix Unit(s) found: 7 9 11\r\n")) << output;
  EXPECT_TRUE(Has("Ponderix Unit: 7\r\n"));
  EXPECT_TRUE(Has("Ponderix Unit: 9\r\n"));
  EXPECT_TRUE(Has("Left silo"));
  EXPECT_TRUE(Has("Right silo"));
  // The silent unit is listed but gets neither a report nor a complaint.
  const size_t silent = output.find("Ponderix Unit: 11\r\n");
  ASSERT_NE(silent, std::string::npos);
  EXPECT_EQ(output.find("Unit Type", silent), std::string::npos);
  EXPECT_EQ(output.find("FAILED", silent), std::string::npos);
  EXPECT_FALSE(Has("Fatal Error"));
  // The lock marker went with the port.
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

TEST_F(InterrogateRun, PortListsAndTheRememberedPort) {
  StartSim(std::string(kOnComThree) + kKt3WithTwoRemotes, 3);
  ASSERT_EQ(Run("-i -y", "PONDERIXPORTLIST='COM2,COM4;3'"), 0) << output;
  EXPECT_TRUE(
      Has("COM2 is not present on this computer\r\nCOM4 is not present on this "
          "computer\r\nCOM3 opened\r\n"))
      << output;

  // "COM2, COM3" names only COM2; the scan then finds COM3 and remembers it.
  ASSERT_EQ(Run("-i -y", "PONDERIXPORTLIST='COM2, COM3'"), 0) << output;
  EXPECT_TRUE(Has("COM2 is not present on this computer\r\nCOM3 opened\r\n")) << output;
  EXPECT_EQ(ReadTextFile(home.File("config") + "/Arkwend/Ponderix/CommPort"), "3");

  ASSERT_EQ(Run("-i -y -d"), 0) << output;
  EXPECT_TRUE(Has("COM3 loaded from registry\r\n")) << output;
}

TEST_F(InterrogateRun, AGivenUnitIdIsAskedFirst) {
  StartSim(std::string(kOnComThree) + kKt3WithTwoRemotes, 3);
  ASSERT_EQ(Run("-i -y -d -u4 3"), 0) << output;
  EXPECT_TRUE(Has("Checking Unit ID...\r\n")) << output;
  EXPECT_TRUE(Has("-- found unit ID = 04\r\n")) << output;
  EXPECT_FALSE(Has("Searching for unit ID"));
}

TEST_F(InterrogateRun, ADisplayFoundOnlyByTheSearchAt38400) {
  StartSim(R"(
[port]
number = 5
[unit kd4]
place = connected
card = 653
software = 6.10r57
baud = 38400
modbus = 2
address = 2
info = Weighbridge
)",
           5);
  ASSERT_EQ(Run("-i -y -d 5"), 0) << output;
  EXPECT_TRUE(Has("-- found unit ($F0)\r\n")) << output;
  EXPECT_TRUE(Has("-- saved connection baud rate = 38400\r\n")) << output;
  EXPECT_TRUE(Has("KD4")) << output;
}

TEST_F(InterrogateRun, AUnitInItsBootLoaderIsReportedAndRestarted) {
  StartSim(R"(
[port]
number = 3
[unit kt3]
place = connected
role = boot-loader
card = 648
circuit = 6
boot-loader = 4r18
)",
           3);
  ASSERT_EQ(Run("-i -y -d 3"), 0) << output;
  EXPECT_TRUE(Has("-- found unit (ponderix boot loader)\r\n")) << output;
  EXPECT_TRUE(Has("InitialiseForUpdate: Rebooting unit\r\n")) << output;
  EXPECT_TRUE(Has("-- selected flash programmer for KT3 LPC4078")) << output;
  EXPECT_TRUE(Has("RPC: Reset\r\nCOMPLETE\r\n")) << output;
}

TEST_F(InterrogateRun, AnUnknownCardIsRefused) {
  StartSim(R"(
[port]
number = 3
[unit odd]
place = connected
card = 655
mcu = LPC4337
software = 6.10r57
modbus = 2
address = 2
)",
           3);
  EXPECT_EQ(Run("-i -y 3"), 1);
  EXPECT_TRUE(Has("Fatal Error: Unsupported Card Number: 655\r\n")) << output;
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

TEST_F(InterrogateRun, ABlankChipIsNotUpdatedOutsideManufacturing) {
  StartSim(R"(
[port]
number = 3
[unit blank]
place = connected
role = blank-chip
card = 659
)",
           3);
  EXPECT_EQ(Run("-i -y 3"), 1);
  EXPECT_TRUE(Has("-- LPC chip firmware found\r\n")) << output;
  EXPECT_TRUE(Has("Fatal Error: Cannot update this unit (blank mcu)\r\n")) << output;
}

// Every scenario shipped with the simulator can be interrogated: the run
// reports each unit it reaches and ends normally (a blank chip ends as a
// blank chip must outside manufacturing). A new scenario joins the table.
TEST_F(InterrogateRun, EveryShippedScenario) {
  struct Case {
    const char* file;
    int exitCode;
    const char* shown;
  };
  const Case cases[] = {
      {"blank_chip.scn", 1, "Fatal Error: Cannot update this unit (blank mcu)\r\n"},
      {"boot_loader.scn", 0, "RPC: Reset\r\nCOMPLETE\r\n"},
      {"demo.scn", 0, "Ponderix Unit: "},
      {"demo_update.scn", 0, "Ponderix Unit: "},
      {"kj3_jig.scn", 0, "Ponderix Unit: 60\r\n"},
      {"kt3_network.scn", 0, "Ponderix Unit: "},
  };
  const fs::path folder = fs::path(KEL_SOURCE_DIR) / "sim" / "scenarios";
  size_t shipped = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".scn") ++shipped;
  }
  EXPECT_EQ(shipped, std::size(cases));
  for (const Case& c : cases) {
    const std::string scenario = ReadTextFile((folder / c.file).string());
    ASSERT_FALSE(scenario.empty()) << c.file;
    const int port = scenario.find("\nnumber = 3") != std::string::npos ? 3 : 1;
    StartSim(scenario, port);
    EXPECT_EQ(Run("-i -y -d " + std::to_string(port)), c.exitCode) << c.file << "\n" << output;
    EXPECT_TRUE(Has(c.shown)) << c.file << "\n" << output;
    if (c.exitCode == 0) {
      EXPECT_FALSE(Has("Fatal Error")) << c.file;
      EXPECT_TRUE(Has("-- interrogating unit\r\n")) << c.file;
    }
    EXPECT_TRUE(fs::is_empty(lockDir())) << c.file;
    StopSim();
  }
}

}  // namespace
}  // namespace kel

#endif
