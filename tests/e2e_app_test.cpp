// End-to-end checks of the real program on POSIX: exit codes, console text,
// the log folder beside the executable and the parameter file.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/platform_test_support.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: KelUpdater [options] [Filename] [[COM]<port>]\r\n"
    "\r\n"
    "-i           Interrogate unit and show information, do not update\r\n"
    "-x           Extract debug logs\r\n"
    "-y           Yes to prompts (continues without waiting for key)\r\n"
    "-v           Verify on\r\n"
    "-s           Silence extra information\r\n"
    "-w           Write always, even if its the correct version\r\n"
    "-l           Update boot loader if needed\r\n"
    "-f           only update the first unit directly connected to the serial\r\n"
    "             port (no remote updates). Does NOT use update files\r\n"
    "-d           Debug on\r\n"
    "-dd          Detailed Debug on (shows com data)\r\n"
    "-b           Set the initial baud rate\r\n"
    "-p<n>        Start with parity setting where n = 0 (none), 1 (even)\r\n"
    "-r           Set the baud rate for programming to one of the following:\r\n"
    "             115200, 230400, 460800, 921600\r\n"
    "-u<ID>       Unit ID\r\n"
    "-o           Overlapped writes to flash, uses sliding window programming\r\n"
    "             protocol if possible\r\n"
    "--plan       Show what an update would do to each unit; write nothing\r\n"
    "--list-ports  List the serial ports a search tries, then exit\r\n"
    "--help       Show this text, then exit\r\n"
    "--version    Show the program's version, then exit\r\n"
    "\r\n"
    "[filename]   Parameter file\r\n"
    "\r\n"
    "port         1, 2, 3, 4...\r\n"
    "             or the port's serial device, such as /dev/ttyUSB0 (Linux)\r\n"
    "\r\n"
    "default setting for auto-search are 19200 baud, no parity.\r\n";

// Runs a copy of the program that lives in its own temporary folder, from
// another working folder, with no keys on standard input.
class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(binFolder());
    fs::create_directories(workFolder());
    fs::copy_file(KEL_BINARY_PATH, program());
  }
  std::string binFolder() { return home.File("bin"); }
  std::string workFolder() { return home.File("work"); }
  std::string program() { return binFolder() + "/KelUpdater"; }
  std::string logFolder() { return binFolder() + "/LogFiles"; }

  int Run(const std::string& arguments) {
    std::string outPath = home.File("stdout.txt");
    std::string codePath = home.File("code.txt");
    // No COM port exists for the run: COM n maps into an empty folder.
    std::string command = "cd '" + workFolder() + "' && PONDERIXCOMDIR='" + home.path() +
                          "' PONDERIXLOCKDIR='" + home.path() + "' '" + program() + "' " +
                          arguments + " </dev/null >'" + outPath + "' 2>&1; echo $? >'" + codePath +
                          "'";
    if (std::system(command.c_str()) != 0) return -1;
    output = ReadTextFile(outPath);
    return std::atoi(ReadTextFile(codePath).c_str());
  }
  std::vector<fs::path> Logs() {
    std::vector<fs::path> logs;
    if (!fs::exists(logFolder())) return logs;
    for (const auto& entry : fs::directory_iterator(logFolder())) logs.push_back(entry.path());
    return logs;
  }

  TemporaryFolder home;
  std::string output;
};

TEST_F(ProgramRun, UnknownOptionPrintsUsageAndExitsOne) {
  EXPECT_EQ(Run("-z"), 1);
  EXPECT_EQ(output, std::string("KelUpdater 6.10r57\r\n") + kUsage +
                        "Fatal Error: Incorrect arguments\r\nPress Enter key to continue\r\n");
  EXPECT_TRUE(Logs().empty());
}

// A script may ask for the usage text or the version: both answer on
// standard output and end with exit 0, without the pause and without a log.
TEST_F(ProgramRun, HelpAndVersionExitZeroWithoutThePause) {
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_EQ(output, std::string("KelUpdater 6.10r57\r\n") + kUsage);
  EXPECT_EQ(Run("--version"), 0);
  EXPECT_EQ(output.rfind("KelUpdater 6.10r57\r\n", 0), 0u) << output;
  EXPECT_EQ(output.find("Press Enter"), std::string::npos);
  EXPECT_TRUE(Logs().empty());
}

TEST_F(ProgramRun, FailedConnectionLeavesOneLogBesideTheProgram) {
  EXPECT_EQ(Run("-i -y 3"), 1);
  std::vector<fs::path> logs = Logs();
  ASSERT_EQ(logs.size(), 1u);
  std::string logPath = logs[0].string();
  std::string logLine = "   LogFile         : " + logPath.substr(0, 58) + "\r\n";
  if (logPath.size() > 58) logLine += std::string(21, ' ') + logPath.substr(58) + "\r\n";
  // Whatever the search printed, the run ends with the fatal line and the
  // stop handler's line.
  EXPECT_EQ(output.rfind("KelUpdater 6.10r57\r\n" + logLine, 0), 0u) << output;
  EXPECT_NE(output.find("Fatal Error: Unable to connect to Ponderix unit\r\n"), std::string::npos);
  EXPECT_EQ(output.substr(output.size() - 14), "\r\n-- stopped\r\n");
  EXPECT_EQ(output.find("Press Enter"), std::string::npos);

  // A well-formed log: the command line, then stamped lines, each ended.
  std::string log = ReadTextFile(logPath);
  EXPECT_EQ(log.rfind(program() + " -i -y 3 \r\n", 0), 0u);
  EXPECT_NE(log.find(": COMPUTERNAME="), std::string::npos);
  EXPECT_NE(log.find(": Fatal Error: Unable to connect to Ponderix unit\r\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 10), "\r\n" + log.substr(log.size() - 8, 6) + ": ");
  EXPECT_EQ(log.find("-- stopped"), std::string::npos);  // closed by the fatal path first
  EXPECT_EQ(logs[0].filename().string().rfind("20", 0), 0u);
  EXPECT_EQ(logs[0].extension(), ".log");
  EXPECT_FALSE(fs::exists(logFolder() + "/Cleanup.lck"));
}

TEST_F(ProgramRun, FatalErrorWithParameterFileExitsTwoAndStoresTheMessage) {
  std::string ini = workFolder() + "/job.ini";
  ASSERT_TRUE(WriteTextFile(ini, "KelManufacture=0\r\nMessage=old"));
  EXPECT_EQ(Run("-i -y job.ini 3"), 2);
  EXPECT_EQ(ReadTextFile(ini),
            "KelManufacture=0\r\nMessage=Unable to connect to Ponderix unit\r\n");

  // An absolute path is a parameter file on POSIX, not an option cluster.
  EXPECT_EQ(Run("-y '" + ini + "' -q"), 2);
  EXPECT_EQ(ReadTextFile(ini), "KelManufacture=0\r\nMessage=Incorrect arguments\r\n");
}

}  // namespace
}  // namespace kel

#endif  // !defined(_WIN32)
