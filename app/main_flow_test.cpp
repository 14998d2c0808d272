#include "app/main_flow.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/files.h"
#include "platform/memory_serial.h"
#include "runtime/log_file.h"
#include "runtime/parameter_file.h"
#include "runtime/version.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

class MainFlowTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    start.arguments = std::move(args);
    start.logFolder = folder.File("LogFiles");
    start.installStopSignals = [this] { ++signalInstalls; };
    start.job = [this](Runtime& rt) {
      jobSawArmedStop = stopHandler.armed();
      rt.closePort = [this] { ++portCloses; };
      if (jobFails) rt.FatalError("Unable to connect to Ponderix unit");
      if (jobEnd) jobEnd(rt);
      rt.out.Print(Sink::kInfo, "-- job done\r\n");
    };
    int returned = -1;
    int exited = f.ExitCodeOf([&] { returned = RunMainFlow(f.runtime, stopHandler, start); });
    return exited == -1 ? returned : exited;
  }
  std::vector<FolderEntry> Logs() {
    std::vector<FolderEntry> entries;
    ListFolder(start.logFolder, "*.log", entries);
    return entries;
  }

  TemporaryFolder folder;
  RuntimeFixture f;
  StopHandler stopHandler{f.runtime};
  ProgramStart start;
  int signalInstalls = 0;
  bool jobFails = true;
  std::function<void(Runtime&)> jobEnd;
  bool jobSawArmedStop = false;
  int portCloses = 0;
};

// --list-ports lists and ends: no log, no job, no prompt, exit 0.
TEST_F(MainFlowTest, ListPortsPrintsTheListAndEndsAtOnce) {
  MemorySerialPorts ports(f.clock);
  ports.hasListing = true;
  ports.listing = {{1, "/dev/ttyUSB0", "FTDI FT232R USB UART, serial A1", false},
                   {2, "/dev/ttyS0", "", false},
                   {7, "\\\\.\\COM7", "Standard Serial over Bluetooth link", true}};
  start.ports = &ports;
  jobFails = false;
  EXPECT_EQ(Run({"KelUpdater", "--list-ports"}), 0);
  EXPECT_EQ(f.console.output(),
            "KelUpdater 6.10r57\r\n"
            "COM1   /dev/ttyUSB0  FTDI FT232R USB UART, serial A1\r\n"
            "COM2   /dev/ttyS0\r\n"
            "COM7   \\\\.\\COM7      Standard Serial over Bluetooth link [Bluetooth: searched only "
            "when named]\r\n");
  EXPECT_FALSE(FolderExists(start.logFolder));

  ports.listing.clear();
  f.console.ClearOutput();
  EXPECT_EQ(Run({"KelUpdater", "--list-ports"}), 0);
  EXPECT_NE(f.console.output().find("No serial ports found\r\n"), std::string::npos);
}

// --help and --version answer and end as --list-ports does: exit 0, no
// log, no job, no pause even without -y.
TEST_F(MainFlowTest, HelpAndVersionAnswerAndEndAtOnce) {
  jobFails = false;
  EXPECT_EQ(Run({"KelUpdater", "--help"}), 0);
  EXPECT_EQ(f.console.output().rfind("KelUpdater 6.10r57\r\nUsage: KelUpdater [options]", 0), 0u);
  EXPECT_NE(f.console.output().find("--version    Show the program's version"), std::string::npos);
  EXPECT_EQ(f.console.output().find("Fatal Error"), std::string::npos);

  f.console.ClearOutput();
  f.options.help = false;
  EXPECT_EQ(Run({"KelUpdater", "--version"}), 0);
  const std::string commit = BuildCommitLine();
  EXPECT_EQ(f.console.output(), "KelUpdater 6.10r57\r\n" + (commit.empty() ? "" : commit + "\r\n"));
  EXPECT_EQ(f.console.output().find("Press Enter"), std::string::npos);
  EXPECT_FALSE(FolderExists(start.logFolder));
}

TEST_F(MainFlowTest, BadArgumentsPrintUsageAndEndBeforeTheLog) {
  EXPECT_EQ(Run({"KelUpdater", "-y", "-z"}), 1);
  const std::string& out = f.console.output();
  EXPECT_EQ(
      out.rfind("KelUpdater 6.10r57\r\nUsage: KelUpdater [options] [Filename] [[COM]<port>]\r\n"
                "\r\n-i           Interrogate unit",
                0),
      0u);
  EXPECT_NE(out.find("default setting for auto-search are 19200 baud, no parity.\r\n"
                     "Fatal Error: Incorrect arguments"),
            std::string::npos);
  EXPECT_FALSE(FolderExists(start.logFolder));
  EXPECT_FALSE(stopHandler.armed());
  // The handlers are in place before the first prompt (that of the usage
  // text), so a stop there still restores the terminal.
  EXPECT_EQ(signalInstalls, 1);
}

TEST_F(MainFlowTest, ARefusedValueIsNamedBeforeTheUsage) {
  EXPECT_EQ(Run({"KelUpdater", "-y", "-b", "abc"}), 1);
  EXPECT_NE(f.console.output().find("KelUpdater 6.10r57\r\nNot a baud rate: -b abc\r\nUsage: "),
            std::string::npos)
      << f.console.output();
  EXPECT_NE(f.console.output().find("Fatal Error: Incorrect arguments"), std::string::npos);
}

TEST_F(MainFlowTest, NormalRunClosesEverythingDisarmsAndWaits) {
  jobFails = false;
  f.console.AddKeys("k");
  EXPECT_EQ(Run({"KelUpdater", "-i"}), 0);
  EXPECT_TRUE(jobSawArmedStop);
  EXPECT_FALSE(stopHandler.armed());
  EXPECT_EQ(portCloses, 1);
  EXPECT_EQ(f.out.errorReportLevel, 0);
  EXPECT_FALSE(f.out.logOpen());
  const std::string& out = f.console.output();
  EXPECT_NE(out.find("\r\n-- job done\r\nPress Enter key to continuek"), std::string::npos);
  std::string log = ReadTextFile(LogFileName(start.logFolder, f.clock.Now()));
  EXPECT_NE(log.find("000000: -- job done\r\n000000: \r\n000000: "), std::string::npos);
}

TEST_F(MainFlowTest, FailedConnectionLeavesOneLogAndArmedStopHandler) {
  f.env.Set("USERNAME", "tech");
  EXPECT_EQ(Run({"KelUpdater", "-y", "3"}), 1);
  EXPECT_EQ(f.options.portNumber, 3);
  EXPECT_EQ(f.out.errorReportLevel, 1);
  EXPECT_TRUE(stopHandler.armed());  // the exit path will print "-- stopped"
  EXPECT_EQ(signalInstalls, 1);
  EXPECT_FALSE(f.out.logOpen());

  std::string path = LogFileName(start.logFolder, f.clock.Now());
  const std::string& out = f.console.output();
  EXPECT_EQ(out.rfind("KelUpdater 6.10r57\r\n   LogFile         : ", 0), 0u);
  EXPECT_NE(out.find("\r\nFatal Error: Unable to connect to Ponderix unit"), std::string::npos);

  ASSERT_EQ(Logs().size(), 1u);
  EXPECT_EQ(ReadTextFile(path),
            "KelUpdater -y 3 \r\n000000: COMPUTERNAME=\r\n000000: USERNAME=tech\r\n"
            "000000: Fatal Error: Unable to connect to Ponderix unit\r\n000000: \r\n000000: ");
}

TEST_F(MainFlowTest, ParameterFileSelectsManufacturingAndReceivesTheMessage) {
  std::string ini = folder.File("job.ini");
  ASSERT_TRUE(WriteTextFile(ini, "KelManufacture=True\r\n"));
  EXPECT_EQ(Run({"KelUpdater", ini}), 2);
  EXPECT_TRUE(f.options.manufacturingMode);
  // Manufacturing runs never wait for the operator.
  EXPECT_EQ(f.console.output().find("Press Enter"), std::string::npos);
  EXPECT_EQ(ReadTextFile(ini),
            "KelManufacture=True\r\nMessage=Unable to connect to Ponderix unit\r\n");
}

TEST_F(MainFlowTest, IncorrectArgumentsAfterAParameterFileAreStoredInIt) {
  std::string ini = folder.File("job.ini");
  EXPECT_EQ(Run({"KelUpdater", "-y", ini, "-q"}), 2);
  EXPECT_EQ(GetParam(f.runtime, ini, "Message"), "Incorrect arguments");
}

// Whatever way a job with a parameter file ends, "Message" holds that
// end's own reason, and a success leaves no earlier run's reason there. A
// way out runs the stop handler before it unwinds; a stop stores "stopped",
// a fatal error or the boot tool's failure keeps its own words.
TEST_F(MainFlowTest, EveryEndOfAJobWithAParameterFileLeavesItsOwnReason) {
  struct Case {
    const char* name;
    std::function<void(Runtime&, StopHandler&)> end;
    int code;
    const char* message;
    bool logFails = false;
  };
  const std::string blocked = folder.File("blocked");
  ASSERT_TRUE(WriteTextFile(blocked, ""));  // a file where the log folder should go
  const std::string logFailure =
      "Cannot create the log folder " + blocked + PathSeparator() + "LogFiles: ";
  const Case cases[] = {
      {"success", nullptr, 0, ""},
      {"log", nullptr, 1, "", true},
      {"incomplete",
       [](Runtime& rt, StopHandler&) {
         rt.EndUnfinished(Runtime::kExitIncomplete, "Incomplete: some logs could not be saved\r\n");
         rt.EndUnfinished(2, "a later reason");
       },
       3, "Incomplete: some logs could not be saved"},
      {"stop",
       [](Runtime& rt, StopHandler& handler) {
         handler.Run();
         rt.exit.Exit(1);
       },
       1, "stopped"},
      {"fatal",
       [](Runtime& rt, StopHandler& handler) {
         try {
           rt.FatalError("Unable to reconnect to unit");
         } catch (const ExitRequested&) {
           handler.Run();
           throw;
         }
       },
       2, "Unable to reconnect to unit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RuntimeFixture fresh;
    std::string ini = folder.File(std::string(c.name) + ".ini");
    ASSERT_TRUE(WriteTextFile(ini, "Program=0\r\nMessage=an earlier run's reason\r\n"));
    StopHandler handler{fresh.runtime};
    ProgramStart begin;
    begin.arguments = {"KelUpdater", "-y", ini};
    begin.logFolder = c.logFails ? blocked + PathSeparator() + "LogFiles" : folder.File("LogFiles");
    begin.job = [&](Runtime& rt) {
      if (c.end) c.end(rt, handler);
    };
    int returned = -1;
    const int exited =
        fresh.ExitCodeOf([&] { returned = RunMainFlow(fresh.runtime, handler, begin); });
    EXPECT_EQ(exited == -1 ? returned : exited, c.code);
    const std::string message = GetParam(fresh.runtime, ini, kParamMessage);
    if (c.logFails) {
      EXPECT_EQ(message.rfind(logFailure, 0), 0u) << message;
    } else {
      EXPECT_EQ(message, c.message);
    }
  }
}

}  // namespace
}  // namespace kel
