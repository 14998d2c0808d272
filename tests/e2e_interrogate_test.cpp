// End to end: the real program interrogates simulated units served on
// pseudo-terminals by the simulator program (POSIX only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/platform_test_support.h"
#include "tests/sample_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

// Put before a shared scenario to serve it on COM3.
constexpr char kOnComThree[] = "\n[port]\nnumber = 3";

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

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// One simulator serving one scenario in a fresh comdir, and runs of the
// program against it with a private home (for the remembered port).
class InterrogateRun : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(KEL_SIM_PATH)
    GTEST_SKIP() << "the simulator program is not part of this build";
#endif
    fs::create_directories(comDir());
    fs::create_directories(lockDir());
  }
  void TearDown() override { StopSim(); }

  std::string comDir() { return home.File("com"); }
  std::string lockDir() { return home.File("locks"); }

  // Starts the simulator on `scenario` and waits for its COM`port` link.
  void StartSim(const std::string& scenario, int port) {
#if defined(KEL_SIM_PATH)
    const std::string file = home.File("units.scn");
    ASSERT_TRUE(WriteTextFile(file, scenario));
    const std::string command = Quoted(KEL_SIM_PATH) + " --scenario " + Quoted(file) +
                                " --comdir " + Quoted(comDir()) + " --exit-after-idle 60 >" +
                                Quoted(home.File("sim.log")) + " 2>&1 & echo $! >" +
                                Quoted(home.File("sim.pid"));
    ASSERT_EQ(std::system(command.c_str()), 0);
    simPid_ = std::atoi(ReadTextFile(home.File("sim.pid")).c_str());
    const std::string link = comDir() + "/com" + std::to_string(port);
    for (int i = 0; i < 200 && !fs::exists(link); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(fs::exists(link)) << ReadTextFile(home.File("sim.log"));
#else
    (void)scenario;
    (void)port;
#endif
  }
  void StopSim() {
    if (simPid_ <= 0) return;
    const std::string command = "kill -TERM " + std::to_string(simPid_) + " 2>/dev/null; " +
                                "while kill -0 " + std::to_string(simPid_) +
                                " 2>/dev/null; do sleep 0.05; done";
    std::system(command.c_str());
    simPid_ = 0;
  }

  // The shell words that set the program's environment.
  std::string Environment(const std::string& extra) {
    return "env -u PONDERIXPORTLIST -u PONDERIXPORT -u PONDERIXBAUDRATE HOME=" +
           Quoted(home.path()) + " XDG_CONFIG_HOME=" + Quoted(home.File("config")) +
           " PONDERIXCOMDIR=" + Quoted(comDir()) + " PONDERIXLOCKDIR=" + Quoted(lockDir()) + " " +
           extra + " ";
  }

  int Run(const std::string& arguments, const std::string& environment = "") {
    const std::string out = home.File("stdout.txt");
    const std::string code = home.File("code.txt");
    const std::string command = "cd " + Quoted(home.path()) + " && " + Environment(environment) +
                                Quoted(KEL_BINARY_PATH) + " " + arguments + " </dev/null >" +
                                Quoted(out) + " 2>&1; echo $? >" + Quoted(code);
    if (std::system(command.c_str()) != 0) return -1;
    output = ReadTextFile(out);
    return std::atoi(ReadTextFile(code).c_str());
  }

  bool Has(const std::string& text) const { return output.find(text) != std::string::npos; }

  TemporaryFolder home;
  std::string output;

 private:
  int simPid_ = 0;
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

TEST_F(InterrogateRun, CtrlCDuringTheSearchLeavesNoLockFile) {
  StartSim(R"(
[port]
number = 3
fault = unplug
[unit mute]
place = connected
card = 659
software = 6.10r57
)",
           3);
  const std::string out = home.File("stdout.txt");
  const std::string pid = home.File("run.pid");
  const std::string start = "cd " + Quoted(home.path()) + " && " + Environment("") +
                            Quoted(KEL_BINARY_PATH) + " -i -y 3 </dev/null >" + Quoted(out) +
                            " 2>&1 & echo $! >" + Quoted(pid);
  ASSERT_EQ(std::system(start.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  const std::string runPid = std::to_string(std::atoi(ReadTextFile(pid).c_str()));
  const std::string stop =
      "kill -INT " + runPid + "; while kill -0 " + runPid + " 2>/dev/null; do sleep 0.05; done";
  ASSERT_EQ(std::system(stop.c_str()), 0);
  output = ReadTextFile(out);
  EXPECT_TRUE(Has("COM3 opened\r\n")) << output;
  EXPECT_TRUE(Has("\r\n-- stopped\r\n")) << output;
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

}  // namespace
}  // namespace kel

#endif
